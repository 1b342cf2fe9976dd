// The built-in codec catalogues: one shaped like the version 9 runtime, one like the later
// runtime that renamed its audio codecs. Numbers are plausible, not measured.
#include <cstdio>

#include "core.h"

namespace standin {
namespace {

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

CatalogueFormat Audio(uint32_t kbps, uint32_t khz, uint16_t channels, uint16_t bits) {
    CatalogueFormat f;
    f.bitrate = kbps * 1000;
    f.sampleRate = khz == 44 ? 44100 : khz == 22 ? 22050 : khz == 11 ? 11025 : khz * 1000;
    f.channels = channels;
    f.bitsPerSample = bits;
    return f;
}

CatalogueFormat Described(CatalogueFormat f, bool vbr, uint32_t passes, bool av, bool highResolution) {
    f.description = DescribeAudioFormat(f, vbr, passes, av, highResolution);
    return f;
}

CatalogueCodec VideoCodec(const char* name, uint32_t fourcc, bool twoPass) {
    CatalogueCodec c;
    c.name = Ascii(name);
    c.fourcc = fourcc;
    for (int vbr = 0; vbr < 2; ++vbr) {
        c.lists[vbr][0].push_back(CatalogueFormat());
        if (twoPass) c.lists[vbr][1].push_back(CatalogueFormat());
    }
    c.rejectsTwoPassSetting = !twoPass;
    return c;
}

// The standard WMA codec: CBR in one and two passes, quality VBR and bit-rate VBR.
CatalogueCodec StandardAudio(const char* name) {
    CatalogueCodec c;
    c.name = Ascii(name);
    c.fourcc = 0x0161;
    for (uint32_t passes = 1; passes <= 2; ++passes) {
        auto& list = c.lists[0][passes - 1];
        for (uint32_t kbps : {320u, 256u, 192u, 160u, 128u, 96u, 80u, 64u, 48u}) {
            list.push_back(Described(Audio(kbps, 44, 2, 16), false, passes, false, false));
            if (kbps == 128 || kbps == 64 || kbps == 48)
                list.push_back(Described(Audio(kbps, 44, 2, 16), false, passes, true, false));
        }
        list.push_back(Described(Audio(48, 48, 2, 16), false, passes, false, false));
        list.push_back(Described(Audio(32, 44, 2, 16), false, passes, false, false));
        list.push_back(Described(Audio(32, 32, 2, 16), false, passes, false, false));
        list.push_back(Described(Audio(22, 22, 2, 16), false, passes, false, false));
        list.push_back(Described(Audio(20, 22, 1, 16), false, passes, false, false));
        list.push_back(Described(Audio(16, 16, 1, 16), false, passes, false, false));
        list.push_back(Described(Audio(10, 11, 1, 16), false, passes, false, false));
        list.push_back(Described(Audio(5, 8, 1, 16), false, passes, false, false));
    }
    for (uint32_t q : {10u, 25u, 50u, 75u, 90u, 98u}) {
        CatalogueFormat f = Audio(q < 50 ? 64 : q < 90 ? 128 : 192, 44, 2, 16);
        f.description = Ascii("VBR Quality " + std::to_string(q) + ", 44 kHz, stereo 1-pass VBR");
        f.vbrQuality = q;
        c.lists[1][0].push_back(f);
    }
    for (uint32_t kbps : {256u, 192u, 128u, 96u, 64u})
        c.lists[1][1].push_back(Described(Audio(kbps, 44, 2, 16), true, 2, false, false));
    return c;
}

CatalogueCodec ProfessionalAudio(const char* name) {
    CatalogueCodec c;
    c.name = Ascii(name);
    c.fourcc = 0x0162;
    for (uint32_t passes = 1; passes <= 2; ++passes) {
        auto& list = c.lists[0][passes - 1];
        list.push_back(Described(Audio(128, 44, 2, 24), false, passes, false, true));
        list.push_back(Described(Audio(128, 44, 2, 24), false, passes, true, true));
        list.push_back(Described(Audio(192, 48, 2, 24), false, passes, false, true));
        list.push_back(Described(Audio(384, 48, 6, 24), false, passes, false, true));
        list.push_back(Described(Audio(768, 96, 6, 24), false, passes, false, true));
    }
    for (uint32_t q : {50u, 75u, 90u}) {
        CatalogueFormat f = Audio(q == 90 ? 256 : 192, 48, 2, 24);
        f.description = Ascii("VBR Quality " + std::to_string(q) + ", 48 kHz, 2 channel 24 bit 1-pass VBR");
        f.vbrQuality = q;
        c.lists[1][0].push_back(f);
    }
    c.lists[1][1].push_back(Described(Audio(192, 44, 2, 24), true, 2, false, true));
    c.lists[1][1].push_back(Described(Audio(384, 48, 2, 24), true, 2, false, true));
    c.lists[1][1].push_back(Described(Audio(256, 48, 6, 24), true, 2, false, true));
    return c;
}

// Lossless: quality VBR only; asking for two passes is accepted but lists nothing.
CatalogueCodec LosslessAudio(const char* name) {
    CatalogueCodec c;
    c.name = Ascii(name);
    c.fourcc = 0x0163;
    struct L { uint32_t khz; uint16_t ch; uint16_t bits; uint32_t kbps; };
    for (L l : {L{44, 2, 16, 900}, L{48, 2, 24, 1400}, L{96, 2, 24, 2700}, L{48, 6, 24, 4000}}) {
        CatalogueFormat f = Audio(l.kbps, l.khz, l.ch, l.bits);
        std::string ch = l.ch == 6 ? "5.1" : "2";
        f.description = Ascii("VBR Quality 100, " + std::to_string(l.khz) + " kHz, " + ch + " channel " +
                              std::to_string(l.bits) + " bit 1-pass VBR");
        f.vbrQuality = 100;
        c.lists[1][0].push_back(f);
    }
    return c;
}

CatalogueCodec VoiceAudio(const char* name) {
    CatalogueCodec c;
    c.name = Ascii(name);
    c.fourcc = 0x000A;
    c.rejectsVbrSetting = true;
    c.rejectsTwoPassSetting = true;
    c.vbrSupported = false;
    struct V { uint32_t kbps; uint32_t khz; };
    for (V v : {V{20, 22}, V{16, 16}, V{12, 11}, V{8, 8}, V{5, 8}, V{4, 8}}) {
        CatalogueFormat f = Audio(v.kbps, v.khz, 1, 16);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%3u kbps, %u kHz, mono", static_cast<unsigned>(v.kbps),
                      static_cast<unsigned>(v.khz));
        f.description = Ascii(buf);
        c.lists[0][0].push_back(f);
    }
    return c;
}

}  // namespace

std::u16string DescribeAudioFormat(const CatalogueFormat& f, bool vbr, uint32_t passes, bool av,
                                   bool highResolution) {
    unsigned khz = f.sampleRate == 44100 ? 44 : f.sampleRate == 22050 ? 22 : f.sampleRate == 11025 ? 11
                                                                                              : f.sampleRate / 1000;
    std::string channels;
    if (highResolution)
        channels = (f.channels == 6 ? std::string("5.1") : std::to_string(f.channels)) + " channel " +
                   std::to_string(f.bitsPerSample) + " bit";
    else
        channels = f.channels == 1 ? "mono" : "stereo";
    char buf[128];
    std::snprintf(buf, sizeof buf, "%3u kbps, %u kHz, %s%s %u-pass %s", static_cast<unsigned>(f.bitrate / 1000), khz,
                  channels.c_str(), av ? " (A/V)" : "", static_cast<unsigned>(passes), vbr ? "VBR" : "CBR");
    return Ascii(buf);
}

Catalogue Version9Catalogue() {
    Catalogue c;
    c.video.push_back(VideoCodec("Windows Media Video 9", 0x33564D57, true));
    c.video.push_back(VideoCodec("Windows Media Video 9 Screen", 0x3253534D, false));
    c.video.push_back(VideoCodec("Windows Media Video 9 Advanced Profile", 0x41564D57, true));
    c.audio.push_back(StandardAudio("Windows Media Audio 9"));
    c.audio.push_back(ProfessionalAudio("Windows Media Audio 9 Professional"));
    c.audio.push_back(LosslessAudio("Windows Media Audio 9 Lossless"));
    c.audio.push_back(VoiceAudio("Windows Media Audio 9 Voice"));
    return c;
}

Catalogue LaterCatalogue() {
    Catalogue c;
    c.video.push_back(VideoCodec("Windows Media Video 9", 0x33564D57, true));
    c.video.push_back(VideoCodec("Windows Media Video 9 Screen", 0x3253534D, false));
    c.video.push_back(VideoCodec("Windows Media Video 9 Advanced Profile", 0x31435657, true));
    c.audio.push_back(StandardAudio("Windows Media Audio 9.2"));
    c.audio.push_back(ProfessionalAudio("Windows Media Audio 10 Professional"));
    c.audio.push_back(LosslessAudio("Windows Media Audio 9.2 Lossless"));
    c.audio.push_back(VoiceAudio("Windows Media Audio 9 Voice"));
    return c;
}

}  // namespace standin
