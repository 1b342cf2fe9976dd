// The ASF file sink: an observer of the stand-in writer that writes the file named by
// SetOutputFilename as a real, playable .wmv through FFmpeg's libraries.
#pragma once

#include <memory>

#include "observer.h"

namespace standin {

// A new sink for one writing session; the writer creates one at BeginWriting when an output file
// name was set and file sinks are enabled, and drops it after OnEndWriting.
std::unique_ptr<WriterObserver> CreateAsfFileSink();

}  // namespace standin
