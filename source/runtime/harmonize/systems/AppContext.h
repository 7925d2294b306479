#pragma once
// One per world: how its systems find each other and the App's shared
// services. The App fills the services at init; the system registration
// fills the system pointers of each world (null where a world has none).

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

namespace quern::entity {
class InputRecordingSystem;
class World;
} // namespace quern::entity
namespace quern::audio {
class AudioDevice;
}
namespace quern::fx {
class ShadowMapRenderPass;
}
namespace quern::graphics {
class GraphicsBackEnd;
}
namespace quern::input {
class InputManager;
}
namespace quern::serialize {
class StringTable;
}

namespace harmonize {

using quern::i32;
using quern::u8;

class AnimationSystem;
class App;
class AppEventQueue;
class BubbleSystem;
class CollectibleSystem;
class CollisionSystem;
class CoroutineSystem;
class FuzzyCollisionSystem;
class GameCameraSystem;
class GizmoLineSystem;
class GravityZoneSystem;
class InputPrompter;
class InputSwitcher;
class InputSystem;
class LevelList;
class LevelStatisticsSystem;
class LightingSystem;
class LineRendererSystem;
class LoadingWorker;
class MissileLauncherSystem;
class MovementSystem;
class OverlayBatch;
class ParticleSystem;
class PlatformServices;
class PlatformSystem;
class RenderSystem;
class SaveGameSystem;
class ScreenFaderSystem;
class SoundSystem;
class SubtitleSystem;
class TaskDispatcher;
class TextRendererSystem;
struct SoakTestDriver;
struct SystemSetup;
struct AppContext;
class TimerSystem;
class TransformHierarchySystem;

// What every world's systems share; the program supplies the audio device and
// the string table, App init the rest.
struct AppServices {
    AppEventQueue* appEventQueue = nullptr;
    LevelList* levelList = nullptr;
    quern::audio::AudioDevice* audioDevice = nullptr;
    quern::graphics::GraphicsBackEnd* graphicsBackEnd = nullptr;
    quern::input::InputManager* inputManager = nullptr;
    InputSwitcher* inputSwitcher = nullptr;
    // Which input the on-screen prompts show; owned by the App.
    InputPrompter* prompter = nullptr;
    LoadingWorker* loadingWorker = nullptr;
    PlatformServices* platformServices = nullptr;
    quern::serialize::StringTable* stringTable = nullptr;
    TaskDispatcher* taskDispatcher = nullptr;
};

struct AppContext {
    // Creates the world's systems and registers them with the world in the
    // order of the registration table (SystemRegistration.h).
    void createSystems(quern::entity::World& world, const SystemSetup& setup);

    // The soak test's two requests, posted to the app event queue: the next
    // level to play, and the end of the test.
    void startTestLevel(i32 level);
    void finishSoakTest();

    // The world's systems, in the order of the fields; later systems join here.
    AnimationSystem* animation = nullptr;
    BubbleSystem* bubble = nullptr;
    CollectibleSystem* collectible = nullptr; // level worlds only
    CollisionSystem* collision = nullptr;
    CoroutineSystem* coroutine = nullptr;
    FuzzyCollisionSystem* fuzzyCollision = nullptr;
    GameCameraSystem* gameCamera = nullptr;
    GizmoLineSystem* gizmoLines = nullptr;
    GravityZoneSystem* gravityZone = nullptr;
    InputSystem* input = nullptr;
    quern::entity::InputRecordingSystem* inputRecording = nullptr;
    LevelStatisticsSystem* levelStatistics = nullptr; // level worlds only
    LightingSystem* lighting = nullptr;
    LineRendererSystem* lineRenderer = nullptr;
    MissileLauncherSystem* missileLauncher = nullptr;
    MovementSystem* movement = nullptr;
    ParticleSystem* particles = nullptr;
    // The App's overlay, shared by every world.
    OverlayBatch* overlay = nullptr;
    PlatformSystem* platform = nullptr;
    RenderSystem* render = nullptr;
    SaveGameSystem* saveGame = nullptr; // level worlds only
    ScreenFaderSystem* screenFader = nullptr;
    SoundSystem* sound = nullptr;
    SubtitleSystem* subtitle = nullptr;
    TextRendererSystem* textRenderer = nullptr;
    TransformHierarchySystem* transformHierarchy = nullptr;
    TimerSystem* timer = nullptr;
    AppServices services;
    SoakTestDriver* soakTest = nullptr; // shared by every world; set in test mode
    // The world's gizmo pass, which the render pipeline draws over the level.
    quern::Ref gizmos;
    App* app = nullptr;
    // The render pipeline's shadow-map pass while the pipeline draws this
    // world with shadows; its light follows the world's shadow light.
    quern::fx::ShadowMapRenderPass* shadowPass = nullptr;
    u8 paused = 0; // set by the menu, cleared at level start
    u8 frontEnd = 0; // 1 for world 2
    i32 levelIndex = -1; // -1 until a level is loaded into the world
    quern::u64 levelAssetId = 0; // the world asset of that level; 0 until then
};

} // namespace harmonize
