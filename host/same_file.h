// Which of the files a command reads or writes are one and the same file on disk.
#pragma once

#include <string>
#include <vector>

// A path the command names, with the option that named it ("-o", "--input", ...).
struct NamedPath {
    std::string option;
    std::string path;
};

// Finds an output that is the same file as an input or as another output: by the file's identity
// when it exists (a link or another spelling of the path is the same file), else by its resolved
// location. Empty paths are skipped. On a clash returns false with a one-line reason.
bool CheckOutputsStandAlone(const std::vector<NamedPath>& inputs, const std::vector<NamedPath>& outputs,
                            std::string& reason);
