#include "host/runtime_session.h"

#include <cstdio>

#include "host/host_platform.h"
#include "platform/standin/utf8.h"

bool WriteMessageLog(const std::string& path, const std::vector<ShownMessageBox>& boxes) {
    std::FILE* f = std::fopen(NativePath(path).c_str(), "wb");
    if (!f) return false;
    bool ok = true;
    for (const ShownMessageBox& box : boxes) {
        std::string line = "{\"caption\":";
        standin::AppendJsonString(line, box.caption);
        line += ",\"text\":";
        standin::AppendJsonString(line, box.text);
        line += ",\"style\":" + std::to_string(box.style) + "}\n";
        ok &= std::fwrite(line.data(), 1, line.size(), f) == line.size();
    }
    return std::fclose(f) == 0 && ok;
}
