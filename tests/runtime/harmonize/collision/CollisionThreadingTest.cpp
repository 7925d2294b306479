// Queries from other threads while the world steps: the system's lock keeps
// them off the step and off each other. Run under ThreadSanitizer too.

#include "CollisionWorld.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace harmonize;
using harmonize::testing::CollisionWorld;
using quern::containers::Array;

namespace {

TEST(CollisionThreading, QueriesFromSeveralThreadsNeverMeetTheStep)
{
    CollisionWorld w(128);
    // A row of boxes sliding to and fro over a floor of still ones.
    std::vector<EntityHandle> movers;
    for (int i = 0; i < 40; ++i) {
        const f32 x = static_cast<f32>(i) * 2.0f;
        w.box("floor", { x, -1, 0 }, { 2, 1, 2 });
        const EntityHandle mover = w.box("mover", { x, 0, 0 }, { 1, 1, 1 });
        w.setMass(mover, 1, { (i % 2) ? 1.0f : -1.0f, 0, 0 });
        w.setLayer(mover, 8);
        movers.push_back(mover);
    }
    w.start();

    std::atomic<bool> stepping { true };
    std::atomic<u64> hits { 0 };
    auto query = [&](int kind) {
        Array found(sizeof(CollisionHit), alignof(CollisionHit));
        while (stepping.load(std::memory_order_acquire)) {
            CollisionHit hit {};
            found.clear();
            bool any = false;
            switch (kind) {
            case 0: any = w.collision->rayCast({ -5, -1, 0 }, { 1, 0, 0 }, hit); break;
            case 1: any = w.collision->rayCastAll({ -5, 0, 0 }, { 1, 0, 0 }, found, 100); break;
            case 2: any = w.collision->sphereCast({ -5, 0, 0 }, 0.3f, { 1, 0, 0 }, hit, 100); break;
            default: any = w.collision->sphereCastAll({ -5, -1, 0 }, 0.0f, { 1, 0, 0 }, found, 100); break;
            }
            hits.fetch_add(any ? 1 : 0, std::memory_order_relaxed);
        }
    };
    std::vector<std::thread> threads;
    for (int kind = 0; kind < 4; ++kind)
        threads.emplace_back(query, kind);
    for (int tick = 0; tick < 150; ++tick) {
        for (int i = 0; i < 40; ++i)
            w.scene.get<RigidBody>(movers[static_cast<size_t>(i)]).velocity.x = (tick / 30 + i) % 2 ? 1.0f : -1.0f;
        w.tick();
    }
    stepping.store(false, std::memory_order_release);
    for (std::thread& t : threads)
        t.join();
    EXPECT_GT(hits.load(), 0u);
    EXPECT_FALSE(w.pairs().empty());
}

} // namespace
