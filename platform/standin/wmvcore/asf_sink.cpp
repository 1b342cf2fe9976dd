// The ASF file sink: one muxer stream per writer input that has input properties, video first;
// the header is written once every stream's encoder is open (after any preprocessing), packets
// go through the interleaver, and the file is closed with its index at the end of writing.
#include "asf_sink.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "asf_audio.h"
#include "asf_common.h"
#include "asf_output.h"
#include "asf_stage.h"
#include "asf_video.h"
#include "platform/standin/leaks.h"
#include "platform/standin/utf8.h"

namespace standin {
namespace {

std::atomic<int> liveSinks{0};

// Samples converted but not yet encoded: enough to keep both threads busy, few enough that a
// 1080p job holds only a handful of pictures more.
constexpr size_t kStageDepth = 4;

// The file keeps every time as 32-bit milliseconds, the muxer's preroll of 3.1 s and the audio's
// priming lead added: a later sample would come back at a wrapped-around time.
constexpr uint64_t kLatestTimeMs = UINT32_MAX - 3100 - 1000;

const bool probeRegistered = [] {
    RegisterLeakProbe("asf file sink", [] {
        int n = liveSinks.load();
        return n ? std::to_string(n) + " sink(s) still open" : std::string();
    });
    return true;
}();

// The muxer keeps only exact lower-case ISO 639 codes, and a stream whose tag it drops takes
// another stream's language: reduce "en-US" to "en" before it sees the tag.
std::string PrimaryLanguage(const std::u16string& tag) {
    std::string primary;
    for (char16_t c : tag) {
        if (c == u'-' || c == u'_') break;
        if (c > 0x7F || !std::isalpha(static_cast<unsigned char>(c))) return "";
        primary += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return primary.size() == 2 || primary.size() == 3 ? primary : "";
}

struct SinkTrack {
    uint32_t input = 0;
    AVStream* stream = nullptr;
    int64_t lastDts = 0;
    bool anyPacket = false;
    std::unique_ptr<VideoTrack> video;
    std::unique_ptr<AudioTrack> audio;
};

struct WaitingPacket {
    SinkTrack* track = nullptr;
    PacketPtr packet;
    AVRational timeBase = {1, 1};
};

// The output file, opened and locked for this writer alone before the muxer truncates it: a
// second writer of the same file is refused as Windows refuses a file open for writing elsewhere.
// A device (/dev/null, /dev/full) is not locked: it is no file of one writer, and every process
// writing to it would otherwise refuse every other. -1 with the reason noted when it cannot be had.
int LockOutputFile(const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        int error = errno;
        std::string why = error == ENOENT ? "no such folder"
                          : error == EACCES || error == EROFS ? "the folder or file is read-only"
                          : error == EISDIR ? "it is a folder"
                          : std::strerror(error);
        NoteFailure("cannot create " + path + ": " + why);
        return -1;
    }
    struct stat st;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        NoteFailure("cannot write " + path + ": another writer has it open");
        close(fd);
        return -1;
    }
    return fd;
}

struct FormatContextFree {
    void operator()(AVFormatContext* p) const { avformat_free_context(p); }  // its output is the sink's
};

class AsfFileSink : public WriterObserver {
public:
    AsfFileSink() { ++liveSinks; }
    ~AsfFileSink() override {
        if (muxer_) {
            QuietLibraries quiet;
            Close();
        }
        --liveSinks;
    }

    int32_t OnBeginWriting(const ObservedSession& session) override {
        QuietLibraries quiet;
        if (muxer_ || closed_) return NS_E_INVALID_REQUEST;
        return Remember(Open(session));
    }

    // Pass boundaries change what the encoding stage works with: it is drained first, and the
    // boundary itself is done here, so its result is the call's.
    int32_t OnBeginPreprocessingPass(uint32_t input, uint32_t pass) override {
        (void)pass;
        QuietLibraries quiet;
        if (int32_t hr = Failure(); hr < 0) return hr;
        SinkTrack* t = Find(input);
        if (!t || !t->video) return 0;  // audio has no use for a first pass
        if (writing_) return NS_E_INVALID_REQUEST;
        if (int32_t hr = Drain(); hr < 0) return hr;
        return Remember(StartVideoPass(*t->video, VideoPassKind::Analysis));
    }

    int32_t OnPreprocessSample(uint32_t input, uint32_t pass, uint64_t time, uint32_t flags,
                               const uint8_t* data, uint32_t size) override {
        (void)pass;
        QuietLibraries quiet;
        if (int32_t hr = Failure(); hr < 0) return hr;
        SinkTrack* t = Find(input);
        if (!t || !t->video || t->video->pass.kind != VideoPassKind::Analysis) return 0;
        return HandOverPicture(*t, true, time, flags, data, size);
    }

    int32_t OnEndPreprocessingPass(uint32_t input, uint32_t pass) override {
        (void)pass;
        QuietLibraries quiet;
        if (int32_t hr = Failure(); hr < 0) return hr;
        SinkTrack* t = Find(input);
        if (!t || !t->video || t->video->pass.kind != VideoPassKind::Analysis) return 0;
        if (int32_t hr = Drain(); hr < 0) return hr;
        return Remember(FinishVideoPass(*t->video, PacketOut()));
    }

    // The picture is converted here, before the writer takes its buffer back; encoding and
    // muxing follow on the encoding stage. A failure there is answered by the next call.
    int32_t OnWriteSample(uint32_t input, uint64_t time, uint32_t flags, const uint8_t* data,
                          uint32_t size) override {
        QuietLibraries quiet;
        if (int32_t hr = Failure(); hr < 0) return hr;
        if (!muxer_) return closed_ ? NS_E_INVALID_REQUEST : 0;
        SinkTrack* t = Find(input);
        if (!t) return 0;  // an input without a stream of its own in the file
        if (time / 10000 > kLatestTimeMs) {
            NoteFailure("a sample at " + std::to_string(time / 10000000) +
                        " s lies past the latest time an ASF file can hold (about 49.7 days)");
            return NS_E_INVALID_DATA;  // what came before still ends as a readable file
        }
        writing_ = true;
        if (t->video) {
            if (t->video->pass.kind == VideoPassKind::Analysis) {
                if (int32_t hr = Drain(); hr < 0) return hr;
                if (int32_t hr = Remember(BeginWritingPass(*t->video)); hr < 0) return hr;
            }
            return HandOverPicture(*t, false, time, flags, data, size);
        }
        if (!data && size) return E_INVALIDARG;
        StagedSample sample;
        sample.input = input;
        sample.time = time;
        sample.bytes.assign(data, data + size);
        stage_->Hand(std::move(sample));
        return 0;
    }

    int32_t OnEndWriting(bool complete) override {
        (void)complete;  // what was written so far is closed into a readable file either way
        QuietLibraries quiet;
        if (!muxer_) return 0;
        return Close();
    }

private:
    int32_t Remember(int32_t hr) {
        if (hr < 0 && failure_ >= 0) failure_ = hr;
        return hr;
    }

    // The first failure of this sink or of its encoding stage.
    int32_t Failure() {
        if (failure_ >= 0 && stage_) {
            int32_t hr = stage_->Failure();
            if (hr < 0) Remember(hr);
        }
        return failure_;
    }

    int32_t Drain() {
        if (stage_) Remember(stage_->Drain());
        return failure_;
    }

    int32_t HandOverPicture(SinkTrack& t, bool analysis, uint64_t time, uint32_t flags,
                            const uint8_t* data, uint32_t size) {
        StagedSample sample;
        int32_t hr = ConvertVideoFrame(*t.video, data, size, sample.picture);
        if (hr < 0) return Remember(hr);
        sample.input = t.input;
        sample.analysis = analysis;
        sample.time = time;
        sample.flags = flags;
        stage_->Hand(std::move(sample));
        return 0;
    }

    // The encoding stage's half of a sample: encode, mux, and the header once it can be written.
    int32_t Process(StagedSample& s) {
        SinkTrack* t = Find(s.input);
        if (!t) return E_FAIL;
        if (s.analysis) return EncodeVideoFrame(*t->video, std::move(s.picture), s.time, s.flags, PacketOut());
        int32_t hr = t->video ? EncodeVideoFrame(*t->video, std::move(s.picture), s.time, s.flags, Output(*t))
                              : AddAudioBlock(*t->audio, s.time, s.bytes.data(),
                                              static_cast<uint32_t>(s.bytes.size()), Output(*t));
        if (hr >= 0 && !headerWritten_ && HaveAllParameters()) hr = WriteHeader();
        return hr;
    }

    SinkTrack* Find(uint32_t input) {
        for (SinkTrack& t : tracks_) {
            if (t.input == input) return &t;
        }
        return nullptr;
    }

    int32_t Open(const ObservedSession& session) {
        if (session.outputFilename.empty()) return 0;
        std::vector<const ObservedStream*> streams;
        for (const ObservedStream& s : session.streams) {
            if (s.isVideo && (s.inWidth == 0 || s.inHeight == 0)) continue;  // never gets a frame
            streams.push_back(&s);
        }
        std::stable_sort(streams.begin(), streams.end(),
                         [](const ObservedStream* a, const ObservedStream* b) { return a->isVideo && !b->isVideo; });
        if (streams.empty()) return 0;

        std::string path = Utf8FromUtf16(session.outputFilename);
        path_ = path;
        AVFormatContext* oc = nullptr;
        int rc = avformat_alloc_output_context2(&oc, nullptr, "asf", path.c_str());
        if (rc < 0 || !oc) return ResultFromLibrary(rc, E_FAIL);
        muxer_.reset(oc);

        for (const ObservedStream* s : streams) {
            SinkTrack t;
            t.input = s->input;
            t.stream = avformat_new_stream(oc, nullptr);
            if (!t.stream) return E_OUTOFMEMORY;
            std::string language = PrimaryLanguage(s->language);
            if (!language.empty()) av_dict_set(&t.stream->metadata, "language", language.c_str(), 0);
            int32_t hr = 0;
            if (s->isVideo) {
                t.video = std::make_unique<VideoTrack>();
                hr = PrepareVideoTrack(*s, *t.video);
                if (hr >= 0) hr = StartVideoPass(*t.video, VideoPassKind::Single);
            } else {
                t.audio = std::make_unique<AudioTrack>();
                hr = OpenAudioTrack(*s, *t.audio);
            }
            if (hr < 0) return hr;
            tracks_.push_back(std::move(t));
        }
        lockedOutput_ = LockOutputFile(path);
        if (lockedOutput_ < 0) return NS_E_FILE_WRITE;
        struct stat st = {};
        if (fstat(lockedOutput_, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(lockedOutput_, 0) != 0) {
            NoteFailure("cannot write " + path + ": " + std::strerror(errno));
            return NS_E_FILE_WRITE;
        }
        output_.reset(AsfOutput::Create(lockedOutput_));
        if (!output_) return E_OUTOFMEMORY;
        oc->pb = output_->Context();
        oc->flags |= AVFMT_FLAG_CUSTOM_IO;
        stage_ = std::make_unique<EncodingStage>(kStageDepth, [this](StagedSample& s) { return Process(s); });
        return 0;
    }

    // After the preprocessing: the final pass when a first pass finished, else one pass.
    static int32_t BeginWritingPass(VideoTrack& v) {
        if (v.pass.kind != VideoPassKind::Analysis) return 0;
        bool final = v.statsReady && v.statsFrames > 0 && UsesTwoPassStatistics(v.stream);
        return StartVideoPass(v, final ? VideoPassKind::Final : VideoPassKind::Single);
    }

    bool HaveAllParameters() const {
        for (const SinkTrack& t : tracks_) {
            if (t.video ? !t.video->parameters : !t.audio->parameters) return false;
        }
        return true;
    }

    // The header goes out once every encoder is open (the video one opens with its second frame);
    // packets made before that wait for it.
    int32_t WriteHeader() {
        AVFormatContext* oc = muxer_.get();
        for (SinkTrack& t : tracks_) {
            const AVCodecParameters* p = t.video ? t.video->parameters.get() : t.audio->parameters.get();
            int rc = avcodec_parameters_copy(t.stream->codecpar, p);
            if (rc < 0) return ResultFromLibrary(rc, E_FAIL);
            if (t.video) {
                t.stream->time_base = t.video->tick;
                t.stream->codecpar->bit_rate = t.video->stream.bitrate;
                t.stream->sample_aspect_ratio = p->sample_aspect_ratio;
            } else {
                t.stream->time_base = {1, p->sample_rate};
            }
        }
        // The audio's first packets decode to the codec's priming and lie before 0. Readers
        // disagree on those (FFmpeg skips their output, GStreamer's demuxer moves them to 0 and
        // plays them), so every stream is moved later by the same whole milliseconds: nothing lies
        // before 0, and the first picture and the first real sample keep their common time.
        leadMs_ = 0;
        for (const SinkTrack& t : tracks_) {
            if (t.audio) leadMs_ = std::max(leadMs_, AudioLeadMs(*t.audio));
        }
        oc->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
        int rc = avformat_write_header(oc, nullptr);
        if (rc < 0) return ResultFromLibrary(rc, E_FAIL) == NS_E_FILE_WRITE ? WriteFailed(rc) : ResultFromLibrary(rc, E_FAIL);
        headerWritten_ = true;
        std::vector<WaitingPacket> waiting = std::move(waiting_);
        for (WaitingPacket& w : waiting) {
            int32_t hr = Mux(*w.track, w.packet.get(), w.timeBase);
            if (hr < 0) return hr;
        }
        return 0;
    }

    PacketOut Output(SinkTrack& t) {
        return [this, &t](AVPacket* packet, AVRational timeBase) { return Mux(t, packet, timeBase); };
    }

    int32_t Mux(SinkTrack& t, AVPacket* packet, AVRational timeBase) {
        if (!headerWritten_) {
            PacketPtr copy(av_packet_clone(packet));
            if (!copy) return E_OUTOFMEMORY;
            waiting_.push_back({&t, std::move(copy), timeBase});
            return 0;
        }
        AVRational tb = t.stream->time_base;
        const int64_t lead = av_rescale_q(leadMs_, {1, 1000}, tb);
        int64_t start = std::max<int64_t>(av_rescale_q(packet->pts, timeBase, tb) + lead, 0);
        int64_t end = av_rescale_q(packet->pts + packet->duration, timeBase, tb) + lead;
        // The file counts in ms: two frames closer than that still need increasing stamps.
        if (t.anyPacket && start <= t.lastDts) start = t.lastDts + 1;
        packet->pts = packet->dts = start;
        packet->duration = std::max<int64_t>(end - start, 0);
        packet->stream_index = t.stream->index;
        t.lastDts = start;
        t.anyPacket = true;
        // Key frames are marked and indexed on their way to the file (the muxer's own index grows
        // with the length of the time line); the muxer numbers its streams from 1.
        const int64_t ms = av_rescale_q(start, tb, {1, 1000});
        if (t.video) {
            // An empty packet leaves nothing in the file to mark.
            if (packet->size > 0) output_->AddIndexedPacket(t.stream->index + 1, (packet->flags & AV_PKT_FLAG_KEY) != 0, ms);
            packet->flags &= ~AV_PKT_FLAG_KEY;
        } else {
            output_->AddPacketTime(ms);
        }
        // Only the interleaver: the muxer aborts the process on packets out of time order.
        int rc = av_interleaved_write_frame(muxer_.get(), packet);
        return rc < 0 ? WriteFailed(rc) : 0;
    }

    // A failed write of the file (a full disk, an I/O error) with its cause, told once.
    int32_t WriteFailed(int rc) {
        if (!writeFailureNoted_) {
            writeFailureNoted_ = true;
            char text[128] = {};
            av_strerror(rc, text, sizeof text);
            NoteFailure("cannot write " + path_ + ": " + text);
        }
        return ResultFromLibrary(rc, NS_E_FILE_WRITE);
    }

    // Ends every track, writes the trailer and closes the file; the first failure is answered.
    int32_t Close() {
        // A failure of the last samples' encoding has not been answered by any call yet.
        const int32_t answered = failure_;
        Drain();
        stage_.reset();
        int32_t hr = answered >= 0 ? failure_ : 0;
        if (failure_ >= 0 || headerWritten_) {
            for (SinkTrack& t : tracks_) {
                int32_t r = 0;
                if (t.video) {
                    r = BeginWritingPass(*t.video);
                    if (r >= 0) r = FinishVideoPass(*t.video, Output(t));
                    if (r >= 0) r = OpenVideoEncoder(*t.video);  // a stream that never got a frame
                } else if (t.audio->encoder) {
                    r = FinishAudioTrack(*t.audio, Output(t));
                }
                if (hr >= 0 && r < 0) hr = r;
            }
            if (hr >= 0 && !headerWritten_) hr = WriteHeader();
            if (headerWritten_) {
                int rc = av_write_trailer(muxer_.get());
                if (hr >= 0 && rc < 0) hr = WriteFailed(rc);
            }
        }
        if (output_) {
            int rc = output_->Close();
            if (hr >= 0 && rc < 0) hr = WriteFailed(rc);
        }
        waiting_.clear();
        tracks_.clear();
        muxer_.reset();
        output_.reset();
        if (lockedOutput_ >= 0) close(lockedOutput_);
        lockedOutput_ = -1;
        closed_ = true;
        return hr;
    }

    std::unique_ptr<AsfOutput> output_;  // the muxer writes through it
    std::unique_ptr<AVFormatContext, FormatContextFree> muxer_;
    std::vector<SinkTrack> tracks_;
    std::vector<WaitingPacket> waiting_;
    bool writing_ = false;
    bool headerWritten_ = false;
    int64_t leadMs_ = 0;  // added to every time written
    bool closed_ = false;
    int32_t failure_ = 0;
    int lockedOutput_ = -1;
    std::string path_;
    bool writeFailureNoted_ = false;
    std::unique_ptr<EncodingStage> stage_;  // last: it ends before anything it works on
};

}  // namespace

std::unique_ptr<WriterObserver> CreateAsfFileSink() {
    (void)probeRegistered;
    return std::make_unique<AsfFileSink>();
}

}  // namespace standin
