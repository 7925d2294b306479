#pragma once
// A game world with the collision system alone, attached with the default
// allocator and stepped by hand at 10 ms, and helpers to place bodies and
// read what the system made of them.

#include "harmonize/Settings.h"
#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AppContext.h"

#include "harmonize/Scenario.h"

#include <btBulletDynamicsCommon.h>

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

namespace harmonize::testing {

struct QueuedEvent {
    GameEventType type;
    PairEvent pair;
};

class CollisionWorld {
public:
    static constexpr u64 kStep = 10'000; // microseconds
    static constexpr f32 kStepSeconds = 0.01f;

    explicit CollisionWorld(u64 capacity = 64)
        : scene(capacity)
    {
        Settings::resetToDefaults();
        collision = new CollisionSystem(context);
        context.collision = collision;
        scene.addSystem(collision);
        world().clock.step = kStep;
    }
    ~CollisionWorld() { Settings::resetToDefaults(); }

    quern::entity::World& world() { return scene.world(); }
    void start()
    {
        world().attachSystems(nullptr);
        scene.start();
    }
    void tick(u32 count = 1) { scene.tick(count); }

    // A box of `size` at `position`, static unless it gets a mass.
    EntityHandle box(const char* name, const quern::math::Vector3& position, const quern::math::Vector3& size)
    {
        const EntityHandle e = scene.add(name, { "Transform", "Collider", "BoxShape" });
        scene.get<Transform>(e).position = position;
        scene.get<BoxShape>(e).size = size;
        return e;
    }
    EntityHandle sphere(const char* name, const quern::math::Vector3& position, f32 radius)
    {
        const EntityHandle e = scene.add(name, { "Transform", "Collider", "SphereShape" });
        scene.get<Transform>(e).position = position;
        scene.get<SphereShape>(e).radius = radius;
        return e;
    }
    void setLayer(EntityHandle e, u32 layer, u32 mode = 0)
    {
        scene.set(e, "CollisionLayer", "layer", { static_cast<f64>(layer) });
        scene.get<CollisionLayer>(e).mode = mode;
    }
    void setMass(EntityHandle e, f32 mass, const quern::math::Vector3& velocity = { 0, 0, 0 })
    {
        scene.set(e, "RigidBody", "mass", { mass });
        scene.get<RigidBody>(e).velocity = velocity;
    }
    void setTrigger(EntityHandle e) { scene.get<Collider>(e).trigger = 1; }

    // Two unit boxes overlapping along x: "a" with a mass at the origin, "b" static beside it.
    std::pair<EntityHandle, EntityHandle> touchingBoxes()
    {
        const EntityHandle a = box("a", { 0, 0, 0 }, { 1, 1, 1 });
        setMass(a, 1);
        return { a, box("b", { 0.9f, 0, 0 }, { 1, 1, 1 }) };
    }

    btRigidBody& body(EntityHandle e)
    {
        btRigidBody* found = collision->findBody(e);
        EXPECT_NE(found, nullptr);
        return *found;
    }

    std::vector<ContactPair> pairs() const
    {
        auto span = collision->contactPairs();
        return { span.begin(), span.end() };
    }
    // The state of the pair {a, b} in either order; -1 when there is none.
    i32 pairState(EntityHandle a, EntityHandle b) const
    {
        for (const ContactPair& p : collision->contactPairs())
            if ((p.entityA == a.value && p.entityB == b.value) || (p.entityA == b.value && p.entityB == a.value))
                return static_cast<i32>(p.state);
        return -1;
    }

    // Bullet's own step alone: no transforms or velocities pushed, nothing
    // dispatched; the events its contact bookkeeping queued are drained here.
    std::vector<QueuedEvent> stepBulletAlone()
    {
        collision->dynamicsWorld()->stepSimulation(kStepSeconds, 0, kStepSeconds);
        return drain();
    }
    std::vector<QueuedEvent> drain()
    {
        std::vector<QueuedEvent> events;
        GameEventQueue& queue = collision->gameEventQueue();
        while (quern::containers::EventHeader* record = queue.front()) {
            QueuedEvent event { static_cast<GameEventType>(record->type), {} };
            std::memcpy(&event.pair, GameEventQueue::payload(record), sizeof event.pair);
            events.push_back(event);
            queue.pop();
        }
        return events;
    }
    void teleport(EntityHandle e, const quern::math::Vector3& position)
    {
        btTransform t = body(e).getWorldTransform();
        t.setOrigin(btVector3(position.x, position.y, position.z));
        body(e).setWorldTransform(t);
    }

    Scenario scene;
    AppContext context;
    CollisionSystem* collision = nullptr;
};

inline bool samePair(const PairEvent& event, EntityHandle a, EntityHandle b)
{
    return (event.entityA == a.value && event.entityB == b.value) || (event.entityA == b.value && event.entityB == a.value);
}

} // namespace harmonize::testing
