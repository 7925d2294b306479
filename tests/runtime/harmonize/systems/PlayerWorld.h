#pragma once
// A level world with the player's systems (input, animation, coroutines,
// movement) and helpers that place a player, snap-box clusters and input.
// Stepped by hand at 10 ms; no physics: tests move bodies themselves.

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/input/InputActions.h"
#include "harmonize/input/InputBindings.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/InputSystem.h"
#include "harmonize/systems/MovementSystem.h"
#include "harmonize/systems/TransformHierarchySystem.h"

#include "harmonize/RecordingPlatformServices.h"
#include "harmonize/Scenario.h"

#include "quern/input/InputEvent.h"

#include <vector>

namespace harmonize::testing {

class PlayerWorld {
public:
    static constexpr u64 kStep = 10'000; // microseconds

    explicit PlayerWorld(u64 capacity = 96)
        : scene(capacity)
    {
        Settings::resetToDefaults();
        parseBindings(Settings::Input);
        switcher.bindContexts();
        context.services.inputSwitcher = &switcher;
        context.services.platformServices = &platform;
        context.transformHierarchy = new TransformHierarchySystem();
        context.input = new InputSystem(context);
        context.animation = new AnimationSystem(context);
        context.coroutine = new CoroutineSystem(context);
        context.movement = new MovementSystem(context);
        scene.addSystem(context.transformHierarchy);
        scene.addSystem(context.input);
        scene.addSystem(context.animation);
        scene.addSystem(context.coroutine);
        scene.addSystem(context.movement);
        world().clock.step = kStep;
    }
    ~PlayerWorld() { Settings::resetToDefaults(); }

    quern::entity::World& world() { return scene.world(); }
    MovementSystem& movement() { return *context.movement; }

    void start()
    {
        world().attachSystems(nullptr);
        scene.start();
    }
    // One fixed tick; the frame's input counts are cleared afterwards, as the
    // input manager does before the next frame's events.
    void tick(u32 count = 1)
    {
        for (u32 i = 0; i < count; ++i) {
            scene.tick(1);
            switcher.context(kInputStateGame).clearFrameState();
        }
    }

    // Keys of the default bindings.
    static constexpr i32 kJumpKey = 32;
    static constexpr i32 kLeftKey = 97;
    static constexpr i32 kRightKey = 100;
    static constexpr i32 kHarmonizeKey = 13;
    void key(i32 code, bool down)
    {
        quern::input::InputEvent event {};
        event.type = down ? 0 : 1;
        event.code = code;
        event.device = 0;
        switcher.context(kInputStateGame).applyEvent(event);
    }

    // The player at `position` with a tuning that walks, jumps and falls in
    // round numbers.
    EntityHandle player(const quern::math::Vector3& position, i32 race = 0)
    {
        const EntityHandle e = scene.add(
            "player", { "Transform", "Collider", "RigidBody", "PlayerState", "PlayerMovement", "Race" });
        scene.get<Transform>(e).position = position;
        scene.get<Race>(e).value = race;
        PlayerMovement& m = scene.get<PlayerMovement>(e);
        m.carryTime = 0.5f;
        m.deathDelay = 0.5f;
        m.respawnDelay = 0.5f;
        m.jumpSpeedUp = 12.0f;
        m.jumpSpeedDown = 6.0f;
        m.baseGravity = 0.5f;
        m.walkAcceleration = 40.0f;
        m.maxWalkSpeed = 6.0f;
        m.maxSpeed = 20.0f;
        m.walkDamping = 1.0f;
        m.airDamping = 1.05f;
        m.airInputScale = 0.05f;
        m.maxAirSpeed = 6.0f;
        m.walkRampTime = 0.1f;
        m.inputDeadZone = 0.2f;
        m.jumpGraceTime = 0.15f;
        m.stepInterval = 0.3f;
        m.turnRate = 10.0f;
        m.brakeStrength = 0.5f;
        m.pushDecay = 1.0f;
        m.maxTurnAngle = 0.2f;
        m.harmonizeEnabled = 1;
        PlayerState& s = scene.get<PlayerState>(e);
        s.restHeightRace0 = -1.0f;
        s.restHeightRace2 = -1.0f;
        s.crossFade = 0.1f;
        return e;
    }
    PlayerView view(EntityHandle player)
    {
        PlayerView v;
        findPlayerView(world(), EntityHandle::make(player.index(), world().getGeneration(player.index())), v);
        return v;
    }

    // A cluster of boxes in a row along the box X axis `along`, the surface at
    // the box positions, each box's side-0 neighbour the next one and side 1
    // the previous one, two units apart.
    EntityHandle floor(const char* name, const quern::math::Vector3& first, i32 count, f32 turn = 0.0f)
    {
        const EntityHandle cluster = scene.add(name, { "Transform", "Collider", "SnapboxCluster" });
        std::vector<EntityHandle> boxes;
        const quern::math::Quaternion rotation
            = quern::math::Quaternion::fromAxisAngle(turn, quern::math::Vector3 { 0.0f, 0.0f, 1.0f });
        const quern::math::Vector3 along = rotation.toMatrix3() * quern::math::Vector3 { 1.0f, 0.0f, 0.0f };
        for (i32 i = 0; i < count; ++i) {
            const EntityHandle box = scene.add("box", { "Transform", "Snapbox" });
            Transform& t = scene.get<Transform>(box);
            t.position = first + along * (2.0f * static_cast<f32>(i));
            t.rotation = rotation;
            boxes.push_back(box);
        }
        SnapboxCluster& record = scene.get<SnapboxCluster>(cluster);
        record.boxCount = count;
        for (i32 i = 0; i < count; ++i) {
            record.boxes[i] = boxes[static_cast<u64>(i)];
            Snapbox& box = scene.get<Snapbox>(boxes[static_cast<u64>(i)]);
            box.cluster = cluster;
            box.blocker = EntityHandle::make(EntityHandle::kNoIndex, 0);
            box.linkedBox = EntityHandle::make(EntityHandle::kNoIndex, 0);
            for (EntityHandle& n : box.neighbours)
                n = EntityHandle::make(EntityHandle::kNoIndex, 0);
            if (i + 1 < count) {
                box.neighbours[0] = boxes[static_cast<u64>(i + 1)];
                box.neighbourDistances[0] = 2.0f;
            }
            if (i > 0) {
                box.neighbours[1] = boxes[static_cast<u64>(i - 1)];
                box.neighbourDistances[1] = 2.0f;
            }
        }
        return cluster;
    }
    std::vector<std::pair<GameEventType, std::vector<u8>>> queued()
    {
        std::vector<std::pair<GameEventType, std::vector<u8>>> events;
        GameEventQueue& queue = movement().eventQueue();
        while (quern::containers::EventHeader* record = queue.front()) {
            const u8* payload = static_cast<const u8*>(GameEventQueue::payload(record));
            events.emplace_back(static_cast<GameEventType>(record->type),
                std::vector<u8>(payload, payload + record->payloadSize));
            queue.pop();
        }
        return events;
    }

    Scenario scene;
    AppContext context;
    InputSwitcher switcher;
    harmonize::test::RecordingPlatformServices platform;
};

} // namespace harmonize::testing
