// The camera's view inverse: invertInPlace over 1M matrices against
// glm::inverse over the same matrices in the same run, in ns per matrix. The
// matrices are camera poses (turn, scale with the flipped z, translation)
// with some general ones mixed in, fixed seed.

#include "support/RatioReporter.h"

#include "harmonize/utils/MathUtils.h"

#include "quern/math/Quaternion.h"

#include <benchmark/benchmark.h>

#include <glm/gtc/type_ptr.hpp>
#include <glm/mat4x4.hpp>
#include <glm/matrix.hpp>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using quern::f32;
using quern::math::Matrix4;

constexpr std::size_t kMatrices = 1 << 20;

Matrix4 cameraPose(std::mt19937& random)
{
    std::uniform_real_distribution<f32> unit(-1.0f, 1.0f);
    const quern::math::Vector3 axis { unit(random), unit(random), unit(random) + 1.5f };
    Matrix4 m = quern::math::Quaternion::fromAxisAngle(unit(random) * 3.0f, axis).toMatrix4();
    const f32 scale[3] = { 1.0f + unit(random) * 0.5f, 1.0f + unit(random) * 0.5f, -(1.0f + unit(random) * 0.5f) };
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            m.m[c * 4 + r] *= scale[c];
    m.m[12] = unit(random) * 100.0f;
    m.m[13] = unit(random) * 100.0f;
    m.m[14] = 10.0f + unit(random) * 5.0f;
    return m;
}

Matrix4 generalMatrix(std::mt19937& random)
{
    std::uniform_real_distribution<f32> value(-2.0f, 2.0f);
    Matrix4 m;
    for (f32& e : m.m)
        e = value(random);
    return m;
}

const std::vector<Matrix4>& matrices()
{
    static const std::vector<Matrix4> made = [] {
        std::mt19937 random(23);
        std::vector<Matrix4> all(kMatrices);
        for (std::size_t i = 0; i < kMatrices; ++i)
            all[i] = i % 8 == 7 ? generalMatrix(random) : cameraPose(random);
        return all;
    }();
    return made;
}

// The same matrices in glm's type; both are column-major, so the bytes match.
const std::vector<glm::mat4>& glmMatrices()
{
    static const std::vector<glm::mat4> made = [] {
        std::vector<glm::mat4> all;
        all.reserve(kMatrices);
        for (const Matrix4& m : matrices())
            all.push_back(glm::make_mat4(m.m));
        return all;
    }();
    return made;
}

void BM_InvertInPlace(benchmark::State& state)
{
    std::vector<Matrix4> work = matrices();
    for (auto _ : state) {
        for (Matrix4& m : work)
            harmonize::invertInPlace(m);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kMatrices));
}
BENCHMARK(BM_InvertInPlace)->Unit(benchmark::kMillisecond);

void BM_GlmInverse(benchmark::State& state)
{
    std::vector<glm::mat4> work = glmMatrices();
    for (auto _ : state) {
        for (glm::mat4& m : work)
            m = glm::inverse(m);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kMatrices));
}
BENCHMARK(BM_GlmInverse)->Unit(benchmark::kMillisecond);

// How far the two inverses of the same matrix lie apart, relative to the
// largest element of glm's.
void reportAgreement()
{
    double largest = 0.0;
    for (std::size_t i = 0; i < kMatrices; i += 64) {
        Matrix4 ours = matrices()[i];
        harmonize::invertInPlace(ours);
        const glm::mat4 peer = glm::inverse(glmMatrices()[i]);
        const f32* theirs = &peer[0][0];
        f32 scale = 0.0f;
        f32 difference = 0.0f;
        for (int e = 0; e < 16; ++e) {
            scale = std::fmax(scale, std::fabs(theirs[e]));
            difference = std::fmax(difference, std::fabs(ours.m[e] - theirs[e]));
        }
        largest = std::fmax(largest, static_cast<double>(difference / scale));
    }
    std::printf("largest relative difference between the two inverses: %.2e\n", largest);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_InvertInPlace") && t.count("BM_GlmInverse")) {
        // The reporter keeps milliseconds per pass; a pass inverts every matrix.
        const double perMatrix = 1e6 / static_cast<double>(kMatrices);
        std::printf("invertInPlace: %.2f ns per matrix; glm::inverse: %.2f ns per matrix\n",
            t["BM_InvertInPlace"] * perMatrix, t["BM_GlmInverse"] * perMatrix);
        std::printf("invertInPlace / glm::inverse (%zu matrices): %.2fx the time\n", kMatrices,
            t["BM_InvertInPlace"] / t["BM_GlmInverse"]);
    }
    reportAgreement();
    benchmark::Shutdown();
    return 0;
}
