// Shared by the fuzz targets: the process set-up, the reading of a fuzzer's bytes as typed
// choices, and the checks every input must pass. A failed check prints what broke and aborts, so
// that libFuzzer keeps the input and the regression runner fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/encoder_settings.h"

// Reads an input front to back; past its end every read gives zeros.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
    uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    bool Bit() { return Byte() & 1; }
    // Up to `n` bytes.
    std::string Bytes(size_t n) {
        size_t take = n < size_ - at_ ? n : size_ - at_;
        std::string out(reinterpret_cast<const char*>(data_ + at_), take);
        at_ += take;
        return out;
    }
    std::string Rest() { return Bytes(size_ - at_); }
    bool Empty() const { return at_ >= size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

[[noreturn]] void FuzzFailure(const char* file, int line, const std::string& what);

#define FUZZ_REQUIRE(condition, what)                                    \
    do {                                                                 \
        if (!(condition)) FuzzFailure(__FILE__, __LINE__, std::string(#condition) + ": " + (what)); \
    } while (0)

// Every stand-in put back into its first state, as at the start of each input.
void FuzzReset();
// Fails when any stand-in still holds something (object, reference, heap block, mapping, window,
// key, MLang object or BSTR); then puts every stand-in back, so that an input frees within its own
// run what it made (libFuzzer runs an input again, to look for a leak, whenever its allocations and
// frees do not match).
void RequireNothingLeft(const char* when);

// The settings an empty store loads (the store is emptied first).
EncoderSettings FuzzDefaults();
