#pragma once
// OpenAL back ends on loopback devices: the same back end, channels, buffers
// and effects as on a sound card, but the mix is rendered on request into
// memory, so a test measures exactly what would have been heard.

#include "quern/audio/AudioBackEndRegistry.h"
#include "quern/audio/AudioDevice.h"
#include "quern/memory/Allocator.h"
#include "quern/openal/OpenALBackEnd.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <cmath>
#include <new>
#include <vector>

namespace quern::openal::testing {

inline constexpr i32 kLoopbackRate = 44100;
inline constexpr ALCint kLoopbackAttributes[] = { ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT,
    ALC_FLOAT_SOFT, ALC_FREQUENCY, kLoopbackRate, 0 };

inline ALCdevice* openLoopbackDevice(const char* name)
{
    auto open = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
    return open ? open(name) : nullptr;
}

inline audio::AudioBackEnd* createLoopbackBackEnd(const char*, memory::Allocator& allocator)
{
    void* memory = allocator.allocate(sizeof(OpenALBackEnd), 8);
    return new (memory) OpenALBackEnd(nullptr, OpenALDeviceAccess { &openLoopbackDevice, kLoopbackAttributes });
}

// Mono view of the stereo float mix of `frames` frames (the louder channel).
inline std::vector<f32> renderFrames(u64 frames)
{
    ALCdevice* device = alcGetContextsDevice(alcGetCurrentContext());
    auto render = reinterpret_cast<LPALCRENDERSAMPLESSOFT>(alcGetProcAddress(device, "alcRenderSamplesSOFT"));
    std::vector<f32> stereo(frames * 2);
    render(device, stereo.data(), static_cast<ALCsizei>(frames));
    std::vector<f32> mono(frames);
    for (u64 i = 0; i < frames; ++i)
        mono[i] = std::fabs(stereo[2 * i]) > std::fabs(stereo[2 * i + 1]) ? stereo[2 * i] : stereo[2 * i + 1];
    return mono;
}

inline std::vector<f32> renderSeconds(f64 seconds) { return renderFrames(static_cast<u64>(seconds * kLoopbackRate)); }

// An audio device whose only back end is OpenAL on a loopback device.
class LoopbackAudio {
public:
    LoopbackAudio()
    {
        registry.add("Loopback", &createLoopbackBackEnd);
        device.open();
    }
    OpenALBackEnd& backEnd() { return *static_cast<OpenALBackEnd*>(device.backEnd()); }

    audio::AudioBackEndRegistry registry;
    audio::AudioDevice device { registry };
};

// The largest absolute sample in [first, last).
inline f32 peak(const std::vector<f32>& samples, u64 first, u64 last)
{
    f32 largest = 0.0f;
    for (u64 i = first; i < last && i < samples.size(); ++i)
        largest = std::fmax(largest, std::fabs(samples[i]));
    return largest;
}

// The first and one past the last sample louder than the threshold.
inline std::pair<u64, u64> loudSpan(const std::vector<f32>& samples, f32 threshold)
{
    u64 first = samples.size(), last = 0;
    for (u64 i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) > threshold) {
            first = std::min(first, i);
            last = i + 1;
        }
    }
    return { first, last };
}

// Frequency from the rising zero crossings in [first, last).
inline f64 frequency(const std::vector<f32>& samples, u64 first, u64 last, i32 rate)
{
    u64 crossings = 0, firstCrossing = 0, lastCrossing = 0;
    for (u64 i = first + 1; i < last; ++i) {
        if (samples[i - 1] < 0.0f && samples[i] >= 0.0f) {
            if (crossings == 0)
                firstCrossing = i;
            lastCrossing = i;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0.0;
    return static_cast<f64>(crossings - 1) * rate / static_cast<f64>(lastCrossing - firstCrossing);
}

} // namespace quern::openal::testing
