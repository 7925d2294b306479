// Matrix4 product and general inverse over a ring of 1,024 different matrices
// (fixed seed), in ns per operation. Beside them, the same product written as
// the plain triple loop, so the ratio shows what product() costs over it.

#include "quern/math/Matrix4.h"

#include <benchmark/benchmark.h>

#include "support/RatioReporter.h"
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using quern::f32;
using quern::math::Matrix4;

constexpr std::size_t kMatrices = 1024;

const std::vector<Matrix4>& matrices()
{
    static const std::vector<Matrix4> made = [] {
        std::vector<Matrix4> all(kMatrices);
        std::mt19937 random(17);
        std::uniform_real_distribution<f32> value(-2.0f, 2.0f);
        for (Matrix4& m : all)
            for (f32& e : m.m)
                e = value(random);
        return all;
    }();
    return made;
}

void BM_Matrix4Multiply(benchmark::State& state)
{
    const std::vector<Matrix4>& all = matrices();
    std::size_t i = 0;
    for (auto _ : state) {
        Matrix4 out = all[i] * all[(i + 1) & (kMatrices - 1)];
        benchmark::DoNotOptimize(out);
        i = (i + 1) & (kMatrices - 1);
    }
}
BENCHMARK(BM_Matrix4Multiply);

void BM_PlainLoopMultiply(benchmark::State& state)
{
    const std::vector<Matrix4>& all = matrices();
    std::size_t i = 0;
    for (auto _ : state) {
        const Matrix4& a = all[i];
        const Matrix4& b = all[(i + 1) & (kMatrices - 1)];
        Matrix4 out;
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r) {
                f32 sum = 0;
                for (int k = 0; k < 4; ++k)
                    sum += a.m[k * 4 + r] * b.m[c * 4 + k];
                out.m[c * 4 + r] = sum;
            }
        benchmark::DoNotOptimize(out);
        i = (i + 1) & (kMatrices - 1);
    }
}
BENCHMARK(BM_PlainLoopMultiply);

void BM_Matrix4Inverse(benchmark::State& state)
{
    const std::vector<Matrix4>& all = matrices();
    std::size_t i = 0;
    for (auto _ : state) {
        Matrix4 out = all[i].inverse();
        benchmark::DoNotOptimize(out);
        i = (i + 1) & (kMatrices - 1);
    }
}
BENCHMARK(BM_Matrix4Inverse);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    for (const char* name : { "BM_Matrix4Multiply", "BM_PlainLoopMultiply", "BM_Matrix4Inverse" })
        if (t.count(name))
            std::printf("%s: %.1f ns\n", name, t[name]);
    if (t.count("BM_Matrix4Multiply") && t.count("BM_PlainLoopMultiply"))
        std::printf("Matrix4 product time / plain triple loop time: %.2fx\n",
            t["BM_Matrix4Multiply"] / t["BM_PlainLoopMultiply"]);
    benchmark::Shutdown();
    return 0;
}
