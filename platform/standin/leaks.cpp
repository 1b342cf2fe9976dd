#include "leaks.h"

#include <memory>
#include <utility>

#include "spin_lock.h"

namespace standin {
namespace {

using Resets = std::vector<std::function<void()>>;

struct Registry {
    SpinLock lock;
    std::vector<std::pair<std::string, LeakProbe>> probes;
    // Replaced whole when a stand-in registers, so that a reset runs them from a snapshot
    // taken without copying, outside the lock.
    std::shared_ptr<const Resets> resets = std::make_shared<Resets>();
    std::vector<std::string> failures;
    bool writeLost = false;
};

Registry& TheRegistry() {
    static Registry r;
    return r;
}

}  // namespace

void RegisterLeakProbe(const char* name, LeakProbe probe) {
    Registry& r = TheRegistry();
    SpinGuard g(r.lock);
    r.probes.emplace_back(name, std::move(probe));
}

std::vector<std::string> CollectLeaks() {
    Registry& r = TheRegistry();
    SpinGuard g(r.lock);
    std::vector<std::string> out;
    for (auto& p : r.probes) {
        std::string what = p.second();
        if (!what.empty()) out.push_back(p.first + ": " + what);
    }
    return out;
}

void RegisterReset(const char*, std::function<void()> reset) {
    Registry& r = TheRegistry();
    SpinGuard g(r.lock);
    auto resets = std::make_shared<Resets>(*r.resets);
    resets->push_back(std::move(reset));
    r.resets = std::move(resets);
}

void ResetAll() {
    Registry& r = TheRegistry();
    std::shared_ptr<const Resets> resets;
    {
        SpinGuard g(r.lock);
        resets = r.resets;
    }
    for (const auto& f : *resets) f();
    SpinGuard g(r.lock);
    r.failures.clear();
    r.writeLost = false;
}

void NoteFailure(const std::string& reason, FailureKind kind) {
    Registry& r = TheRegistry();
    SpinGuard g(r.lock);
    if (kind == FailureKind::WriteLost) r.writeLost = true;
    for (const std::string& noted : r.failures) {
        if (noted == reason) return;
    }
    if (r.failures.size() < 16) r.failures.push_back(reason);
}

std::vector<std::string> TakeFailures(bool* writeLost) {
    Registry& r = TheRegistry();
    SpinGuard g(r.lock);
    std::vector<std::string> out;
    out.swap(r.failures);
    if (writeLost) *writeLost = r.writeLost;
    r.writeLost = false;
    return out;
}

}  // namespace standin
