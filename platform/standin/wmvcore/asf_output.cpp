#include "asf_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace standin {
namespace {

constexpr int kBufferSize = 256 * 1024;  // what FFmpeg's own file output buffers
constexpr size_t kObjectHeader = 24;     // GUID and size
constexpr size_t kHeaderObjectSize = 30;
constexpr size_t kDataObjectHeader = 50;
constexpr size_t kMostHeaderBytes = 1 << 20;
constexpr uint8_t kFilePropertiesGuid[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                             0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr uint8_t kSimpleIndexGuid[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                          0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
constexpr uint8_t kKeyFrameBit = 0x80;

uint64_t ReadLittle(const uint8_t* p, size_t bytes) {
    uint64_t v = 0;
    for (size_t i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
    return v;
}

void PutLittle(std::vector<uint8_t>& out, uint64_t v, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Bytes of a field whose length a two-bit type gives: 0, 1, 2 or 4.
size_t FieldBytes(unsigned type) { return type == 3 ? 4 : type; }

}  // namespace

int64_t AsfIndex::EntryOf(int64_t sendMs) const {
    const int64_t unit = 1000 * seconds_;
    return (std::max<int64_t>(sendMs, 0) + unit - 1) / unit;
}

void AsfIndex::Coarsen() {
    std::vector<Entry> kept;
    for (size_t i = 0; i < entries_.size(); i += 2) kept.push_back(entries_[i]);
    entries_ = std::move(kept);
    seconds_ *= 2;
}

void AsfIndex::AddKeyFrame(int64_t sendMs, uint32_t packet, uint16_t packets) {
    mostPackets_ = std::max(mostPackets_, packets);
    int64_t entry = EntryOf(sendMs);
    while (entry > kMostIndexEntries) {
        Coarsen();
        entry = EntryOf(sendMs);
    }
    const Entry key = {packet, packets};
    // Entries before the first key frame point to it; later ones to the last key frame before.
    if (!started_) {
        entries_.assign(static_cast<size_t>(entry), key);
        started_ = true;
    } else if (entry > static_cast<int64_t>(entries_.size())) {
        entries_.resize(static_cast<size_t>(entry), pending_);
    }
    pending_ = key;
}

void AsfIndex::Finish(int64_t lastSendMs) {
    if (!started_) return;
    int64_t count = EntryOf(lastSendMs) + 1;
    while (count > kMostIndexEntries) {
        Coarsen();
        count = EntryOf(lastSendMs) + 1;
    }
    if (count > static_cast<int64_t>(entries_.size())) entries_.resize(static_cast<size_t>(count), pending_);
}

AsfOutput* AsfOutput::Create(int fd) {
    auto* out = new AsfOutput(fd);
    struct stat st = {};
    out->seekable_ = fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (buffer) out->context_ = avio_alloc_context(buffer, kBufferSize, 1, out, nullptr, WriteThrough, SeekThrough);
    if (!out->context_) {
        av_free(buffer);
        delete out;
        return nullptr;
    }
    out->context_->seekable = out->seekable_ ? AVIO_SEEKABLE_NORMAL : 0;
    return out;
}

AsfOutput::~AsfOutput() {
    if (context_) {
        av_freep(&context_->buffer);
        avio_context_free(&context_);
    }
}

void AsfOutput::AddIndexedPacket(int streamNumber, bool key, int64_t ptsMs) {
    streams_[streamNumber].objects.push_back({key, ptsMs});
    AddPacketTime(ptsMs);
}

void AsfOutput::AddPacketTime(int64_t ptsMs) { lastPtsMs_ = std::max(lastPtsMs_, ptsMs); }

int AsfOutput::WriteThrough(void* opaque, uint8_t* data, int size) {
    return static_cast<AsfOutput*>(opaque)->Write(data, static_cast<size_t>(size));
}

int64_t AsfOutput::SeekThrough(void* opaque, int64_t offset, int whence) {
    auto* out = static_cast<AsfOutput*>(opaque);
    if (whence != SEEK_SET || !out->seekable_) return AVERROR(ENOSYS);
    // The muxer goes back only to rewrite the header once the data is complete: the index
    // follows the last data packet.
    if (out->packetSize_ && !out->closed_ && out->packets_ > 0) {
        int rc = out->WriteIndex();
        if (rc < 0) return rc;
    }
    if (lseek(out->fd_, offset, SEEK_SET) < 0) return AVERROR(errno);
    out->position_ = offset;
    return offset;
}

int AsfOutput::WriteAll(const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd_, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return AVERROR(n < 0 ? errno : EIO);
        data += n;
        size -= static_cast<size_t>(n);
        position_ += n;
    }
    return 0;
}

void AsfOutput::ReadHeader() {
    if (dataStart_ < 0 && header_.size() >= kHeaderObjectSize) {
        uint64_t size = ReadLittle(&header_[16], 8);
        if (size >= kHeaderObjectSize && size < kMostHeaderBytes) dataStart_ = static_cast<int64_t>(size + kDataObjectHeader);
    }
    if (dataStart_ < 0 || packetSize_ || header_.size() < static_cast<size_t>(dataStart_)) return;
    // The file properties object: the file size at 40, the preroll at 80, the packet size at 92.
    for (size_t at = kHeaderObjectSize; at + kObjectHeader <= header_.size();) {
        uint64_t size = ReadLittle(&header_[at + 16], 8);
        if (size < kObjectHeader || at + size > header_.size()) return;
        if (std::memcmp(&header_[at], kFilePropertiesGuid, 16) == 0 && size >= 100) {
            fileSizeAt_ = static_cast<int64_t>(at + 40);
            preroll_ = static_cast<int64_t>(ReadLittle(&header_[at + 80], 8));
            uint32_t least = static_cast<uint32_t>(ReadLittle(&header_[at + 92], 4));
            uint32_t most = static_cast<uint32_t>(ReadLittle(&header_[at + 96], 4));
            if (least == most && least > 0) {
                packetSize_ = least;
                std::memcpy(fileId_, &header_[at + 24], 16);
            }
            return;
        }
        at += size;
    }
}

int AsfOutput::Write(const uint8_t* data, size_t size) {
    while (size > 0) {
        const bool header = dataStart_ < 0 || position_ < dataStart_;
        if (header || !packetSize_ || indexWritten_) {
            // The header, or bytes this output does not look into.
            size_t k = size;
            if (header && dataStart_ < 0 && position_ < static_cast<int64_t>(kHeaderObjectSize)) {
                k = std::min(size, kHeaderObjectSize - static_cast<size_t>(position_));
            } else if (header && dataStart_ >= 0) {
                k = std::min(size, static_cast<size_t>(dataStart_ - position_));
            }
            if (header && static_cast<size_t>(position_) + k <= kMostHeaderBytes) {
                if (header_.size() < static_cast<size_t>(position_) + k) header_.resize(static_cast<size_t>(position_) + k);
                std::memcpy(&header_[static_cast<size_t>(position_)], data, k);
            }
            int rc = WriteAll(data, k);
            if (rc < 0) return rc;
            data += k;
            size -= k;
            if (header) ReadHeader();
            continue;
        }
        size_t k = std::min(size, packetSize_ - packet_.size());
        packet_.insert(packet_.end(), data, data + k);
        data += k;
        size -= k;
        if (packet_.size() == packetSize_) {
            MarkPacket(packet_.data());
            int rc = WriteAll(packet_.data(), packet_.size());
            packet_.clear();
            ++packets_;
            if (rc < 0) return rc;
        }
    }
    return 0;
}

// Sets the key-frame bit on every payload of a key frame and notes where each key frame lies.
// The packet is read as the format lays it out; one that does not parse is left as it is.
void AsfOutput::MarkPacket(uint8_t* p) {
    const uint8_t* end = p + packetSize_;
    uint8_t* at = p;
    if (*at & 0x80) at += 1 + (*at & 0x0F);  // error correction data
    if (at + 2 > end) return;
    const unsigned lengthFlags = *at++;
    const unsigned propertyFlags = *at++;
    const bool multiple = lengthFlags & 1;
    const size_t packetLength = FieldBytes((lengthFlags >> 5) & 3);
    const size_t sequence = FieldBytes((lengthFlags >> 1) & 3);
    const size_t paddingBytes = FieldBytes((lengthFlags >> 3) & 3);
    if (at + packetLength + sequence + paddingBytes + 6 > end) return;
    at += packetLength + sequence;
    const size_t padding = ReadLittle(at, paddingBytes);
    at += paddingBytes + 6;  // send time and duration
    unsigned count = 1;
    size_t payloadLengthBytes = 0;
    if (multiple) {
        if (at >= end) return;
        count = *at & 0x3F;
        payloadLengthBytes = FieldBytes(*at >> 6);
        ++at;
    }
    const size_t replicatedBytes = FieldBytes(propertyFlags & 3);
    const size_t offsetBytes = FieldBytes((propertyFlags >> 2) & 3);
    const size_t objectBytes = FieldBytes((propertyFlags >> 4) & 3);
    for (unsigned i = 0; i < count; ++i) {
        if (at + 1 + objectBytes + offsetBytes + replicatedBytes > end) return;
        uint8_t* streamByte = at++;
        at += objectBytes;
        const uint64_t offset = ReadLittle(at, offsetBytes);
        at += offsetBytes;
        const size_t replicated = ReadLittle(at, replicatedBytes);
        at += replicatedBytes;
        if (at + replicated + payloadLengthBytes > end) return;
        const uint64_t objectSize = replicated >= 4 ? ReadLittle(at, 4) : 0;
        at += replicated;
        size_t length = 0;
        if (multiple) {
            length = ReadLittle(at, payloadLengthBytes);
            at += payloadLengthBytes;
        } else {
            if (static_cast<size_t>(end - at) < padding) return;
            length = static_cast<size_t>(end - at) - padding;
        }
        if (at + length > end) return;
        at += length;

        auto s = streams_.find(*streamByte & 0x7F);
        if (s == streams_.end()) continue;
        Stream& stream = s->second;
        if (offset == 0) {  // a new media object of the stream: the next packet the sink handed over
            stream.key = false;
            if (!stream.objects.empty()) {
                stream.key = stream.objects.front().key;
                stream.ptsMs = stream.objects.front().ptsMs;
                stream.objects.pop_front();
            }
            stream.firstPacket = packets_;
        }
        if (!stream.key) continue;
        *streamByte |= kKeyFrameBit;
        if (offset + length >= objectSize) {
            uint32_t spanned = packets_ - stream.firstPacket + 1;
            index_.AddKeyFrame(stream.ptsMs + preroll_, stream.firstPacket,
                               static_cast<uint16_t>(std::min<uint32_t>(spanned, UINT16_MAX)));
        }
    }
}

int AsfOutput::WriteIndex() {
    if (indexWritten_) return 0;
    indexWritten_ = true;
    index_.Finish(lastPtsMs_ + preroll_);
    std::vector<uint8_t> object;
    if (!index_.Empty()) {
        const std::vector<AsfIndex::Entry>& entries = index_.Entries();
        object.insert(object.end(), kSimpleIndexGuid, kSimpleIndexGuid + 16);
        PutLittle(object, 56 + 6 * entries.size(), 8);
        object.insert(object.end(), fileId_, fileId_ + 16);
        PutLittle(object, index_.Interval(), 8);
        PutLittle(object, index_.MostPackets(), 4);
        PutLittle(object, entries.size(), 4);
        for (const AsfIndex::Entry& e : entries) {
            PutLittle(object, e.packet, 4);
            PutLittle(object, e.packets, 2);
        }
    }
    // Anything after the last whole packet (the end-of-stream mark of an output that cannot seek)
    // goes after the index.
    object.insert(object.end(), packet_.begin(), packet_.end());
    packet_.clear();
    int rc = WriteAll(object.data(), object.size());
    fileSize_ = position_;
    return rc;
}

int AsfOutput::Close() {
    if (closed_) return 0;
    avio_flush(context_);
    int rc = context_->error;
    if (rc >= 0 && packetSize_ && !indexWritten_) rc = WriteIndex();
    closed_ = true;
    if (rc >= 0 && seekable_ && fileSizeAt_ >= 0 && indexWritten_) {
        // The muxer wrote the size without the index.
        std::vector<uint8_t> size;
        PutLittle(size, static_cast<uint64_t>(fileSize_), 8);
        if (pwrite(fd_, size.data(), size.size(), fileSizeAt_) != static_cast<ssize_t>(size.size())) {
            rc = AVERROR(errno ? errno : EIO);
        }
    }
    return rc;
}

}  // namespace standin
