#include "host/host_text.h"

std::u16string WideFromCodePage(UINT codePage, DWORD flags, const std::string& bytes) {
    const int length = static_cast<int>(bytes.size());
    const int n = length ? MultiByteToWideChar(codePage, flags, bytes.data(), length, nullptr, 0) : 0;
    if (n <= 0) return std::u16string();
    std::u16string out(static_cast<size_t>(n), u'\0');
    const int made = MultiByteToWideChar(codePage, flags, bytes.data(), length, reinterpret_cast<WCHAR*>(&out[0]), n);
    out.resize(made > 0 ? static_cast<size_t>(made) : 0);
    return out;
}
