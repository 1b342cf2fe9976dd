// The ASF file as the sink writes it: the muxer's bytes go out through an I/O context of this
// file's own, which marks the key frames in the data packets and builds the file's simple index.
// The muxer's own index has one entry for every second of the time line, so two frames a year
// apart would cost a file and memory of that many entries; here the entries are at most
// kMostIndexEntries, the interval doubling whenever the time line outgrows them.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <vector>

extern "C" {
#include <libavformat/avio.h>
}

namespace standin {

constexpr uint32_t kMostIndexEntries = 1u << 14;  // four and a half hours at one second

// Which index entry points to which data packets: one entry per interval of the time line, each
// naming the packet where the last key frame at or before it starts and how many it spans.
class AsfIndex {
public:
    // A key frame at `sendMs` (the file's time, preroll included) starting in packet `packet`.
    void AddKeyFrame(int64_t sendMs, uint32_t packet, uint16_t packets);
    // Entries up to the last packet's time; the interval in 100-ns units.
    void Finish(int64_t lastSendMs);
    bool Empty() const { return !started_; }
    uint64_t Interval() const { return static_cast<uint64_t>(seconds_) * 10000000; }
    uint16_t MostPackets() const { return mostPackets_; }
    struct Entry {
        uint32_t packet;
        uint16_t packets;
    };
    const std::vector<Entry>& Entries() const { return entries_; }

private:
    int64_t EntryOf(int64_t sendMs) const;  // the first entry at or after the time
    void Coarsen();

    std::vector<Entry> entries_;
    Entry pending_ = {0, 0};  // the last key frame, for the entries from entries_.size() on
    bool started_ = false;
    int64_t seconds_ = 1;
    uint16_t mostPackets_ = 0;
};

class AsfOutput {
public:
    // Writes to `fd`, which stays the caller's. Null when memory is short.
    static AsfOutput* Create(int fd);
    ~AsfOutput();
    AsfOutput(const AsfOutput&) = delete;
    AsfOutput& operator=(const AsfOutput&) = delete;

    AVIOContext* Context() { return context_; }

    // A packet of a stream whose key frames go into the index, in the order the sink hands them
    // to the muxer, which gets them without the key flag (or it would index them itself). Times
    // in ms on the muxer's time line.
    void AddIndexedPacket(int streamNumber, bool key, int64_t ptsMs);
    // The time of any other packet, for the index's end.
    void AddPacketTime(int64_t ptsMs);

    // Flushes what the muxer wrote, appends the index and corrects the header's file size.
    // Answers 0 or an FFmpeg error code.
    int Close();

private:
    explicit AsfOutput(int fd) : fd_(fd) {}
    static int WriteThrough(void* opaque, uint8_t* data, int size);
    static int64_t SeekThrough(void* opaque, int64_t offset, int whence);
    int Write(const uint8_t* data, size_t size);
    int WriteAll(const uint8_t* data, size_t size);
    void ReadHeader();
    void MarkPacket(uint8_t* packet);
    int WriteIndex();

    struct Pending {
        bool key;
        int64_t ptsMs;
    };
    struct Stream {
        std::deque<Pending> objects;  // handed to the muxer, not yet seen in a packet
        bool key = false;             // of the media object being written
        int64_t ptsMs = 0;
        uint32_t firstPacket = 0;
    };

    int fd_;
    AVIOContext* context_ = nullptr;
    bool seekable_ = true;
    int64_t position_ = 0;  // of the descriptor
    std::vector<uint8_t> header_;  // the bytes before the first data packet
    int64_t dataStart_ = -1;       // offset of the first data packet, once the header tells it
    int64_t fileSizeAt_ = -1;      // offset of the header's file size field
    uint32_t packetSize_ = 0;
    int64_t preroll_ = 0;  // ms, added to every time in the file
    uint8_t fileId_[16] = {};
    std::vector<uint8_t> packet_;  // the data packet being assembled
    uint32_t packets_ = 0;         // whole data packets written
    std::map<int, Stream> streams_;  // by stream number
    AsfIndex index_;
    int64_t lastPtsMs_ = 0;
    bool indexWritten_ = false;
    int64_t fileSize_ = 0;  // with the index
    bool closed_ = false;
};

}  // namespace standin
