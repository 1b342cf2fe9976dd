// Placeholder until the FFmpeg-backed sink lands: writes nothing.
#include "asf_sink.h"

namespace standin {
std::unique_ptr<WriterObserver> CreateAsfFileSink() { return std::make_unique<WriterObserver>(); }
}  // namespace standin
