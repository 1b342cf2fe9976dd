// Failure injection of a stand-in: every call of a named method is counted, and a call a test
// armed answers the code it chose instead of doing anything. Header-only, so that each stand-in
// that has failure points (also those the Windows build compiles) keeps its own set.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "spin_lock.h"

namespace standin {

class FailPoints {
public:
    // True (and *code set) when this call of `method` was armed to fail. HRESULT is long on
    // Windows and a 32-bit int in the stand-ins' own declarations. `method` is a string literal,
    // as the failure-point macros pass it: a method counted before is found by the address of its
    // name, without comparing any text.
    template <typename Code>
    bool Hit(const char* method, Code* code) {
        SpinGuard g(lock_);
        long* count = CountOfAddress(method);
        if (!count) {
            // Found by the text itself: a call of a method counted before costs no allocation.
            auto counted = calls_.find(method);
            if (counted == calls_.end()) counted = calls_.emplace(method, 0).first;
            count = &counted->second;
            byAddress_.push_back(NameAddress{method, count});
        }
        ++*count;
        if (armed_.empty()) return false;
        auto it = armed_.find(method);
        if (it == armed_.end() || --it->second.countdown > 0) return false;
        *code = static_cast<Code>(it->second.code);
        armed_.erase(it);
        return true;
    }
    // The n-th call from now (1 = the next) fails with `code`; n <= 0 disarms the method.
    void Arm(const std::string& method, long n, long code) {
        SpinGuard g(lock_);
        if (n <= 0) {
            armed_.erase(method);
        } else {
            armed_[method] = Armed{n, code};
        }
    }
    long Count(const std::string& method) {
        SpinGuard g(lock_);
        auto it = calls_.find(method);
        return it == calls_.end() ? 0 : it->second;
    }
    std::map<std::string, long> Counts() {
        SpinGuard g(lock_);
        std::map<std::string, long> counts;
        for (const auto& c : calls_) {
            if (c.second) counts.emplace(c.first, c.second);
        }
        return counts;
    }
    // The counts go back to zero; the methods stay known, so that counting them again allocates
    // nothing.
    void Reset() {
        SpinGuard g(lock_);
        armed_.clear();
        for (auto& c : calls_) c.second = 0;
    }

private:
    struct Armed {
        long countdown = 0;
        long code = 0;
    };
    struct NameAddress {
        const char* name;
        long* count;
    };
    // A search of a few dozen addresses.
    long* CountOfAddress(const char* method) const {
        for (const NameAddress& a : byAddress_) {
            if (a.name == method) return a.count;
        }
        return nullptr;
    }

    SpinLock lock_;
    std::map<std::string, Armed, std::less<>> armed_;
    std::map<std::string, long, std::less<>> calls_;  // never loses an entry, so pointers to counts stay
    std::vector<NameAddress> byAddress_;
};

}  // namespace standin
