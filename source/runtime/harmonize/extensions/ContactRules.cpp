#include "harmonize/extensions/ContactRules.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/events/FindPair.h"
#include "harmonize/extensions/DeathTriggerExt.h"
#include "harmonize/extensions/RaceLook.h"
#include "harmonize/platform/PlatformServices.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/GameCameraSystem.h"
#include "harmonize/systems/SoundSystem.h"
#include "harmonize/utils/MathUtils.h"

#include "quern/debug/Log.h"
#include "quern/entity/World.h"

#include <ostream>

// The small trigger rules: each reacts to one kind of volume and keeps its
// once-only flags in the volume's own component.

namespace harmonize {
namespace {

using quern::entity::World;

// Plays the clip on the entity when it is animated at all.
void playOn(World& world, AnimationSystem* animation, EntityHandle entity, u64 clip)
{
    if (animation && componentOf<Animation>(world, entity))
        animation->play(entity, clip, 0.0f);
}

} // namespace

void onCameraZoneEnter(const PairEvent& pair, World& world, AppContext& context)
{
    CameraZone* zone = nullptr;
    PlayerMovement* player = nullptr;
    if (context.gameCamera && findPair(world, pair, zone, player))
        context.gameCamera->beginBlend(world, zone->camera, zone->blendTime);
}

void onCameraZoneExit(const PairEvent& pair, World& world, AppContext& context)
{
    CameraZone* zone = nullptr;
    PlayerMovement* player = nullptr;
    if (context.gameCamera && findPair(world, pair, zone, player))
        context.gameCamera->switchToMainCamera(world, zone->blendTime, SmoothStep);
}

void onKillZoneEnter(const PairEvent& pair, World& world, AppContext& context)
{
    u32 zone = 0;
    u32 player = 0;
    if (context.coroutine && orderPair<KillZone, PlayerMovement>(world, pair, zone, player))
        killPlayer(world, EntityHandle { player }, *context.coroutine);
}

void OneShotAnimation::fire(EntityHandle trigger, World& world, AnimationSystem* animation)
{
    OneShotAnimation* rule = componentOf<OneShotAnimation>(world, trigger);
    if (!rule || rule->fired != 0)
        return;
    rule->fired = 1;
    const EntityHandle animated = currentHandleOf(world, rule->animated);
    if (const Animation* clips = componentOf<Animation>(world, animated))
        playOn(world, animation, animated, clips->defaultClip);
    world.getEnabledMask(trigger.index()).reset(Collider::kType);
}

void onOneShotAnimationEnter(const PairEvent& pair, World& world, AppContext& context)
{
    u32 trigger = 0;
    u32 player = 0;
    if (orderPair<OneShotAnimation, PlayerMovement>(world, pair, trigger, player))
        OneShotAnimation::fire(EntityHandle { trigger }, world, context.animation);
}

void onRaceAnimationTrigger(const PairEvent& pair, World& world, AppContext& context)
{
    u32 trigger = 0;
    u32 other = 0;
    if (!orderPair<RaceAnimationTrigger, Race>(world, pair, trigger, other))
        return;
    const RaceAnimationTrigger& rule = *componentOf<RaceAnimationTrigger>(world, EntityHandle { trigger });
    // A trigger without a race of its own opposes nobody.
    const Race* triggerRace = componentOf<Race>(world, EntityHandle { trigger });
    const i32 otherRace = componentOf<Race>(world, EntityHandle { other })->value;
    const bool opposed = triggerRace && racesOppose(otherRace, triggerRace->value);
    playOn(world, context.animation, currentHandleOf(world, rule.animated), opposed ? rule.opposedClip : rule.otherClip);
}

void onRaceSourceContact(const PairEvent& pair, World& world)
{
    u32 source = 0;
    u32 look = 0;
    if (!orderPair<RaceSource, RaceLook>(world, pair, source, look))
        return;
    const Race* sourceRace = componentOf<Race>(world, EntityHandle { source });
    Race* lookRace = componentOf<Race>(world, EntityHandle { look });
    if (!sourceRace || !lookRace)
        return;
    lookRace->value = sourceRace->value;
    applyRaceLook(*componentOf<RaceLook>(world, EntityHandle { look }), lookRace->value, world);
}

void onSoundTrigger(const PairEvent& pair, World& world, AppContext& context)
{
    u32 trigger = 0;
    u32 other = 0;
    if (!orderPair<SoundTrigger, Transform>(world, pair, trigger, other))
        return;
    SoundTrigger& rule = *componentOf<SoundTrigger>(world, EntityHandle { trigger });
    if (rule.played != 0 || !context.sound)
        return;
    if (rule.playerOnly != 0 && !isPlayerEntity(world, EntityHandle { other }))
        return;
    // A stopping trigger stops its sound every time something enters it.
    if (rule.stop != 0) {
        context.sound->stopSound(rule.sound);
        return;
    }
    SoundRequest& request = context.sound->playSound(rule.sound);
    request.position = worldPositionOf(world, *componentOf<Transform>(world, EntityHandle { other }));
    request.positional = 1;
    rule.played = 1;
}

void onAchievementTrigger(const PairEvent& pair, World& world, AppContext& context)
{
    AchievementTrigger* rule = nullptr;
    PlayerMovement* player = nullptr;
    if (!findPair(world, pair, rule, player) || rule->unlocked != 0)
        return;
    rule->unlocked = 1;
    // The index comes from level data: one outside the table names nothing to
    // report, and the trigger stays quiet from now on.
    if (rule->achievement < 0 || rule->achievement >= kAchievementCount) {
        QUERN_LOG(2) << "Achievement trigger names no achievement: " << rule->achievement << std::endl;
        return;
    }
    const char* name = kAchievementNames[rule->achievement];
    if (PlayerProfile::statsReceived && context.services.platformServices)
        context.services.platformServices->unlockAchievement(name, 1, 1);
    QUERN_LOG(3) << "Achievement unlocked: " << name << std::endl;
}

} // namespace harmonize
