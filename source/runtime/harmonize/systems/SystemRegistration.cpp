#include "harmonize/systems/SystemRegistration.h"

#include "harmonize/Settings.h"
#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/BubbleSystem.h"
#include "harmonize/systems/CollectibleSystem.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/FuzzyCollisionSystem.h"
#include "harmonize/systems/GameCameraSystem.h"
#include "harmonize/systems/GizmoLineSystem.h"
#include "harmonize/systems/InputSystem.h"
#include "harmonize/systems/LevelStatisticsSystem.h"
#include "harmonize/systems/LightingSystem.h"
#include "harmonize/systems/SanityChecksumSystem.h"
#include "harmonize/systems/MovingPlatformSystem.h"
#include "harmonize/systems/LineRendererSystem.h"
#include "harmonize/systems/LightningJitterSystem.h"
#include "harmonize/systems/GravityZoneSystem.h"
#include "harmonize/systems/MissileLauncherSystem.h"
#include "harmonize/systems/MovementSystem.h"
#include "harmonize/systems/ParticleSystem.h"
#include "harmonize/systems/PlatformSystem.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/systems/SaveGameSystem.h"
#include "harmonize/systems/ScreenFaderSystem.h"
#include "harmonize/systems/SoakTestSystem.h"
#include "harmonize/systems/SoundSystem.h"
#include "harmonize/systems/StartupSystem.h"
#include "harmonize/systems/SubtitleSystem.h"
#include "harmonize/systems/TextRendererSystem.h"
#include "harmonize/systems/TimerSystem.h"
#include "harmonize/systems/TransformHierarchySystem.h"
#include "harmonize/systems/WaterFlowSystem.h"
#include "harmonize/tasks/LoadingWorker.h"
#include "quern/entity/InputRecordingSystem.h"
#include "quern/entity/World.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/render/Gizmos.h"

#include <vector>

namespace harmonize {
namespace {

quern::entity::System* createTransformHierarchy(AppContext& context, const SystemSetup&)
{
    context.transformHierarchy = new TransformHierarchySystem();
    return context.transformHierarchy;
}

quern::entity::System* createStartup(AppContext& context, const SystemSetup&) { return new StartupSystem(context); }

quern::entity::System* createMovingPlatform(AppContext& context, const SystemSetup&)
{
    return new MovingPlatformSystem(context);
}

quern::entity::System* createGravityZone(AppContext& context, const SystemSetup&)
{
    context.gravityZone = new GravityZoneSystem();
    return context.gravityZone;
}

quern::entity::System* createLineRenderer(AppContext& context, const SystemSetup&)
{
    context.lineRenderer = new LineRendererSystem(context);
    return context.lineRenderer;
}

quern::entity::System* createLightningJitter(AppContext& context, const SystemSetup&)
{
    return new LightningJitterSystem(context);
}

quern::entity::System* createWaterFlow(AppContext& context, const SystemSetup&) { return new WaterFlowSystem(context); }

quern::entity::System* createMissileLauncher(AppContext& context, const SystemSetup&)
{
    context.missileLauncher = new MissileLauncherSystem(context);
    return context.missileLauncher;
}

quern::entity::System* createSanityChecksum(AppContext&, const SystemSetup&) { return new SanityChecksumSystem(); }

quern::entity::System* createGizmoLines(AppContext& context, const SystemSetup&)
{
    context.gizmoLines = new GizmoLineSystem(context);
    return context.gizmoLines;
}

quern::entity::System* createSound(AppContext& context, const SystemSetup&)
{
    LoadingWorker* worker = context.services.loadingWorker;
    context.sound = new SoundSystem(context.services.taskDispatcher, context.services.audioDevice,
        worker ? worker->depot() : nullptr, worker ? &worker->cache() : nullptr);
    return context.sound;
}

quern::entity::System* createInput(AppContext& context, const SystemSetup&)
{
    context.input = new InputSystem(context);
    return context.input;
}

quern::entity::System* createInputRecording(AppContext& context, const SystemSetup&)
{
    context.inputRecording = new quern::entity::InputRecordingSystem();
    return context.inputRecording;
}

quern::entity::System* createAnimation(AppContext& context, const SystemSetup&)
{
    context.animation = new AnimationSystem(context);
    return context.animation;
}

quern::entity::System* createCollision(AppContext& context, const SystemSetup&)
{
    context.collision = new CollisionSystem(context);
    return context.collision;
}

quern::entity::System* createFuzzyCollision(AppContext& context, const SystemSetup&)
{
    context.fuzzyCollision = new FuzzyCollisionSystem(context);
    return context.fuzzyCollision;
}

quern::entity::System* createCoroutine(AppContext& context, const SystemSetup&)
{
    context.coroutine = new CoroutineSystem(context);
    return context.coroutine;
}

quern::entity::System* createMovement(AppContext& context, const SystemSetup&)
{
    context.movement = new MovementSystem(context);
    return context.movement;
}

quern::entity::System* createGameCamera(AppContext& context, const SystemSetup&)
{
    context.gameCamera = new GameCameraSystem(context);
    return context.gameCamera;
}

quern::entity::System* createPlatform(AppContext& context, const SystemSetup&)
{
    context.platform = new PlatformSystem(context);
    return context.platform;
}

quern::entity::System* createTimer(AppContext& context, const SystemSetup&)
{
    context.timer = new TimerSystem();
    return context.timer;
}

quern::entity::System* createCollectible(AppContext& context, const SystemSetup&)
{
    context.collectible = new CollectibleSystem(context);
    return context.collectible;
}

quern::entity::System* createLevelStatistics(AppContext& context, const SystemSetup&)
{
    context.levelStatistics = new LevelStatisticsSystem(context);
    return context.levelStatistics;
}

quern::entity::System* createBubble(AppContext& context, const SystemSetup&)
{
    context.bubble = new BubbleSystem(context);
    return context.bubble;
}

quern::entity::System* createSoakTest(AppContext& context, const SystemSetup& setup)
{
    if (!setup.soakTest)
        QUERN_FATAL("The soak test needs its driver");
    context.soakTest = setup.soakTest;
    return new SoakTestSystem(
        context, *setup.soakTest, setup.seed, Settings::Test.testSecondsPerLevel, Settings::Test.testRandomLevels);
}

quern::entity::System* createLighting(AppContext& context, const SystemSetup&)
{
    context.lighting = new LightingSystem(context);
    return context.lighting;
}

quern::entity::System* createSaveGame(AppContext& context, const SystemSetup&)
{
    context.saveGame = new SaveGameSystem(context);
    return context.saveGame;
}

quern::entity::System* createScreenFader(AppContext& context, const SystemSetup&)
{
    context.screenFader = new ScreenFaderSystem(context.overlay);
    return context.screenFader;
}

quern::entity::System* createSubtitle(AppContext& context, const SystemSetup&)
{
    context.subtitle = new SubtitleSystem(context.overlay, context.services.stringTable);
    return context.subtitle;
}

quern::entity::System* createRender(AppContext& context, const SystemSetup&)
{
    if (!context.lighting || !context.transformHierarchy)
        QUERN_FATAL("The render system needs the lighting system and the transform hierarchy");
    context.render = new RenderSystem(context, *context.lighting, *context.transformHierarchy);
    return context.render;
}

quern::entity::System* createParticles(AppContext& context, const SystemSetup&)
{
    context.particles = new ParticleSystem(context);
    return context.particles;
}

quern::entity::System* createTextRenderer(AppContext& context, const SystemSetup&)
{
    if (!context.render)
        QUERN_FATAL("The text renderer needs the render system");
    context.textRenderer = new TextRendererSystem(context, *context.render);
    return context.textRenderer;
}

// Rows join as their systems are built; the world ticks them in this order.
constexpr SystemRow kRows[] = {
    { "TransformHierarchySystem", SystemWorlds::All, SystemCondition::Always, createTransformHierarchy },
    { "StartupSystem", SystemWorlds::All, SystemCondition::Always, createStartup },
    { "GizmoLineSystem", SystemWorlds::All, SystemCondition::Always, createGizmoLines },
    { "SoundSystem", SystemWorlds::All, SystemCondition::Always, createSound },
    { "InputSystem", SystemWorlds::All, SystemCondition::Always, createInput },
    { "InputRecordingSystem", SystemWorlds::All, SystemCondition::Always, createInputRecording },
    { "AnimationSystem", SystemWorlds::All, SystemCondition::Always, createAnimation },
    { "CollisionSystem", SystemWorlds::All, SystemCondition::Always, createCollision },
    { "MovingPlatformSystem", SystemWorlds::All, SystemCondition::Always, createMovingPlatform },
    { "FuzzyCollisionSystem", SystemWorlds::All, SystemCondition::Always, createFuzzyCollision },
    { "CoroutineSystem", SystemWorlds::All, SystemCondition::Always, createCoroutine },
    { "MovementSystem", SystemWorlds::All, SystemCondition::Always, createMovement },
    { "GameCameraSystem", SystemWorlds::All, SystemCondition::Always, createGameCamera },
    { "GravityZoneSystem", SystemWorlds::All, SystemCondition::Always, createGravityZone },
    { "WaterFlowSystem", SystemWorlds::All, SystemCondition::Always, createWaterFlow },
    { "LightingSystem", SystemWorlds::All, SystemCondition::Always, createLighting },
    { "PlatformSystem", SystemWorlds::All, SystemCondition::Always, createPlatform },
    { "ScreenFaderSystem", SystemWorlds::All, SystemCondition::Always, createScreenFader },
    { "SaveGameSystem", SystemWorlds::LevelWorlds, SystemCondition::Always, createSaveGame },
    { "CollectibleSystem", SystemWorlds::LevelWorlds, SystemCondition::Always, createCollectible },
    { "TimerSystem", SystemWorlds::All, SystemCondition::Always, createTimer },
    { "BubbleSystem", SystemWorlds::All, SystemCondition::Always, createBubble },
    { "SubtitleSystem", SystemWorlds::All, SystemCondition::Always, createSubtitle },
    { "RenderSystem", SystemWorlds::All, SystemCondition::Always, createRender },
    { "ParticleSystem", SystemWorlds::All, SystemCondition::Always, createParticles },
    { "TextRendererSystem", SystemWorlds::All, SystemCondition::Always, createTextRenderer },
    { "LevelStatisticsSystem", SystemWorlds::LevelWorlds, SystemCondition::Always, createLevelStatistics },
    { "LineRendererSystem", SystemWorlds::All, SystemCondition::Always, createLineRenderer },
    { "LightningJitterSystem", SystemWorlds::All, SystemCondition::Always, createLightningJitter },
    { "MissileLauncherSystem", SystemWorlds::All, SystemCondition::Always, createMissileLauncher },
    // The systems that depend on settings come last.
    { "SanityChecksumSystem", SystemWorlds::All, SystemCondition::Sanity, createSanityChecksum },
    { "SoakTestSystem", SystemWorlds::All, SystemCondition::TestMode, createSoakTest },
};

} // namespace

std::span<const SystemRow> systemRegistrationTable() { return kRows; }

bool worldGetsSystem(const SystemRow& row, bool frontEnd, const SystemSetup& setup)
{
    switch (row.worlds) {
    case SystemWorlds::LevelWorlds:
        if (frontEnd)
            return false;
        break;
    case SystemWorlds::FrontEnd:
        if (!frontEnd)
            return false;
        break;
    case SystemWorlds::All:
        break;
    }
    switch (row.condition) {
    case SystemCondition::Always:
        return true;
    case SystemCondition::TestMode:
        return setup.testMode;
    case SystemCondition::Sanity:
        return setup.sanity;
    }
    return false;
}

void AppContext::createSystems(quern::entity::World& world, const SystemSetup& setup)
{
    gizmos = quern::Ref(new quern::render::Gizmos());
    std::vector<quern::entity::System*> created;
    for (const SystemRow& row : systemRegistrationTable())
        if (worldGetsSystem(row, frontEnd != 0, setup))
            created.push_back(row.create(*this, setup));
    for (quern::entity::System* system : created)
        world.addSystem(system);
}

} // namespace harmonize
