#pragma once
// What every audio back end implements: the device with its listener, the
// channels it makes, and the per-frame service of those channels.

#include "quern/Types.h"
#include "quern/math/Vector3.h"

namespace quern::audio {

class OutputChannel;
class ReverbSlot;
class SampleStream;

struct BackEndResult {
    i32 code = 0; // 0 success
    const char* message = ""; // the failure's text; empty on success
};

class AudioBackEnd {
public:
    virtual ~AudioBackEnd() = default;

    virtual BackEndResult open() = 0;
    virtual void close() = 0;
    virtual void setListenerPosition(const math::Vector3& position) = 0;
    // The "at" direction; the back end fixes the "up" direction.
    virtual void setListenerOrientation(const math::Vector3& direction) = 0;
    virtual void setListenerVelocity(const math::Vector3& velocity) = 0;
    // A new channel playing the stream, or null.
    virtual OutputChannel* createOutputChannel(SampleStream* stream) = 0;
    // Stops and destroys a channel this back end made.
    virtual void releaseOutputChannel(OutputChannel* channel) = 0;
    // Per-frame service of the listed channels.
    virtual void update(OutputChannel* const* channels, u64 count) = 0;
    // A reverb slot owned by the back end, or null when it has no effects.
    virtual ReverbSlot* createReverbSlot() { return nullptr; }
};

} // namespace quern::audio
