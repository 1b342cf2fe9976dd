// What the stand-in writer tells the world about a writing session. The recording observer (tests,
// the host's --record) and the ASF file sink (a real .wmv on Linux) both see these events; neither
// needs the COM declarations to understand them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace standin {

// One writer input that was given input properties, with the profile stream it feeds.
struct ObservedStream {
    uint32_t input = 0;            // the writer's input number
    bool isVideo = false;
    std::u16string connectionName;  // "TamselVideo1" …
    std::u16string streamName;      // "Video0" …
    std::u16string language;        // RFC 1766 tag as given to SetLanguage, "" when none
    uint16_t streamNumber = 0;

    // The compressed side, from the profile.
    uint32_t fourcc = 0;            // video: biCompression of the codec format; audio: format tag
    uint32_t bitrate = 0;           // bits per second (SetBitrate)
    uint32_t bufferWindowMs = 0;    // SetBufferWindow
    bool vbr = false;               // "_VBRENABLED"
    uint32_t vbrQuality = 0;        // "_VBRQUALITY", 0 when not set
    uint32_t peakBitrate = 0;       // "_RMAX"
    uint32_t peakBufferMs = 0;      // "_BMAX"
    uint32_t passes = 1;            // 2 when the input got a preprocessing pass configured
    uint32_t formatPasses = 1;      // "_PASSESUSED" of the list the codec format came from
    uint64_t maxKeyFrameSpacing = 0;  // 100-ns units, 0 when not set
    uint32_t quality = 0;           // IWMVideoMediaProps::SetQuality
    int32_t width = 0;              // video: compressed frame size
    int32_t height = 0;
    uint64_t avgTimePerFrame = 0;   // video, 100-ns
    uint32_t sampleRate = 0;        // audio, compressed format
    uint32_t channels = 0;
    uint32_t bitsPerSample = 0;
    uint32_t avgBytesPerSec = 0;
    uint32_t blockAlign = 0;

    // The uncompressed side, from SetInputProps.
    int32_t inWidth = 0;            // video: bottom-up RGB24
    int32_t inHeight = 0;
    uint32_t inBitCount = 0;
    uint32_t inSampleRate = 0;      // audio: PCM
    uint32_t inChannels = 0;
    uint32_t inBitsPerSample = 0;

    // Stream-level header attributes; 0 when not written.
    uint32_t aspectX = 0;
    uint32_t aspectY = 0;
};

struct ObservedSession {
    std::u16string outputFilename;        // "" when none was set
    std::vector<ObservedStream> streams;  // in profile order (video first in this system)
};

// Every callback returns an HRESULT-style code: a negative value fails the writer call that
// caused it, and the writer passes the code on to its caller.
class WriterObserver {
public:
    virtual ~WriterObserver() = default;
    virtual int32_t OnBeginWriting(const ObservedSession& session) { (void)session; return 0; }
    virtual int32_t OnBeginPreprocessingPass(uint32_t input, uint32_t pass) { (void)input; (void)pass; return 0; }
    virtual int32_t OnPreprocessSample(uint32_t input, uint32_t pass, uint64_t time, uint32_t flags,
                                       const uint8_t* data, uint32_t size) {
        (void)input; (void)pass; (void)time; (void)flags; (void)data; (void)size;
        return 0;
    }
    virtual int32_t OnEndPreprocessingPass(uint32_t input, uint32_t pass) { (void)input; (void)pass; return 0; }
    virtual int32_t OnWriteSample(uint32_t input, uint64_t time, uint32_t flags, const uint8_t* data,
                                  uint32_t size) {
        (void)input; (void)time; (void)flags; (void)data; (void)size;
        return 0;
    }
    // Called once when writing ends, also when the writer is released while still running
    // (`complete` false then).
    virtual int32_t OnEndWriting(bool complete) { (void)complete; return 0; }
};

}  // namespace standin
