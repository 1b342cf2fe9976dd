// Every failure the platform can answer, one at a time. A representative export is run once to
// count the runtime and heap calls it makes, then once more for each of those calls failing with
// a code the runtime documents for it; Config likewise with the catalogue, MLang, heap and sheet.
// After each run nothing may be left over, and the result must tell the truth about the file.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/standin/leaks.h"
#include "platform/standin/ui/driver.h"
#include "platform/standin/ui/templates.h"
#include "platform/standin/wmvcore/runtime.h"
#include "plugin/entry_points.h"
#include "settings/encoder_settings.h"
#include "settings/settings_registry.h"
#include "tests/common/fake_host.h"
#include "tests/common/recording_checks.h"
#include "tests/common/settings_fields.h"
#include "tests/common/stored_settings.h"
#include "ui/resources/resource.h"
#include "ui/settings_sheet.h"

namespace {

using Counts = std::map<std::string, long>;

// A code the runtime's documentation lists for a failure of `method`.
HRESULT DocumentedCode(const std::string& method) {
    auto is = [&](const char* suffix) {
        size_t n = std::strlen(suffix);
        return method.size() >= n && method.compare(method.size() - n, n, suffix) == 0;
    };
    if (is("QueryInterface")) return E_NOINTERFACE;
    if (is("SetProfile")) return NS_E_INVALIDPROFILE;
    if (is("SetOutputFilename")) return E_UNEXPECTED;
    if (is("WriteSample")) return NS_E_INVALID_DATA;
    if (is("EndWriting")) return NS_E_FILE_WRITE;
    if (is("SetCodecEnumerationSetting")) return NS_E_UNSUPPORTED_PROPERTY;
    if (is("AddAttribute") || is("GetInputProps") || is("GetInputCount")) return E_INVALIDARG;
    if (method.find("Preprocess") != std::string::npos) return NS_E_INVALID_REQUEST;
    if (method.rfind("WMCreate", 0) == 0 || is("CreateEmptyProfile") || is("CreateNewStream") ||
        is("AddStream") || is("SetMediaType") || is("SetInputProps") || is("BeginWriting") ||
        is("SetProperty") || is("CoCreateInstance") || is("EnumRfc1766")) {
        return E_OUTOFMEMORY;
    }
    return E_FAIL;
}

Counts Difference(const Counts& after, const Counts& before) {
    Counts out;
    for (const auto& [method, n] : after) {
        auto it = before.find(method);
        long d = n - (it == before.end() ? 0 : it->second);
        if (d > 0) out[method] = d;
    }
    return out;
}

// ---- exports -------------------------------------------------------------------------------------

struct ExportJob {
    const char* name;
    std::function<void(EncoderSettings&)> settings;
    bool readOnlyMap;
};

const ExportJob kExportJobs[] = {
    {"video and audio", [](EncoderSettings&) {}, false},
    {"2-pass video", [](EncoderSettings& s) { s.CompressionMode = 1; }, false},
    {"2-pass audio", [](EncoderSettings& s) { s.AudioNumberOfPasses = 2; }, false},
    {"read-only map", [](EncoderSettings&) {}, true},
};

struct ExportRun {
    int32_t result = -1;
    std::vector<standin::RecordedSample> recording;
    Counts calls;      // runtime calls Output made
    long heapCalls = 0;
    std::vector<std::string> leftOver;
    uint32_t frameBytes = 0;
};

// One export of a small clip (6 frames, one dropped and one long), `arm` called just before Output.
ExportRun RunExport(const ExportJob& job, const std::function<void()>& arm) {
    ExportRun run;
    standin::ResetAll();
    standin::EnableFileSink(false);
    StoreSettings(job.settings);
    {
        fakehost::FakeHost host;
        host.width = 64;
        host.height = 48;
        host.frameCount = 6;
        host.audioSampleCount = 9600;
        host.frameFlags = {1, 0, 0, 1, 0, 0};
        host.PublishTiming("1D1221");
        if (job.readOnlyMap) {
            EXPECT_TRUE(standin::MakeFileMappingReadOnly(host.timingMap->Name().c_str()));
        }
        run.frameBytes = static_cast<uint32_t>(host.FrameBytes());
        HostJob hostJob = host.MakeJob();
        standin::StartRecording();
        const Counts before = standin::CallCounts();
        const long heapBefore = standin::HeapAllocCalls();
        arm();
        run.result = Output(&hostJob);
        run.calls = Difference(standin::CallCounts(), before);
        run.heapCalls = standin::HeapAllocCalls() - heapBefore;
        run.recording = standin::Recording();
        standin::StopRecording();
    }
    run.leftOver = standin::CollectLeaks();
    return run;
}

void ExpectTruthfulRun(const ExportRun& run, const ExportRun& baseline) {
    EXPECT_TRUE(run.leftOver.empty()) << ::testing::PrintToString(run.leftOver);
    EXPECT_TRUE(RecordingFaults(run.recording, run.frameBytes, 4).empty())
        << ::testing::PrintToString(RecordingFaults(run.recording, run.frameBytes, 4));
    ASSERT_TRUE(run.result == 0 || run.result == 1) << run.result;
    if (run.result == 1) {
        // Reported as written: every pass got every sample, and the writer was ended once.
        EXPECT_TRUE(SameSamples(run.recording, baseline.recording)) << "an incomplete file reported as written";
        EXPECT_EQ(run.calls.count("IWMWriter::EndWriting") ? run.calls.at("IWMWriter::EndWriting") : 0, 1);
    }
}

TEST(FailureSweep, EveryRuntimeAndHeapCallOfAnExportFailingInTurn) {
    long exercised = 0;
    for (const ExportJob& job : kExportJobs) {
        SCOPED_TRACE(job.name);
        const ExportRun baseline = RunExport(job, [] {});
        ASSERT_EQ(baseline.result, 1);
        ASSERT_TRUE(baseline.leftOver.empty());
        ASSERT_FALSE(SamplesOfPass(baseline.recording, 0).empty());
        ASSERT_GT(baseline.calls.count("IWMWriter::WriteSample"), 0u);

        for (const auto& [method, count] : baseline.calls) {
            for (long n = 1; n <= count; ++n) {
                SCOPED_TRACE(method + " #" + std::to_string(n));
                const ExportRun run = RunExport(job, [&, m = method] { standin::FailCall(m, n, DocumentedCode(m)); });
                ASSERT_GE(run.calls.count(method) ? run.calls.at(method) : 0, n) << "the failure was not reached";
                ExpectTruthfulRun(run, baseline);
                // A failure of the writing itself can never leave a complete file.
                if (method == "IWMWriter::WriteSample" || method == "IWMWriter::EndWriting" ||
                    method == "IWMWriter::BeginWriting") {
                    EXPECT_EQ(run.result, 0);
                }
                if (method == "IWMWriter::WriteSample") {
                    EXPECT_EQ(run.calls.count("IWMWriter::EndWriting"), 1u);
                }
                ++exercised;
            }
        }
        for (long n = 1; n <= baseline.heapCalls; ++n) {
            SCOPED_TRACE("HeapAlloc #" + std::to_string(n));
            const ExportRun run = RunExport(job, [n] { standin::FailNthHeapAlloc(n); });
            ExpectTruthfulRun(run, baseline);
            EXPECT_EQ(run.result, 0);
            ++exercised;
        }
    }
    std::printf("export failure points exercised: %ld\n", exercised);
    EXPECT_GT(exercised, 100);
}

// ---- Config --------------------------------------------------------------------------------------

struct ConfigRun {
    bool shown = false;
    bool acted = false;  // the driver's edits all went through and it pressed OK
    Counts calls;        // runtime and MLang calls
    long heapCalls = 0;
    EncoderSettings stored{};
    bool storedAny = false;
    std::vector<std::string> leftOver;
    // The item data of the entries the Audio page's codec and format lists showed, where they
    // showed one: the record takes those.
    bool codecShown = false, formatShown = false;
    DWORD shownCodec = 0, shownFormat = 0;
};

// The item data of the combo's selected entry.
bool ShownEntry(HWND combo, DWORD* data) {
    const standin::ControlState state = standin::ReadControl(combo);
    if (state.selection < 0 || static_cast<size_t>(state.selection) >= state.entries.size()) return false;
    *data = state.entries[static_cast<size_t>(state.selection)].data;
    return true;
}

constexpr uint32_t kTypedBitrate = 1234567;

// Config over the defaults, a user picking 1-pass CBR and typing a bit rate on the Video page, looking at the Audio
// page and pressing OK.
ConfigRun RunConfig(const std::function<void()>& arm) {
    ConfigRun run;
    standin::ResetAll();
    HWND owner = standin::CreateOwnerWindow(u"editor");
    standin::SetSheetDriver([&](HWND sheet) {
        run.shown = true;
        HWND page = standin::SheetPage(sheet, 0);
        HWND mode = GetDlgItem(page, IDC_MODE), bitrate = GetDlgItem(page, IDC_BITRATE);
        bool ok = mode && bitrate && standin::PickComboEntry(mode, 0) && standin::SelectAllText(bitrate) &&
                  standin::TypeText(bitrate, u"1234567");
        ok = ok && standin::SelectSheetTab(sheet, 1) && standin::SheetPage(sheet, 1);
        if (HWND audio = standin::SheetPage(sheet, 1)) {
            run.codecShown = ShownEntry(GetDlgItem(audio, IDC_AUDIO_CODEC), &run.shownCodec);
            run.formatShown = ShownEntry(GetDlgItem(audio, IDC_AUDIO_FORMAT), &run.shownFormat);
        }
        run.acted = ok && standin::PressSheetOk(sheet);
        if (!run.acted) standin::PressSheetCancel(sheet);
    });
    const Counts before = standin::CallCounts();
    const Counts mlangBefore = standin::MLangCallCounts();
    const long heapBefore = standin::HeapAllocCalls();
    arm();
    EXPECT_EQ(Config(owner, standin::ModuleInstanceOf(reinterpret_cast<const void*>(&ConfigureSettings))), 1);
    run.calls = Difference(standin::CallCounts(), before);
    for (const auto& [method, n] : Difference(standin::MLangCallCounts(), mlangBefore)) run.calls[method] = n;
    run.heapCalls = standin::HeapAllocCalls() - heapBefore;
    standin::SetSheetDriver(nullptr);
    DestroyWindow(owner);
    std::memset(&run.stored, 0, sizeof run.stored);
    run.storedAny = ReadSettingsFromRegistry(&run.stored);
    run.leftOver = standin::CollectLeaks();
    return run;
}

TEST(FailureSweep, EveryCatalogueMLangHeapAndSheetCallOfConfigFailingInTurn) {
    const ConfigRun baseline = RunConfig([] {});
    ASSERT_TRUE(baseline.shown);
    ASSERT_TRUE(baseline.acted);
    ASSERT_TRUE(baseline.storedAny);
    ASSERT_EQ(baseline.stored.Bitrate, kTypedBitrate);
    ASSERT_EQ(baseline.stored.CompressionMode, 0);
    ASSERT_TRUE(baseline.leftOver.empty());
    ASSERT_GT(baseline.calls.count("CoCreateInstance"), 0u);

    struct Failure {
        std::string what;
        std::function<void()> arm;
    };
    std::vector<Failure> failures;
    for (const auto& [method, count] : baseline.calls) {
        for (long n = 1; n <= count; ++n) {
            const bool mlang = method == "CoCreateInstance" || method.find("Rfc1766") != std::string::npos;
            failures.push_back({method + " #" + std::to_string(n), [m = method, n, mlang] {
                                    if (mlang) {
                                        standin::FailMLangCall(m, n, DocumentedCode(m));
                                    } else {
                                        standin::FailCall(m, n, DocumentedCode(m));
                                    }
                                }});
        }
    }
    for (long n = 1; n <= baseline.heapCalls; ++n) {
        failures.push_back({"HeapAlloc #" + std::to_string(n), [n] { standin::FailNthHeapAlloc(n); }});
    }
    for (int n = 1; n <= static_cast<int>(kSettingsPageCount); ++n) {
        failures.push_back({"CreatePropertySheetPageA #" + std::to_string(n), [n] { standin::FailNthPageCreation(n); }});
    }
    failures.push_back({"PropertySheetA", [] { standin::FailNextPropertySheet(); }});

    for (const Failure& f : failures) {
        SCOPED_TRACE(f.what);
        // What the sheet starts from under the same failure (a codec without a suggested
        // complexity, say, gives the documented fallback): Config loads first, as this does.
        standin::ResetAll();
        EncoderSettings loaded;
        std::memset(&loaded, 0, sizeof loaded);
        f.arm();
        const bool loads = SUCCEEDED(LoadSettings(&loaded));
        standin::ResetAll();
        loaded.CompressionMode = 0;
        loaded.Bitrate = kTypedBitrate;

        const ConfigRun run = RunConfig(f.arm);
        EXPECT_TRUE(run.leftOver.empty()) << ::testing::PrintToString(run.leftOver);
        if (!run.acted) {
            EXPECT_FALSE(run.storedAny) << "stored without OK";
            continue;
        }
        // OK on a sheet with what could be listed stores the loaded record with the user's edit,
        // and with the audio choice the lists showed where a failure kept them from showing the
        // loaded one.
        ASSERT_TRUE(loads);
        ASSERT_TRUE(run.storedAny);
        if (run.codecShown) loaded.AudioCodec = static_cast<int32_t>(run.shownCodec);
        if (run.formatShown) {
            loaded.AudioFormat = static_cast<int32_t>(run.shownFormat & 0xFFFF);
            loaded.AudioVBREnable = (run.shownFormat >> 31) & 1;
            loaded.AudioNumberOfPasses = static_cast<int32_t>((run.shownFormat >> 16) & 0x7FFF);
        }
        for (const SettingsRegistryRow& row : SettingsRegistryTable) {
            EXPECT_EQ(RecordField(&run.stored, row.FieldOffset), RecordField(&loaded, row.FieldOffset))
                << row.ValueName;
        }
    }
    std::printf("Config failure points exercised: %zu\n", failures.size());
}

}  // namespace
