#pragma once
// The steps of converting PCM data between sample formats. Every sample passes
// through a single-precision float in [-1, 1] on its way to a signed 32-bit
// value, so conversions give the same numbers whatever the source width.

#include "quern/Types.h"
#include "quern/audio/SampleFormat.h"

namespace quern::audio {

// One sample of `bytes` bytes (1 to 4) as a float in [-1, 1]: offset binary
// scaled to the full range, two's complement first moved to offset binary.
// Other widths are fatal "Unsupported number of bytes per channel".
f32 pcmToFloat(const u8* sample, u32 bytes, bool isSigned, bool bigEndian);

// value x 2^31 truncated toward zero and clamped to the signed 32-bit range,
// so +1.0 gives 2147483647.
i32 floatToSample32(f32 value);

// Fatal "Unsupported number of bytes per channel" unless samples of the
// format are whole bytes from 1 to 4; fatal "Unsupported sample format" when
// a frame is too small for one sample of every channel.
void checkReadableFormat(const SampleFormat& format);
// Fatal "Unsupported sample format" unless the format can be written: 8 or
// 16 bits, frames large enough for every channel.
void checkWritableFormat(const SampleFormat& format);

// Every sample of `frames` frames, in order, as signed 32-bit values.
void decodeSamples(const u8* data, u64 frames, const SampleFormat& format, i32* out);

// Writes `frames` frames of format.channels values each with the format's
// width, signedness and byte order.
void encodeSamples(const i32* values, u64 frames, const SampleFormat& format, u8* out);

// The frame count after a rate change: frames x newRate / oldRate, truncated.
u64 resampledFrameCount(u64 frames, u32 oldRate, u32 newRate);

// Resamples each channel of interleaved values on its own, from inFrames to
// outFrames frames. Upsampling interpolates linearly (the last value repeats
// past the end); downsampling sums the values that fall into each output
// frame and scales the sum by the rate ratio. Results round to nearest.
void resampleChannels(const i32* in, u64 inFrames, u32 channels, u32 oldRate, u32 newRate, i32* out, u64 outFrames);

// Stereo to mono: (left + right) / 2 in 64 bits, truncated toward zero.
void mixStereoToMono(const i32* in, u64 frames, i32* out);
// Mono to stereo: each value into both channels.
void spreadMonoToStereo(const i32* in, u64 frames, i32* out);

} // namespace quern::audio
