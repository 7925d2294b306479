#include "quern/audio/OutputChannel.h"

#include "quern/audio/SampleStream.h"
#include "quern/platform/ErrorReporting.h"

namespace quern::audio {

void OutputChannel::open(BufferMode mode)
{
    switch (mode) {
    case BufferMode::Streaming:
        openBuffer(true);
        return;
    case BufferMode::Static:
        openBuffer(false);
        return;
    case BufferMode::Auto:
        openBuffer(m_stream->cachedDuration() > kAutoStreamingSeconds);
        return;
    }
    QUERN_FATAL_INVALID_ENUM("BufferMode");
}

} // namespace quern::audio
