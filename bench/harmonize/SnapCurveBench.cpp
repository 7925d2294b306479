// The snap path's closest-point query against a hand-written Newton solve in
// the same run: closestPointOnQuadratic (46 even samples, then the middle of
// the two best) over 4,096 curves and points laid out as snap pairs are,
// against Newton's method on d/dt |B(t) - S|^2 = 0 from the chord's
// projection, four steps clamped to [0, 1], over the same queries.

#include "support/RatioReporter.h"

#include "harmonize/extensions/SnapboxClusterExt.h"

#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

using namespace harmonize;

namespace {

constexpr u64 kQueries = 4096;
constexpr int kNewtonSteps = 4;

struct Query {
    Vec2f p0, p1, p2, s;
};

// Pairs of boxes 2 apart, straight or turned by up to a quarter, with the
// player within a unit of the path.
const std::vector<Query>& queries()
{
    static const std::vector<Query> list = [] {
        std::mt19937 random(11);
        std::uniform_real_distribution<f32> unit(-1.0f, 1.0f);
        std::vector<Query> out;
        for (u64 i = 0; i < kQueries; ++i) {
            const Vec2f p0 { unit(random) * 20.0f, unit(random) * 20.0f };
            const Vec2f along = normalize({ 1.0f, unit(random) * 0.2f });
            const Vec2f p2 = p0 + rotated(along * 2.0f, unit(random) * 0.8f);
            const Vec2f p1 = p0 + along * (1.0f + unit(random) * 0.3f);
            const Vec2f s = pointOnQuadratic(p0, p1, p2, (unit(random) + 1.0f) * 0.5f)
                + Vec2f { unit(random), unit(random) } * 0.5f;
            out.push_back({ p0, p1, p2, s });
        }
        return out;
    }();
    return list;
}

CurvePoint newtonClosestPoint(Vec2f p0, Vec2f p1, Vec2f p2, Vec2f s)
{
    const Vec2f a = p1 - p0;
    const Vec2f b = p0 - p1 * 2.0f + p2;
    const Vec2f d = p0 - s;
    const Vec2f chord = p2 - p0;
    const f32 chordLength = dot(chord, chord);
    f32 t = chordLength > 0.0f ? std::clamp(dot(s - p0, chord) / chordLength, 0.0f, 1.0f) : 0.0f;
    for (int step = 0; step < kNewtonSteps; ++step) {
        const Vec2f offset = d + a * (2.0f * t) + b * (t * t); // B(t) - S
        const Vec2f tangent = a + b * t; // B'(t) / 2
        const f32 slope = dot(offset, tangent);
        const f32 curvature = 2.0f * dot(tangent, tangent) + dot(offset, b);
        if (curvature <= 0.0f)
            break;
        t = std::clamp(t - slope / curvature, 0.0f, 1.0f);
    }
    return { pointOnQuadratic(p0, p1, p2, t), t };
}

void BM_ClosestPointOnQuadratic(benchmark::State& state)
{
    const std::vector<Query>& list = queries();
    for (auto _ : state)
        for (const Query& q : list)
            benchmark::DoNotOptimize(closestPointOnQuadratic(q.p0, q.p1, q.p2, q.s));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kQueries));
}
BENCHMARK(BM_ClosestPointOnQuadratic)->Unit(benchmark::kMicrosecond);

void BM_NewtonClosestPoint(benchmark::State& state)
{
    const std::vector<Query>& list = queries();
    for (auto _ : state)
        for (const Query& q : list)
            benchmark::DoNotOptimize(newtonClosestPoint(q.p0, q.p1, q.p2, q.s));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kQueries));
}
BENCHMARK(BM_NewtonClosestPoint)->Unit(benchmark::kMicrosecond);

// How far the two answers lie apart on the curve: the sampled answer is the
// middle of two samples, so up to about 1/45 in t.
void reportAgreement()
{
    f32 largest = 0.0f;
    for (const Query& q : queries()) {
        const f32 sampled = closestPointOnQuadratic(q.p0, q.p1, q.p2, q.s).t;
        const f32 newton = newtonClosestPoint(q.p0, q.p1, q.p2, q.s).t;
        largest = std::max(largest, std::abs(sampled - newton));
    }
    std::printf("largest difference in t between the two answers: %.4f\n", static_cast<double>(largest));
}

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_ClosestPointOnQuadratic") && t.count("BM_NewtonClosestPoint")) {
        // The reporter keeps microseconds per iteration; an iteration runs every query.
        const double perQuery = 1e3 / static_cast<double>(kQueries);
        std::printf("closestPointOnQuadratic: %.1f ns per query; Newton solve: %.1f ns per query\n",
            t["BM_ClosestPointOnQuadratic"] * perQuery, t["BM_NewtonClosestPoint"] * perQuery);
        std::printf("closestPointOnQuadratic / Newton solve (%llu queries): %.2fx the time\n",
            static_cast<unsigned long long>(kQueries), t["BM_ClosestPointOnQuadratic"] / t["BM_NewtonClosestPoint"]);
    }
    reportAgreement();
    benchmark::Shutdown();
    return 0;
}
