// The Windows build of the host has no FFmpeg: it exports the synthetic clip only.
#include "host/clip_source.h"

std::unique_ptr<ClipSource> OpenDecodedClip(const std::string& path, bool, bool, std::string& error) {
    error = "cannot read " + path + ": this build of the host reads no clip files (no FFmpeg); use the synthetic clip";
    return nullptr;
}
