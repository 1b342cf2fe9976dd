// Control API of the stand-in media runtime, for tests and the host. The runtime itself is reached
// through WMCreateWriter / WMCreateProfileManager (platform/wm/wm.h) like the real one.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/wm/wm.h"
#include "observer.h"

namespace standin {

// ---- Codec catalogue -----------------------------------------------------------------------------

// One entry of a format list. Video formats leave everything but the bit rate at 0 (the caller
// completes them); audio formats describe a WMA packetised format.
struct CatalogueFormat {
    std::u16string description;  // "" for video
    uint32_t bitrate = 0;        // bits per second
    uint32_t sampleRate = 0;     // audio
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;
    // Audio formats of quality-based VBR: their nAvgBytesPerSec is 0x7FFFFF00 | quality, not a rate.
    uint32_t vbrQuality = 0;
};

struct CatalogueCodec {
    std::u16string name;
    uint32_t fourcc = 0;  // video: FOURCC (also the subtype's Data1); audio: the format tag
    // Format lists by enumeration setting: [vbr][passes - 1].
    std::vector<CatalogueFormat> lists[2][2];
    bool rejectsVbrSetting = false;     // "_VBRENABLED" answers NS_E_UNSUPPORTED_PROPERTY
    bool rejectsTwoPassSetting = false; // "_PASSESUSED" = 2 answers NS_E_UNSUPPORTED_PROPERTY
    bool vbrSupported = true;           // "_ISVBRSUPPORTED"
    // Video only: "_COMPLEXITYEXMAX", "_COMPLEXITYEXOFFLINE", "_COMPLEXITYEXLIVE".
    uint32_t complexityMax = 4;
    uint32_t complexityOffline = 3;
    uint32_t complexityLive = 1;
};

struct Catalogue {
    std::vector<CatalogueCodec> video;
    std::vector<CatalogueCodec> audio;
};

// The catalogue of a version 9 runtime ("Windows Media Audio 9 Professional" among the audio
// codecs), and that of a later runtime ("Windows Media Audio 10 Professional", "9.2" names).
Catalogue Version9Catalogue();
Catalogue LaterCatalogue();

// Profile managers created from now on enumerate `catalogue` (the default is Version9Catalogue()).
void InstallCatalogue(const Catalogue& catalogue);

// "128 kbps, 44 kHz, stereo 1-pass CBR" and its relatives, as the runtime words them.
std::u16string DescribeAudioFormat(const CatalogueFormat& format, bool vbr, uint32_t passes, bool av,
                                   bool highResolution);

// ---- Objects and references ----------------------------------------------------------------------

// Runtime objects alive now, and the references held on them in all.
long LiveObjects();
long LiveReferences();
// One line per live object: "Writer refs=2", …
std::vector<std::string> DescribeLiveObjects();

// ---- Failure injection ---------------------------------------------------------------------------

// Makes the n-th call (1 = the next) of `method` ("IWMWriter::BeginWriting", "WMCreateWriter", …)
// from now return `code` without doing anything. Several methods can be armed at once.
// QueryInterface is armed per object kind: "IWMWriter::QueryInterface", "IWMProfileManager::…",
// "IWMProfile::…", "IWMStreamConfig::…" (stream configurations, codec formats included) and
// "IWMInputMediaProps::…". SetMediaType on input properties also answers to
// "IWMInputMediaProps::SetMediaType"; "IWMMediaProps::SetMediaType" covers every object.
void FailCall(const std::string& method, long n, HRESULT code);
// "IWMWriterSink::OnDataUnit" is the file sink's write of one writing-pass sample: armed, it fails
// as a full disk does (a file error, reported as the switch below says).
// Number of calls of `method` since the last reset (methods with a failure point only).
long CallCount(const std::string& method);
// Every method called since the last reset, with its number of calls.
std::map<std::string, long> CallCounts();

// ---- Writer behaviour ----------------------------------------------------------------------------

// Highest number of preprocessing passes GetMaxPreprocessingPasses reports for an input whose codec
// can do two passes (default 1; 0 = no preprocessing at all).
void LimitPreprocessingPasses(uint32_t passes);
// Whether input properties answer a query for IWMStreamConfig. The real runtime's do not (they
// answer IWMInputMediaProps and IWMMediaProps only), so the default is a refusal.
void SetInputPropsAnswerStreamConfig(bool answer);
// Whether BeginWriting creates the ASF file sink when an output file name is set (default on).
void EnableFileSink(bool enable);

// How a file error (the output cannot be opened, the disk is full, a write fails) reaches the
// application. The runtime's way, the default: the writer calls answer S_OK and every callback
// advised on the file sink gets OnStatus(WMT_ERROR, NS_E_FILE_WRITE, …) from the writer's thread.
// The other way, kept so that both paths stay tested: each call waits for its work and fails with
// the code, as a writer that works inside its calls would.
enum class FileErrors { ThroughStatus, FailTheCall };
void ReportFileErrors(FileErrors how);

// What IWMWriterAdvanced offers once an output file name is set: the file sink answering
// IWMRegisterCallback (default), a sink that does not answer it, or no sink at all.
enum class SinkOffer { WithCallbacks, WithoutCallbacks, None };
void OfferSink(SinkOffer offer);

// The samples a writer keeps queued per input before WriteSample / PreprocessSample block.
constexpr uint32_t kQueuedSamplesPerInput = 4;

// Faults of buffer use noted since the last reset: a buffer whose bytes or length changed after
// it was handed over, or one handed over again while the writer still held it.
std::vector<std::string> BufferFaults();

// Observers see every writing session from its BeginWriting on. The caller keeps ownership and
// removes the observer before destroying it.
void AddObserver(WriterObserver* observer);
void RemoveObserver(WriterObserver* observer);

// The last session a writer began (empty when none did).
ObservedSession LastSession();

// ---- Recording ------------------------------------------------------------------------------------

struct RecordedSample {
    uint32_t input = 0;
    std::u16string connection;
    uint32_t pass = 0;  // 0 = the writing pass, 1… the preprocessing passes
    uint64_t time = 0;
    uint32_t flags = 0;
    uint32_t size = 0;
    uint64_t hash = 0;  // FNV-1a 64 of the bytes
};

// Starts (or restarts, emptying it) the recording of every sample the writers receive.
void StartRecording();
void StopRecording();
// Everything recorded so far, in arrival order.
std::vector<RecordedSample> Recording();
// The recording as JSON lines; false when the file cannot be written.
bool WriteRecordingJson(const std::string& path);
std::string RecordingJsonLine(const RecordedSample& sample);

uint64_t HashBytes(const uint8_t* data, size_t size);

}  // namespace standin
