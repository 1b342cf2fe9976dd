// The configuration blob as the editor hands it back: ConfigSet with any bytes and any size, then
// ConfigGet with any capacity. Only a blob of the record's size whose every value is within its
// limit is taken; what loads after it is that blob's set whole, or the defaults whole; ConfigGet
// answers the record's size and writes no byte past the record, and none into a smaller buffer.
#include <cstring>
#include <string>
#include <vector>

#include "plugin/entry_points.h"
#include "settings/encoder_settings.h"
#include "settings/settings_registry.h"
#include "tests/common/settings_fields.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr uint8_t kGuard = 0xA5;

// A size as an editor might pass it: near the record's size mostly, anything sometimes.
int32_t SizeFrom(FuzzInput& in) {
    const uint8_t b = in.Byte();
    if (b >= 0xF0) return in.I32();
    return static_cast<int32_t>(b % 16) - 8 + kConfigBlobSize;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const EncoderSettings defaults = FuzzDefaults();
    FuzzInput in(data, size);
    FuzzReset();
    const bool nullBlob = in.Byte() == 0x7F;
    const int32_t setSize = SizeFrom(in);
    const int32_t getSize = SizeFrom(in);
    // The blob: the rest of the input, over the defaults where it runs short, in a buffer with room
    // on both sides so that a read outside it shows under the sanitizers only.
    std::vector<uint8_t> blob(sizeof(EncoderSettings));
    std::memcpy(blob.data(), &defaults, sizeof defaults);
    const std::string rest = in.Rest();
    std::memcpy(blob.data(), rest.data(), rest.size() < blob.size() ? rest.size() : blob.size());
    bool withinLimits = true;
    for (const SettingsRegistryRow& row : SettingsRegistryTable) {
        if (row.Maximum != kNoMaximum && RecordField(blob.data(), row.FieldOffset) > row.Maximum) withinLimits = false;
    }
    const bool taken = !nullBlob && setSize == kConfigBlobSize && withinLimits;
    std::vector<uint8_t> setBuffer = blob;
    if (setSize > 0 && static_cast<size_t>(setSize) > setBuffer.size() && setSize <= 4096) setBuffer.resize(setSize);

    // An oversized claim on a small buffer is the editor's lie; only sizes the buffer backs are passed.
    const int32_t passedSet = (setSize > 0 && static_cast<size_t>(setSize) > setBuffer.size()) ? kConfigBlobSize + 1 : setSize;
    const int32_t answer = ConfigSet(nullBlob ? nullptr : setBuffer.data(), passedSet);
    FUZZ_REQUIRE(answer == (taken ? kConfigBlobSize : 0), "ConfigSet answered " + std::to_string(answer));

    if (!taken) {
        EncoderSettings stored;
        FUZZ_REQUIRE(!ReadSettingsFromRegistry(&stored), "a refused blob stored something");
    }

    // ConfigGet into a buffer of `getSize` bytes (at most a little more than a record is backed;
    // a larger capacity stands for "no limit") with guard bytes after it.
    const uint32_t capacity = static_cast<uint32_t>(getSize);
    const size_t backed = capacity < sizeof(EncoderSettings) ? capacity : sizeof(EncoderSettings);
    std::vector<uint8_t> out(backed + 16, kGuard);
    const int32_t got = ConfigGet(out.data(), getSize);
    FUZZ_REQUIRE(got == kConfigBlobSize, "ConfigGet answered " + std::to_string(got));
    for (size_t k = backed; k < out.size(); ++k) FUZZ_REQUIRE(out[k] == kGuard, "ConfigGet wrote past the buffer");
    if (capacity < sizeof(EncoderSettings)) {
        for (size_t k = 0; k < backed; ++k) FUZZ_REQUIRE(out[k] == kGuard, "ConfigGet wrote into a short buffer");
    } else {
        for (const SettingsRegistryRow& row : SettingsRegistryTable) {
            const uint32_t want =
                taken ? RecordField(blob.data(), row.FieldOffset) : RecordField(&defaults, row.FieldOffset);
            FUZZ_REQUIRE(RecordField(out.data(), row.FieldOffset) == want,
                         std::string(row.ValueName) + (taken ? " is not the blob's" : " is not the default"));
        }
    }
    // ConfigGet with no buffer only answers the size.
    FUZZ_REQUIRE(ConfigGet(nullptr, getSize) == kConfigBlobSize, "ConfigGet without a buffer");
    RequireNothingLeft("after ConfigSet and ConfigGet");
    return 0;
}
