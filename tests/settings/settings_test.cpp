// The settings record: defaults, the all-or-nothing registry load, the record for a job, and the
// configuration blob exchanged with the editor.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include "platform/standin/wmvcore/runtime.h"
#include "plugin/entry_points.h"
#include "settings/encoder_settings.h"
#include "settings/settings_registry.h"
#include "tests/common/settings_fields.h"

namespace {

constexpr LCID kSystemLcid = 0x0411;

standin::CatalogueCodec NamedCodec(const std::u16string& name) {
    standin::CatalogueCodec c;
    c.name = name;
    standin::CatalogueFormat f;
    f.description = u"format";
    f.bitrate = 128000;
    f.sampleRate = 44100;
    f.channels = 2;
    f.bitsPerSample = 16;
    for (auto& byVbr : c.lists) {
        for (auto& list : byVbr) list = {f};
    }
    return c;
}

// The codecs the defaults name sit at indexes other than 0, so a wrong lookup shows.
void InstallCatalogue(bool withVideo = true) {
    standin::Catalogue catalogue;
    catalogue.video.push_back(NamedCodec(u"Windows Media Video 9 Screen"));
    if (withVideo) catalogue.video.push_back(NamedCodec(u"Windows Media Video 9"));
    catalogue.video.back().complexityOffline = 2;
    catalogue.audio.push_back(NamedCodec(u"Windows Media Audio 9.2"));
    catalogue.audio.push_back(NamedCodec(u"Windows Media Audio 9 Voice"));
    catalogue.audio.push_back(NamedCodec(u"Windows Media Audio 9 Professional"));
    standin::InstallCatalogue(catalogue);
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallCatalogue();
        standin::SetSystemDefaultLcid(kSystemLcid);
    }
};

EncoderSettings Filled(unsigned char byte) {
    EncoderSettings s;
    std::memset(&s, byte, sizeof s);
    return s;
}

// Every stored field away from its default and within its maximum.
EncoderSettings Customised() {
    EncoderSettings s = Filled(0);
    s.CompressionMode = 4;
    s.Bitrate = 0xFFFFFFFF;
    s.BufferWindow = 3000;
    s.Quality = 100;
    s.KeyFrameInterval = 2000;
    s.DecoderComplexity = 2;
    s.DecoderLevel = 3;
    s.Performance = 4;
    s.PeakBitrate = 1500000;
    s.PeakBuffer = 7000;
    s.EnableResizeTo = 1;
    s.ResizeToW = 16;
    s.ResizeToH = 9;
    s.VideoLanguage = 0x0409;
    s.AudioCodec = 1;
    s.AudioFormat = 3;
    s.AudioVBREnable = 1;
    s.AudioNumberOfPasses = 0;
    s.AudioBufferWindow = 4000;
    s.AudioLanguage = 0x0407;
    return s;
}

void ExpectStoredFieldsEqual(const EncoderSettings& actual, const EncoderSettings& expected) {
    for (const SettingsRegistryRow& row : SettingsRegistryTable) {
        EXPECT_EQ(RecordField(&actual, row.FieldOffset), RecordField(&expected, row.FieldOffset))
            << row.KeyPath << "\\" << row.ValueName;
    }
}

void ExpectDefaults(const EncoderSettings& s) {
    EXPECT_EQ(s.VideoCodecIndex, 1);
    EXPECT_EQ(s.CompressionMode, 2);
    EXPECT_EQ(s.Bitrate, 300000u);
    EXPECT_EQ(s.BufferWindow, 5000u);
    EXPECT_EQ(s.Width, 0);
    EXPECT_EQ(s.Height, 0);
    EXPECT_EQ(s.EnableResizeTo, 0);
    EXPECT_EQ(s.ResizeToW, 0u);
    EXPECT_EQ(s.ResizeToH, 0u);
    EXPECT_EQ(s.Quality, 80);
    EXPECT_EQ(s.KeyFrameInterval, 8000u);
    EXPECT_EQ(s.DecoderComplexity, 1);
    EXPECT_EQ(s.DecoderLevel, 0u);
    EXPECT_EQ(s.Performance, 2);
    EXPECT_EQ(s.PeakBitrate, 900000u);
    EXPECT_EQ(s.PeakBuffer, 5000u);
    EXPECT_EQ(s.VideoLanguage, kSystemLcid);
    EXPECT_EQ(s.AudioBufferWindow, 5000u);
    EXPECT_EQ(s.AudioCodec, 2);
    EXPECT_EQ(s.AudioFormat, 0);
    EXPECT_EQ(s.AudioVBREnable, 0);
    EXPECT_EQ(s.AudioNumberOfPasses, 1);
    EXPECT_EQ(s.AudioLanguage, kSystemLcid);
}

bool RegistryFileExists() { return access(standin::RegistryFilePath().c_str(), F_OK) == 0; }

HostJob VideoJob(int32_t width, int32_t height, int32_t rate, int32_t scale) {
    HostJob job{};
    job.ContentFlags = HasVideo | HasAudio;
    job.FrameWidth = width;
    job.FrameHeight = height;
    job.Rate = rate;
    job.Scale = scale;
    return job;
}

}  // namespace

TEST_F(SettingsTest, EmptyRegistryGivesTheDefaultsAndWritesNothing) {
    EncoderSettings s = Filled(0xCD);
    ASSERT_EQ(LoadSettings(&s), S_OK);
    ExpectDefaults(s);
    unsigned char untouched[8];
    std::memset(untouched, 0xCD, sizeof untouched);
    EXPECT_EQ(std::memcmp(&s.FrameRate, untouched, 8), 0);
    EXPECT_EQ(s.Reserved, 0xCDCDCDCDu);
    EXPECT_FALSE(RegistryFileExists());
    EXPECT_EQ(LoadSettings(nullptr), E_INVALIDARG);

    // Without the offline complexity the encoder starts at the lowest one.
    standin::FailCall("IWMCodecInfo3::GetCodecProp", 1, E_UNEXPECTED);
    ASSERT_EQ(LoadSettings(&s), S_OK);
    EXPECT_EQ(s.Performance, 0);
}

TEST_F(SettingsTest, LaterRuntimeStillHasDefaults) {
    standin::Catalogue later = standin::LaterCatalogue();
    standin::InstallCatalogue(later);
    EncoderSettings s = Filled(0);
    ASSERT_EQ(LoadSettings(&s), S_OK);
    EXPECT_EQ(later.video.at(s.VideoCodecIndex).name, u"Windows Media Video 9");
    EXPECT_EQ(later.audio.at(s.AudioCodec).name.rfind(u"Windows Media Audio 9", 0), 0u);
}

TEST_F(SettingsTest, StoredValuesRoundTripBitForBit) {
    const EncoderSettings stored = Customised();
    ASSERT_TRUE(WriteSettingsToRegistry(&stored));
    EncoderSettings s = Filled(0xCD);
    ASSERT_EQ(LoadSettings(&s), S_OK);
    ExpectStoredFieldsEqual(s, stored);
    EXPECT_EQ(s.VideoCodecIndex, 1) << "looked up afresh";
    EXPECT_EQ(s.Width, int32_t(0xCDCDCDCD)) << "the registry path leaves the job fields alone";
    EXPECT_EQ(s.Reserved, 0xCDCDCDCDu);
}

struct Spoiler {
    const char* what;
    std::function<void()> spoil;
};

// Settings already stored by earlier versions and edited by hand are found under these names, in
// these keys, and land in these record offsets; a value at its limit is taken, one above is not.
TEST_F(SettingsTest, EachStoredValueHasItsNameKeyOffsetAndLimit) {
    struct Stored {
        const char* key;
        const char* name;
        size_t offset;
        uint32_t limit;  // 0: none
    };
    const char* video = "Software\\Veltrane\\Pelwick\\Video";
    const char* audio = "Software\\Veltrane\\Pelwick\\Audio";
    const Stored values[] = {
        {video, "CompressionMode", 4, 4},   {video, "Bitrate", 8, 0},          {video, "BufferWindow", 12, 0},
        {video, "Quality", 44, 100},        {video, "KeyFrameInterval", 48, 0}, {video, "DecoderComplexity", 52, 2},
        {video, "DecoderLevel", 56, 3},     {video, "Performance", 60, 0},     {video, "PeakBitrate", 64, 0},
        {video, "PeakBuffer", 68, 0},       {video, "EnableResizeTo", 32, 1},  {video, "ResizeToW", 36, 0},
        {video, "ResizeToH", 40, 0},        {video, "Language", 72, 0},        {audio, "Codec", 84, 0},
        {audio, "Format", 88, 0},           {audio, "VBREnable", 92, 1},       {audio, "NumberOfPasses", 96, 2},
        {audio, "BufferWindow", 80, 0},     {audio, "Language", 100, 0},
    };
    auto valueFor = [](const Stored& v) { return v.limit ? v.limit : 0xF0000000u + static_cast<uint32_t>(v.offset); };
    for (const Stored& v : values) {
        uint32_t value = valueFor(v);
        ASSERT_TRUE(standin::PlantRegistryValue(v.key, v.name, REG_DWORD, &value, 4));
    }
    EncoderSettings s = Filled(0);
    ASSERT_EQ(LoadSettings(&s), S_OK);
    for (const Stored& v : values) {
        EXPECT_EQ(RecordField(&s, v.offset), valueFor(v)) << v.key << "\\" << v.name;
    }

    for (const Stored& v : values) {
        if (!v.limit) continue;
        SCOPED_TRACE(v.name);
        uint32_t above = v.limit + 1;
        ASSERT_TRUE(standin::PlantRegistryValue(v.key, v.name, REG_DWORD, &above, 4));
        s = Filled(0);
        ASSERT_EQ(LoadSettings(&s), S_OK);
        ExpectDefaults(s);
        ASSERT_TRUE(standin::PlantRegistryValue(v.key, v.name, REG_DWORD, &v.limit, 4));
    }
}

TEST_F(SettingsTest, OneBadValueMeansAllDefaults) {
    auto dword = [](const char* key, const char* name, uint32_t v) {
        return [=] { ASSERT_TRUE(standin::PlantRegistryValue(key, name, REG_DWORD, &v, 4)); };
    };
    const Spoiler cases[] = {
        {"CompressionMode 5", dword(kVideoSettingsKey, "CompressionMode", 5)},
        {"Quality 101", dword(kVideoSettingsKey, "Quality", 101)},
        {"EnableResizeTo 2", dword(kVideoSettingsKey, "EnableResizeTo", 2)},
        {"DecoderLevel 4", dword(kVideoSettingsKey, "DecoderLevel", 4)},
        {"NumberOfPasses 3", dword(kAudioSettingsKey, "NumberOfPasses", 3)},
        {"CompressionMode as a string",
         [] { ASSERT_TRUE(standin::PlantRegistryValue(kVideoSettingsKey, "CompressionMode", REG_SZ, "4", 2)); }},
        {"CompressionMode as four binary bytes",
         [] {
             const BYTE raw[4] = {4, 0, 0, 0};
             ASSERT_TRUE(standin::PlantRegistryValue(kVideoSettingsKey, "CompressionMode", REG_BINARY, raw, 4));
         }},
        {"Bitrate as a two-byte REG_DWORD",
         [] {
             const BYTE raw[2] = {0x10, 0x27};
             ASSERT_TRUE(standin::PlantRegistryValue(kVideoSettingsKey, "Bitrate", REG_DWORD, raw, 2));
         }},
        {"audio Language missing", [] { ASSERT_TRUE(standin::RemoveRegistryValue(kAudioSettingsKey, "Language")); }},
        {"audio key missing values", [] {
             for (const char* n : {"Codec", "Format", "VBREnable", "NumberOfPasses", "BufferWindow", "Language"}) {
                 standin::RemoveRegistryValue(kAudioSettingsKey, n);
             }
         }},
    };
    for (const Spoiler& c : cases) {
        SCOPED_TRACE(c.what);
        const EncoderSettings stored = Customised();
        ASSERT_TRUE(WriteSettingsToRegistry(&stored));
        c.spoil();
        EncoderSettings s = Filled(0xCD);
        ASSERT_EQ(LoadSettings(&s), S_OK);
        ExpectDefaults(s);
    }
}

TEST_F(SettingsTest, MissingDefaultCodecsFailTheLoad) {
    InstallCatalogue(false);
    EncoderSettings s = Filled(0xCD);
    EXPECT_EQ(LoadSettings(&s), E_FAIL);
    EXPECT_EQ(s.Bitrate, 0xCDCDCDCDu) << "no default written without the video codec";

    // A complete registry set is no use without the video codec either.
    const EncoderSettings stored = Customised();
    ASSERT_TRUE(WriteSettingsToRegistry(&stored));
    EXPECT_EQ(LoadSettings(&s), E_FAIL);

    // Nor do the defaults stand in for it when the catalogue fails the set's lookup only: the
    // user's set is not replaced by them (and stored over by Config).
    InstallCatalogue();
    standin::FailCall("WMCreateProfileManager", 1, E_OUTOFMEMORY);
    s = Filled(0xCD);
    EXPECT_EQ(LoadSettings(&s), E_OUTOFMEMORY);
    EXPECT_EQ(s.Bitrate, stored.Bitrate);
    ASSERT_EQ(LoadSettings(&s), S_OK);
    EXPECT_EQ(s.Bitrate, stored.Bitrate);

    // Without the audio codec the load fails after the video defaults are in.
    standin::PlantRegistryValue(kVideoSettingsKey, "Quality", REG_SZ, "x", 2);
    standin::InstallCatalogue([] {
        standin::Catalogue c;
        c.video.push_back(NamedCodec(u"Windows Media Video 9"));
        c.audio.push_back(NamedCodec(u"Windows Media Audio 10 Professional"));
        return c;
    }());
    s = Filled(0xCD);
    EXPECT_EQ(LoadSettings(&s), E_FAIL);
    EXPECT_EQ(s.Bitrate, 300000u) << "the video defaults are in";
    EXPECT_EQ(s.AudioBufferWindow, 0xCDCDCDCDu) << "the audio fields are left as they were";
}

TEST_F(SettingsTest, RecordForAJobCarriesItsSizeRateAndAspectTerms) {
    struct Case {
        int32_t enable;
        uint32_t w, h;
        uint32_t expectW, expectH;
    };
    const Case cases[] = {{1, 16, 9, 16, 9}, {0, 16, 9, 640, 480}, {1, 16, 0, 640, 480}, {1, 0, 9, 640, 480}};
    for (const Case& c : cases) {
        EncoderSettings stored = Customised();
        stored.EnableResizeTo = c.enable;
        stored.ResizeToW = c.w;
        stored.ResizeToH = c.h;
        ASSERT_TRUE(WriteSettingsToRegistry(&stored));
        HostJob job = VideoJob(640, 480, 30000, 1001);
        EncoderSettings s = Filled(0xCD);
        ASSERT_EQ(SettingsForJob(&job, &s), S_OK);
        EXPECT_EQ(s.Width, 640);
        EXPECT_EQ(s.Height, 480);
        EXPECT_DOUBLE_EQ(s.FrameRate, 30000.0 / 1001.0);
        EXPECT_EQ(s.EnableResizeTo, c.enable);
        EXPECT_EQ(s.ResizeToW, c.expectW);
        EXPECT_EQ(s.ResizeToH, c.expectH);
        EXPECT_EQ(s.Reserved, 0u);
    }

    HostJob audioOnly = VideoJob(640, 480, 30000, 1001);
    audioOnly.ContentFlags = HasAudio;
    EncoderSettings s = Filled(0xCD);
    ASSERT_EQ(SettingsForJob(&audioOnly, &s), S_OK);
    EXPECT_EQ(s.Width, 0);
    EXPECT_EQ(s.Height, 0);
    EXPECT_EQ(s.FrameRate, 0.0);
    EXPECT_EQ(s.ResizeToW, 0u) << "as loaded: the last stored record had 1, 0, 9";
    EXPECT_EQ(s.ResizeToH, 9u);

    HostJob noScale = VideoJob(320, 240, 30, 0);
    ASSERT_EQ(SettingsForJob(&noScale, &s), S_OK);
    EXPECT_EQ(s.FrameRate, 0.0);
    EXPECT_EQ(SettingsForJob(&noScale, nullptr), E_INVALIDARG);

    InstallCatalogue(false);
    EXPECT_EQ(SettingsForJob(&noScale, &s), E_FAIL);
}

TEST_F(SettingsTest, ConfigGetAnswersTheSizeAndFillsOnlyALargeEnoughBuffer) {
    EXPECT_EQ(ConfigGet(nullptr, 0), 104);
    EXPECT_EQ(standin::CallCount("WMCreateProfileManager"), 0) << "a size query loads nothing";

    unsigned char small[104];
    std::memset(small, 0xAB, sizeof small);
    EXPECT_EQ(ConfigGet(small, 103), 104);
    for (unsigned char b : small) ASSERT_EQ(b, 0xAB);
    EXPECT_EQ(ConfigGet(small, -1), 104) << "0xFFFFFFFF is an unlimited capacity";
    EncoderSettings unlimited;
    std::memcpy(&unlimited, small, sizeof unlimited);
    ExpectDefaults(unlimited);

    // The editor's buffer need not be aligned for the record.
    unsigned char blob[105];
    std::memset(blob, 0xAB, sizeof blob);
    EXPECT_EQ(ConfigGet(blob + 1, 104), 104);
    EncoderSettings s;
    std::memcpy(&s, blob + 1, sizeof s);
    ExpectDefaults(s);
    EXPECT_EQ(s.Reserved, 0xABABABABu);
    EXPECT_EQ(blob[0], 0xAB);
}

// Without a media runtime (or with one lacking the video codec) there are no settings to hand
// out, neither the stored ones nor the defaults: the editor gets no blob at all rather than one
// of zeros that would be stored when it comes back.
TEST_F(SettingsTest, ConfigGetHandsOutNothingWhenTheSettingsCannotBeLoaded) {
    const EncoderSettings stored = Customised();
    const std::function<void()> spoilers[] = {
        [] { standin::FailCall("WMCreateProfileManager", 1, REGDB_E_CLASSNOTREG); },
        [] { InstallCatalogue(false); },
    };
    for (bool withStore : {false, true}) {
        for (const auto& spoil : spoilers) {
            SCOPED_TRACE(withStore ? "a stored set" : "no stored set");
            if (withStore) {
                ASSERT_TRUE(WriteSettingsToRegistry(&stored));
            }
            spoil();
            unsigned char blob[104];
            std::memset(blob, 0xAB, sizeof blob);
            EXPECT_EQ(ConfigGet(blob, 104), 0);
            for (unsigned char b : blob) ASSERT_EQ(b, 0xAB);
            EXPECT_EQ(ConfigGet(nullptr, 0), 104) << "the size query loads nothing";
            InstallCatalogue();
        }
    }
}

TEST_F(SettingsTest, ConfigSetStoresOnlyAWholeBlob) {
    EncoderSettings blob = Customised();
    blob.VideoCodecIndex = 7;
    blob.Width = 1920;
    EXPECT_EQ(ConfigSet(&blob, 103), 0);
    EXPECT_EQ(ConfigSet(&blob, 105), 0);
    EXPECT_EQ(ConfigSet(nullptr, 104), 0);
    EXPECT_FALSE(RegistryFileExists());

    EXPECT_EQ(ConfigSet(&blob, 104), 104);
    EncoderSettings s = Filled(0);
    ASSERT_EQ(LoadSettings(&s), S_OK);
    ExpectStoredFieldsEqual(s, blob);
    EXPECT_EQ(s.VideoCodecIndex, 1);
    EXPECT_EQ(s.Width, 0);

    // A blob with any value beyond what a load accepts is refused whole, and the stored set stays
    // the user's: storing it would turn every later load into the defaults.
    for (const SettingsRegistryRow& row : SettingsRegistryTable) {
        if (row.Maximum == kNoMaximum) continue;
        SCOPED_TRACE(row.ValueName);
        for (uint32_t beyond : {row.Maximum + 1, 0xFFFFFFFFu}) {
            EncoderSettings spoilt = Customised();
            spoilt.Quality = 7;
            SetRecordField(&spoilt, row.FieldOffset, beyond);
            EXPECT_EQ(ConfigSet(&spoilt, 104), 0);
            ASSERT_EQ(LoadSettings(&s), S_OK);
            ExpectStoredFieldsEqual(s, blob);
        }
    }

    // An unwritable registry is not the editor's concern.
    standin::DenyRegistryWrites("");
    EncoderSettings other = Customised();
    other.Quality = 5;
    EXPECT_EQ(ConfigSet(&other, 104), 104);
    ASSERT_EQ(LoadSettings(&s), S_OK);
    EXPECT_EQ(s.Quality, 100);
}

TEST_F(SettingsTest, AFailedWriteKeepsWhatWasWrittenBeforeIt) {
    const EncoderSettings old = Customised();
    ASSERT_TRUE(WriteSettingsToRegistry(&old));
    standin::DenyRegistryWrites(kAudioSettingsKey);
    EncoderSettings fresh = old;
    fresh.Quality = 50;
    fresh.AudioBufferWindow = 9000;
    EXPECT_FALSE(WriteSettingsToRegistry(&fresh));

    uint32_t v = 0;
    ASSERT_TRUE(ReadRegistryDword(kVideoSettingsKey, "Quality", &v));
    EXPECT_EQ(v, 50u);
    ASSERT_TRUE(ReadRegistryDword(kAudioSettingsKey, "BufferWindow", &v));
    EXPECT_EQ(v, 4000u);

    // A failed read leaves the output alone.
    v = 123;
    EXPECT_FALSE(ReadRegistryDword(kAudioSettingsKey, "NoSuchValue", &v));
    EXPECT_FALSE(ReadRegistryDword("Software\\Veltrane\\Nowhere", "Quality", &v));
    EXPECT_EQ(v, 123u);
}
