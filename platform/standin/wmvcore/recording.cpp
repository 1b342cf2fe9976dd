// The recording observer: every sample a writer receives, per input and pass, with a content hash.
#include <cstdio>
#include <cstring>
#include <map>

#include "../leaks.h"
#include "../utf8.h"
#include "core.h"

namespace standin {
namespace {

class Recorder final : public WriterObserver {
public:
    void Start() {
        wm::Guard g(lock_);
        samples_.clear();
        connections_.clear();
        active_ = true;
    }
    void Stop() {
        wm::Guard g(lock_);
        active_ = false;
    }
    bool Active() {
        wm::Guard g(lock_);
        return active_;
    }
    std::vector<RecordedSample> Samples() {
        wm::Guard g(lock_);
        return samples_;
    }

    int32_t OnBeginWriting(const ObservedSession& session) override {
        wm::Guard g(lock_);
        connections_.clear();
        for (const ObservedStream& s : session.streams) connections_[s.input] = s.connectionName;
        return 0;
    }
    int32_t OnPreprocessSample(uint32_t input, uint32_t pass, uint64_t time, uint32_t flags, const uint8_t* data,
                               uint32_t size) override {
        Add(input, pass, time, flags, data, size);
        return 0;
    }
    int32_t OnWriteSample(uint32_t input, uint64_t time, uint32_t flags, const uint8_t* data, uint32_t size) override {
        Add(input, 0, time, flags, data, size);
        return 0;
    }

private:
    void Add(uint32_t input, uint32_t pass, uint64_t time, uint32_t flags, const uint8_t* data, uint32_t size) {
        RecordedSample r;
        r.input = input;
        r.pass = pass;
        r.time = time;
        r.flags = flags;
        r.size = size;
        r.hash = HashBytes(data, size);
        wm::Guard g(lock_);
        auto it = connections_.find(input);
        if (it != connections_.end()) r.connection = it->second;
        samples_.push_back(r);
    }

    wm::Lock lock_;
    bool active_ = false;
    std::map<uint32_t, std::u16string> connections_;
    std::vector<RecordedSample> samples_;
};

Recorder& TheRecorder() {
    static Recorder r;
    return r;
}

struct Registration {
    Registration() {
        RegisterReset("wmvcore recording", [] {
            TheRecorder().Start();
            TheRecorder().Stop();
        });
    }
} g_registration;

}  // namespace

namespace wm {
WriterObserver* ActiveRecorder() { return TheRecorder().Active() ? &TheRecorder() : nullptr; }
}  // namespace wm

// FNV-1a over the bytes in order; read eight at a time (both builds are little-endian), which
// spares the sanitizers a check per byte.
uint64_t HashBytes(const uint8_t* data, size_t size) {
    constexpr uint64_t kPrime = 0x100000001b3ull;
    uint64_t h = 0xcbf29ce484222325ull;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        for (int k = 0; k < 8; ++k) h = (h ^ ((word >> (8 * k)) & 0xFF)) * kPrime;
    }
    for (; i < size; ++i) h = (h ^ data[i]) * kPrime;
    return h;
}

void StartRecording() { TheRecorder().Start(); }
void StopRecording() { TheRecorder().Stop(); }
std::vector<RecordedSample> Recording() { return TheRecorder().Samples(); }

std::string RecordingJsonLine(const RecordedSample& s) {
    std::string out = "{\"input\":" + std::to_string(s.input) + ",\"connection\":";
    AppendJsonString(out, s.connection);
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(s.hash));
    out += ",\"pass\":" + std::to_string(s.pass) + ",\"time\":" + std::to_string(s.time) +
           ",\"flags\":" + std::to_string(s.flags) + ",\"size\":" + std::to_string(s.size) + ",\"hash\":\"" + hash +
           "\"}";
    return out;
}

bool WriteRecordingJson(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = true;
    for (const RecordedSample& s : Recording()) {
        std::string line = RecordingJsonLine(s) + "\n";
        ok &= std::fwrite(line.data(), 1, line.size(), f) == line.size();
    }
    ok &= std::fclose(f) == 0;
    return ok;
}

}  // namespace standin
