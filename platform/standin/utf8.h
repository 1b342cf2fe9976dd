// UTF-8 for the stand-ins, whose text reaches a terminal, a file name or a JSON line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace standin {

// Appends one code point, 0 … 0x10FFFF.
void AppendUtf8(std::string& out, uint32_t codePoint);

// Surrogate pairs are joined; a lone surrogate becomes U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text);

// Appends `text` as a quoted JSON string (UTF-8; quotes, backslashes, control characters and lone
// surrogates escaped).
void AppendJsonString(std::string& out, const std::u16string& text);

// A user's bytes for a message: printable ASCII as it is, every other byte as \xHH (a last NUL left
// out), long ones shortened.
std::string PrintableBytes(const std::string& bytes);

}  // namespace standin
