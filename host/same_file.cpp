#include "host/same_file.h"

#include "host/host_platform.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Two paths name one file: the same existing file, or where neither exists yet, the same place.
bool SameFile(const std::string& utf8A, const std::string& utf8B) {
    const std::string a = NativePath(utf8A), b = NativePath(utf8B);
    std::error_code ea, eb;
    const bool aExists = fs::exists(a, ea), bExists = fs::exists(b, eb);
    if (aExists && bExists) {
        std::error_code e;
        return fs::equivalent(a, b, e);
    }
    if (aExists != bExists) return false;
    std::error_code e1, e2;
    fs::path ca = fs::weakly_canonical(fs::absolute(a), e1), cb = fs::weakly_canonical(fs::absolute(b), e2);
    if (e1 || e2) return fs::absolute(a).lexically_normal() == fs::absolute(b).lexically_normal();
    return ca == cb;
}

std::string Describe(const NamedPath& p) { return p.option + " " + p.path; }

}  // namespace

bool CheckOutputsStandAlone(const std::vector<NamedPath>& inputs, const std::vector<NamedPath>& outputs,
                            std::string& reason) {
    for (size_t i = 0; i < outputs.size(); ++i) {
        const NamedPath& out = outputs[i];
        if (out.path.empty()) continue;
        for (const NamedPath& in : inputs) {
            if (in.path.empty() || !SameFile(out.path, in.path)) continue;
            reason = Describe(out) + " is the same file as " + Describe(in) + ": it would be overwritten";
            return false;
        }
        for (size_t j = i + 1; j < outputs.size(); ++j) {
            if (outputs[j].path.empty() || !SameFile(out.path, outputs[j].path)) continue;
            reason = Describe(out) + " and " + Describe(outputs[j]) + " are the same file";
            return false;
        }
    }
    return true;
}
