#pragma once
// The PCM layout of a sample stream: how many channels, how fast, how wide and
// in which byte order the samples come.

#include "quern/Types.h"

#include <string>

namespace quern::audio {

struct SampleFormat {
    u32 channels = 0; // 1 mono, 2 stereo, more allowed
    u32 sampleRate = 0; // Hz
    u32 bitsPerSample = 0;
    u8 isSigned = 0; // 1 two's complement, 0 offset binary
    u64 bytesPerFrame = 0; // one sample of every channel
    u32 bigEndian = 0; // non-zero: most significant byte first

    // Channels, rate and frame size all known: the data can be measured and played.
    bool isComplete() const { return channels != 0 && sampleRate != 0 && bytesPerFrame != 0; }
};

// "44100Hz, 16bit, stereo"; "mono" for one channel, "<n> channels" for more.
std::string formatText(const SampleFormat& format);

} // namespace quern::audio
