// The game camera's clamp range: computeBounds over 4096 camera rigs (view,
// projection, three screen rays, the ground plane) against the same work
// written with glm (glm::inverse, glm::unProject) on the same cameras in the
// same run, in ns per rig. Cameras turn a little about each axis and stand
// 10 to 40 in front of the ground, fixed seed.

#include "support/RatioReporter.h"

#include "harmonize/components/Components.h"
#include "harmonize/systems/GameCameraSystem.h"

#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/quaternion.hpp>
#include <glm/mat4x4.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using harmonize::CameraLens;
using harmonize::GameCameraRig;
using harmonize::Transform;
using quern::f32;
using quern::u64;
using quern::entity::World;

constexpr u64 kCameras = 4096;
constexpr harmonize::FrameSizeF kFrame { 1920.0f, 1080.0f };
constexpr harmonize::ViewportRect kViewport { 0, 0, 1920, 1080 };

struct Bounds {
    f32 minX, minY, maxX, maxY;
};

World& cameraWorld()
{
    static World* world = [] {
        auto* w = new World();
        w->allocateComponentStore(harmonize::ComponentSizeTable, harmonize::kComponentTypeCount, kCameras, nullptr);
        std::mt19937 random(36);
        std::uniform_real_distribution<f32> unit(-1.0f, 1.0f);
        for (u64 i = 0; i < kCameras; ++i) {
            const quern::entity::EntityHandle e = w->createEntity();
            for (quern::u8 type : { Transform::kType, CameraLens::kType, GameCameraRig::kType })
                w->getComponentMask(e.index()).set(type);
            Transform& t = harmonize::transformAt(*w, e.index());
            t = Transform {};
            t.position = { unit(random) * 200.0f, unit(random) * 100.0f, -25.0f + unit(random) * 15.0f };
            t.rotation = quern::math::Quaternion::fromAxisAngle(
                0.1f * unit(random), quern::math::Vector3 { unit(random), unit(random), unit(random) + 1.5f });
            auto& lens = *static_cast<CameraLens*>(w->getComponent(e.index(), CameraLens::kType));
            lens = CameraLens {};
            lens.nearPlane = 0.3f;
            lens.farPlane = 500.0f;
            lens.fieldOfView = 40.0f + unit(random) * 20.0f;
            auto& rig = *static_cast<GameCameraRig*>(w->getComponent(e.index(), GameCameraRig::kType));
            rig = GameCameraRig {};
            rig.boundsLeft = -300.0f;
            rig.boundsBottom = -100.0f;
            rig.boundsRight = 300.0f + unit(random) * 50.0f;
            rig.boundsTop = 120.0f;
            rig.offsetX = unit(random);
        }
        return w;
    }();
    return *world;
}

GameCameraRig& rigAt(World& world, u64 index)
{
    return *static_cast<GameCameraRig*>(world.getComponent(index, GameCameraRig::kType));
}

// The peer: the same clamp range from glm's matrices and unprojection.
Bounds glmBounds(World& world, u64 index)
{
    const Transform& t = harmonize::transformAt(world, index);
    const auto& lens = *static_cast<const CameraLens*>(world.getComponent(index, CameraLens::kType));
    const GameCameraRig& rig = rigAt(world, index);

    const glm::quat rotation(t.rotation.w, t.rotation.x, t.rotation.y, t.rotation.z);
    const glm::mat4 model = glm::translate(glm::mat4(1.0f), glm::vec3(t.position.x, t.position.y, t.position.z))
        * glm::scale(glm::mat4(1.0f), glm::vec3(t.scale.x, t.scale.y, -t.scale.z)) * glm::mat4_cast(rotation);
    const glm::mat4 view = glm::inverse(model);
    const f32 f = 1.0f / std::tan(lens.fieldOfView * 3.1415927f * (1.0f / 180.0f) * 0.5f);
    glm::mat4 projection(0.0f);
    projection[0][0] = 0.5625f * f;
    projection[1][1] = f;
    projection[2][2] = (lens.farPlane + lens.nearPlane) / (lens.farPlane - lens.nearPlane);
    projection[2][3] = -1.0f;
    projection[3][2] = 2.0f * lens.nearPlane * lens.farPlane / (lens.farPlane - lens.nearPlane);

    const f32 vw = static_cast<f32>(kViewport.width);
    const f32 vh = static_cast<f32>(kViewport.height);
    const glm::vec4 viewport(0.0f, 0.0f, vw, vh);
    const auto groundAt = [&](f32 sx, f32 sy) {
        // Screen y grows downwards, window y upwards.
        const f32 x = static_cast<f32>(kViewport.x) + sx;
        const f32 y = vh - (static_cast<f32>(kViewport.y) + vh - kFrame.height + sy);
        const glm::vec3 nearPoint = glm::unProject(glm::vec3(x, y, 0.0f), view, projection, viewport);
        const glm::vec3 farPoint = glm::unProject(glm::vec3(x, y, 1.0f), view, projection, viewport);
        const glm::vec3 d = glm::normalize(farPoint - nearPoint);
        return d.z == 0.0f ? glm::vec3(0.0f) : nearPoint + d * (nearPoint.z / -d.z);
    };
    const glm::vec3 topLeft = groundAt(0.0f, 0.0f);
    const glm::vec3 bottomRight = groundAt(kFrame.width, kFrame.height);
    const glm::vec3 centre = groundAt(kFrame.width * 0.5f, kFrame.height * 0.5f);
    const f32 x1 = (centre.x - topLeft.x) + rig.boundsLeft + rig.offsetX;
    const f32 x2 = rig.boundsRight - (bottomRight.x - centre.x) + rig.offsetX;
    const f32 y1 = rig.boundsBottom - (centre.y - topLeft.y) + rig.offsetY;
    const f32 y2 = (bottomRight.y - centre.y) + rig.boundsTop + rig.offsetY;
    return { std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2) };
}

void BM_ComputeBounds(benchmark::State& state)
{
    World& world = cameraWorld();
    for (auto _ : state) {
        for (u64 i = 0; i < kCameras; ++i)
            harmonize::GameCameraSystem::computeBounds(rigAt(world, i), world, kFrame, kViewport);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCameras));
}
BENCHMARK(BM_ComputeBounds)->Unit(benchmark::kMillisecond);

void BM_GlmBounds(benchmark::State& state)
{
    World& world = cameraWorld();
    std::vector<Bounds> out(kCameras);
    for (auto _ : state) {
        for (u64 i = 0; i < kCameras; ++i)
            out[i] = glmBounds(world, i);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCameras));
}
BENCHMARK(BM_GlmBounds)->Unit(benchmark::kMillisecond);

// How far the two clamp ranges lie apart, in world units.
void reportAgreement()
{
    World& world = cameraWorld();
    f32 largest = 0.0f;
    for (u64 i = 0; i < kCameras; ++i) {
        GameCameraRig& rig = rigAt(world, i);
        harmonize::GameCameraSystem::computeBounds(rig, world, kFrame, kViewport);
        const Bounds peer = glmBounds(world, i);
        for (const f32 d : { rig.clampMinX - peer.minX, rig.clampMinY - peer.minY, rig.clampMaxX - peer.maxX,
                 rig.clampMaxY - peer.maxY })
            largest = std::fmax(largest, std::fabs(d));
    }
    std::printf("largest difference between the two clamp ranges: %.2e\n", static_cast<double>(largest));
}

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_ComputeBounds") && t.count("BM_GlmBounds")) {
        const double perRig = 1e6 / static_cast<double>(kCameras);
        std::printf("computeBounds: %.1f ns per rig; glm: %.1f ns per rig\n", t["BM_ComputeBounds"] * perRig,
            t["BM_GlmBounds"] * perRig);
        std::printf("computeBounds / glm (%llu rigs): %.2fx the time\n", static_cast<unsigned long long>(kCameras),
            t["BM_ComputeBounds"] / t["BM_GlmBounds"]);
    }
    reportAgreement();
    benchmark::Shutdown();
    return 0;
}
