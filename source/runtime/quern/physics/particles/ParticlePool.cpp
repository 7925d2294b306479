#include "quern/physics/particles/ParticlePool.h"

#include "quern/graphics/BatchVertex.h"
#include "quern/memory/Allocator.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// GCC and clang compile AVX2 code for x86 in functions of their own; such
// processors take it when they have it, others the SSE2 code.
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUERN_PARTICLES_AVX2 1
#endif

namespace quern::particles {

namespace {

f32* allocateChannel(memory::Allocator* allocator, u64 n, u64 floatsPerParticle)
{
    return static_cast<f32*>(allocator->allocate(n * floatsPerParticle * sizeof(f32), 16));
}

} // namespace

void ParticlePool::init(memory::Allocator* owner, u64 n, bool withTextureRectangles)
{
    allocator = owner;
    count = 0;
    capacity = n;
    for (f32** channel : { &x, &y, &z, &vx, &vy, &vz, &size, &rotation, &spin, &r, &g, &b, &a, &lifetime, &remaining })
        *channel = allocateChannel(allocator, n, 1);
    indices = static_cast<u32*>(allocator->allocate(n * sizeof(u32), 16));
    for (u64 i = 0; i < n; ++i)
        indices[i] = static_cast<u32>(i);
    uvRects = withTextureRectangles ? allocateChannel(allocator, n, 4) : nullptr;
}

void ParticlePool::release()
{
    if (!allocator)
        return;
    for (f32** channel :
        { &x, &y, &z, &vx, &vy, &vz, &size, &rotation, &spin, &r, &g, &b, &a, &uvRects, &lifetime, &remaining }) {
        allocator->free(*channel);
        *channel = nullptr;
    }
    allocator->free(indices);
    indices = nullptr;
    count = 0;
    capacity = 0;
}

namespace {

constexpr f32 kPlainRect[4] = { 0, 0, 1, 1 };

// One particle's quad: corner (cx, cy) = (+-0.5, +-0.5) turned and scaled,
// through two half-axis vectors.
inline void writeQuad(const ParticlePool& p, u64 i, graphics::BatchVertex* out)
{
    f32 s, c;
    fastSinCos(p.rotation[i], s, c);
    const f32 h = 0.5f * p.size[i];
    const f32 ax = c * h, ay = s * h; // (0.5, 0) turned
    const f32 bx = -s * h, by = c * h; // (0, 0.5) turned
    const f32 px = p.x[i], py = p.y[i];
    const f32* rect = p.uvRects ? p.uvRects + i * 4 : kPlainRect;
    const f32 corners[4][4] = {
        { px - ax - bx, py - ay - by, rect[0], rect[1] },
        { px + ax - bx, py + ay - by, rect[2], rect[1] },
        { px + ax + bx, py + ay + by, rect[2], rect[3] },
        { px - ax + bx, py - ay + by, rect[0], rect[3] },
    };
    u8 colour[4];
    graphics::packColour(colour, p.r[i], p.g[i], p.b[i], p.a[i]);
    for (const f32* corner : corners) {
        graphics::BatchVertex& v = *out++;
        v.x = corner[0];
        v.y = corner[1];
        v.z = p.z[i];
        std::memcpy(v.colour, colour, 4);
        v.u = corner[2];
        v.v = corner[3];
    }
}

#if defined(__SSE2__)

// The lanes of `a` where `mask` is set, else those of `b`.
inline __m128 select(__m128 mask, __m128 a, __m128 b) { return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b)); }

// fastSinCos on four angles, lane for lane the same operations in the same
// order, so the same bits.
inline void fastSinCos4(__m128 angle, __m128& sine, __m128& cosine)
{
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 turns = _mm_mul_ps(angle, _mm_set1_ps(0.15915494f));
    const __m128 whole = _mm_cvtepi32_ps(_mm_cvttps_epi32(turns));
    const __m128 rest = _mm_sub_ps(turns, whole);
    const __m128 up = _mm_and_ps(_mm_cmpge_ps(rest, _mm_set1_ps(0.5f)), one);
    const __m128 down = _mm_and_ps(_mm_cmple_ps(rest, _mm_set1_ps(-0.5f)), one);
    const __m128 k = _mm_sub_ps(_mm_add_ps(whole, up), down);
    __m128 x = _mm_sub_ps(angle, _mm_mul_ps(k, _mm_set1_ps(6.2831855f)));
    const __m128 above = _mm_cmpgt_ps(x, _mm_set1_ps(1.5707964f));
    const __m128 below = _mm_cmplt_ps(x, _mm_set1_ps(-1.5707964f));
    x = select(above, _mm_sub_ps(_mm_set1_ps(3.1415927f), x), x);
    x = select(below, _mm_sub_ps(_mm_set1_ps(-3.1415927f), x), x);
    const __m128 sign = select(_mm_or_ps(above, below), _mm_set1_ps(-1.0f), one);
    const __m128 c = _mm_mul_ps(x, x);
    const auto term = [&c](__m128 inner, f32 coefficient) {
        return _mm_add_ps(_mm_set1_ps(coefficient), _mm_mul_ps(c, inner));
    };
    __m128 sinePoly = _mm_sub_ps(_mm_set1_ps(2.7525562e-6f), _mm_mul_ps(c, _mm_set1_ps(2.3889859e-8f)));
    sinePoly = term(term(term(term(sinePoly, -0.00019840874f), 0.008333331f), -0.16666667f), 1.0f);
    sine = _mm_mul_ps(x, sinePoly);
    __m128 cosinePoly = _mm_sub_ps(_mm_set1_ps(2.4760495e-5f), _mm_mul_ps(c, _mm_set1_ps(2.6051615e-7f)));
    cosinePoly = term(term(term(term(cosinePoly, -0.0013888378f), 0.041666638f), -0.5f), 1.0f);
    cosine = _mm_mul_ps(sign, cosinePoly);
}

// graphics::colourByte on four channels, the bytes in the low bits of the lanes.
inline __m128i colourBytes4(__m128 c)
{
    const __m128d scale = _mm_set1_pd(255.0), bias = _mm_set1_pd(256.5);
    const __m128i low = _mm_srli_epi64(_mm_castpd_si128(_mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(c), scale), bias)), 44);
    const __m128i high = _mm_srli_epi64(
        _mm_castpd_si128(_mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(c, c)), scale), bias)), 44);
    const __m128i lanes = _mm_unpacklo_epi64(
        _mm_shuffle_epi32(low, _MM_SHUFFLE(3, 1, 2, 0)), _mm_shuffle_epi32(high, _MM_SHUFFLE(3, 1, 2, 0)));
    return _mm_and_si128(lanes, _mm_set1_epi32(0xff));
}

// Half `H` (0: lanes 0-1, 1: lanes 2-3) of `a`, then half `K` of `b`.
template <int H, int K> inline __m128 halves(__m128 a, __m128 b)
{
    return _mm_shuffle_ps(a, b, _MM_SHUFFLE(2 * K + 1, 2 * K, 2 * H + 1, 2 * H));
}

// The four vertices of one particle as six 16-byte stores: x y z colour of a
// corner, then its u v with the next corner's x y, and so on. `xy` holds the
// corners' (x, y) and `zc` the (z, colour) of this particle in half `H`;
// `rect` is u0 v0 u1 v1 and `turned` u1 v0 u0 v1.
template <int H>
__attribute__((always_inline)) inline void writeParticle(f32* to, const __m128 xy[4], __m128 zc, __m128 rect, __m128 turned)
{
    _mm_storeu_ps(to + 0, halves<H, H>(xy[0], zc));
    _mm_storeu_ps(to + 4, halves<0, H>(rect, xy[1]));
    _mm_storeu_ps(to + 8, halves<H, 0>(zc, turned));
    _mm_storeu_ps(to + 12, halves<H, H>(xy[2], zc));
    _mm_storeu_ps(to + 16, halves<1, H>(rect, xy[3]));
    _mm_storeu_ps(to + 20, halves<H, 1>(zc, turned));
}

// Four particles' corners and their (z, colour), in lanes.
struct Quads4 {
    __m128 cornerX[4], cornerY[4];
    __m128 z;
    __m128 colour; // the four colour bytes of each lane
};

// The four particles from `i` on, paired up per particle for the stores.
// Always inlined: the eight-lane code calls it too, and a call would send
// the lanes through memory.
__attribute__((always_inline)) inline void storeQuads4(const Quads4& q, const ParticlePool& p, u64 i, graphics::BatchVertex* out)
{
    __m128 xyLow[4], xyHigh[4]; // particles 0 and 1, 2 and 3
    for (int k = 0; k < 4; ++k) {
        xyLow[k] = _mm_unpacklo_ps(q.cornerX[k], q.cornerY[k]);
        xyHigh[k] = _mm_unpackhi_ps(q.cornerX[k], q.cornerY[k]);
    }
    const __m128 zcLow = _mm_unpacklo_ps(q.z, q.colour); // z0 c0 z1 c1
    const __m128 zcHigh = _mm_unpackhi_ps(q.z, q.colour); // z2 c2 z3 c3
    __m128 rects[4];
    for (int lane = 0; lane < 4; ++lane)
        rects[lane] = _mm_loadu_ps(p.uvRects ? p.uvRects + (i + static_cast<u64>(lane)) * 4 : kPlainRect);
    f32* const to = &out->x; // 24 floats a particle
    writeParticle<0>(to + 0, xyLow, zcLow, rects[0], _mm_shuffle_ps(rects[0], rects[0], _MM_SHUFFLE(3, 0, 1, 2)));
    writeParticle<1>(to + 24, xyLow, zcLow, rects[1], _mm_shuffle_ps(rects[1], rects[1], _MM_SHUFFLE(3, 0, 1, 2)));
    writeParticle<0>(to + 48, xyHigh, zcHigh, rects[2], _mm_shuffle_ps(rects[2], rects[2], _MM_SHUFFLE(3, 0, 1, 2)));
    writeParticle<1>(to + 72, xyHigh, zcHigh, rects[3], _mm_shuffle_ps(rects[3], rects[3], _MM_SHUFFLE(3, 0, 1, 2)));
}

// Four particles from `i` on, turned by sines `s` and cosines `c`.
inline void writeQuads4(const ParticlePool& p, u64 i, __m128 s, __m128 c, graphics::BatchVertex* out)
{
    const __m128 h = _mm_mul_ps(_mm_set1_ps(0.5f), _mm_loadu_ps(p.size + i));
    const __m128 ax = _mm_mul_ps(c, h), ay = _mm_mul_ps(s, h);
    const __m128 bx = _mm_mul_ps(_mm_xor_ps(s, _mm_set1_ps(-0.0f)), h), by = _mm_mul_ps(c, h);
    const __m128 px = _mm_loadu_ps(p.x + i), py = _mm_loadu_ps(p.y + i);
    const __m128i colour = _mm_or_si128(
        _mm_or_si128(colourBytes4(_mm_loadu_ps(p.r + i)), _mm_slli_epi32(colourBytes4(_mm_loadu_ps(p.g + i)), 8)),
        _mm_or_si128(_mm_slli_epi32(colourBytes4(_mm_loadu_ps(p.b + i)), 16),
            _mm_slli_epi32(colourBytes4(_mm_loadu_ps(p.a + i)), 24)));
    const Quads4 q {
        { _mm_sub_ps(_mm_sub_ps(px, ax), bx), _mm_sub_ps(_mm_add_ps(px, ax), bx), _mm_add_ps(_mm_add_ps(px, ax), bx),
            _mm_add_ps(_mm_sub_ps(px, ax), bx) },
        { _mm_sub_ps(_mm_sub_ps(py, ay), by), _mm_sub_ps(_mm_add_ps(py, ay), by), _mm_add_ps(_mm_add_ps(py, ay), by),
            _mm_add_ps(_mm_sub_ps(py, ay), by) },
        _mm_loadu_ps(p.z + i),
        _mm_castsi128_ps(colour),
    };
    storeQuads4(q, p, i, out);
}

#if defined(QUERN_PARTICLES_AVX2)

// The eight-lane forms of the above, for processors with AVX2: the same
// operations lane for lane, so the same bits.
#define QUERN_AVX2 __attribute__((target("avx2")))

QUERN_AVX2 inline __m256 select8(__m256 mask, __m256 a, __m256 b) { return _mm256_blendv_ps(b, a, mask); }

// coefficient + c * inner
QUERN_AVX2 inline __m256 term8(__m256 c, __m256 inner, f32 coefficient)
{
    return _mm256_add_ps(_mm256_set1_ps(coefficient), _mm256_mul_ps(c, inner));
}

QUERN_AVX2 inline void fastSinCos8(__m256 angle, __m256& sine, __m256& cosine)
{
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 turns = _mm256_mul_ps(angle, _mm256_set1_ps(0.15915494f));
    const __m256 whole = _mm256_cvtepi32_ps(_mm256_cvttps_epi32(turns));
    const __m256 rest = _mm256_sub_ps(turns, whole);
    const __m256 up = _mm256_and_ps(_mm256_cmp_ps(rest, _mm256_set1_ps(0.5f), _CMP_GE_OQ), one);
    const __m256 down = _mm256_and_ps(_mm256_cmp_ps(rest, _mm256_set1_ps(-0.5f), _CMP_LE_OQ), one);
    const __m256 k = _mm256_sub_ps(_mm256_add_ps(whole, up), down);
    __m256 x = _mm256_sub_ps(angle, _mm256_mul_ps(k, _mm256_set1_ps(6.2831855f)));
    const __m256 above = _mm256_cmp_ps(x, _mm256_set1_ps(1.5707964f), _CMP_GT_OQ);
    const __m256 below = _mm256_cmp_ps(x, _mm256_set1_ps(-1.5707964f), _CMP_LT_OQ);
    x = select8(above, _mm256_sub_ps(_mm256_set1_ps(3.1415927f), x), x);
    x = select8(below, _mm256_sub_ps(_mm256_set1_ps(-3.1415927f), x), x);
    const __m256 sign = select8(_mm256_or_ps(above, below), _mm256_set1_ps(-1.0f), one);
    const __m256 c = _mm256_mul_ps(x, x);
    __m256 sinePoly = _mm256_sub_ps(_mm256_set1_ps(2.7525562e-6f), _mm256_mul_ps(c, _mm256_set1_ps(2.3889859e-8f)));
    sinePoly = term8(c, term8(c, term8(c, term8(c, sinePoly, -0.00019840874f), 0.008333331f), -0.16666667f), 1.0f);
    sine = _mm256_mul_ps(x, sinePoly);
    __m256 cosinePoly
        = _mm256_sub_ps(_mm256_set1_ps(2.4760495e-5f), _mm256_mul_ps(c, _mm256_set1_ps(2.6051615e-7f)));
    cosinePoly = term8(c, term8(c, term8(c, term8(c, cosinePoly, -0.0013888378f), 0.041666638f), -0.5f), 1.0f);
    cosine = _mm256_mul_ps(sign, cosinePoly);
}

// colourByte on eight channels, shifted up by `shift` bits within the lanes.
QUERN_AVX2 inline __m256i colourBytes8(__m256 c, int shift)
{
    const __m256d scale = _mm256_set1_pd(255.0), bias = _mm256_set1_pd(256.5);
    const __m256i low = _mm256_srli_epi64(
        _mm256_castpd_si256(_mm256_add_pd(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(c)), scale), bias)),
        44);
    const __m256i high = _mm256_srli_epi64(
        _mm256_castpd_si256(_mm256_add_pd(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(c, 1)), scale), bias)),
        44);
    // The low halves of the 64-bit lanes, in order, into the eight lanes.
    const __m256i evens = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    const __m256i lanes = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(low, evens),
        _mm256_permutevar8x32_epi32(high, evens), 0xf0);
    return _mm256_sll_epi32(_mm256_and_si256(lanes, _mm256_set1_epi32(0xff)), _mm_cvtsi32_si128(shift));
}

QUERN_AVX2 inline __m256 load8(const f32* from) { return _mm256_loadu_ps(from); }

// Eight particles from `i` on, turned by sines `s` and cosines `c`: corners
// and colours in eight lanes, stored four particles at a time.
QUERN_AVX2 __attribute__((always_inline)) inline void writeQuads8(
    const ParticlePool& p, u64 i, __m256 s, __m256 c, graphics::BatchVertex* out)
{
    const __m256 h = _mm256_mul_ps(_mm256_set1_ps(0.5f), load8(p.size + i));
    const __m256 ax = _mm256_mul_ps(c, h), ay = _mm256_mul_ps(s, h);
    const __m256 bx = _mm256_mul_ps(_mm256_xor_ps(s, _mm256_set1_ps(-0.0f)), h), by = _mm256_mul_ps(c, h);
    const __m256 px = load8(p.x + i), py = load8(p.y + i);
    const __m256 cornerX[4] = { _mm256_sub_ps(_mm256_sub_ps(px, ax), bx), _mm256_sub_ps(_mm256_add_ps(px, ax), bx),
        _mm256_add_ps(_mm256_add_ps(px, ax), bx), _mm256_add_ps(_mm256_sub_ps(px, ax), bx) };
    const __m256 cornerY[4] = { _mm256_sub_ps(_mm256_sub_ps(py, ay), by), _mm256_sub_ps(_mm256_add_ps(py, ay), by),
        _mm256_add_ps(_mm256_add_ps(py, ay), by), _mm256_add_ps(_mm256_sub_ps(py, ay), by) };
    const __m256 z = load8(p.z + i);
    const __m256 colour = _mm256_castsi256_ps(
        _mm256_or_si256(_mm256_or_si256(colourBytes8(load8(p.r + i), 0), colourBytes8(load8(p.g + i), 8)),
            _mm256_or_si256(colourBytes8(load8(p.b + i), 16), colourBytes8(load8(p.a + i), 24))));
    Quads4 low, high;
    for (int k = 0; k < 4; ++k) {
        low.cornerX[k] = _mm256_castps256_ps128(cornerX[k]);
        high.cornerX[k] = _mm256_extractf128_ps(cornerX[k], 1);
        low.cornerY[k] = _mm256_castps256_ps128(cornerY[k]);
        high.cornerY[k] = _mm256_extractf128_ps(cornerY[k], 1);
    }
    low.z = _mm256_castps256_ps128(z);
    high.z = _mm256_extractf128_ps(z, 1);
    low.colour = _mm256_castps256_ps128(colour);
    high.colour = _mm256_extractf128_ps(colour, 1);
    storeQuads4(low, p, i, out);
    storeQuads4(high, p, i + 4, out + 16);
}

// Whole blocks of eight from `i` on; returns where they ended.
QUERN_AVX2 u64 writeBlocksOf8(const ParticlePool& p, u64 i, graphics::BatchVertex*& out)
{
    // A chunk's polynomials come first, in a loop of their own, where the
    // processor overlaps their long chains best.
    constexpr u64 kChunk = 64;
    alignas(32) f32 sines[kChunk], cosines[kChunk];
    while (i + 8 <= p.count) {
        const u64 chunk = (p.count - i) / 8 * 8 < kChunk ? (p.count - i) / 8 * 8 : kChunk;
        for (u64 j = 0; j < chunk; j += 8) {
            __m256 s, c;
            fastSinCos8(load8(p.rotation + i + j), s, c);
            _mm256_store_ps(sines + j, s);
            _mm256_store_ps(cosines + j, c);
        }
        for (u64 j = 0; j < chunk; j += 8, out += 32)
            writeQuads8(p, i + j, _mm256_load_ps(sines + j), _mm256_load_ps(cosines + j), out);
        i += chunk;
    }
    return i;
}

#undef QUERN_AVX2

#endif

#endif

} // namespace

void ParticlePool::buildQuads(graphics::BatchVertex* out) const
{
    u64 i = 0;
#if defined(QUERN_PARTICLES_AVX2)
    static const bool kAvx2 = __builtin_cpu_supports("avx2");
    if (kAvx2)
        i = writeBlocksOf8(*this, i, out);
#endif
#if defined(__SSE2__)
    // Particle rotations are random, so the angles go four (or eight) at a
    // time through branch-free vector code; the last few take the
    // one-particle path, which gives the same bits.
    for (; i + 4 <= count; i += 4, out += 16) {
        __m128 s, c;
        fastSinCos4(_mm_loadu_ps(rotation + i), s, c);
        writeQuads4(*this, i, s, c, out);
    }
#endif
    for (; i < count; ++i, out += 4)
        writeQuad(*this, i, out);
}

} // namespace quern::particles
