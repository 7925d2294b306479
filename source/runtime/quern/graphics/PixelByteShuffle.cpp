#include "quern/graphics/PixelByteShuffle.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUERN_PIXEL_SHUFFLE_SSSE3 1
#endif

namespace quern::graphics {
namespace {

// One pixel at a time: the path for tails and for processors without byte shuffles.
void shuffleScalar(const ByteShuffle& s, const u8* in, u8* out, u64 count)
{
    for (u64 i = 0; i < count; ++i, in += s.sourceBytes, out += s.destinationBytes)
        for (u32 b = 0; b < s.destinationBytes; ++b)
            out[b] = s.from[b] == ByteShuffle::kConstant ? s.constant[b] : in[s.from[b]];
}

#if QUERN_PIXEL_SHUFFLE_SSSE3

// Four pixels per step: at most 16 bytes in and 16 out. The step loads and
// stores whole 16-byte vectors, so it runs only while 16 bytes remain on both
// sides; the scalar loop finishes the run.
__attribute__((target("ssse3"))) u64 shuffleVector(const ByteShuffle& s, const u8* in, u8* out, u64 count)
{
    alignas(16) u8 indices[16];
    alignas(16) u8 constants[16];
    for (u32 p = 0; p < 4; ++p) {
        for (u32 b = 0; b < s.destinationBytes; ++b) {
            const u32 at = p * s.destinationBytes + b;
            const bool constant = s.from[b] == ByteShuffle::kConstant;
            indices[at] = constant ? 0x80 : static_cast<u8>(p * s.sourceBytes + static_cast<u32>(s.from[b]));
            constants[at] = constant ? s.constant[b] : 0;
        }
    }
    for (u32 at = 4 * s.destinationBytes; at < 16; ++at) {
        indices[at] = 0x80;
        constants[at] = 0;
    }
    const __m128i mask = _mm_load_si128(reinterpret_cast<const __m128i*>(indices));
    const __m128i fill = _mm_load_si128(reinterpret_cast<const __m128i*>(constants));
    const u64 inStep = 4 * u64 { s.sourceBytes };
    const u64 outStep = 4 * u64 { s.destinationBytes };
    // Pixels that must remain for one more whole-vector load and store.
    const u64 needed = (16 + (s.sourceBytes < s.destinationBytes ? s.sourceBytes : s.destinationBytes) - 1)
        / (s.sourceBytes < s.destinationBytes ? s.sourceBytes : s.destinationBytes);
    u64 done = 0;
    while (count - done >= needed) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(_mm_shuffle_epi8(pixels, mask), fill));
        in += inStep;
        out += outStep;
        done += 4;
    }
    return done;
}

bool hasByteShuffle()
{
    static const bool supported = __builtin_cpu_supports("ssse3");
    return supported;
}

#endif

} // namespace

void shuffleRun(const ByteShuffle& shuffle, const u8* source, u8* destination, u64 count)
{
    u64 done = 0;
#if QUERN_PIXEL_SHUFFLE_SSSE3
    if (hasByteShuffle())
        done = shuffleVector(shuffle, source, destination, count);
#endif
    shuffleScalar(
        shuffle, source + done * shuffle.sourceBytes, destination + done * shuffle.destinationBytes, count - done);
}

} // namespace quern::graphics
