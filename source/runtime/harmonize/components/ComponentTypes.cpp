#include "harmonize/components/ComponentTypes.h"

#include "quern/entity/World.h"

#include <cstring>

namespace harmonize {

const char* const kComponentNames[kComponentTypeCount] = {
    "Animation", // 0
    "AudioSource", // 1
    "BoxShape", // 2
    "CameraLens", // 3
    "CapsuleShape", // 4
    "Collider", // 5
    "Component6", // 6
    "CollisionLayer", // 7
    "Light", // 8
    "Line", // 9
    "NoPhysicsBody", // 10
    "MeshReference", // 11
    "Component12", // 12
    "Component13", // 13
    "ParticleSettings", // 14
    "ParticleSpawner", // 15
    "ParticleAppearance", // 16
    "Renderer", // 17
    "RigidBody", // 18
    "Component19", // 19
    "SphereShape", // 20
    "TextLabel", // 21
    "Component22", // 22
    "Transform", // 23
    "Component24", // 24
    "AchievementTrigger", // 25
    "AlarmMachine", // 26
    "FrameAnimation", // 27
    "PlayerState", // 28
    "FxaaSettings", // 29
    "BeamPortal", // 30
    "BloomSettings", // 31
    "SpeechBubble", // 32
    "Component33", // 33
    "CameraZone", // 34
    "CameraCurve", // 35
    "GameCameraRig", // 36
    "ScreenFade", // 37
    "Component38", // 38
    "VignetteMask", // 39
    "RaceSource", // 40
    "PlayerMovement", // 41
    "Collectible", // 42
    "MenuButton", // 43
    "Component44", // 44
    "CutsceneTrigger", // 45
    "PlatformWarning", // 46
    "KillZone", // 47
    "DeathTrigger", // 48
    "Component49", // 49
    "Timer", // 50
    "BreakOnContact", // 51
    "Component52", // 52
    "PlatformSensor", // 53
    "LightningBolt", // 54
    "Component55", // 55
    "Detonator", // 56
    "Component57", // 57
    "FlyingEnemy", // 58
    "FuzzyCameraZone", // 59
    "FuzzyZone", // 60
    "GravityZone", // 61
    "Component62", // 62
    "Component63", // 63
    "StartHidden", // 64
    "Component65", // 65
    "PushPad", // 66
    "Fog", // 67
    "LevelGoal", // 68
    "LevelStatisticsDisplay", // 69
    "Lightning", // 70
    "Component71", // 71
    "Component72", // 72
    "LanguageFilter", // 73
    "MenuTransitionRig", // 74
    "MenuOptionRow", // 75
    "MenuPage", // 76
    "MissileLauncher", // 77
    "Missile", // 78
    "TextureScroll", // 79
    "MovingPlatform", // 80
    "MovingPlatformSetup", // 81
    "Component82", // 82
    "Component83", // 83
    "MenuOption", // 84
    "Component85", // 85
    "GatherChildren", // 86
    "OneShotAnimation", // 87
    "PlayerSpawn", // 88
    "SoundTrigger", // 89
    "Race", // 90
    "RaceAnimationTrigger", // 91
    "SpeechTrigger", // 92
    "Platform", // 93
    "Component94", // 94
    "SavePointTrigger", // 95
    "OverlaySettings", // 96
    "ShowOnStart", // 97
    "OverlayLayer", // 98
    "CameraFollow", // 99
    "Snapbox", // 100
    "SnapboxCluster", // 101
    "SoundEmitter", // 102
    "SoundOverride", // 103
    "AnimationStartTime", // 104
    "SubtitleTrigger", // 105
    "RaceLook", // 106
    "CutsceneActivator", // 107
    "VignetteSettings", // 108
    "WaterFlow", // 109
};

i32 findComponentType(const char* name)
{
    for (u32 type = 0; type < kComponentTypeCount; ++type)
        if (std::strcmp(kComponentNames[type], name) == 0)
            return static_cast<i32>(type);
    return -1;
}

bool matchesComponentSizeTable(const u16* sizes, u64 typeCount)
{
    if (typeCount != kComponentTypeCount)
        return false;
    for (u32 type = 0; type < kComponentTypeCount; ++type)
        if (sizes[type] != ComponentSizeTable[type])
            return false;
    return true;
}

bool matchesComponentSizeTable(const quern::entity::World& world)
{
    return matchesComponentSizeTable(world.componentSizes, world.componentTypeCount);
}

bool isValidEntity(const quern::entity::World& world, EntityHandle handle)
{
    return isSomeEntity(handle) && handle.index() < world.getSlotCount()
        && world.getGeneration(handle.index()) == handle.generation();
}

bool isAliveEntity(const quern::entity::World& world, EntityHandle handle)
{
    return isValidEntity(world, handle) && world.getState(handle.index()) != quern::entity::EntityState::Free;
}

bool isActiveEntity(const quern::entity::World& world, EntityHandle handle)
{
    return isValidEntity(world, handle) && world.getState(handle.index()) == quern::entity::EntityState::Active;
}

bool isPlayerEntity(quern::entity::World& world, EntityHandle handle)
{
    return isSomeEntity(handle) && handle.index() < world.getSlotCount()
        && world.getComponentMask(handle.index()).containsAll(kPlayerMask);
}

} // namespace harmonize
