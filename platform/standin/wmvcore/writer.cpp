// The stand-in writer: life cycle, inputs, preprocessing, header attributes and sample buffers.
// Configuration is checked the way the runtime documents it; samples go to the observers.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "../leaks.h"
#include "../monitor.h"
#include "../utf8.h"
#include "asf_sink.h"
#include "objects.h"

namespace standin {
namespace wm {
namespace {

class Buffer final : public CountedObject, public INSSBuffer {
public:
    // Not cleared, as the runtime's own buffers are not: the caller fills what it sends.
    explicit Buffer(DWORD size)
        : CountedObject("Buffer"), bytes_(new BYTE[size ? size : 1]), length_(size), max_(size) {}

    const BYTE* Data() const { return bytes_.get(); }
    DWORD Length() const { return length_; }

    // The writer's own holds on a buffer handed over (queued, or kept until the next hand-over on
    // its input), each with a reference.
    void Hold() {
        ++holds_;
        AddRefCounted();
    }
    void Unhold() {
        --holds_;
        ReleaseCounted();
    }
    bool Held() const { return holds_.load() > 0; }

    // Length and bytes, cheap enough to take three times per sample: eight independent lanes of
    // eight bytes keep the multiplier busy instead of waiting on one chain. The lanes are named
    // rather than an array, which some compilers keep in memory at -O2 (a fifth of the speed).
    uint64_t Checksum() const { return ChecksumOf(bytes_.get(), length_); }
    static uint64_t ChecksumOf(const BYTE* data, DWORD length) {
        constexpr uint64_t kMix = 0xFF51AFD7ED558CCDull;
        auto step = [](uint64_t lane, const BYTE* p) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            lane = (lane ^ word) * kMix;
            return lane ^ (lane >> 29);
        };
        uint64_t l0 = 0x9E3779B97F4A7C15ull ^ length, l1 = 0xC2B2AE3D27D4EB4Full, l2 = 0x165667B19E3779F9ull,
                 l3 = 0x27D4EB2F165667C5ull, l4 = 0x85EBCA77C2B2AE63ull, l5 = 0x94D049BB133111EBull,
                 l6 = 0xBF58476D1CE4E5B9ull, l7 = 0x2545F4914F6CDD1Dull;
        DWORD i = 0;
        for (; i + 64 <= length; i += 64) {
            const BYTE* p = data + i;
            l0 = step(l0, p);
            l1 = step(l1, p + 8);
            l2 = step(l2, p + 16);
            l3 = step(l3, p + 24);
            l4 = step(l4, p + 32);
            l5 = step(l5, p + 40);
            l6 = step(l6, p + 48);
            l7 = step(l7, p + 56);
        }
        uint64_t h = l0;
        for (uint64_t lane : {l1, l2, l3, l4, l5, l6, l7}) h = (h ^ lane) * kMix;
        for (; i < length; ++i) h = (h ^ data[i]) * 0x100000001B3ull;
        return h;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (iid != IID_IUnknown && iid != IID_INSSBuffer) return E_NOINTERFACE;
        *ppv = static_cast<INSSBuffer*>(this);
        AddRefCounted();
        return S_OK;
    }
    STANDIN_COUNTED_IUNKNOWN

    HRESULT STDMETHODCALLTYPE GetLength(DWORD* p) override {
        if (!p) return E_POINTER;
        *p = length_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetLength(DWORD n) override {
        STANDIN_FAIL_POINT("INSSBuffer::SetLength");
        if (n > max_) return E_INVALIDARG;
        length_ = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* p) override {
        if (!p) return E_POINTER;
        *p = max_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** pp) override {
        if (!pp) return E_POINTER;
        *pp = bytes_.get();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** pp, DWORD* pn) override {
        STANDIN_FAIL_POINT("INSSBuffer::GetBufferAndLength");
        if (!pp || !pn) return E_POINTER;
        *pp = bytes_.get();
        *pn = length_;
        return S_OK;
    }

private:
    std::unique_ptr<BYTE[]> bytes_;
    DWORD length_;
    DWORD max_;
    std::atomic<int> holds_{0};
};

// The sink SetOutputFilename makes. The writer feeds it itself (its IWMWriterSink methods are not
// for the application); it sends status to the callbacks advised on it, from the writer's thread.
class FileSink final : public CountedObject, public IWMWriterSink, public IWMRegisterCallback {
public:
    explicit FileSink(bool callbacks) : CountedObject("FileSink"), callbacks_(callbacks) {}
    ~FileSink() override {
        for (const Advised& a : advised_) a.callback->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        STANDIN_FAIL_POINT("IWMWriterSink::QueryInterface");
        if (iid == IID_IUnknown || iid == IID_IWMWriterSink)
            *ppv = static_cast<IWMWriterSink*>(this);
        else if (iid == IID_IWMRegisterCallback && callbacks_)
            *ppv = static_cast<IWMRegisterCallback*>(this);
        else
            return E_NOINTERFACE;
        AddRefCounted();
        return S_OK;
    }
    STANDIN_COUNTED_IUNKNOWN

    HRESULT STDMETHODCALLTYPE OnHeader(INSSBuffer*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsRealTime(BOOL* p) override {
        if (!p) return E_POINTER;
        *p = FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AllocateDataUnit(DWORD, INSSBuffer**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnDataUnit(INSSBuffer*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnEndWriting() override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Advise(IWMStatusCallback* callback, void* context) override {
        STANDIN_FAIL_POINT("IWMRegisterCallback::Advise");
        if (!callback) return E_INVALIDARG;
        callback->AddRef();
        Guard g(lock_);
        advised_.push_back(Advised{callback, context});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(IWMStatusCallback* callback, void* context) override {
        STANDIN_FAIL_POINT("IWMRegisterCallback::Unadvise");
        IWMStatusCallback* found = nullptr;
        {
            Guard g(lock_);
            for (auto it = advised_.begin(); it != advised_.end(); ++it) {
                if (it->callback == callback && it->context == context) {
                    found = it->callback;
                    advised_.erase(it);
                    break;
                }
            }
        }
        if (!found) return E_INVALIDARG;
        found->Release();
        return S_OK;
    }

    // Every advised callback hears it, each with its own context; none is called under the lock.
    void Send(WMT_STATUS status, HRESULT hr) {
        std::vector<Advised> now;
        {
            Guard g(lock_);
            now = advised_;
            for (const Advised& a : now) a.callback->AddRef();
        }
        for (const Advised& a : now) {
            a.callback->OnStatus(status, hr, WMT_TYPE_DWORD, nullptr, a.context);
            a.callback->Release();
        }
    }

private:
    struct Advised {
        IWMStatusCallback* callback;
        void* context;
    };
    const bool callbacks_;
    Lock lock_;
    std::vector<Advised> advised_;
};

struct Attribute {
    WORD stream = 0;
    WORD language = 0;
    TypedValue value;
};

struct Marker {
    WString name;
    QWORD time = 0;
};

struct Script {
    WString type;
    WString command;
    QWORD time = 0;
};

// One writer input: the profile stream it feeds and the uncompressed type it accepts.
struct Input {
    size_t stream = 0;  // index into the writer's copy of the profile
    StreamData props;   // connection name, type and the uncompressed media type
    bool propsSet = false;       // SetInputProps with an object
    bool compressed = false;     // SetInputProps(NULL): samples would come precompressed
    DWORD expectedVideoBytes = 0;
    DWORD audioBlock = 0;
    // Preprocessing.
    DWORD passesConfigured = 0;
    DWORD passesDone = 0;
    bool inPass = false;
    bool havePassTime = false;
    QWORD lastPassTime = 0;
    // Writing.
    bool wroteSample = false;
    QWORD lastWriteTime = 0;
};

DWORD RgbStride(LONG width) { return (static_cast<DWORD>(width) * 3 + 3) & ~3u; }

// The uncompressed type an input offers by default: bottom-up RGB24 of the compressed frame size,
// or 16-bit PCM with the compressed format's rate and channels.
MediaType DefaultInputType(const StreamData& s) {
    MediaType m;
    m.present = true;
    WM_MEDIA_TYPE& h = m.header;
    h.majortype = s.type;
    h.bFixedSizeSamples = TRUE;
    h.bTemporalCompression = FALSE;
    if (s.IsVideo()) {
        VIDEOINFOHEADER v{};
        if (const VIDEOINFOHEADER* c = s.media.Video()) {
            v.rcSource = c->rcSource;
            v.rcTarget = c->rcTarget;
            v.AvgTimePerFrame = c->AvgTimePerFrame;
            v.bmiHeader.biWidth = c->bmiHeader.biWidth;
            v.bmiHeader.biHeight = c->bmiHeader.biHeight < 0 ? -c->bmiHeader.biHeight : c->bmiHeader.biHeight;
        }
        v.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        v.bmiHeader.biPlanes = 1;
        v.bmiHeader.biBitCount = 24;
        v.bmiHeader.biCompression = BI_RGB;
        v.bmiHeader.biSizeImage = RgbStride(v.bmiHeader.biWidth) * static_cast<DWORD>(v.bmiHeader.biHeight);
        h.subtype = WMMEDIASUBTYPE_RGB24;
        h.lSampleSize = v.bmiHeader.biSizeImage;
        h.formattype = WMFORMAT_VideoInfo;
        m.format.assign(reinterpret_cast<BYTE*>(&v), reinterpret_cast<BYTE*>(&v) + sizeof v);
    } else {
        WAVEFORMATEX w{};
        w.wFormatTag = WAVE_FORMAT_PCM;
        if (const WAVEFORMATEX* c = s.media.Wave()) {
            w.nChannels = c->nChannels;
            w.nSamplesPerSec = c->nSamplesPerSec;
        }
        w.wBitsPerSample = 16;
        w.nBlockAlign = static_cast<WORD>(w.nChannels * 2);
        w.nAvgBytesPerSec = w.nSamplesPerSec * w.nBlockAlign;
        h.subtype = WMMEDIASUBTYPE_PCM;
        h.lSampleSize = w.nBlockAlign;
        h.formattype = WMFORMAT_WaveFormatEx;
        m.format.assign(reinterpret_cast<BYTE*>(&w), reinterpret_cast<BYTE*>(&w) + sizeof w);
    }
    h.cbFormat = static_cast<ULONG>(m.format.size());
    return m;
}

// Accepts bottom-up RGB24 and 16-bit PCM; works out the sample sizes they imply.
HRESULT CheckInputType(const MediaType& m, bool video, Input* in) {
    if (!m.present || (m.header.majortype == WMMEDIATYPE_Video) != video) return NS_E_INVALID_INPUT_FORMAT;
    if (video) {
        const VIDEOINFOHEADER* v = m.Video();
        if (!v || m.header.subtype != WMMEDIASUBTYPE_RGB24 || m.format.size() != sizeof(VIDEOINFOHEADER))
            return NS_E_INVALID_INPUT_FORMAT;
        const BITMAPINFOHEADER& b = v->bmiHeader;
        if (b.biBitCount != 24 || b.biCompression != BI_RGB || b.biWidth <= 0 || b.biHeight <= 0 || b.biPlanes != 1)
            return NS_E_INVALID_INPUT_FORMAT;
        DWORD tight = static_cast<DWORD>(b.biWidth) * 3 * static_cast<DWORD>(b.biHeight);
        DWORD padded = RgbStride(b.biWidth) * static_cast<DWORD>(b.biHeight);
        DWORD declared = m.header.bFixedSizeSamples && m.header.lSampleSize ? m.header.lSampleSize
                         : b.biSizeImage ? b.biSizeImage
                                         : padded;
        if (declared < tight || declared > padded) return NS_E_INVALID_INPUT_FORMAT;
        in->expectedVideoBytes = declared;
    } else {
        const WAVEFORMATEX* w = m.Wave();
        if (!w || m.header.subtype != WMMEDIASUBTYPE_PCM || w->wFormatTag != WAVE_FORMAT_PCM ||
            w->wBitsPerSample != 16 || w->nChannels == 0 || w->nSamplesPerSec == 0 ||
            w->nBlockAlign != w->nChannels * 2 || w->nAvgBytesPerSec != w->nSamplesPerSec * w->nBlockAlign)
            return NS_E_INVALID_INPUT_FORMAT;
        in->audioBlock = w->nBlockAlign;
    }
    return S_OK;
}

bool VaultBool(const StreamData& s, const WCHAR* name) {
    uint32_t v = 0;
    return ReadDword(s.vault, name, &v) && v != 0;
}

HRESULT RefuseProfile(HRESULT hr, const std::string& why) {
    standin::NoteFailure("the media runtime refused the profile: " + why);
    return hr;
}

// The documented stream checks of SetProfile.
HRESULT CheckProfileStream(const StreamData& s) {
    if (s.number < 1 || s.number > 63) return NS_E_INVALID_STREAM;
    if (s.bufferWindow > 100000 && s.bufferWindow != 0xFFFFFFFF) {
        return RefuseProfile(NS_E_INVALID_STREAM, std::string(s.IsVideo() ? "the video" : "the audio") +
                                                      " stream's buffer window of " + std::to_string(s.bufferWindow) +
                                                      " ms is more than the 100000 ms it takes");
    }
    if (!s.media.present || s.media.header.majortype != s.type) return NS_E_INVALID_STREAM;
    bool vbr = VaultBool(s, g_wszVBREnabled);
    if (s.IsVideo()) {
        const VIDEOINFOHEADER* v = s.media.Video();
        if (!v || s.media.format.size() != sizeof(VIDEOINFOHEADER)) return NS_E_INVALID_STREAM;
        const RECT* rects[] = {&v->rcSource, &v->rcTarget};
        for (const RECT* r : rects)
            if (r->left < 0 || r->top < 0 || r->right < 0 || r->bottom < 0) return NS_E_INVALID_STREAM;
        if (s.media.header.subtype.Data1 != v->bmiHeader.biCompression) return NS_E_INVALID_STREAM;
        LONG w = v->bmiHeader.biWidth, h = v->bmiHeader.biHeight;
        bool empty = w == 0 && h == 0;  // an audio-only job still carries a video stream
        if (!empty && (w <= 0 || h <= 0 || w % 4 != 0 || h % 4 != 0)) {
            return RefuseProfile(NS_E_INVALID_STREAM, std::to_string(w) + "x" + std::to_string(h) +
                                                          (w > 0 && h > 0 ? " is not a multiple of 4" : " is no picture size"));
        }
        if (v->dwBitRate == 0) return RefuseProfile(NS_E_INVALIDPROFILE, "the video stream has no bit rate");
        if (s.bitrate != 0 && s.bitrate != v->dwBitRate) return NS_E_INVALID_STREAM;
    } else {
        const WAVEFORMATEX* w = s.media.Wave();
        if (!w) return NS_E_INVALID_STREAM;
        if (w->wFormatTag == WAVE_FORMAT_PCM) {
            if (w->nBlockAlign != w->nChannels * w->wBitsPerSample / 8 ||
                w->nAvgBytesPerSec != w->nSamplesPerSec * w->nBlockAlign)
                return NS_E_INVALID_STREAM;
        } else if (w->nAvgBytesPerSec == 0) {
            return NS_E_INVALID_STREAM;
        }
        if (s.media.header.subtype.Data1 != w->wFormatTag) return NS_E_INVALID_STREAM;
        if (!vbr && s.bitrate == 0) return RefuseProfile(NS_E_INVALIDPROFILE, "the audio stream has no bit rate");
    }
    return S_OK;
}

ObservedStream Observe(DWORD number, const Input& in, const StreamData& s, const std::vector<Attribute>& attrs) {
    ObservedStream o;
    o.input = number;
    o.isVideo = s.IsVideo();
    o.connectionName = ToU16(s.connectionName);
    o.streamName = ToU16(s.streamName);
    o.language = ToU16(s.language);
    o.streamNumber = s.number;
    o.bitrate = s.bitrate;
    o.bufferWindowMs = s.bufferWindow;
    o.vbr = VaultBool(s, g_wszVBREnabled);
    ReadDword(s.vault, g_wszVBRQuality, &o.vbrQuality);
    ReadDword(s.vault, g_wszVBRBitrateMax, &o.peakBitrate);
    ReadDword(s.vault, g_wszVBRBufferWindowMax, &o.peakBufferMs);
    o.passes = 1 + in.passesConfigured;
    o.formatPasses = (FormatListTag(s.media) & kListTwoPass) ? 2 : 1;
    o.maxKeyFrameSpacing = static_cast<uint64_t>(s.maxKeyFrameSpacing);
    o.quality = s.quality;
    if (const VIDEOINFOHEADER* v = s.media.Video()) {
        o.fourcc = v->bmiHeader.biCompression;
        o.width = v->bmiHeader.biWidth;
        o.height = v->bmiHeader.biHeight;
        o.avgTimePerFrame = static_cast<uint64_t>(v->AvgTimePerFrame);
    }
    if (const WAVEFORMATEX* w = s.media.Wave()) {
        o.fourcc = w->wFormatTag;
        o.sampleRate = w->nSamplesPerSec;
        o.channels = w->nChannels;
        o.bitsPerSample = w->wBitsPerSample;
        o.avgBytesPerSec = w->nAvgBytesPerSec;
        o.blockAlign = w->nBlockAlign;
    }
    if (const VIDEOINFOHEADER* v = in.props.media.Video()) {
        o.inWidth = v->bmiHeader.biWidth;
        o.inHeight = v->bmiHeader.biHeight;
        o.inBitCount = v->bmiHeader.biBitCount;
    }
    if (const WAVEFORMATEX* w = in.props.media.Wave()) {
        o.inSampleRate = w->nSamplesPerSec;
        o.inChannels = w->nChannels;
        o.inBitsPerSample = w->wBitsPerSample;
    }
    for (const Attribute& a : attrs) {
        if (a.stream != s.number || a.value.bytes.size() != 4) continue;
        uint32_t v;
        std::memcpy(&v, a.value.bytes.data(), 4);
        if (a.value.name == g_wszWMAspectRatioX) o.aspectX = v;
        if (a.value.name == g_wszWMAspectRatioY) o.aspectY = v;
    }
    return o;
}

// Whether a codec of the installed catalogue can make two passes.
bool CodecCanPreprocess(const Catalogue& catalogue, const StreamData& s) {
    uint32_t fourcc = 0;
    if (const VIDEOINFOHEADER* v = s.media.Video()) fourcc = v->bmiHeader.biCompression;
    if (const WAVEFORMATEX* w = s.media.Wave()) fourcc = w->wFormatTag;
    const auto& codecs = s.IsVideo() ? catalogue.video : catalogue.audio;
    for (const CatalogueCodec& c : codecs)
        if (c.fourcc == fourcc && (!c.lists[0][1].empty() || !c.lists[1][1].empty())) return true;
    return false;
}

enum class State { Empty, Configured, Running };

// One piece of work for the writer's thread, in the order the calls came.
enum class WorkKind { BeginWriting, BeginPass, Sample, EndPass, EndWriting };

struct Work {
    WorkKind kind = WorkKind::Sample;
    DWORD input = 0;
    DWORD pass = 0;  // 0: the writing pass
    QWORD time = 0;
    DWORD flags = 0;
    Buffer* buffer = nullptr;  // held until the work is done
    DWORD length = 0;          // as handed over
    uint64_t checksum = 0;
    bool complete = true;  // EndWriting: false when the writer is released while running
    std::shared_ptr<const ObservedSession> session;  // BeginWriting
};

// The buffer each input handed over last, kept until its next hand-over or the end of the pass.
struct HeldBuffer {
    Buffer* buffer = nullptr;
    uint64_t checksum = 0;
    QWORD time = 0;
    const char* call = "";
};

class Writer final : public CountedObject,
                     public IWMWriter,
                     public IWMWriterAdvanced,
                     public IWMWriterPreprocess,
                     public IWMHeaderInfo3 {
public:
    Writer() : CountedObject("Writer"), catalogue_(InstalledCatalogue()) {}
    ~Writer() override {
        // Released while running: the file is still ended, with what was written so far.
        if (state_ == State::Running) {
            Work end;
            end.kind = WorkKind::EndWriting;
            end.complete = false;
            Submit(std::move(end));
            StopThread();
        }
        ReleaseHeldBuffers();
        if (fileSink_) fileSink_->ReleaseCounted();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        STANDIN_FAIL_POINT("IWMWriter::QueryInterface");
        if (iid == IID_IUnknown || iid == IID_IWMWriter)
            *ppv = static_cast<IWMWriter*>(this);
        else if (iid == IID_IWMWriterPreprocess)
            *ppv = static_cast<IWMWriterPreprocess*>(this);
        else if (iid == IID_IWMWriterAdvanced)
            *ppv = static_cast<IWMWriterAdvanced*>(this);
        else if (iid == IID_IWMHeaderInfo || iid == IID_IWMHeaderInfo2 || iid == IID_IWMHeaderInfo3)
            *ppv = static_cast<IWMHeaderInfo3*>(this);
        else
            return E_NOINTERFACE;
        AddRefCounted();
        return S_OK;
    }
    STANDIN_COUNTED_IUNKNOWN

    // ---- IWMWriter ------------------------------------------------------------------------------
    HRESULT STDMETHODCALLTYPE SetProfileByID(REFGUID) override { return E_NOTIMPL; }  // no system profiles

    HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile* profile) override {
        STANDIN_FAIL_POINT("IWMWriter::SetProfile");
        if (state_ == State::Running) return NS_E_INVALID_REQUEST;
        std::vector<StreamData> streams;
        if (!profile || !ProfileStreams(profile, &streams)) return E_INVALIDARG;
        if (streams.empty()) return NS_E_INVALIDPROFILE;
        for (size_t i = 0; i < streams.size(); ++i)
            for (size_t j = i + 1; j < streams.size(); ++j)
                if (streams[i].number == streams[j].number) return ASF_E_STREAMNUMBERINUSE;
        for (const StreamData& s : streams) {
            HRESULT hr = CheckProfileStream(s);
            if (FAILED(hr)) return hr;
        }
        // One input per distinct connection name, numbered from the end of the profile: callers
        // must find inputs by name, not by position.
        std::vector<Input> inputs;
        for (size_t i = 0; i < streams.size(); ++i) {
            bool seen = false;
            for (const Input& in : inputs) seen |= streams[in.stream].connectionName == streams[i].connectionName;
            if (seen) continue;
            Input in;
            in.stream = i;
            in.props.type = streams[i].type;
            in.props.connectionName = streams[i].connectionName;
            in.props.media = DefaultInputType(streams[i]);
            inputs.push_back(in);
        }
        std::reverse(inputs.begin(), inputs.end());
        languages_.clear();
        for (const StreamData& s : streams)
            if (!s.language.empty() && std::find(languages_.begin(), languages_.end(), s.language) == languages_.end())
                languages_.push_back(s.language);
        streams_ = std::move(streams);
        inputs_ = std::move(inputs);
        attributes_.clear();  // the documented effect of a new profile
        markers_.clear();
        scripts_.clear();
        state_ = State::Configured;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR* name) override {
        STANDIN_FAIL_POINT("IWMWriter::SetOutputFilename");
        if (state_ == State::Running) return NS_E_INVALID_REQUEST;
        if (!name || !*name) return E_INVALIDARG;
        filename_ = name;
        // The file sink of index 0, made once; a later name goes to the same sink.
        if (!fileSink_) fileSink_ = new FileSink(CurrentSwitches().sinkOffer != SinkOffer::WithoutCallbacks);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* p) override {
        STANDIN_FAIL_POINT("IWMWriter::GetInputCount");
        if (!p) return E_INVALIDARG;
        if (state_ == State::Empty) return NS_E_NOT_CONFIGURED;
        *p = static_cast<DWORD>(inputs_.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetInputProps(DWORD input, IWMInputMediaProps** pp) override {
        STANDIN_FAIL_POINT("IWMWriter::GetInputProps");
        if (!pp) return E_POINTER;
        *pp = nullptr;
        if (state_ == State::Empty) return NS_E_NOT_CONFIGURED;
        if (input >= inputs_.size()) return E_INVALIDARG;
        MediaObject* m = NewMediaObject(MediaRole::InputProps, inputs_[input].props);
        SetInputNumber(m, input);
        *pp = AsInputProps(m);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetInputProps(DWORD input, IWMInputMediaProps* props) override {
        STANDIN_FAIL_POINT("IWMWriter::SetInputProps");
        if (state_ == State::Empty) return NS_E_NOT_CONFIGURED;
        if (input >= inputs_.size()) return E_INVALIDARG;
        Input& in = inputs_[input];
        if (!props) {
            if (state_ == State::Running) return E_UNEXPECTED;
            in.compressed = true;
            in.propsSet = false;
            return S_OK;
        }
        const StreamData* d = StreamDataOf(props);
        if (!d) return E_INVALIDARG;
        Input checked = in;
        HRESULT hr = CheckInputType(d->media, streams_[in.stream].IsVideo(), &checked);
        if (FAILED(hr)) return hr;
        checked.props.media = d->media;
        checked.propsSet = true;
        checked.compressed = false;
        in = checked;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetInputFormatCount(DWORD input, DWORD* p) override {
        if (!p) return E_INVALIDARG;
        if (state_ == State::Empty) return NS_E_NOT_CONFIGURED;
        if (input >= inputs_.size()) return E_INVALIDARG;
        *p = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetInputFormat(DWORD input, DWORD format, IWMInputMediaProps** pp) override {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        if (state_ == State::Empty) return NS_E_NOT_CONFIGURED;
        if (input >= inputs_.size() || format != 0) return E_INVALIDARG;
        StreamData d = inputs_[input].props;
        d.media = DefaultInputType(streams_[inputs_[input].stream]);
        MediaObject* m = NewMediaObject(MediaRole::InputProps, d);
        SetInputNumber(m, input);
        *pp = AsInputProps(m);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE BeginWriting() override {
        STANDIN_FAIL_POINT("IWMWriter::BeginWriting");
        if (state_ == State::Empty) return NS_E_NOT_CONFIGURED;
        if (state_ == State::Running) return NS_E_INVALID_REQUEST;
        for (Input& in : inputs_) {
            Input fresh;
            fresh.stream = in.stream;
            fresh.props = in.props;
            fresh.propsSet = in.propsSet;
            fresh.compressed = in.compressed;
            fresh.expectedVideoBytes = in.expectedVideoBytes;
            fresh.audioBlock = in.audioBlock;
            in = fresh;
        }
        session_ = ObservedSession();
        session_.outputFilename = ToU16(filename_);
        for (size_t i = 0; i < streams_.size(); ++i)
            for (DWORD n = 0; n < inputs_.size(); ++n)
                if (inputs_[n].stream == i && inputs_[n].propsSet)
                    session_.streams.push_back(Observe(n, inputs_[n], streams_[i], attributes_));

        observers_.clear();
        recorder_ = ActiveRecorder();
        if (recorder_) observers_.push_back(recorder_);
        for (WriterObserver* o : CurrentObservers()) observers_.push_back(o);
        sink_.reset();
        if (!filename_.empty() && CurrentSwitches().fileSink) {
            sink_ = CreateAsfFileSink();
            if (sink_) observers_.push_back(sink_.get());
        }
        fileErrors_ = CurrentSwitches().fileErrors;
        failed_ = false;
        held_.assign(inputs_.size(), HeldBuffer());
        waiting_.assign(inputs_.size(), 0);
        Work begin;
        begin.kind = WorkKind::BeginWriting;
        begin.session = std::make_shared<const ObservedSession>(session_);
        HRESULT hr = Submit(std::move(begin));
        if (FAILED(hr)) {
            StopThread();
            observers_.clear();
            sink_.reset();
            return hr;
        }
        RememberSession(session_);
        state_ = State::Running;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EndWriting() override {
        STANDIN_FAIL_POINT("IWMWriter::EndWriting");
        if (state_ != State::Running) return NS_E_INVALID_REQUEST;
        state_ = State::Configured;
        Work end;
        end.kind = WorkKind::EndWriting;
        HRESULT hr = Submit(std::move(end));
        StopThread();
        ReleaseHeldBuffers();
        observers_.clear();
        sink_.reset();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE AllocateSample(DWORD size, INSSBuffer** pp) override {
        STANDIN_FAIL_POINT("IWMWriter::AllocateSample");
        if (!pp) return E_POINTER;
        *pp = nullptr;
        if (state_ != State::Running) return NS_E_INVALID_REQUEST;
        *pp = new Buffer(size);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE WriteSample(DWORD input, QWORD time, DWORD flags, INSSBuffer* sample) override {
        STANDIN_FAIL_POINT("IWMWriter::WriteSample");
        if (state_ != State::Running) return NS_E_INVALID_REQUEST;
        if (input >= inputs_.size()) return E_INVALIDARG;
        auto* buffer = dynamic_cast<Buffer*>(sample);
        if (!buffer) return E_INVALIDARG;
        Input& in = inputs_[input];
        if (!in.propsSet) return NS_E_INVALID_REQUEST;
        if (in.inPass || in.passesDone < in.passesConfigured) return NS_E_INVALID_REQUEST;
        if (!in.wroteSample && in.passesConfigured == 0 &&
            (FormatListTag(streams_[in.stream].media) & kListTwoPass))
            return NS_E_INVALID_NUM_PASSES;
        HRESULT hr = CheckSample(in, buffer);
        if (FAILED(hr)) return hr;
        if (in.wroteSample && time < in.lastWriteTime) return NS_E_INVALID_DATA;
        in.wroteSample = true;
        in.lastWriteTime = time;
        return Submit(HandOver("WriteSample", input, 0, time, flags, buffer));
    }

    HRESULT STDMETHODCALLTYPE Flush() override {
        if (state_ != State::Running) return NS_E_INVALID_REQUEST;
        Drain();
        return S_OK;
    }

    // ---- IWMWriterAdvanced: the file sink; the rest is for live and custom sinks ----------------
    HRESULT STDMETHODCALLTYPE GetSinkCount(DWORD* p) override {
        STANDIN_FAIL_POINT("IWMWriterAdvanced::GetSinkCount");
        if (!p) return E_POINTER;
        *p = fileSink_ && CurrentSwitches().sinkOffer != SinkOffer::None ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSink(DWORD index, IWMWriterSink** pp) override {
        STANDIN_FAIL_POINT("IWMWriterAdvanced::GetSink");
        if (!pp) return E_POINTER;
        *pp = nullptr;
        DWORD count = 0;
        GetSinkCount(&count);
        if (index >= count) return E_INVALIDARG;
        fileSink_->AddRefCounted();
        *pp = fileSink_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddSink(IWMWriterSink*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveSink(IWMWriterSink*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WriteStreamSample(WORD, QWORD, DWORD, QWORD, DWORD, INSSBuffer*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetLiveSource(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsRealTime(BOOL* p) override {
        if (!p) return E_POINTER;
        *p = FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWriterTime(QWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatistics(WORD, WM_WRITER_STATISTICS*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSyncTolerance(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSyncTolerance(DWORD*) override { return E_NOTIMPL; }

    // ---- IWMWriterPreprocess --------------------------------------------------------------------
    HRESULT STDMETHODCALLTYPE GetMaxPreprocessingPasses(DWORD input, DWORD, DWORD* pmax) override {
        STANDIN_FAIL_POINT("IWMWriterPreprocess::GetMaxPreprocessingPasses");
        if (!pmax) return E_POINTER;
        if (state_ != State::Running) return NS_E_INVALID_REQUEST;
        if (input >= inputs_.size()) return E_INVALIDARG;
        *pmax = MaxPasses(inputs_[input]);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetNumPreprocessingPasses(DWORD input, DWORD, DWORD passes) override {
        STANDIN_FAIL_POINT("IWMWriterPreprocess::SetNumPreprocessingPasses");
        if (state_ != State::Running) return NS_E_INVALID_REQUEST;
        if (input >= inputs_.size() || passes == 0) return E_INVALIDARG;
        Input& in = inputs_[input];
        if (in.passesConfigured || in.wroteSample) return NS_E_INVALID_REQUEST;
        if (passes > MaxPasses(in)) return E_INVALIDARG;
        in.passesConfigured = passes;
        for (ObservedStream& o : session_.streams)
            if (o.input == input) o.passes = 1 + passes;
        RememberSession(session_);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE BeginPreprocessingPass(DWORD input, DWORD) override {
        STANDIN_FAIL_POINT("IWMWriterPreprocess::BeginPreprocessingPass");
        if (input >= inputs_.size()) return E_INVALIDARG;
        Input& in = inputs_[input];
        if (state_ != State::Running || in.inPass || in.passesDone >= in.passesConfigured) return NS_E_INVALID_REQUEST;
        in.inPass = true;
        in.havePassTime = false;
        Work begin;
        begin.kind = WorkKind::BeginPass;
        begin.input = input;
        begin.pass = in.passesDone + 1;
        HRESULT hr = Submit(std::move(begin));
        if (FAILED(hr)) in.inPass = false;
        return hr;
    }

    HRESULT STDMETHODCALLTYPE PreprocessSample(DWORD input, QWORD time, DWORD flags, INSSBuffer* sample) override {
        STANDIN_FAIL_POINT("IWMWriterPreprocess::PreprocessSample");
        if (input >= inputs_.size()) return E_INVALIDARG;
        auto* buffer = dynamic_cast<Buffer*>(sample);
        if (!buffer) return E_INVALIDARG;
        Input& in = inputs_[input];
        if (state_ != State::Running || !in.inPass) return NS_E_INVALID_REQUEST;
        if (in.propsSet) {
            HRESULT hr = CheckSample(in, buffer);
            if (FAILED(hr)) return hr;
        }
        if (in.havePassTime && time < in.lastPassTime) return NS_E_INVALID_DATA;
        in.havePassTime = true;
        in.lastPassTime = time;
        return Submit(HandOver("PreprocessSample", input, in.passesDone + 1, time, flags, buffer));
    }

    HRESULT STDMETHODCALLTYPE EndPreprocessingPass(DWORD input, DWORD) override {
        STANDIN_FAIL_POINT("IWMWriterPreprocess::EndPreprocessingPass");
        if (input >= inputs_.size()) return E_INVALIDARG;
        Input& in = inputs_[input];
        if (state_ != State::Running || !in.inPass) return NS_E_INVALID_REQUEST;
        in.inPass = false;
        Work end;
        end.kind = WorkKind::EndPass;
        end.input = input;
        end.pass = ++in.passesDone;
        HRESULT hr = Submit(std::move(end));
        Drain();
        ReleaseHeld(input);
        return hr;
    }

    // ---- IWMHeaderInfo ---------------------------------------------------------------------------
    HRESULT STDMETHODCALLTYPE GetAttributeCount(WORD stream, WORD* p) override { return GetAttributeCountEx(stream, p); }

    HRESULT STDMETHODCALLTYPE GetAttributeByIndex(WORD index, WORD* pStream, WCHAR* name, WORD* pcchName,
                                                  WMT_ATTR_DATATYPE* pType, BYTE* value, WORD* pcb) override {
        if (!pStream || !pcb) return E_INVALIDARG;
        DWORD cb = *pcb;
        WORD lang = 0;
        HRESULT hr = GetAttributeByIndexEx(*pStream, index, name, pcchName, pType, &lang, value, &cb);
        *pcb = static_cast<WORD>(cb);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE GetAttributeByName(WORD* pStream, const WCHAR* name, WMT_ATTR_DATATYPE* pType,
                                                 BYTE* value, WORD* pcb) override {
        if (!pStream || !name || !pcb) return E_INVALIDARG;
        HRESULT hr = ReadableHeader();
        if (FAILED(hr)) return hr;
        for (const Attribute& a : attributes_) {
            if (a.stream != *pStream || a.value.name != name) continue;
            DWORD cb = *pcb;
            hr = CopyOutValue(a.value, pType, value, &cb);
            *pcb = static_cast<WORD>(cb);
            return hr;
        }
        return ASF_E_NOTFOUND;
    }

    HRESULT STDMETHODCALLTYPE SetAttribute(WORD stream, const WCHAR* name, WMT_ATTR_DATATYPE type,
                                           const BYTE* value, WORD cb) override {
        HRESULT hr = CheckNewAttribute(stream, name, type, value, cb);
        if (FAILED(hr)) return hr;
        for (Attribute& a : attributes_) {
            if (a.stream == stream && a.value.name == name) {
                a.value.type = type;
                a.value.bytes.assign(value, value + cb);
                return S_OK;
            }
        }
        return Append(stream, name, type, 0, value, cb, nullptr);
    }

    HRESULT STDMETHODCALLTYPE GetMarkerCount(WORD* p) override {
        if (!p) return E_INVALIDARG;
        *p = static_cast<WORD>(markers_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMarker(WORD index, WCHAR* name, WORD* pcch, QWORD* pTime) override {
        if (index >= markers_.size() || !pTime) return E_INVALIDARG;
        HRESULT hr = CopyOutString(markers_[index].name, name, pcch);
        if (SUCCEEDED(hr)) *pTime = markers_[index].time;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE AddMarker(const WCHAR* name, QWORD time) override {
        if (!name) return E_INVALIDARG;
        if (state_ == State::Running) return NS_E_INVALID_REQUEST;
        markers_.push_back(Marker{name, time});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveMarker(WORD index) override {
        if (index >= markers_.size()) return E_INVALIDARG;
        if (state_ == State::Running) return NS_E_INVALID_REQUEST;
        markers_.erase(markers_.begin() + index);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetScriptCount(WORD* p) override {
        if (!p) return E_INVALIDARG;
        *p = static_cast<WORD>(scripts_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetScript(WORD index, WCHAR* type, WORD* pcchType, WCHAR* command, WORD* pcchCommand,
                                        QWORD* pTime) override {
        if (index >= scripts_.size() || !pTime) return E_INVALIDARG;
        HRESULT hr = CopyOutString(scripts_[index].type, type, pcchType);
        if (SUCCEEDED(hr)) hr = CopyOutString(scripts_[index].command, command, pcchCommand);
        if (SUCCEEDED(hr)) *pTime = scripts_[index].time;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE AddScript(const WCHAR* type, const WCHAR* command, QWORD time) override {
        if (!type || !command) return E_INVALIDARG;
        if (state_ == State::Running) return NS_E_INVALID_REQUEST;
        scripts_.push_back(Script{type, command, time});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveScript(WORD index) override {
        if (index >= scripts_.size()) return E_INVALIDARG;
        if (state_ == State::Running) return NS_E_INVALID_REQUEST;
        scripts_.erase(scripts_.begin() + index);
        return S_OK;
    }

    // ---- IWMHeaderInfo2: a writer's header lists no codecs of its own --------------------------
    HRESULT STDMETHODCALLTYPE GetCodecInfoCount(DWORD* p) override {
        if (!p) return E_INVALIDARG;
        *p = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCodecInfo(DWORD, WORD*, WCHAR*, WORD*, WCHAR*, WMT_CODEC_INFO_TYPE*, WORD*,
                                           BYTE*) override {
        return E_INVALIDARG;
    }

    // ---- IWMHeaderInfo3 --------------------------------------------------------------------------
    HRESULT STDMETHODCALLTYPE GetAttributeCountEx(WORD stream, WORD* p) override {
        if (!p) return E_INVALIDARG;
        HRESULT hr = ReadableHeader();
        if (FAILED(hr)) return hr;
        WORD n = 0;
        for (const Attribute& a : attributes_) n += a.stream == stream;
        *p = n;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetAttributeIndices(WORD stream, const WCHAR* name, WORD* pLang, WORD* indices,
                                                  WORD* pCount) override {
        if (!pCount) return E_INVALIDARG;
        HRESULT hr = ReadableHeader();
        if (FAILED(hr)) return hr;
        std::vector<WORD> found;
        WORD index = 0;
        for (const Attribute& a : attributes_) {
            if (a.stream != stream) continue;
            if ((!name || a.value.name == name) && (!pLang || a.language == *pLang)) found.push_back(index);
            ++index;
        }
        if (indices) {
            if (*pCount < found.size()) {
                *pCount = static_cast<WORD>(found.size());
                return ASF_E_BUFFERTOOSMALL;
            }
            std::copy(found.begin(), found.end(), indices);
        }
        *pCount = static_cast<WORD>(found.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetAttributeByIndexEx(WORD stream, WORD index, WCHAR* name, WORD* pcchName,
                                                    WMT_ATTR_DATATYPE* pType, WORD* pLang, BYTE* value,
                                                    DWORD* pcb) override {
        HRESULT hr = ReadableHeader();
        if (FAILED(hr)) return hr;
        const Attribute* a = Nth(stream, index);
        if (!a) return E_INVALIDARG;
        hr = CopyOutString(a->value.name, name, pcchName);
        if (FAILED(hr)) return hr;
        if (pLang) *pLang = a->language;
        return CopyOutValue(a->value, pType, value, pcb);
    }

    HRESULT STDMETHODCALLTYPE ModifyAttribute(WORD stream, WORD index, WMT_ATTR_DATATYPE type, WORD lang,
                                              const BYTE* value, DWORD cb) override {
        Attribute* a = Nth(stream, index);
        if (!a) return E_INVALIDARG;
        HRESULT hr = CheckNewAttribute(stream, a->value.name.c_str(), type, value, cb);
        if (FAILED(hr)) return hr;
        a->value.type = type;
        a->language = lang;
        a->value.bytes.assign(value, value + cb);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE AddAttribute(WORD stream, const WCHAR* name, WORD* pIndex, WMT_ATTR_DATATYPE type,
                                           WORD lang, const BYTE* value, DWORD cb) override {
        STANDIN_FAIL_POINT("IWMHeaderInfo3::AddAttribute");
        HRESULT hr = CheckNewAttribute(stream, name, type, value, cb);
        if (FAILED(hr)) return hr;
        if (lang > languages_.size()) return E_INVALIDARG;
        return Append(stream, name, type, lang, value, cb, pIndex);
    }

    HRESULT STDMETHODCALLTYPE DeleteAttribute(WORD stream, WORD index) override {
        if (state_ == State::Running) return NS_E_INVALID_REQUEST;
        WORD seen = 0;
        for (auto it = attributes_.begin(); it != attributes_.end(); ++it) {
            if (it->stream != stream) continue;
            if (seen++ == index) {
                attributes_.erase(it);
                return S_OK;
            }
        }
        return E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE AddCodecInfo(const WCHAR*, const WCHAR*, WMT_CODEC_INFO_TYPE, WORD, BYTE*) override {
        return E_NOTIMPL;
    }

private:
    // ---- The writer's thread ---------------------------------------------------------------------
    // Work runs in the order it was submitted. Failing the call, it runs at once (after what is
    // queued) and answers its result. Otherwise it is queued, a sample blocking the caller while its
    // input already has kQueuedSamplesPerInput waiting, and a failure is sent as status.
    HRESULT Submit(Work work) {
        if (fileErrors_ == FileErrors::FailTheCall) {
            Drain();
            return Run(work);
        }
        MonitorGuard g(monitor_);
        if (!thread_.Started()) {
            stopping_ = false;
            thread_.Start([this] { Serve(); });
        }
        if (work.buffer) {
            while (waiting_[work.input] >= kQueuedSamplesPerInput) monitor_.Wait();
            ++waiting_[work.input];
        }
        queue_.push_back(std::move(work));
        queued_.store(queue_.size(), std::memory_order_release);
        monitor_.WakeAll();
        return S_OK;
    }

    // Waits until everything queued is done.
    void Drain() {
        MonitorGuard g(monitor_);
        while (!queue_.empty() || busy_) monitor_.Wait();
    }

    void StopThread() {
        {
            MonitorGuard g(monitor_);
            stopping_ = true;
            monitor_.WakeAll();
        }
        thread_.Join();
    }

    // The next call usually comes within microseconds: looking for it a little while before going
    // to sleep spares a wake-up and a switch each way, which cost more than the work of a small
    // sample. Called and returns with the lock held.
    void AwaitWorkBriefly() {
        monitor_.Unlock();
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
        for (unsigned spin = 1; queued_.load(std::memory_order_acquire) == 0; ++spin) {
            CpuRelax();
            if (spin % 64 == 0 && std::chrono::steady_clock::now() >= until) break;
        }
        monitor_.Lock();
    }

    void Serve() {
        MonitorGuard g(monitor_);
        for (;;) {
            if (queue_.empty() && !stopping_) AwaitWorkBriefly();
            while (queue_.empty() && !stopping_) monitor_.Wait();
            if (queue_.empty()) return;
            Work work = std::move(queue_.front());
            queue_.pop_front();
            queued_.store(queue_.size(), std::memory_order_release);
            busy_ = true;
            const bool sample = work.kind == WorkKind::Sample;
            monitor_.Unlock();
            HRESULT hr = Run(work);
            if (FAILED(hr)) SendFailure(hr);
            monitor_.Lock();
            busy_ = false;
            if (sample) --waiting_[work.input];
            monitor_.WakeAll();
        }
    }

    // The first failure of a session goes to the file sink's callbacks; later ones repeat it.
    void SendFailure(HRESULT hr) {
        if (failed_) return;
        failed_ = true;
        if (fileSink_) fileSink_->Send(WMT_ERROR, hr);
    }

    HRESULT Run(Work& work) {
        HRESULT hr = S_OK;
        switch (work.kind) {
        case WorkKind::BeginWriting:
            hr = Notify([&](WriterObserver* o) { return o->OnBeginWriting(*work.session); });
            break;
        case WorkKind::BeginPass:
            hr = Notify([&](WriterObserver* o) { return o->OnBeginPreprocessingPass(work.input, work.pass); });
            break;
        case WorkKind::EndPass:
            hr = Notify([&](WriterObserver* o) { return o->OnEndPreprocessingPass(work.input, work.pass); });
            break;
        case WorkKind::EndWriting:
            hr = Notify([&](WriterObserver* o) { return o->OnEndWriting(work.complete); });
            break;
        case WorkKind::Sample:
            hr = Consume(work);
            break;
        }
        return hr;
    }

    HRESULT Consume(Work& work) {
        Buffer* b = work.buffer;
        work.buffer = nullptr;
        if (b->Checksum() != work.checksum) NoteBufferFault(Touched(work.pass ? "PreprocessSample" : "WriteSample", work.input, work.time));
        const BYTE* data = b->Data();
        const DWORD length = work.length;
        HRESULT hr;
        if (work.pass) {
            hr = Notify([&](WriterObserver* o) {
                return o->OnPreprocessSample(work.input, work.pass, work.time, work.flags, data, length);
            });
        } else {
            hr = Notify([&](WriterObserver* o) {
                return o->OnWriteSample(work.input, work.time, work.flags, data, length);
            });
            HRESULT injected = S_OK;
            if (fileSink_ && SUCCEEDED(hr) && InjectedFailure("IWMWriterSink::OnDataUnit", &injected)) {
                NoteFailure("cannot write " + Utf8FromUtf16(ToU16(filename_)) + ": no space left on the device");
                hr = injected;
            }
        }
        b->Unhold();
        return hr;
    }

    // ---- Buffers handed over -------------------------------------------------------------------
    static std::string Touched(const char* call, DWORD input, QWORD time) {
        return std::string("a buffer handed to ") + call + " (input " + std::to_string(input) + ", time " +
               std::to_string(time) + ") was changed after the call";
    }

    // The writer takes two holds: one for the queue, one until the input's next hand-over, when
    // the bytes are checked again. A buffer the writer still holds must not come back.
    Work HandOver(const char* call, DWORD input, DWORD pass, QWORD time, DWORD flags, Buffer* b) {
        if (b->Held()) {
            NoteBufferFault(std::string("a buffer was handed to ") + call + " (input " + std::to_string(input) +
                            ", time " + std::to_string(time) + ") while the writer still held it");
        }
        ReleaseHeld(input);
        Work work;
        work.kind = WorkKind::Sample;
        work.input = input;
        work.pass = pass;
        work.time = time;
        work.flags = flags;
        work.length = b->Length();
        work.checksum = b->Checksum();
        work.buffer = b;
        b->Hold();
        held_[input] = HeldBuffer{b, work.checksum, time, call};
        b->Hold();
        return work;
    }

    void ReleaseHeld(DWORD input) {
        if (input >= held_.size() || !held_[input].buffer) return;
        HeldBuffer h = held_[input];
        held_[input] = HeldBuffer();
        if (h.buffer->Checksum() != h.checksum) NoteBufferFault(Touched(h.call, input, h.time));
        h.buffer->Unhold();
    }

    void ReleaseHeldBuffers() {
        for (DWORD i = 0; i < held_.size(); ++i) ReleaseHeld(i);
    }

    // Calls the session's observers; one removed by its owner since BeginWriting is skipped, so
    // that an observer can go away while a writer still runs.
    template <typename Event>
    HRESULT Notify(Event event) {
        HRESULT result = S_OK;
        std::vector<WriterObserver*> registered = CurrentObservers();
        for (WriterObserver* o : observers_) {
            bool own = o == sink_.get() || o == recorder_;
            if (!own && std::find(registered.begin(), registered.end(), o) == registered.end()) continue;
            HRESULT hr = event(o);
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
        return result;
    }

    DWORD MaxPasses(const Input& in) const {
        if (!CodecCanPreprocess(*catalogue_, streams_[in.stream])) return 0;
        return CurrentSwitches().maxPreprocessingPasses;
    }

    static HRESULT CheckSample(const Input& in, const Buffer* b) {
        if (in.props.IsVideo()) {
            if (in.expectedVideoBytes == 0 || b->Length() != in.expectedVideoBytes) return NS_E_INVALID_DATA;
        } else if (in.audioBlock == 0 || b->Length() % in.audioBlock != 0) {
            return NS_E_INVALID_DATA;
        }
        return S_OK;
    }

    HRESULT ReadableHeader() const {
        if (state_ == State::Empty) return NS_E_NOT_CONFIGURED;
        if (state_ == State::Running) return NS_E_INVALID_REQUEST;
        return S_OK;
    }

    HRESULT CheckNewAttribute(WORD stream, const WCHAR* name, WMT_ATTR_DATATYPE type, const BYTE* value,
                              DWORD cb) const {
        if (!name || !*name || WString(name).size() > 1024) return E_INVALIDARG;
        if (state_ == State::Running) return NS_E_INVALID_REQUEST;
        if (state_ == State::Empty && stream != 0) return NS_E_INVALID_REQUEST;
        if (stream != 0) {
            bool known = false;
            for (const StreamData& s : streams_) known |= s.number == stream;
            if (!known) return NS_E_INVALID_REQUEST;
        }
        if (!value) return E_POINTER;
        DWORD need = type == WMT_TYPE_WORD ? 2 : type == WMT_TYPE_QWORD ? 8 : type == WMT_TYPE_GUID ? 16
                     : (type == WMT_TYPE_DWORD || type == WMT_TYPE_BOOL) ? 4 : 0;
        if (type > WMT_TYPE_GUID) return E_INVALIDARG;
        if (cb < need) return NS_E_SDK_BUFFERTOOSMALL;
        if (!SizeFitsType(type, value, cb)) return E_INVALIDARG;
        WString n(name);
        if (n == g_wszWMAspectRatioX || n == g_wszWMAspectRatioY) {
            // Pixel aspect terms belong to a video stream.
            if (type != WMT_TYPE_DWORD || stream == 0) return E_INVALIDARG;
            for (const StreamData& s : streams_)
                if (s.number == stream && !s.IsVideo()) return E_INVALIDARG;
        }
        return S_OK;
    }

    HRESULT Append(WORD stream, const WCHAR* name, WMT_ATTR_DATATYPE type, WORD lang, const BYTE* value, DWORD cb,
                   WORD* pIndex) {
        Attribute a;
        a.stream = stream;
        a.language = lang;
        a.value.name = name;
        a.value.type = type;
        a.value.bytes.assign(value, value + cb);
        WORD index = 0;
        for (const Attribute& o : attributes_) index += o.stream == stream;
        attributes_.push_back(a);
        if (pIndex) *pIndex = index;
        return S_OK;
    }

    Attribute* Nth(WORD stream, WORD index) {
        WORD seen = 0;
        for (Attribute& a : attributes_)
            if (a.stream == stream && seen++ == index) return &a;
        return nullptr;
    }

    std::shared_ptr<const Catalogue> catalogue_;
    State state_ = State::Empty;
    WString filename_;
    std::vector<StreamData> streams_;
    std::vector<Input> inputs_;
    std::vector<WString> languages_;
    std::vector<Attribute> attributes_;
    std::vector<Marker> markers_;
    std::vector<Script> scripts_;
    ObservedSession session_;
    std::vector<WriterObserver*> observers_;
    std::unique_ptr<WriterObserver> sink_;
    WriterObserver* recorder_ = nullptr;
    FileSink* fileSink_ = nullptr;  // made by SetOutputFilename, one reference
    FileErrors fileErrors_ = FileErrors::ThroughStatus;

    // Shared with the writer's thread under monitor_.
    Monitor monitor_;
    WorkerThread thread_;
    std::deque<Work> queue_;
    std::atomic<size_t> queued_{0};  // queue_.size(), for a look without the lock
    std::vector<uint32_t> waiting_;  // samples queued per input
    bool busy_ = false;
    bool stopping_ = false;
    // The writer's thread only, while running.
    bool failed_ = false;
    // The calling thread only.
    std::vector<HeldBuffer> held_;
};

}  // namespace
}  // namespace wm
}  // namespace standin

extern "C" HRESULT WINAPI WMCreateWriter(IUnknown*, IWMWriter** pp) {
    standin::wm::ApplyEnvironmentSwitches();
    STANDIN_FAIL_POINT("WMCreateWriter");
    if (!pp) return E_POINTER;
    *pp = new standin::wm::Writer();
    return S_OK;
}
