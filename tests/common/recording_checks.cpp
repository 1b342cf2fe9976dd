#include "tests/common/recording_checks.h"

#include <map>
#include <utility>

std::vector<std::string> RecordingFaults(const std::vector<standin::RecordedSample>& recording,
                                         uint32_t frameBytes, uint32_t audioBlock) {
    std::vector<std::string> faults;
    std::map<std::pair<uint32_t, uint32_t>, uint64_t> last;  // (input, pass) -> time
    for (size_t k = 0; k < recording.size(); ++k) {
        const standin::RecordedSample& s = recording[k];
        const std::string where = "sample " + std::to_string(k) + " (input " + std::to_string(s.input) +
                                  ", pass " + std::to_string(s.pass) + ")";
        auto key = std::make_pair(s.input, s.pass);
        auto it = last.find(key);
        if (it != last.end() && s.time < it->second) {
            faults.push_back(where + ": time " + std::to_string(s.time) + " before " + std::to_string(it->second));
        }
        last[key] = s.time;
        if (s.connection == u"TamselVideo1") {
            if (s.size != frameBytes) faults.push_back(where + ": video sample of " + std::to_string(s.size) + " bytes");
        } else if (s.connection == u"TamselAudio1") {
            if (audioBlock == 0 || s.size % audioBlock != 0) {
                faults.push_back(where + ": audio sample of " + std::to_string(s.size) + " bytes");
            }
        } else {
            faults.push_back(where + ": sample on an input of no described stream");
        }
    }
    return faults;
}

std::vector<standin::RecordedSample> SamplesOfPass(const std::vector<standin::RecordedSample>& recording,
                                                   uint32_t pass) {
    std::vector<standin::RecordedSample> out;
    for (const standin::RecordedSample& s : recording) {
        if (s.pass == pass) out.push_back(s);
    }
    return out;
}

bool SameSamples(const std::vector<standin::RecordedSample>& a, const std::vector<standin::RecordedSample>& b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k) {
        if (a[k].input != b[k].input || a[k].pass != b[k].pass || a[k].time != b[k].time ||
            a[k].flags != b[k].flags || a[k].size != b[k].size || a[k].hash != b[k].hash) {
            return false;
        }
    }
    return true;
}
