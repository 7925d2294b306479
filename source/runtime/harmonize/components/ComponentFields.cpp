#include "harmonize/components/ComponentFields.h"

#include "harmonize/components/Components.h"

#include "quern/entity/WorldModel.h"

#include <cstddef>
#include <cstring>

namespace harmonize {

namespace {

constexpr u32 kindSize(FieldKind kind)
{
    return kind == FieldKind::UInt8 ? 1 : kind == FieldKind::EntityIndex ? 2 : kind == FieldKind::UInt64 ? 8 : 4;
}

// Offsets and counts come from the structs themselves.
#define HARMONIZE_FIELD_WITH_DEFAULTS(Record, member, kind, defaults)                                                  \
    ComponentField                                                                                                     \
    {                                                                                                                  \
#member, FieldKind::kind, static_cast < u16>(offsetof(Record, member)),                                        \
            static_cast < u16>(sizeof(Record::member) / kindSize(FieldKind::kind)), defaults                           \
    }
#define HARMONIZE_FIELD(Record, member, kind) HARMONIZE_FIELD_WITH_DEFAULTS(Record, member, kind, nullptr)

const f32 kIdentityRotation[4] = { 0.0f, 0.0f, 0.0f, 1.0f };
const f32 kUnitScale[3] = { 1.0f, 1.0f, 1.0f };

const ComponentField kAnimationFields[] = {
    HARMONIZE_FIELD(Animation, defaultClip, UInt64),
    HARMONIZE_FIELD(Animation, unused8, UInt8),
    HARMONIZE_FIELD(Animation, clips, UInt64),
    HARMONIZE_FIELD(Animation, unused744, UInt8),
    HARMONIZE_FIELD(Animation, wrapMode, Int32),
    HARMONIZE_FIELD(Animation, kinematic, UInt8),
    HARMONIZE_FIELD(Animation, playAutomatically, UInt8),
    HARMONIZE_FIELD(Animation, unused754, UInt8),
};
const ComponentField kAudioSourceFields[] = {
    HARMONIZE_FIELD(AudioSource, stream, UInt64),
    HARMONIZE_FIELD(AudioSource, unused8, UInt8),
    HARMONIZE_FIELD(AudioSource, auxiliary, Float32),
    HARMONIZE_FIELD(AudioSource, unused20, UInt8),
    HARMONIZE_FIELD(AudioSource, gain, Float32),
    HARMONIZE_FIELD(AudioSource, unused32, UInt8),
    HARMONIZE_FIELD(AudioSource, looping, UInt8),
    HARMONIZE_FIELD(AudioSource, unused34, UInt8),
    HARMONIZE_FIELD(AudioSource, playOnCreate, UInt8),
};
const ComponentField kBoxShapeFields[] = {
    HARMONIZE_FIELD(BoxShape, centre, Float32),
    HARMONIZE_FIELD(BoxShape, size, Float32),
};
const ComponentField kCameraLensFields[] = {
    HARMONIZE_FIELD(CameraLens, clearColour, Float32),
    HARMONIZE_FIELD(CameraLens, clearMode, Int32),
    HARMONIZE_FIELD(CameraLens, nearPlane, Float32),
    HARMONIZE_FIELD(CameraLens, fieldOfView, Float32),
    HARMONIZE_FIELD(CameraLens, farPlane, Float32),
    HARMONIZE_FIELD(CameraLens, orthographicHalfHeight, Float32),
    HARMONIZE_FIELD(CameraLens, orthographic, UInt8),
    HARMONIZE_FIELD(CameraLens, unused37, UInt8),
};
const ComponentField kCapsuleShapeFields[] = {
    HARMONIZE_FIELD(CapsuleShape, centre, Float32),
    HARMONIZE_FIELD(CapsuleShape, radius, Float32),
    HARMONIZE_FIELD(CapsuleShape, height, Float32),
    HARMONIZE_FIELD(CapsuleShape, unused20, UInt8),
};
const ComponentField kColliderFields[] = {
    HARMONIZE_FIELD(Collider, position, Float32),
    HARMONIZE_FIELD(Collider, halfExtents, Float32),
    HARMONIZE_FIELD(Collider, trigger, UInt8),
    HARMONIZE_FIELD(Collider, unused25, UInt8),
};
// Type 6 keeps its number's name; its fields are the emitter shape's.
const ComponentField kComponent6Fields[] = {
    HARMONIZE_FIELD(ParticleShape, halfExtents, Float32),
    HARMONIZE_FIELD(ParticleShape, unused12, UInt8),
};
const ComponentField kCollisionLayerFields[] = {
    HARMONIZE_FIELD(CollisionLayer, layer, UInt32),
    HARMONIZE_FIELD(CollisionLayer, mode, UInt32),
};
const ComponentField kLightFields[] = {
    HARMONIZE_FIELD(Light, colour, Float32),
    HARMONIZE_FIELD(Light, intensity, Float32),
    HARMONIZE_FIELD(Light, range, Float32),
    HARMONIZE_FIELD(Light, unused20, UInt8),
    HARMONIZE_FIELD(Light, castsShadows, UInt32),
    HARMONIZE_FIELD(Light, kind, UInt32),
};
const ComponentField kLineFields[] = {
    HARMONIZE_FIELD(Line, unused0, UInt8),
    HARMONIZE_FIELD(Line, start, Float32),
    HARMONIZE_FIELD(Line, end, Float32),
    HARMONIZE_FIELD(Line, unused32, UInt8),
};
const ComponentField kNoPhysicsBodyFields[] = {
    HARMONIZE_FIELD(NoPhysicsBody, bytes, UInt8),
};
const ComponentField kMeshReferenceFields[] = {
    HARMONIZE_FIELD(MeshReference, mesh, UInt64),
};
const ComponentField kComponent12Fields[] = { { "bytes", FieldKind::UInt8, 0, 1, nullptr } };
const ComponentField kComponent13Fields[] = { { "bytes", FieldKind::UInt8, 0, 1, nullptr } };
const ComponentField kParticleSettingsFields[] = {
    HARMONIZE_FIELD(ParticleSettings, colourKeys, Float32),
    HARMONIZE_FIELD(ParticleSettings, colourKeyCount, Int32),
    HARMONIZE_FIELD(ParticleSettings, velocityKept, Float32),
    HARMONIZE_FIELD(ParticleSettings, acceleration, Float32),
    HARMONIZE_FIELD(ParticleSettings, swirl, Float32),
    HARMONIZE_FIELD(ParticleSettings, randomAcceleration, Float32),
    HARMONIZE_FIELD(ParticleSettings, sizeGrowth, Float32),
    HARMONIZE_FIELD(ParticleSettings, unused176, UInt8),
    HARMONIZE_FIELD(ParticleSettings, oneShot, UInt8),
    HARMONIZE_FIELD(ParticleSettings, colourOverLife, UInt8),
    HARMONIZE_FIELD(ParticleSettings, unused190, UInt8),
};
const ComponentField kParticleSpawnerFields[] = {
    HARMONIZE_FIELD(ParticleSpawner, spin, Float32),
    HARMONIZE_FIELD(ParticleSpawner, unused4, UInt8),
    HARMONIZE_FIELD(ParticleSpawner, startVelocity, Float32),
    HARMONIZE_FIELD(ParticleSpawner, emissionRateUpper, Float32),
    HARMONIZE_FIELD(ParticleSpawner, lifetimeUpper, Float32),
    HARMONIZE_FIELD(ParticleSpawner, sizeUpper, Float32),
    HARMONIZE_FIELD(ParticleSpawner, emissionRateLower, Float32),
    HARMONIZE_FIELD(ParticleSpawner, lifetimeLower, Float32),
    HARMONIZE_FIELD(ParticleSpawner, sizeLower, Float32),
    HARMONIZE_FIELD(ParticleSpawner, spinSpread, Float32),
    HARMONIZE_FIELD(ParticleSpawner, velocitySpread, Float32),
    HARMONIZE_FIELD(ParticleSpawner, worldStartVelocity, Float32),
    HARMONIZE_FIELD(ParticleSpawner, emit, UInt8),
    HARMONIZE_FIELD(ParticleSpawner, burst, UInt8),
    HARMONIZE_FIELD(ParticleSpawner, randomRotation, UInt8),
    HARMONIZE_FIELD(ParticleSpawner, worldSpace, UInt8),
};
const ComponentField kParticleAppearanceFields[] = {
    HARMONIZE_FIELD(ParticleAppearance, unused0, UInt8),
    HARMONIZE_FIELD(ParticleAppearance, mode, Int32),
    HARMONIZE_FIELD(ParticleAppearance, sheetCycles, Float32),
    HARMONIZE_FIELD(ParticleAppearance, tilesAcross, Int32),
    HARMONIZE_FIELD(ParticleAppearance, tilesDown, Int32),
    HARMONIZE_FIELD(ParticleAppearance, unused24, UInt8),
};
const ComponentField kRendererFields[] = {
    HARMONIZE_FIELD(Renderer, lightmap, UInt64),
    HARMONIZE_FIELD(Renderer, lightmapScale, Float32),
    HARMONIZE_FIELD(Renderer, lightmapOffset, Float32),
    HARMONIZE_FIELD(Renderer, material, UInt64),
    HARMONIZE_FIELD(Renderer, castsShadows, UInt8),
    HARMONIZE_FIELD(Renderer, unused33, UInt8),
};
const ComponentField kRigidBodyFields[] = {
    HARMONIZE_FIELD(RigidBody, velocity, Float32),
    HARMONIZE_FIELD(RigidBody, mass, Float32),
    HARMONIZE_FIELD(RigidBody, unused16, UInt8),
    HARMONIZE_FIELD(RigidBody, massless, UInt8),
    HARMONIZE_FIELD(RigidBody, lockLinear, UInt8),
    HARMONIZE_FIELD(RigidBody, lockAngular, UInt8),
};
const ComponentField kComponent19Fields[] = { { "bytes", FieldKind::UInt8, 0, 316, nullptr } };
const ComponentField kSphereShapeFields[] = {
    HARMONIZE_FIELD(SphereShape, unused0, UInt8),
    HARMONIZE_FIELD(SphereShape, radius, Float32),
};
const ComponentField kTextLabelFields[] = {
    HARMONIZE_FIELD(TextLabel, lineAlignment, Int32),
    HARMONIZE_FIELD(TextLabel, anchor, Int32),
    HARMONIZE_FIELD(TextLabel, scale, Float32),
    HARMONIZE_FIELD(TextLabel, colour, Float32),
    HARMONIZE_FIELD(TextLabel, unused28, UInt8),
    HARMONIZE_FIELD(TextLabel, font, UInt64),
    HARMONIZE_FIELD(TextLabel, pixelSize, Int32),
    HARMONIZE_FIELD(TextLabel, lineSpacing, Float32),
    HARMONIZE_FIELD(TextLabel, depth, Float32),
    HARMONIZE_FIELD(TextLabel, unused52, UInt8),
    HARMONIZE_FIELD(TextLabel, textKey, UInt64),
};
const ComponentField kComponent22Fields[] = { { "bytes", FieldKind::UInt8, 0, 100, nullptr } };
const ComponentField kTransformFields[] = {
    HARMONIZE_FIELD(Transform, position, Float32),
    HARMONIZE_FIELD_WITH_DEFAULTS(Transform, rotation, Float32, kIdentityRotation),
    HARMONIZE_FIELD_WITH_DEFAULTS(Transform, scale, Float32, kUnitScale),
    HARMONIZE_FIELD(Transform, parent, Entity),
};
const ComponentField kComponent24Fields[] = { { "bytes", FieldKind::UInt8, 0, 12, nullptr } };
const ComponentField kAchievementTriggerFields[] = {
    HARMONIZE_FIELD(AchievementTrigger, achievement, Int32),
    HARMONIZE_FIELD(AchievementTrigger, unlocked, UInt8),
    HARMONIZE_FIELD(AchievementTrigger, unused5, UInt8),
};
const ComponentField kAlarmMachineFields[] = {
    HARMONIZE_FIELD(AlarmMachine, range, Float32),
    HARMONIZE_FIELD(AlarmMachine, idleClip, UInt64),
    HARMONIZE_FIELD(AlarmMachine, alertClip, UInt64),
    HARMONIZE_FIELD(AlarmMachine, shootClip, UInt64),
    HARMONIZE_FIELD(AlarmMachine, coolDownClip, UInt64),
    HARMONIZE_FIELD(AlarmMachine, animated, Entity),
    HARMONIZE_FIELD(AlarmMachine, missilePrefab, Entity),
    HARMONIZE_FIELD(AlarmMachine, coolDownTime, Float32),
    HARMONIZE_FIELD(AlarmMachine, shotInterval, Float32),
    HARMONIZE_FIELD(AlarmMachine, warmUpTime, Float32),
    HARMONIZE_FIELD(AlarmMachine, beamSpeed, Float32),
    HARMONIZE_FIELD(AlarmMachine, state, Int32),
    HARMONIZE_FIELD(AlarmMachine, warmUpTimer, Float32),
    HARMONIZE_FIELD(AlarmMachine, coolDownTimer, Float32),
    HARMONIZE_FIELD(AlarmMachine, shotTimer, Float32),
    HARMONIZE_FIELD(AlarmMachine, beamBlend, Float32),
};
const ComponentField kFrameAnimationFields[] = {
    HARMONIZE_FIELD(FrameAnimation, frameCount, Int32),
    HARMONIZE_FIELD(FrameAnimation, secondsPerFrame, Float32),
    HARMONIZE_FIELD(FrameAnimation, stateKeys, UInt64),
    HARMONIZE_FIELD(FrameAnimation, stateValues, Float32),
    HARMONIZE_FIELD(FrameAnimation, currentFrame, Int32),
    HARMONIZE_FIELD(FrameAnimation, currentValue, Float32),
};
const ComponentField kPlayerStateFields[] = {
    HARMONIZE_FIELD(PlayerState, idleClips, UInt64),
    HARMONIZE_FIELD(PlayerState, walkClips, UInt64),
    HARMONIZE_FIELD(PlayerState, fallClips, UInt64),
    HARMONIZE_FIELD(PlayerState, jumpClips, UInt64),
    HARMONIZE_FIELD(PlayerState, landClips, UInt64),
    HARMONIZE_FIELD(PlayerState, stopClips, UInt64),
    HARMONIZE_FIELD(PlayerState, airSideClips, UInt64),
    HARMONIZE_FIELD(PlayerState, kind8Clips, UInt64),
    HARMONIZE_FIELD(PlayerState, kind9Clips, UInt64),
    HARMONIZE_FIELD(PlayerState, modelRace2, Entity),
    HARMONIZE_FIELD(PlayerState, modelRace0, Entity),
    HARMONIZE_FIELD(PlayerState, crossFade, Float32),
    HARMONIZE_FIELD(PlayerState, variationChance, Int32),
    HARMONIZE_FIELD(PlayerState, idleVariationTime, Float32),
    HARMONIZE_FIELD(PlayerState, lastMovementState, Int32),
    HARMONIZE_FIELD(PlayerState, facingCode, Int32),
    HARMONIZE_FIELD(PlayerState, clipTime, Float32),
    HARMONIZE_FIELD(PlayerState, currentClip, UInt64),
    HARMONIZE_FIELD(PlayerState, currentKind, Int32),
    HARMONIZE_FIELD(PlayerState, randomState, UInt32),
    HARMONIZE_FIELD(PlayerState, restHeightRace2, Float32),
    HARMONIZE_FIELD(PlayerState, restHeightRace0, Float32),
};
const ComponentField kFxaaSettingsFields[] = {
    HARMONIZE_FIELD(FxaaSettings, unused0, UInt8),
    HARMONIZE_FIELD(FxaaSettings, material, UInt64),
};
const ComponentField kBeamPortalFields[] = {
    HARMONIZE_FIELD(BeamPortal, target, Entity),
    HARMONIZE_FIELD(BeamPortal, exitOffset, Float32),
    HARMONIZE_FIELD(BeamPortal, unused12, UInt8),
    HARMONIZE_FIELD(BeamPortal, effectPrefab, Entity),
    HARMONIZE_FIELD(BeamPortal, armed, UInt8),
    HARMONIZE_FIELD(BeamPortal, unused25, UInt8),
};
const ComponentField kBloomSettingsFields[] = {
    HARMONIZE_FIELD(BloomSettings, unused0, UInt8),
    HARMONIZE_FIELD(BloomSettings, blurSpread, Float32),
    HARMONIZE_FIELD(BloomSettings, alphaMaskWeight, Float32),
    HARMONIZE_FIELD(BloomSettings, intensity, Float32),
    HARMONIZE_FIELD(BloomSettings, threshold, Float32),
    HARMONIZE_FIELD(BloomSettings, blurIterations, Int32),
    HARMONIZE_FIELD(BloomSettings, blurMaterial, UInt64),
    HARMONIZE_FIELD(BloomSettings, combineMaterial, UInt64),
    HARMONIZE_FIELD(BloomSettings, unused40, UInt8),
    HARMONIZE_FIELD(BloomSettings, brightPassMaterial, UInt64),
};
const ComponentField kSpeechBubbleFields[] = {
    HARMONIZE_FIELD(SpeechBubble, displayTime, Float32),
    HARMONIZE_FIELD(SpeechBubble, openScale, Float32),
    HARMONIZE_FIELD(SpeechBubble, speakerOffset, Float32),
    HARMONIZE_FIELD(SpeechBubble, smoothTime, Float32),
    HARMONIZE_FIELD(SpeechBubble, openDuration, Float32),
    HARMONIZE_FIELD(SpeechBubble, closeDuration, Float32),
    HARMONIZE_FIELD(SpeechBubble, anchorEntity, Entity),
    HARMONIZE_FIELD(SpeechBubble, bodyOffset, Float32),
    HARMONIZE_FIELD(SpeechBubble, velocity, Float32),
    HARMONIZE_FIELD(SpeechBubble, unused56, UInt8),
    HARMONIZE_FIELD(SpeechBubble, speakerEntity, Entity),
    HARMONIZE_FIELD(SpeechBubble, currentPosition, Float32),
    HARMONIZE_FIELD(SpeechBubble, unused76, UInt8),
    HARMONIZE_FIELD(SpeechBubble, bodyEntity, Entity),
    HARMONIZE_FIELD(SpeechBubble, unused88, UInt8),
    HARMONIZE_FIELD(SpeechBubble, anchored, UInt8),
    HARMONIZE_FIELD(SpeechBubble, unused93, UInt8),
};
const ComponentField kComponent33Fields[] = { { "bytes", FieldKind::UInt8, 0, 36, nullptr } };
const ComponentField kCameraZoneFields[] = {
    HARMONIZE_FIELD(CameraZone, unused0, UInt8),
    HARMONIZE_FIELD(CameraZone, camera, Entity),
    HARMONIZE_FIELD(CameraZone, blendTime, Float32),
    HARMONIZE_FIELD(CameraZone, unused12, UInt8),
    HARMONIZE_FIELD(CameraZone, cameraFollows, UInt8),
    HARMONIZE_FIELD(CameraZone, unused17, UInt8),
};
const ComponentField kCameraCurveFields[] = {
    HARMONIZE_FIELD(CameraCurve, animation, UInt64),
};
const ComponentField kGameCameraRigFields[] = {
    HARMONIZE_FIELD(GameCameraRig, listenerZ, Float32),
    HARMONIZE_FIELD(GameCameraRig, boundsLeft, Float32),
    HARMONIZE_FIELD(GameCameraRig, boundsBottom, Float32),
    HARMONIZE_FIELD(GameCameraRig, boundsRight, Float32),
    HARMONIZE_FIELD(GameCameraRig, boundsTop, Float32),
    HARMONIZE_FIELD(GameCameraRig, offsetX, Float32),
    HARMONIZE_FIELD(GameCameraRig, offsetY, Float32),
    HARMONIZE_FIELD(GameCameraRig, clampMinX, Float32),
    HARMONIZE_FIELD(GameCameraRig, clampMinY, Float32),
    HARMONIZE_FIELD(GameCameraRig, clampMaxX, Float32),
    HARMONIZE_FIELD(GameCameraRig, clampMaxY, Float32),
    HARMONIZE_FIELD(GameCameraRig, unused44, UInt8),
};
const ComponentField kScreenFadeFields[] = {
    HARMONIZE_FIELD(ScreenFade, opacity, Float32),
    HARMONIZE_FIELD(ScreenFade, direction, Float32),
    HARMONIZE_FIELD(ScreenFade, speed, Float32),
    HARMONIZE_FIELD(ScreenFade, startDark, UInt8),
    HARMONIZE_FIELD(ScreenFade, unused13, UInt8),
};
const ComponentField kComponent38Fields[] = { { "bytes", FieldKind::UInt8, 0, 28, nullptr } };
const ComponentField kVignetteMaskFields[] = {
    HARMONIZE_FIELD(VignetteMask, texture, UInt64),
};
const ComponentField kRaceSourceFields[] = {
    HARMONIZE_FIELD(RaceSource, bytes, UInt8),
};
const ComponentField kPlayerMovementFields[] = {
    HARMONIZE_FIELD(PlayerMovement, touchingTrigger, Entity),
    HARMONIZE_FIELD(PlayerMovement, carryTime, Float32),
    HARMONIZE_FIELD(PlayerMovement, recordedCarrier, Entity),
    HARMONIZE_FIELD(PlayerMovement, carrierMatrix, Float32),
    HARMONIZE_FIELD(PlayerMovement, carrierInverse, Float32),
    HARMONIZE_FIELD(PlayerMovement, carrierInverseRotation, Float32),
    HARMONIZE_FIELD(PlayerMovement, carrierVelocity, Float32),
    HARMONIZE_FIELD(PlayerMovement, carryRemaining, Float32),
    HARMONIZE_FIELD(PlayerMovement, restoreEffectPrefab, Entity),
    HARMONIZE_FIELD(PlayerMovement, deathEffectPrefab, Entity),
    HARMONIZE_FIELD(PlayerMovement, deathDelay, Float32),
    HARMONIZE_FIELD(PlayerMovement, respawnDelay, Float32),
    HARMONIZE_FIELD(PlayerMovement, jumpSpeedUp, Float32),
    HARMONIZE_FIELD(PlayerMovement, jumpSpeedDown, Float32),
    HARMONIZE_FIELD(PlayerMovement, unused192, UInt8),
    HARMONIZE_FIELD(PlayerMovement, baseGravity, Float32),
    HARMONIZE_FIELD(PlayerMovement, unused200, UInt8),
    HARMONIZE_FIELD(PlayerMovement, walkAcceleration, Float32),
    HARMONIZE_FIELD(PlayerMovement, maxWalkSpeed, Float32),
    HARMONIZE_FIELD(PlayerMovement, maxSpeed, Float32),
    HARMONIZE_FIELD(PlayerMovement, unused216, UInt8),
    HARMONIZE_FIELD(PlayerMovement, walkDamping, Float32),
    HARMONIZE_FIELD(PlayerMovement, airDamping, Float32),
    HARMONIZE_FIELD(PlayerMovement, unused232, UInt8),
    HARMONIZE_FIELD(PlayerMovement, airInputScale, Float32),
    HARMONIZE_FIELD(PlayerMovement, maxAirSpeed, Float32),
    HARMONIZE_FIELD(PlayerMovement, unused244, UInt8),
    HARMONIZE_FIELD(PlayerMovement, walkRampTime, Float32),
    HARMONIZE_FIELD(PlayerMovement, inputDeadZone, Float32),
    HARMONIZE_FIELD(PlayerMovement, jumpGraceTime, Float32),
    HARMONIZE_FIELD(PlayerMovement, stepInterval, Float32),
    HARMONIZE_FIELD(PlayerMovement, turnRate, Float32),
    HARMONIZE_FIELD(PlayerMovement, brakeStrength, Float32),
    HARMONIZE_FIELD(PlayerMovement, walkTime, Float32),
    HARMONIZE_FIELD(PlayerMovement, riseCaps, Float32),
    HARMONIZE_FIELD(PlayerMovement, velocity, Float32),
    HARMONIZE_FIELD(PlayerMovement, pushVelocity, Float32),
    HARMONIZE_FIELD(PlayerMovement, pushDecay, Float32),
    HARMONIZE_FIELD(PlayerMovement, groundDirection, Float32),
    HARMONIZE_FIELD(PlayerMovement, upDirection, Float32),
    HARMONIZE_FIELD(PlayerMovement, slopeDirection, Float32),
    HARMONIZE_FIELD(PlayerMovement, lastInputDirection, Float32),
    HARMONIZE_FIELD(PlayerMovement, jumpAxis, Float32),
    HARMONIZE_FIELD(PlayerMovement, pushCountdown, Int32),
    HARMONIZE_FIELD(PlayerMovement, brakeSide, Float32),
    HARMONIZE_FIELD(PlayerMovement, unused364, UInt8),
    HARMONIZE_FIELD(PlayerMovement, harmonizeEffectPrefab, Entity),
    HARMONIZE_FIELD(PlayerMovement, dustEffectPrefab, Entity),
    HARMONIZE_FIELD(PlayerMovement, unused384, UInt8),
    HARMONIZE_FIELD(PlayerMovement, maxTurnAngle, Float32),
    HARMONIZE_FIELD(PlayerMovement, cluster, Entity),
    HARMONIZE_FIELD(PlayerMovement, clusterBoxes, Entity),
    HARMONIZE_FIELD(PlayerMovement, clusterBoxCount, Int32),
    HARMONIZE_FIELD(PlayerMovement, snapPath, Float32),
    HARMONIZE_FIELD(PlayerMovement, clusterUp, Float32),
    HARMONIZE_FIELD(PlayerMovement, snapPosition, Float32),
    HARMONIZE_FIELD(PlayerMovement, snapTangent, Float32),
    HARMONIZE_FIELD(PlayerMovement, snapBoxUp, Float32),
    HARMONIZE_FIELD(PlayerMovement, snapBoxA, Entity),
    HARMONIZE_FIELD(PlayerMovement, snapBoxB, Entity),
    HARMONIZE_FIELD(PlayerMovement, snapParameter, Float32),
    HARMONIZE_FIELD(PlayerMovement, jumpBuffer, Float32),
    HARMONIZE_FIELD(PlayerMovement, coyoteTime, Float32),
    HARMONIZE_FIELD(PlayerMovement, stepTimer, Float32),
    HARMONIZE_FIELD(PlayerMovement, unused584, UInt8),
    HARMONIZE_FIELD(PlayerMovement, movementState, Int32),
    HARMONIZE_FIELD(PlayerMovement, jumpMode, Int32),
    HARMONIZE_FIELD(PlayerMovement, unused620, UInt8),
    HARMONIZE_FIELD(PlayerMovement, raceState, Int32),
    HARMONIZE_FIELD(PlayerMovement, facingState, Int32),
    HARMONIZE_FIELD(PlayerMovement, liftOffset, Float32),
    HARMONIZE_FIELD(PlayerMovement, gravityDirection, Float32),
    HARMONIZE_FIELD(PlayerMovement, gravityScale, Float32),
    HARMONIZE_FIELD(PlayerMovement, brakeArmed, UInt8),
    HARMONIZE_FIELD(PlayerMovement, unused681, UInt8),
    HARMONIZE_FIELD(PlayerMovement, harmonizeEnabled, UInt8),
    HARMONIZE_FIELD(PlayerMovement, jumpedThisTick, UInt8),
    HARMONIZE_FIELD(PlayerMovement, unused686, UInt8),
};
const ComponentField kCollectibleFields[] = {
    HARMONIZE_FIELD(Collectible, pickupEffect, Entity),
    HARMONIZE_FIELD(Collectible, counterIcon, Entity),
    HARMONIZE_FIELD(Collectible, picked, UInt8),
    HARMONIZE_FIELD(Collectible, unused9, UInt8),
};
const ComponentField kMenuButtonFields[] = {
    HARMONIZE_FIELD(MenuButton, neighbourUp, Entity),
    HARMONIZE_FIELD(MenuButton, neighbourDown, Entity),
    HARMONIZE_FIELD(MenuButton, neighbourLeft, Entity),
    HARMONIZE_FIELD(MenuButton, neighbourRight, Entity),
    HARMONIZE_FIELD(MenuButton, selectedClip, UInt64),
    HARMONIZE_FIELD(MenuButton, deselectedClip, UInt64),
    HARMONIZE_FIELD(MenuButton, lockedClip, UInt64),
    HARMONIZE_FIELD(MenuButton, activatedClip, UInt64),
    HARMONIZE_FIELD(MenuButton, targets, Entity),
    HARMONIZE_FIELD(MenuButton, transaction, Int32),
    HARMONIZE_FIELD(MenuButton, levelNumber, Int32),
    HARMONIZE_FIELD(MenuButton, unused88, UInt8),
    HARMONIZE_FIELD(MenuButton, worldButton, UInt8),
    HARMONIZE_FIELD(MenuButton, verticalOnly, UInt8),
    HARMONIZE_FIELD(MenuButton, disabled, UInt8),
    HARMONIZE_FIELD(MenuButton, hasValueArrows, UInt8),
};
const ComponentField kComponent44Fields[] = { { "bytes", FieldKind::UInt8, 0, 4, nullptr } };
const ComponentField kCutsceneTriggerFields[] = {
    HARMONIZE_FIELD(CutsceneTrigger, bytes, UInt8),
};
const ComponentField kPlatformWarningFields[] = {
    HARMONIZE_FIELD(PlatformWarning, delay, Float32),
    HARMONIZE_FIELD(PlatformWarning, clip, UInt64),
};
const ComponentField kKillZoneFields[] = {
    HARMONIZE_FIELD(KillZone, bytes, UInt8),
};
const ComponentField kDeathTriggerFields[] = {
    HARMONIZE_FIELD(DeathTrigger, bytes, UInt8),
};
const ComponentField kComponent49Fields[] = { { "bytes", FieldKind::UInt8, 0, 8, nullptr } };
const ComponentField kTimerFields[] = {
    HARMONIZE_FIELD(Timer, lifetime, Float32),
    HARMONIZE_FIELD(Timer, prefab, Entity),
};
const ComponentField kBreakOnContactFields[] = {
    HARMONIZE_FIELD(BreakOnContact, effectPrefab, Entity),
    HARMONIZE_FIELD(BreakOnContact, ignoreTriggers, UInt8),
    HARMONIZE_FIELD(BreakOnContact, unused5, UInt8),
};
const ComponentField kComponent52Fields[] = { { "bytes", FieldKind::UInt8, 0, 1, nullptr } };
const ComponentField kPlatformSensorFields[] = {
    HARMONIZE_FIELD(PlatformSensor, range, Float32),
    HARMONIZE_FIELD(PlatformSensor, unused4, UInt8),
    HARMONIZE_FIELD(PlatformSensor, hideWhenAway, UInt8),
    HARMONIZE_FIELD(PlatformSensor, unused9, UInt8),
};
const ComponentField kLightningBoltFields[] = {
    HARMONIZE_FIELD(LightningBolt, target, Entity),
    HARMONIZE_FIELD(LightningBolt, pointCount, Int32),
    HARMONIZE_FIELD(LightningBolt, jitter, Float32),
};
const ComponentField kComponent55Fields[] = { { "bytes", FieldKind::UInt8, 0, 1, nullptr } };
const ComponentField kDetonatorFields[] = {
    HARMONIZE_FIELD(Detonator, delay, Float32),
    HARMONIZE_FIELD(Detonator, clip, UInt64),
    HARMONIZE_FIELD(Detonator, target, Entity),
    HARMONIZE_FIELD(Detonator, running, UInt8),
    HARMONIZE_FIELD(Detonator, unused17, UInt8),
};
const ComponentField kComponent57Fields[] = { { "bytes", FieldKind::UInt8, 0, 24, nullptr } };
const ComponentField kFlyingEnemyFields[] = {
    HARMONIZE_FIELD(FlyingEnemy, detectionRadius, Float32),
    HARMONIZE_FIELD(FlyingEnemy, speed, Float32),
    HARMONIZE_FIELD(FlyingEnemy, unused8, UInt8),
    HARMONIZE_FIELD(FlyingEnemy, head, Entity),
    HARMONIZE_FIELD(FlyingEnemy, raceEntity, Entity),
    HARMONIZE_FIELD(FlyingEnemy, wrap, UInt8),
    HARMONIZE_FIELD(FlyingEnemy, unused21, UInt8),
    HARMONIZE_FIELD(FlyingEnemy, path, Float32),
    HARMONIZE_FIELD(FlyingEnemy, heading, Float32),
    HARMONIZE_FIELD(FlyingEnemy, pathLength, Float32),
    HARMONIZE_FIELD(FlyingEnemy, unused288, UInt8),
    HARMONIZE_FIELD(FlyingEnemy, pathPosition, Float32),
};
const ComponentField kFuzzyCameraZoneFields[] = {
    HARMONIZE_FIELD(FuzzyCameraZone, camera, Entity),
    HARMONIZE_FIELD(FuzzyCameraZone, followX, UInt8),
    HARMONIZE_FIELD(FuzzyCameraZone, followY, UInt8),
    HARMONIZE_FIELD(FuzzyCameraZone, followZ, UInt8),
    HARMONIZE_FIELD(FuzzyCameraZone, unused7, UInt8),
};
const ComponentField kFuzzyZoneFields[] = {
    HARMONIZE_FIELD(FuzzyZone, shape, Int32),
    HARMONIZE_FIELD(FuzzyZone, easing, UInt32),
    HARMONIZE_FIELD(FuzzyZone, coreRadius, Float32),
    HARMONIZE_FIELD(FuzzyZone, falloffWidth, Float32),
    HARMONIZE_FIELD(FuzzyZone, coreSize, Float32),
    HARMONIZE_FIELD(FuzzyZone, falloff, Float32),
};
const ComponentField kGravityZoneFields[] = {
    HARMONIZE_FIELD(GravityZone, unused0, UInt8),
    HARMONIZE_FIELD(GravityZone, gravityScale, Float32),
    HARMONIZE_FIELD(GravityZone, unused8, UInt8),
    HARMONIZE_FIELD(GravityZone, savedDirection, Float32),
    HARMONIZE_FIELD(GravityZone, savedScale, Float32),
    HARMONIZE_FIELD(GravityZone, direction, Float32),
    HARMONIZE_FIELD(GravityZone, unused32, UInt8),
};
const ComponentField kComponent62Fields[] = { { "bytes", FieldKind::UInt8, 0, 1, nullptr } };
const ComponentField kComponent63Fields[] = { { "bytes", FieldKind::UInt8, 0, 4, nullptr } };
const ComponentField kStartHiddenFields[] = {
    HARMONIZE_FIELD(StartHidden, hidden, UInt8),
};
const ComponentField kComponent65Fields[] = { { "bytes", FieldKind::UInt8, 0, 4, nullptr } };
const ComponentField kPushPadFields[] = {
    HARMONIZE_FIELD(PushPad, pushSpeed, Float32),
    HARMONIZE_FIELD(PushPad, airSpeedDivisor, Float32),
    HARMONIZE_FIELD(PushPad, sound, UInt64),
    HARMONIZE_FIELD(PushPad, useUpAxis, UInt8),
    HARMONIZE_FIELD(PushPad, unused17, UInt8),
};
const ComponentField kFogFields[] = {
    HARMONIZE_FIELD(Fog, ambient, Float32),
    HARMONIZE_FIELD(Fog, colour, Float32),
    HARMONIZE_FIELD(Fog, unused32, UInt8),
    HARMONIZE_FIELD(Fog, end, Float32),
    HARMONIZE_FIELD(Fog, unused40, UInt8),
    HARMONIZE_FIELD(Fog, start, Float32),
    HARMONIZE_FIELD(Fog, enabled, UInt8),
    HARMONIZE_FIELD(Fog, unused49, UInt8),
};
const ComponentField kLevelGoalFields[] = {
    HARMONIZE_FIELD(LevelGoal, bounceEffect, Entity),
    HARMONIZE_FIELD(LevelGoal, reachEffect, Entity),
    HARMONIZE_FIELD(LevelGoal, bounceEffectRace2, Entity),
    HARMONIZE_FIELD(LevelGoal, reachEffectRace2, Entity),
    HARMONIZE_FIELD(LevelGoal, reached, UInt8),
    HARMONIZE_FIELD(LevelGoal, reachedAgain, UInt8),
    HARMONIZE_FIELD(LevelGoal, unused18, UInt8),
};
const ComponentField kLevelStatisticsDisplayFields[] = {
    HARMONIZE_FIELD(LevelStatisticsDisplay, collectiblesText, Entity),
    HARMONIZE_FIELD(LevelStatisticsDisplay, deathsText, Entity),
    HARMONIZE_FIELD(LevelStatisticsDisplay, timeText, Entity),
    HARMONIZE_FIELD(LevelStatisticsDisplay, rankText, Entity),
};
const ComponentField kLightningFields[] = {
    HARMONIZE_FIELD(Lightning, scrollInterval, Float32),
    HARMONIZE_FIELD(Lightning, moveInterval, Float32),
    HARMONIZE_FIELD(Lightning, flashIntensity, Float32),
    HARMONIZE_FIELD(Lightning, offsetStep, Float32),
    HARMONIZE_FIELD(Lightning, flashLight, Entity),
    HARMONIZE_FIELD(Lightning, reference, Entity),
    HARMONIZE_FIELD(Lightning, minX, Float32),
    HARMONIZE_FIELD(Lightning, maxX, Float32),
    HARMONIZE_FIELD(Lightning, minY, Float32),
    HARMONIZE_FIELD(Lightning, maxY, Float32),
    HARMONIZE_FIELD(Lightning, flashChance, Float32),
    HARMONIZE_FIELD(Lightning, disabled, UInt8),
    HARMONIZE_FIELD(Lightning, unused49, UInt8),
};
const ComponentField kComponent71Fields[] = { { "bytes", FieldKind::UInt8, 0, 8, nullptr } };
const ComponentField kComponent72Fields[] = { { "bytes", FieldKind::UInt8, 0, 4, nullptr } };
const ComponentField kLanguageFilterFields[] = {
    HARMONIZE_FIELD(LanguageFilter, mode, UInt32),
    HARMONIZE_FIELD(LanguageFilter, languages, UInt32),
};
const ComponentField kMenuTransitionRigFields[] = {
    HARMONIZE_FIELD(MenuTransitionRig, background, EntityIndex),
    HARMONIZE_FIELD(MenuTransitionRig, unused2, UInt8),
    HARMONIZE_FIELD(MenuTransitionRig, animated, Entity),
    HARMONIZE_FIELD(MenuTransitionRig, openClip, UInt64),
    HARMONIZE_FIELD(MenuTransitionRig, closingClip, UInt64),
    HARMONIZE_FIELD(MenuTransitionRig, reopenedClip, UInt64),
    HARMONIZE_FIELD(MenuTransitionRig, unused36, UInt8),
};
const ComponentField kMenuOptionRowFields[] = {
    HARMONIZE_FIELD(MenuOptionRow, optionType, Int32),
    HARMONIZE_FIELD(MenuOptionRow, unused4, UInt8),
};
const ComponentField kMenuPageFields[] = {
    HARMONIZE_FIELD(MenuPage, pageId, Int32),
    HARMONIZE_FIELD(MenuPage, worldIndex, Int32),
    HARMONIZE_FIELD(MenuPage, buttons, Entity),
    HARMONIZE_FIELD(MenuPage, selectedButton, Entity),
    HARMONIZE_FIELD(MenuPage, previouslySelectedButton, Entity),
    HARMONIZE_FIELD(MenuPage, unused136, UInt8),
    HARMONIZE_FIELD(MenuPage, locked, UInt8),
    HARMONIZE_FIELD(MenuPage, unused138, UInt8),
};
const ComponentField kMissileLauncherFields[] = {
    HARMONIZE_FIELD(MissileLauncher, animated, Entity),
    HARMONIZE_FIELD(MissileLauncher, reloadInterval, Float32),
    HARMONIZE_FIELD(MissileLauncher, reloadCountdown, Float32),
    HARMONIZE_FIELD(MissileLauncher, missilePrefab, Entity),
    HARMONIZE_FIELD(MissileLauncher, muzzle, Entity),
    HARMONIZE_FIELD(MissileLauncher, unused20, UInt8),
    HARMONIZE_FIELD(MissileLauncher, sightLength, Float32),
};
const ComponentField kMissileFields[] = {
    HARMONIZE_FIELD(Missile, target, Entity),
    HARMONIZE_FIELD(Missile, speed, Float32),
    HARMONIZE_FIELD(Missile, direction, Float32),
    HARMONIZE_FIELD(Missile, unused20, UInt8),
    HARMONIZE_FIELD(Missile, homingRange, Float32),
    HARMONIZE_FIELD(Missile, mode, Int32),
};
const ComponentField kTextureScrollFields[] = {
    HARMONIZE_FIELD(TextureScroll, speed, Float32),
    HARMONIZE_FIELD(TextureScroll, timeOffset, Float32),
    HARMONIZE_FIELD(TextureScroll, uRate, Float32),
    HARMONIZE_FIELD(TextureScroll, vRate, Float32),
    HARMONIZE_FIELD(TextureScroll, randomU, UInt8),
    HARMONIZE_FIELD(TextureScroll, randomV, UInt8),
    HARMONIZE_FIELD(TextureScroll, unused18, UInt8),
};
const ComponentField kMovingPlatformFields[] = {
    HARMONIZE_FIELD(MovingPlatform, stationA, Entity),
    HARMONIZE_FIELD(MovingPlatform, stationB, Entity),
    HARMONIZE_FIELD(MovingPlatform, unused8, UInt8),
    HARMONIZE_FIELD(MovingPlatform, autoplay, Int32),
    HARMONIZE_FIELD(MovingPlatform, targetStation, Entity),
    HARMONIZE_FIELD(MovingPlatform, targetIndex, Int32),
    HARMONIZE_FIELD(MovingPlatform, unused24, UInt8),
    HARMONIZE_FIELD(MovingPlatform, state, Int32),
    HARMONIZE_FIELD(MovingPlatform, previousState, Int32),
    HARMONIZE_FIELD(MovingPlatform, changed, Int32),
    HARMONIZE_FIELD(MovingPlatform, setupValue, UInt8),
    HARMONIZE_FIELD(MovingPlatform, started, UInt8),
    HARMONIZE_FIELD(MovingPlatform, unused42, UInt8),
};
const ComponentField kMovingPlatformSetupFields[] = {
    HARMONIZE_FIELD(MovingPlatformSetup, platform, Entity),
    HARMONIZE_FIELD(MovingPlatformSetup, wrapMode, Int32),
    HARMONIZE_FIELD(MovingPlatformSetup, autoplay, Int32),
    HARMONIZE_FIELD(MovingPlatformSetup, clip, UInt64),
    HARMONIZE_FIELD(MovingPlatformSetup, value, UInt8),
    HARMONIZE_FIELD(MovingPlatformSetup, unused21, UInt8),
};
const ComponentField kComponent82Fields[] = { { "bytes", FieldKind::UInt8, 0, 12, nullptr } };
const ComponentField kComponent83Fields[] = { { "bytes", FieldKind::UInt8, 0, 8, nullptr } };
const ComponentField kMenuOptionFields[] = {
    HARMONIZE_FIELD(MenuOption, action, Int32),
    HARMONIZE_FIELD(MenuOption, optionType, Int32),
};
const ComponentField kComponent85Fields[] = { { "bytes", FieldKind::UInt8, 0, 8, nullptr } };
const ComponentField kGatherChildrenFields[] = {
    HARMONIZE_FIELD(GatherChildren, bytes, UInt8),
};
const ComponentField kOneShotAnimationFields[] = {
    HARMONIZE_FIELD(OneShotAnimation, animated, Entity),
    HARMONIZE_FIELD(OneShotAnimation, fired, UInt8),
    HARMONIZE_FIELD(OneShotAnimation, unused5, UInt8),
};
const ComponentField kPlayerSpawnFields[] = {
    HARMONIZE_FIELD(PlayerSpawn, bytes, UInt8),
};
const ComponentField kSoundTriggerFields[] = {
    HARMONIZE_FIELD(SoundTrigger, sound, UInt64),
    HARMONIZE_FIELD(SoundTrigger, playerOnly, UInt8),
    HARMONIZE_FIELD(SoundTrigger, stop, UInt8),
    HARMONIZE_FIELD(SoundTrigger, played, UInt8),
    HARMONIZE_FIELD(SoundTrigger, unused11, UInt8),
};
const ComponentField kRaceFields[] = {
    HARMONIZE_FIELD(Race, value, Int32),
};
const ComponentField kRaceAnimationTriggerFields[] = {
    HARMONIZE_FIELD(RaceAnimationTrigger, animated, Entity),
    HARMONIZE_FIELD(RaceAnimationTrigger, opposedClip, UInt64),
    HARMONIZE_FIELD(RaceAnimationTrigger, otherClip, UInt64),
};
const ComponentField kSpeechTriggerFields[] = {
    HARMONIZE_FIELD(SpeechTrigger, unused0, UInt8),
    HARMONIZE_FIELD(SpeechTrigger, value28, Float32),
    HARMONIZE_FIELD(SpeechTrigger, value32, Float32),
    HARMONIZE_FIELD(SpeechTrigger, unused36, UInt8),
    HARMONIZE_FIELD(SpeechTrigger, value48, Float32),
    HARMONIZE_FIELD(SpeechTrigger, unused52, UInt8),
};
const ComponentField kPlatformFields[] = {
    HARMONIZE_FIELD(Platform, breakPrefab, Entity),
    HARMONIZE_FIELD(Platform, effectPrefab, Entity),
    HARMONIZE_FIELD(Platform, hideSound, UInt64),
    HARMONIZE_FIELD(Platform, showSound, UInt64),
    HARMONIZE_FIELD(Platform, hiddenTime, Float32),
    HARMONIZE_FIELD(Platform, animated, Entity),
    HARMONIZE_FIELD(Platform, unused32, UInt8),
    HARMONIZE_FIELD(Platform, occupancy, Int32),
    HARMONIZE_FIELD(Platform, hiddenRemaining, Float32),
    HARMONIZE_FIELD(Platform, hideDelay, Float32),
    HARMONIZE_FIELD(Platform, standProof, UInt8),
    HARMONIZE_FIELD(Platform, release, UInt8),
    HARMONIZE_FIELD(Platform, running, UInt8),
    HARMONIZE_FIELD(Platform, pending, UInt8),
    HARMONIZE_FIELD(Platform, hiddenByStanding, UInt8),
    HARMONIZE_FIELD(Platform, unused65, UInt8),
};
const ComponentField kComponent94Fields[] = { { "bytes", FieldKind::UInt8, 0, 1, nullptr } };
const ComponentField kSavePointTriggerFields[] = {
    HARMONIZE_FIELD(SavePointTrigger, messageTime, Float32),
    HARMONIZE_FIELD(SavePointTrigger, idleSound, UInt64),
    HARMONIZE_FIELD(SavePointTrigger, rightSound, UInt64),
    HARMONIZE_FIELD(SavePointTrigger, wrongSound, UInt64),
    HARMONIZE_FIELD(SavePointTrigger, respawnSound, UInt64),
    HARMONIZE_FIELD(SavePointTrigger, animated, Entity),
    HARMONIZE_FIELD(SavePointTrigger, payWait, Float32),
    HARMONIZE_FIELD(SavePointTrigger, flags, UInt32),
    HARMONIZE_FIELD(SavePointTrigger, rightWait, Float32),
    HARMONIZE_FIELD(SavePointTrigger, respawnWait, Float32),
    HARMONIZE_FIELD(SavePointTrigger, frameAnimationRoot, Entity),
    HARMONIZE_FIELD(SavePointTrigger, frameAnimation, Entity),
    HARMONIZE_FIELD(SavePointTrigger, respawnEffectPrefab, Entity),
};
const ComponentField kOverlaySettingsFields[] = {
    HARMONIZE_FIELD(OverlaySettings, unused0, UInt8),
    HARMONIZE_FIELD(OverlaySettings, intensity, Float32),
    HARMONIZE_FIELD(OverlaySettings, texture, UInt64),
    HARMONIZE_FIELD(OverlaySettings, material, UInt64),
};
const ComponentField kShowOnStartFields[] = {
    HARMONIZE_FIELD(ShowOnStart, bytes, UInt8),
};
const ComponentField kOverlayLayerFields[] = {
    HARMONIZE_FIELD(OverlayLayer, worldIndex, Int32),
    HARMONIZE_FIELD(OverlayLayer, savedPosition, Float32),
};
const ComponentField kCameraFollowFields[] = {
    HARMONIZE_FIELD(CameraFollow, cameraZ, Float32),
    HARMONIZE_FIELD(CameraFollow, speedRangeStart, Float32),
    HARMONIZE_FIELD(CameraFollow, speedRangeEnd, Float32),
    HARMONIZE_FIELD(CameraFollow, easing, UInt32),
    HARMONIZE_FIELD(CameraFollow, fieldOfView, Float32),
    HARMONIZE_FIELD(CameraFollow, smoothTime, Float32),
    HARMONIZE_FIELD(CameraFollow, smoothTimeApproach, Float32),
    HARMONIZE_FIELD(CameraFollow, lookOffsetSpeed, Float32),
    HARMONIZE_FIELD(CameraFollow, maxLookOffset, Float32),
    HARMONIZE_FIELD(CameraFollow, lookThreshold, Float32),
    HARMONIZE_FIELD(CameraFollow, deadZoneMin, Float32),
    HARMONIZE_FIELD(CameraFollow, deadZoneMax, Float32),
    HARMONIZE_FIELD(CameraFollow, deadZoneGrowth, Float32),
    HARMONIZE_FIELD(CameraFollow, deadZoneShrink, Float32),
    HARMONIZE_FIELD(CameraFollow, deadZone, Float32),
    HARMONIZE_FIELD(CameraFollow, focus, Float32),
    HARMONIZE_FIELD(CameraFollow, stateEntity, Entity),
    HARMONIZE_FIELD(CameraFollow, unused80, UInt8),
    HARMONIZE_FIELD(CameraFollow, target, Entity),
    HARMONIZE_FIELD(CameraFollow, lookOffset, Float32),
    HARMONIZE_FIELD(CameraFollow, targetPoint, Float32),
    HARMONIZE_FIELD(CameraFollow, approachVelocity, Float32),
    HARMONIZE_FIELD(CameraFollow, lastPosition, Float32),
    HARMONIZE_FIELD(CameraFollow, lookDirection, Int32),
    HARMONIZE_FIELD(CameraFollow, deadZoneFactor, Float32),
    HARMONIZE_FIELD(CameraFollow, unused140, UInt8),
    HARMONIZE_FIELD(CameraFollow, focusMoved, UInt8),
    HARMONIZE_FIELD(CameraFollow, unused146, UInt8),
};
const ComponentField kSnapboxFields[] = {
    HARMONIZE_FIELD(Snapbox, neighbours, Entity),
    HARMONIZE_FIELD(Snapbox, unused12, UInt8),
    HARMONIZE_FIELD(Snapbox, neighbourDistances, Float32),
    HARMONIZE_FIELD(Snapbox, unused36, UInt8),
    HARMONIZE_FIELD(Snapbox, blocker, Entity),
    HARMONIZE_FIELD(Snapbox, cluster, Entity),
    HARMONIZE_FIELD(Snapbox, linkedBox, Entity),
    HARMONIZE_FIELD(Snapbox, unused60, UInt8),
    HARMONIZE_FIELD(Snapbox, boxKind, Int32),
};
const ComponentField kSnapboxClusterFields[] = {
    HARMONIZE_FIELD(SnapboxCluster, boxes, Entity),
    HARMONIZE_FIELD(SnapboxCluster, boxCount, Int32),
    HARMONIZE_FIELD(SnapboxCluster, wobbleTarget, Entity),
    HARMONIZE_FIELD(SnapboxCluster, wobbleSound, UInt64),
    HARMONIZE_FIELD(SnapboxCluster, keepsMomentum, UInt8),
    HARMONIZE_FIELD(SnapboxCluster, wobbling, UInt8),
    HARMONIZE_FIELD(SnapboxCluster, unused82, UInt8),
};
const ComponentField kSoundEmitterFields[] = {
    HARMONIZE_FIELD(SoundEmitter, sound, UInt64),
    HARMONIZE_FIELD(SoundEmitter, positional, UInt8),
    HARMONIZE_FIELD(SoundEmitter, defaultMusic, UInt8),
    HARMONIZE_FIELD(SoundEmitter, unused10, UInt8),
};
const ComponentField kSoundOverrideFields[] = {
    HARMONIZE_FIELD(SoundOverride, sound, UInt64),
    HARMONIZE_FIELD(SoundOverride, placeAt, Entity),
    HARMONIZE_FIELD(SoundOverride, positional, UInt8),
    HARMONIZE_FIELD(SoundOverride, unused13, UInt8),
};
const ComponentField kAnimationStartTimeFields[] = {
    HARMONIZE_FIELD(AnimationStartTime, startTime, Float32),
    HARMONIZE_FIELD(AnimationStartTime, randomStart, UInt8),
    HARMONIZE_FIELD(AnimationStartTime, unused5, UInt8),
};
const ComponentField kSubtitleTriggerFields[] = {
    HARMONIZE_FIELD(SubtitleTrigger, text, UInt64),
    HARMONIZE_FIELD(SubtitleTrigger, done, UInt8),
    HARMONIZE_FIELD(SubtitleTrigger, unused9, UInt8),
};
const ComponentField kRaceLookFields[] = {
    HARMONIZE_FIELD(RaceLook, frameAnimationEntity, Entity),
};
const ComponentField kCutsceneActivatorFields[] = {
    HARMONIZE_FIELD(CutsceneActivator, bytes, UInt8),
};
const ComponentField kVignetteSettingsFields[] = {
    HARMONIZE_FIELD(VignetteSettings, intensity, Float32),
    HARMONIZE_FIELD(VignetteSettings, chromaticAberration, Float32),
    HARMONIZE_FIELD(VignetteSettings, blur, Float32),
    HARMONIZE_FIELD(VignetteSettings, blurSpread, Float32),
    HARMONIZE_FIELD(VignetteSettings, vignetteMaterial, UInt64),
    HARMONIZE_FIELD(VignetteSettings, blurMaterial, UInt64),
    HARMONIZE_FIELD(VignetteSettings, aberrationMaterial, UInt64),
};
const ComponentField kWaterFlowFields[] = {
    HARMONIZE_FIELD(WaterFlow, unused0, UInt8),
    HARMONIZE_FIELD(WaterFlow, blockingLayers, UInt32),
    HARMONIZE_FIELD(WaterFlow, bodyPrefab, Entity),
    HARMONIZE_FIELD(WaterFlow, maxLength, Float32),
    HARMONIZE_FIELD(WaterFlow, tip, Entity),
    HARMONIZE_FIELD(WaterFlow, body, Entity),
    HARMONIZE_FIELD(WaterFlow, splashPrefab, Entity),
    HARMONIZE_FIELD(WaterFlow, growthSpeed, Float32),
    HARMONIZE_FIELD(WaterFlow, width, Float32),
    HARMONIZE_FIELD(WaterFlow, length, Float32),
};

#undef HARMONIZE_FIELD
#undef HARMONIZE_FIELD_WITH_DEFAULTS

#define HARMONIZE_LAYOUT(Record)                                                                                       \
    ComponentLayout { #Record, sizeof(Record), k##Record##Fields, sizeof(k##Record##Fields) / sizeof(ComponentField) }
#define HARMONIZE_UNNAMED_LAYOUT(type)                                                                                 \
    ComponentLayout { kComponentNames[type], ComponentSizeTable[type], kComponent##type##Fields, 1 }

const ComponentLayout kLayouts[kComponentTypeCount] = {
    HARMONIZE_LAYOUT(Animation),
    HARMONIZE_LAYOUT(AudioSource),
    HARMONIZE_LAYOUT(BoxShape),
    HARMONIZE_LAYOUT(CameraLens),
    HARMONIZE_LAYOUT(CapsuleShape),
    HARMONIZE_LAYOUT(Collider),
    ComponentLayout { kComponentNames[6], sizeof(ParticleShape), kComponent6Fields, 2 },
    HARMONIZE_LAYOUT(CollisionLayer),
    HARMONIZE_LAYOUT(Light),
    HARMONIZE_LAYOUT(Line),
    HARMONIZE_LAYOUT(NoPhysicsBody),
    HARMONIZE_LAYOUT(MeshReference),
    HARMONIZE_UNNAMED_LAYOUT(12),
    HARMONIZE_UNNAMED_LAYOUT(13),
    HARMONIZE_LAYOUT(ParticleSettings),
    HARMONIZE_LAYOUT(ParticleSpawner),
    HARMONIZE_LAYOUT(ParticleAppearance),
    HARMONIZE_LAYOUT(Renderer),
    HARMONIZE_LAYOUT(RigidBody),
    HARMONIZE_UNNAMED_LAYOUT(19),
    HARMONIZE_LAYOUT(SphereShape),
    HARMONIZE_LAYOUT(TextLabel),
    HARMONIZE_UNNAMED_LAYOUT(22),
    HARMONIZE_LAYOUT(Transform),
    HARMONIZE_UNNAMED_LAYOUT(24),
    HARMONIZE_LAYOUT(AchievementTrigger),
    HARMONIZE_LAYOUT(AlarmMachine),
    HARMONIZE_LAYOUT(FrameAnimation),
    HARMONIZE_LAYOUT(PlayerState),
    HARMONIZE_LAYOUT(FxaaSettings),
    HARMONIZE_LAYOUT(BeamPortal),
    HARMONIZE_LAYOUT(BloomSettings),
    HARMONIZE_LAYOUT(SpeechBubble),
    HARMONIZE_UNNAMED_LAYOUT(33),
    HARMONIZE_LAYOUT(CameraZone),
    HARMONIZE_LAYOUT(CameraCurve),
    HARMONIZE_LAYOUT(GameCameraRig),
    HARMONIZE_LAYOUT(ScreenFade),
    HARMONIZE_UNNAMED_LAYOUT(38),
    HARMONIZE_LAYOUT(VignetteMask),
    HARMONIZE_LAYOUT(RaceSource),
    HARMONIZE_LAYOUT(PlayerMovement),
    HARMONIZE_LAYOUT(Collectible),
    HARMONIZE_LAYOUT(MenuButton),
    HARMONIZE_UNNAMED_LAYOUT(44),
    HARMONIZE_LAYOUT(CutsceneTrigger),
    HARMONIZE_LAYOUT(PlatformWarning),
    HARMONIZE_LAYOUT(KillZone),
    HARMONIZE_LAYOUT(DeathTrigger),
    HARMONIZE_UNNAMED_LAYOUT(49),
    HARMONIZE_LAYOUT(Timer),
    HARMONIZE_LAYOUT(BreakOnContact),
    HARMONIZE_UNNAMED_LAYOUT(52),
    HARMONIZE_LAYOUT(PlatformSensor),
    HARMONIZE_LAYOUT(LightningBolt),
    HARMONIZE_UNNAMED_LAYOUT(55),
    HARMONIZE_LAYOUT(Detonator),
    HARMONIZE_UNNAMED_LAYOUT(57),
    HARMONIZE_LAYOUT(FlyingEnemy),
    HARMONIZE_LAYOUT(FuzzyCameraZone),
    HARMONIZE_LAYOUT(FuzzyZone),
    HARMONIZE_LAYOUT(GravityZone),
    HARMONIZE_UNNAMED_LAYOUT(62),
    HARMONIZE_UNNAMED_LAYOUT(63),
    HARMONIZE_LAYOUT(StartHidden),
    HARMONIZE_UNNAMED_LAYOUT(65),
    HARMONIZE_LAYOUT(PushPad),
    HARMONIZE_LAYOUT(Fog),
    HARMONIZE_LAYOUT(LevelGoal),
    HARMONIZE_LAYOUT(LevelStatisticsDisplay),
    HARMONIZE_LAYOUT(Lightning),
    HARMONIZE_UNNAMED_LAYOUT(71),
    HARMONIZE_UNNAMED_LAYOUT(72),
    HARMONIZE_LAYOUT(LanguageFilter),
    HARMONIZE_LAYOUT(MenuTransitionRig),
    HARMONIZE_LAYOUT(MenuOptionRow),
    HARMONIZE_LAYOUT(MenuPage),
    HARMONIZE_LAYOUT(MissileLauncher),
    HARMONIZE_LAYOUT(Missile),
    HARMONIZE_LAYOUT(TextureScroll),
    HARMONIZE_LAYOUT(MovingPlatform),
    HARMONIZE_LAYOUT(MovingPlatformSetup),
    HARMONIZE_UNNAMED_LAYOUT(82),
    HARMONIZE_UNNAMED_LAYOUT(83),
    HARMONIZE_LAYOUT(MenuOption),
    HARMONIZE_UNNAMED_LAYOUT(85),
    HARMONIZE_LAYOUT(GatherChildren),
    HARMONIZE_LAYOUT(OneShotAnimation),
    HARMONIZE_LAYOUT(PlayerSpawn),
    HARMONIZE_LAYOUT(SoundTrigger),
    HARMONIZE_LAYOUT(Race),
    HARMONIZE_LAYOUT(RaceAnimationTrigger),
    HARMONIZE_LAYOUT(SpeechTrigger),
    HARMONIZE_LAYOUT(Platform),
    HARMONIZE_UNNAMED_LAYOUT(94),
    HARMONIZE_LAYOUT(SavePointTrigger),
    HARMONIZE_LAYOUT(OverlaySettings),
    HARMONIZE_LAYOUT(ShowOnStart),
    HARMONIZE_LAYOUT(OverlayLayer),
    HARMONIZE_LAYOUT(CameraFollow),
    HARMONIZE_LAYOUT(Snapbox),
    HARMONIZE_LAYOUT(SnapboxCluster),
    HARMONIZE_LAYOUT(SoundEmitter),
    HARMONIZE_LAYOUT(SoundOverride),
    HARMONIZE_LAYOUT(AnimationStartTime),
    HARMONIZE_LAYOUT(SubtitleTrigger),
    HARMONIZE_LAYOUT(RaceLook),
    HARMONIZE_LAYOUT(CutsceneActivator),
    HARMONIZE_LAYOUT(VignetteSettings),
    HARMONIZE_LAYOUT(WaterFlow),
};

#undef HARMONIZE_LAYOUT
#undef HARMONIZE_UNNAMED_LAYOUT

quern::entity::ComponentAttribute::Type attributeType(FieldKind kind)
{
    using Type = quern::entity::ComponentAttribute::Type;
    switch (kind) {
    case FieldKind::Int32:
        return Type::Int32;
    case FieldKind::Float32:
        return Type::Float32;
    case FieldKind::UInt8:
        return Type::UInt8;
    case FieldKind::UInt64:
        return Type::UInt64;
    case FieldKind::UInt32:
        return Type::UInt32;
    case FieldKind::Entity:
        return Type::UInt32;
    case FieldKind::EntityIndex:
        return Type::UInt8; // the model has no 16-bit kind: two bytes each
    }
    return Type::UInt8;
}

} // namespace

u32 fieldElementSize(FieldKind kind) { return kindSize(kind); }

const ComponentLayout& componentLayout(u32 type) { return kLayouts[type]; }

const ComponentField* findComponentField(const ComponentLayout& layout, const char* name)
{
    for (u32 f = 0; f < layout.fieldCount; ++f)
        if (std::strcmp(layout.fields[f].name, name) == 0)
            return &layout.fields[f];
    return nullptr;
}

void fillComponentDefaults(const ComponentLayout& layout, void* record)
{
    std::memset(record, 0, layout.size);
    for (u32 f = 0; f < layout.fieldCount; ++f) {
        const ComponentField& field = layout.fields[f];
        if (field.defaults)
            std::memcpy(static_cast<u8*>(record) + field.offset, field.defaults, field.count * sizeof(f32));
    }
}

void writeFieldInteger(const ComponentField& field, void* record, u32 index, u64 value)
{
    u8* place = static_cast<u8*>(record) + field.offset + index * kindSize(field.kind);
    switch (field.kind) {
    case FieldKind::Float32: {
        const f32 number = static_cast<f32>(static_cast<quern::i64>(value));
        std::memcpy(place, &number, sizeof number);
        return;
    }
    case FieldKind::UInt8:
        *place = static_cast<u8>(value);
        return;
    case FieldKind::EntityIndex: {
        const u16 index = static_cast<u16>(value);
        std::memcpy(place, &index, sizeof index);
        return;
    }
    case FieldKind::UInt64:
        std::memcpy(place, &value, sizeof value);
        return;
    case FieldKind::Int32:
    case FieldKind::UInt32:
    case FieldKind::Entity: {
        const u32 word = static_cast<u32>(value);
        std::memcpy(place, &word, sizeof word);
        return;
    }
    }
}

void writeFieldFloat(const ComponentField& field, void* record, u32 index, f64 value)
{
    if (field.kind != FieldKind::Float32) {
        writeFieldInteger(field, record, index, static_cast<u64>(static_cast<quern::i64>(value)));
        return;
    }
    const f32 number = static_cast<f32>(value);
    std::memcpy(static_cast<u8*>(record) + field.offset + index * sizeof(f32), &number, sizeof number);
}

void describeComponentModel(quern::entity::WorldModel& model, const char* worldName)
{
    model.clear();
    model.setName(worldName);
    for (u32 type = 0; type < kComponentTypeCount; ++type) {
        const ComponentLayout& layout = kLayouts[type];
        quern::entity::ComponentTypeDescription& description = model.addType(layout.name, "", "", layout.fieldCount);
        for (u32 f = 0; f < layout.fieldCount; ++f) {
            const ComponentField& field = layout.fields[f];
            const u32 count = field.kind == FieldKind::EntityIndex ? field.count * 2u : field.count;
            model.setAttribute(description, f, attributeType(field.kind), count, false, false, field.name);
        }
    }
}

} // namespace harmonize
