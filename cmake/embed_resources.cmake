# Turns a compiled resource file (.res) into a C++ source that holds its bytes and registers them
# with the stand-in dialog engine under the base address of the image it is linked into.
#   cmake -DINPUT=<file.res> -DOUTPUT=<file.cpp> -P embed_resources.cmake
if(NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "usage: cmake -DINPUT=<file.res> -DOUTPUT=<file.cpp> -P embed_resources.cmake")
endif()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
if(digits EQUAL 0)
  message(FATAL_ERROR "${INPUT} is empty")
endif()

# 16 bytes a line.
string(REPEAT "[0-9a-f][0-9a-f]" 16 line)
string(REGEX REPLACE "(${line})" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " bytes "${hex}")
string(REGEX REPLACE " \n" "\n    " bytes "${bytes}")
string(REGEX REPLACE "[ \n]+$" "" bytes "${bytes}")

get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp" "// Generated from ${name} by cmake/embed_resources.cmake.
#include \"platform/standin/ui/templates.h\"

namespace {

const unsigned char kResources[] = {
    ${bytes}
};

// Registers this image's resources when it is loaded and withdraws them when it is unloaded.
struct ResourceRegistration {
    ResourceRegistration() { standin::RegisterModuleResources(kResources, kResources, sizeof kResources); }
    ~ResourceRegistration() { standin::UnregisterModuleResources(kResources); }
} registration;

}  // namespace
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
