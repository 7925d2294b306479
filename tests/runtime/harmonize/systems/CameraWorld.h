#pragma once
// A level world with a player, a follow camera and the rendered game camera,
// moved by the game camera system alone (the player stands where a test puts
// it), an input system fed by the Game context, and a 1920 x 1080 frame.
// Stepped by hand at 10 ms.

#include "harmonize/Scenario.h"
#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/input/InputActions.h"
#include "harmonize/input/InputBindings.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/GameCameraSystem.h"
#include "harmonize/systems/InputSystem.h"

#include "quern/input/InputEvent.h"

namespace harmonize::testing {

class CameraWorld {
public:
    static constexpr u64 kStep = 10'000; // microseconds
    static constexpr f32 kK = 0.01f; // the step in seconds

    CameraWorld()
    {
        Settings::resetToDefaults();
        Settings::Renderer.frameWidth = 1920;
        parseBindings(Settings::Input);
        switcher.bindContexts();
        context.services.inputSwitcher = &switcher;
        context.input = new InputSystem(context);
        context.input->active = true;
        context.input->movementEnabled = true;
        context.gameCamera = new GameCameraSystem(context);
        scene.addSystem(context.input);
        scene.addSystem(context.gameCamera);
        world().clock.step = kStep;
    }
    ~CameraWorld() { Settings::resetToDefaults(); }

    quern::entity::World& world() { return scene.world(); }
    GameCameraSystem& camera() { return *context.gameCamera; }
    template <class Record> Record& get(EntityHandle e) { return scene.get<Record>(e); }

    void start()
    {
        world().attachSystems(nullptr);
        scene.start();
    }
    void tick(u32 count = 1)
    {
        for (u32 i = 0; i < count; ++i)
            scene.tick(1);
    }
    void key(i32 code, bool down)
    {
        quern::input::InputEvent event {};
        event.type = down ? 0 : 1;
        event.code = code;
        switcher.context(kInputStateGame).applyEvent(event);
    }

    EntityHandle addPlayer(const quern::math::Vector3& position)
    {
        const EntityHandle e = scene.add(
            "player", { "Transform", "Collider", "RigidBody", "PlayerState", "PlayerMovement", "Race" });
        get<Transform>(e).position = position;
        PlayerMovement& movement = get<PlayerMovement>(e);
        movement.gravityDirection = { 0.0f, -1.0f };
        movement.cluster = EntityHandle::make(EntityHandle::kNoIndex, 0);
        return e;
    }

    // A follow camera that lands on its target point at once: no dead zone,
    // no look-ahead, no smoothing.
    EntityHandle addFollowCamera()
    {
        const EntityHandle e = scene.add("follow", { "Transform", "CameraLens", "CameraFollow" });
        get<CameraLens>(e) = lens(60.0f);
        CameraFollow& r = get<CameraFollow>(e);
        r.cameraZ = -20.0f;
        r.fieldOfView = 60.0f;
        r.speedRangeStart = 0.0f;
        r.speedRangeEnd = 10.0f;
        r.easing = Linear;
        r.smoothTime = 0.0f;
        r.smoothTimeApproach = 0.1f;
        r.deadZoneFactor = 1.0f;
        r.deadZoneMin = 1.0f;
        r.deadZoneMax = 1.0f;
        return e;
    }

    // The rendered camera, in a level far wider than its view.
    EntityHandle addGameCamera()
    {
        const EntityHandle e = scene.add("game", { "Transform", "CameraLens", "GameCameraRig" });
        get<CameraLens>(e) = lens(60.0f);
        GameCameraRig& rig = get<GameCameraRig>(e);
        rig.boundsLeft = -1000.0f;
        rig.boundsBottom = -1000.0f;
        rig.boundsRight = 1000.0f;
        rig.boundsTop = 1000.0f;
        return e;
    }

    // A camera a zone or a cutscene switches to.
    EntityHandle addCamera(const char* name, const quern::math::Vector3& position, f32 fieldOfView)
    {
        const EntityHandle e = scene.add(name, { "Transform", "CameraLens" });
        get<Transform>(e).position = position;
        get<CameraLens>(e) = lens(fieldOfView);
        return e;
    }

    static CameraLens lens(f32 fieldOfView)
    {
        CameraLens lens {};
        lens.nearPlane = 1.0f;
        lens.fieldOfView = fieldOfView;
        lens.farPlane = 100.0f;
        return lens;
    }

    // The usual level: the player at `at`, a follow camera and a game camera.
    void buildLevel(const quern::math::Vector3& at = { 0.0f, 0.0f, 0.0f })
    {
        player = addPlayer(at);
        follow = addFollowCamera();
        game = addGameCamera();
    }

    Scenario scene;
    AppContext context;
    InputSwitcher switcher;
    EntityHandle player;
    EntityHandle follow;
    EntityHandle game;
};

} // namespace harmonize::testing
