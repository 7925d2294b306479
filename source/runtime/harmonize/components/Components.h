#pragma once
// The game's component records, one struct per type the gameplay rules read.
// Records are stored raw in level files and snapshots, so every offset here is
// a stored format. Bytes no rule reads are kept as `unusedN` arrays (N their
// offset) so that a record copies through unchanged.
//
// One alignment rule for all records, the world file's own: bytes align to 1,
// every other value (64-bit ones too) to 4. The world lays each type's records
// end to end from a 4-aligned base, so a u64 often sits at an offset that is
// not a multiple of 8; packing to 4 lets the compiler read such fields without
// assuming more. Take copies of u64 fields, never their address.
//
// Types the rules only carry by size are plain byte arrays (`bytes`). Where the
// renderer's code names a type differently, an alias stands beside the struct.

#include "harmonize/components/ComponentTypes.h"
#include "harmonize/components/Transform.h"

#include <cstddef>

namespace harmonize {

class AnimationSystem;
class CollisionSystem;
class CoroutineSystem;
class LineRendererSystem;
struct PairEvent;
struct PlayerView;

#pragma pack(push, 4)

using quern::math::Vector3;

// A plane vector as stored in records; the game plays in the x-y plane.
struct Vec2f {
    f32 x, y;
};

struct Animation {
    static constexpr u8 kType = 0;
    u64 defaultClip; // asset id of the clip played by default
    u8 unused8[368];
    u64 clips[46]; // keyframe animation asset ids, 0 = empty slot
    u8 unused744[4];
    i32 wrapMode; // 0: each clip's own wrap mode
    u8 kinematic; // the collision system gives the body mass 0
    u8 playAutomatically;
    u8 unused754[2];
};

struct AudioSource {
    static constexpr u8 kType = 1;
    u64 stream; // AudioStream asset id
    u8 unused8[8];
    f32 auxiliary;
    u8 unused20[8];
    f32 gain;
    u8 unused32;
    u8 looping;
    u8 unused34;
    u8 playOnCreate;
};

struct BoxShape {
    static constexpr u8 kType = 2;
    Vector3 centre;
    Vector3 size; // full size; half extents are half of it
};

struct CameraLens {
    static constexpr u8 kType = 3;
    f32 clearColour[4]; // RGBA
    i32 clearMode; // 3: depth only, 4: nothing, else everything; copied when a pose is applied
    f32 nearPlane;
    f32 fieldOfView; // vertical, degrees
    f32 farPlane;
    f32 orthographicHalfHeight; // blended like the planes
    u8 orthographic; // copied when a pose is applied
    u8 unused37[3];
};

struct CapsuleShape {
    static constexpr u8 kType = 4;
    Vector3 centre;
    f32 radius;
    f32 height; // end to end, caps included
    u8 unused20[4];
};

struct Collider {
    static constexpr u8 kType = 5;
    Vector3 position; // written by fuzzy collision
    Vector3 halfExtents;
    u8 trigger;
    u8 unused25[3];
};

// The spawning shape of a particle emitter: an ellipsoid of these half axes.
struct ParticleShape {
    static constexpr u8 kType = 6;
    Vector3 halfExtents;
    u8 unused12[4];
};

struct CollisionLayer {
    static constexpr u8 kType = 7;
    u32 layer; // 0 to 14
    u32 mode; // above 1: a held body
};

struct Light {
    static constexpr u8 kType = 8;
    static constexpr u32 kDirectional = 1;
    static constexpr u32 kPoint = 2;
    f32 colour[3];
    f32 intensity;
    f32 range;
    u8 unused20[4];
    u32 castsShadows; // not 0: yes
    u32 kind; // kDirectional or kPoint; other kinds are no light
};

struct Line {
    static constexpr u8 kType = 9;
    u8 unused0[8];
    Vector3 start;
    Vector3 end;
    u8 unused32[36];
};
using LineStrip = Line;

struct NoPhysicsBody {
    static constexpr u8 kType = 10;
    u8 bytes[8];
};

struct MeshReference {
    static constexpr u8 kType = 11;
    u64 mesh; // asset id
};

struct ParticleSettings {
    static constexpr u8 kType = 14;
    f32 colourKeys[8][4]; // r, g, b, a
    i32 colourKeyCount;
    f32 velocityKept; // per second
    Vector3 acceleration;
    Vector3 swirl; // degrees
    Vector3 randomAcceleration;
    f32 sizeGrowth; // per second
    u8 unused176[12];
    u8 oneShot;
    u8 colourOverLife;
    u8 unused190[2];
};

struct ParticleSpawner {
    static constexpr u8 kType = 15;
    f32 spin; // degrees per second
    u8 unused4[4];
    Vector3 startVelocity; // local
    f32 emissionRateUpper;
    f32 lifetimeUpper;
    f32 sizeUpper;
    f32 emissionRateLower;
    f32 lifetimeLower;
    f32 sizeLower;
    f32 spinSpread;
    Vector3 velocitySpread;
    Vector3 worldStartVelocity;
    u8 emit;
    u8 burst;
    u8 randomRotation;
    u8 worldSpace;
};

struct ParticleAppearance {
    static constexpr u8 kType = 16;
    u8 unused0[8];
    i32 mode; // 4: never drawn
    f32 sheetCycles;
    i32 tilesAcross;
    i32 tilesDown;
    u8 unused24[4];
};

struct Renderer {
    static constexpr u8 kType = 17;
    u64 lightmap; // texture asset id, 0 = none
    f32 lightmapScale[2];
    f32 lightmapOffset[2];
    u64 material; // asset id
    u8 castsShadows;
    u8 unused33[3];
};
using Renderable = Renderer;

struct RigidBody {
    static constexpr u8 kType = 18;
    Vector3 velocity;
    f32 mass;
    u8 unused16;
    u8 massless;
    u8 lockLinear[3];
    u8 lockAngular[3];
};

struct SphereShape {
    static constexpr u8 kType = 20;
    u8 unused0[12];
    f32 radius;
};

// A text drawn as sprites in a font; the overlay's text items take the same
// layout as their style.
struct TextLabel {
    static constexpr u8 kType = 21;
    i32 lineAlignment; // 0 left, 1 centre, 2 right
    i32 anchor; // quern::visuals::TextAnchor
    f32 scale; // tenths: 10 is scale 1
    f32 colour[4];
    u8 unused28[4];
    u64 font; // asset id
    i32 pixelSize;
    f32 lineSpacing; // times the font's line height
    f32 depth; // z of the glyph vertices
    u8 unused52[4];
    u64 textKey;
};
using TextStyle = TextLabel;

// Makes an emitter's particles collide; the collision system reads the rest.
struct ParticleCollision {
    static constexpr u8 kType = 24;
    u8 bytes[12];
};

struct AchievementTrigger {
    static constexpr u8 kType = 25;
    i32 achievement;
    u8 unlocked;
    u8 unused5[3];
};

struct AlarmMachine {
    static constexpr u8 kType = 26;
    f32 range;
    u64 idleClip;
    u64 alertClip;
    u64 shootClip;
    u64 coolDownClip;
    EntityHandle animated;
    EntityHandle missilePrefab;
    f32 coolDownTime;
    f32 shotInterval;
    f32 warmUpTime;
    f32 beamSpeed;
    i32 state; // 0 idle, 1 warming up, 2 firing, 3 cooling down
    f32 warmUpTimer;
    f32 coolDownTimer;
    f32 shotTimer;
    f32 beamBlend;

    // At world start: shows the beam line (two points) and winds up the
    // three timers; the state stays as stored.
    static void start(EntityHandle machine, quern::entity::World& world, LineRendererSystem* lines);
    // One fixed tick: sight and range, the state's timers, the beam's blend
    // and line, clips and shots at `player` (nothing without a player).
    static void step(EntityHandle machine, quern::entity::World& world, const PlayerView& player,
        CollisionSystem& collision, AnimationSystem* animation, LineRendererSystem* lines);
};

struct FrameAnimation {
    static constexpr u8 kType = 27;
    i32 frameCount;
    f32 secondsPerFrame;
    u64 stateKeys[6];
    f32 stateValues[6];
    i32 currentFrame;
    f32 currentValue;
};
using TextureOffset = FrameAnimation;

struct PlayerState {
    static constexpr u8 kType = 28;
    u64 idleClips[5];
    u64 walkClips[2];
    u64 fallClips[2];
    u64 jumpClips[2];
    u64 landClips[2];
    u64 stopClips[2];
    u64 airSideClips[2];
    u64 kind8Clips[2];
    u64 kind9Clips[2];
    EntityHandle modelRace2;
    EntityHandle modelRace0;
    f32 crossFade;
    i32 variationChance;
    f32 idleVariationTime;
    i32 lastMovementState;
    i32 facingCode;
    f32 clipTime;
    u64 currentClip;
    i32 currentKind;
    u32 randomState;
    f32 restHeightRace2;
    f32 restHeightRace0;
};

struct FxaaSettings {
    static constexpr u8 kType = 29;
    u8 unused0[24];
    u64 material; // asset id
};

struct BeamPortal {
    static constexpr u8 kType = 30;
    EntityHandle target;
    Vec2f exitOffset;
    u8 unused12[8];
    EntityHandle effectPrefab;
    u8 armed;
    u8 unused25[3];

    // The portal's effect prefab, placed at the portal; a soft assertion
    // when the portal has none.
    static void spawnBeamEffect(EntityHandle portal, quern::entity::World& world);
};

struct BloomSettings {
    static constexpr u8 kType = 31;
    u8 unused0[4];
    f32 blurSpread;
    f32 alphaMaskWeight;
    f32 intensity;
    f32 threshold;
    i32 blurIterations;
    u64 blurMaterial; // asset ids
    u64 combineMaterial;
    u8 unused40[8];
    u64 brightPassMaterial;
};

struct SpeechBubble {
    static constexpr u8 kType = 32;
    f32 displayTime;
    f32 openScale;
    Vector3 speakerOffset;
    f32 smoothTime;
    f32 openDuration;
    f32 closeDuration;
    EntityHandle anchorEntity;
    Vector3 bodyOffset;
    Vec2f velocity;
    u8 unused56[4];
    EntityHandle speakerEntity;
    Vector3 currentPosition;
    u8 unused76[8];
    EntityHandle bodyEntity;
    u8 unused88[4];
    u8 anchored;
    u8 unused93[3];
};

struct CameraZone {
    static constexpr u8 kType = 34;
    u8 unused0[4];
    EntityHandle camera;
    f32 blendTime;
    u8 unused12[4];
    u8 cameraFollows;
    u8 unused17[3];
};

struct CameraCurve {
    static constexpr u8 kType = 35;
    u64 animation; // keyframe animation asset id
};

struct GameCameraRig {
    static constexpr u8 kType = 36;
    f32 listenerZ;
    f32 boundsLeft;
    f32 boundsBottom;
    f32 boundsRight;
    f32 boundsTop;
    f32 offsetX;
    f32 offsetY;
    f32 clampMinX;
    f32 clampMinY;
    f32 clampMaxX;
    f32 clampMaxY;
    u8 unused44[16];
};

// A darkening of the whole screen, drawn by the screen fader. The player's
// death darkens it over the death delay; a level's opening fade starts dark
// and brightens.
struct ScreenFade {
    static constexpr u8 kType = 37;
    f32 opacity; // 0 transparent to 1 fully dark
    f32 direction; // +1 darkens, -1 brightens
    f32 speed; // opacity per second
    u8 startDark; // a new fade starts fully dark and brightens
    u8 unused13[3];
};

struct VignetteMask {
    static constexpr u8 kType = 39;
    u64 texture; // asset id
};

struct RaceSource {
    static constexpr u8 kType = 40;
    u8 bytes[4];
};

struct PlayerMovement {
    static constexpr u8 kType = 41;
    EntityHandle touchingTrigger;
    f32 carryTime;
    EntityHandle recordedCarrier;
    f32 carrierMatrix[16];
    f32 carrierInverse[16];
    f32 carrierInverseRotation[4];
    Vec2f carrierVelocity;
    f32 carryRemaining;
    EntityHandle restoreEffectPrefab;
    EntityHandle deathEffectPrefab;
    f32 deathDelay;
    f32 respawnDelay;
    f32 jumpSpeedUp;
    f32 jumpSpeedDown;
    u8 unused192[4];
    f32 baseGravity;
    u8 unused200[4];
    f32 walkAcceleration;
    f32 maxWalkSpeed;
    f32 maxSpeed;
    u8 unused216[8];
    f32 walkDamping;
    f32 airDamping;
    u8 unused232[4];
    f32 airInputScale;
    f32 maxAirSpeed;
    u8 unused244[12];
    f32 walkRampTime;
    f32 inputDeadZone;
    f32 jumpGraceTime;
    f32 stepInterval;
    f32 turnRate;
    f32 brakeStrength;
    f32 walkTime;
    Vec2f riseCaps;
    Vec2f velocity;
    Vec2f pushVelocity;
    f32 pushDecay;
    Vec2f groundDirection;
    Vec2f upDirection;
    Vec2f slopeDirection;
    Vec2f lastInputDirection;
    Vec2f jumpAxis;
    i32 pushCountdown;
    Vec2f brakeSide;
    u8 unused364[12];
    EntityHandle harmonizeEffectPrefab;
    EntityHandle dustEffectPrefab;
    u8 unused384[4];
    f32 maxTurnAngle;
    EntityHandle cluster;
    EntityHandle clusterBoxes[16];
    i32 clusterBoxCount;
    Vec2f snapPath[8];
    Vec2f clusterUp;
    Vec2f snapPosition;
    Vec2f snapTangent;
    Vec2f snapBoxUp;
    EntityHandle snapBoxA;
    EntityHandle snapBoxB;
    f32 snapParameter;
    f32 jumpBuffer;
    f32 coyoteTime;
    f32 stepTimer;
    u8 unused584[12];
    i32 movementState[3]; // state, previous, changed
    i32 jumpMode[3];
    u8 unused620[12];
    i32 raceState[3];
    i32 facingState[3];
    Vector3 liftOffset;
    Vec2f gravityDirection;
    f32 gravityScale;
    u8 brakeArmed;
    u8 unused681[3];
    u8 harmonizeEnabled;
    u8 jumpedThisTick;
    u8 unused686[2];
};

struct Collectible {
    static constexpr u8 kType = 42;
    EntityHandle pickupEffect; // prefab spawned where it is picked up
    EntityHandle counterIcon; // prefab of its icon in the counter
    u8 picked;
    u8 unused9[3];
};

// One selectable item of a menu page. Neighbours name the buttons a move in
// each direction reaches; the targets' animations play the button's clips.
struct MenuButton {
    static constexpr u8 kType = 43;
    EntityHandle neighbourUp;
    EntityHandle neighbourDown;
    EntityHandle neighbourLeft;
    EntityHandle neighbourRight;
    u64 selectedClip; // clip name keys of the world's interner
    u64 deselectedClip;
    u64 lockedClip;
    u64 activatedClip;
    EntityHandle targets[8];
    i32 transaction; // a MenuTransaction
    i32 levelNumber; // the level's position in its world; -1: no level button
    u8 unused88[24];
    u8 worldButton;
    u8 verticalOnly; // ignores held left and right
    u8 disabled;
    u8 hasValueArrows; // left and right activate the arrow buttons
};

struct CutsceneTrigger {
    static constexpr u8 kType = 45;
    u8 bytes[40];
};

struct PlatformWarning {
    static constexpr u8 kType = 46;
    f32 delay; // seconds from the start of the sequence to hiding
    u64 clip; // played on the animated entity, 0 = none
};

struct KillZone {
    static constexpr u8 kType = 47;
    u8 bytes[1];
};

struct DeathTrigger {
    static constexpr u8 kType = 48;
    u8 bytes[1];
};

struct Timer {
    static constexpr u8 kType = 50;
    f32 lifetime; // seconds from the entity's creation
    EntityHandle prefab; // instantiated when the lifetime ends
};

struct BreakOnContact {
    static constexpr u8 kType = 51;
    EntityHandle effectPrefab;
    u8 ignoreTriggers;
    u8 unused5[3];
};

struct PlatformSensor {
    static constexpr u8 kType = 53;
    f32 range;
    u8 unused4[4];
    u8 hideWhenAway;
    u8 unused9[3];
};

struct LightningBolt {
    static constexpr u8 kType = 54;
    EntityHandle target;
    i32 pointCount;
    f32 jitter;
};

struct Detonator {
    static constexpr u8 kType = 56;
    f32 delay;
    u64 clip; // played on the platform's animated entity, 0 = none
    EntityHandle target;
    u8 running;
    u8 unused17[3];
};

struct FlyingEnemy {
    static constexpr u8 kType = 58;
    f32 detectionRadius;
    f32 speed;
    u8 unused8[4];
    EntityHandle head;
    EntityHandle raceEntity;
    u8 wrap;
    u8 unused21[3];
    Vec2f path[32];
    f32 heading; // radians about z
    f32 pathLength;
    u8 unused288[8];
    f32 pathPosition; // 0 to 1

    // At world start: puts the enemy on its first path point, turns its speed
    // into a path fraction per second and starts its head.
    static void start(EntityHandle enemy, quern::entity::World& world, CoroutineSystem& coroutines);
    // One fixed tick along the path: back and forth, or round again when the
    // path wraps.
    static void followPath(EntityHandle enemy, quern::entity::World& world);
    // The path point at `t`, read with t held in [0, 1] (NaN reads as 0).
    static Vec2f samplePath(const FlyingEnemy& enemy, f32 t);
    // A player of the opposing race inside the detection sphere.
    static bool isPlayerInRange(EntityHandle enemy, EntityHandle player, quern::entity::World& world);
    // Starts the head's turning coroutine unless the list already holds one
    // for this enemy (a quick-save restore brings the old ones back).
    static void startHead(EntityHandle enemy, CoroutineSystem& coroutines);
    static bool hasHead(EntityHandle enemy, CoroutineSystem& coroutines);
};

struct FuzzyCameraZone {
    static constexpr u8 kType = 59;
    EntityHandle camera;
    u8 followX;
    u8 followY;
    u8 followZ;
    u8 unused7;
};

struct FuzzyZone {
    static constexpr u8 kType = 60;
    i32 shape; // 0 sphere, 1 box
    u32 easing;
    f32 coreRadius;
    f32 falloffWidth;
    Vec2f coreSize;
    Vec2f falloff;
};

struct GravityZone {
    static constexpr u8 kType = 61;
    u8 unused0[4];
    f32 gravityScale;
    u8 unused8[4];
    Vec2f savedDirection;
    f32 savedScale;
    Vec2f direction;
    u8 unused32[8];
};

// Hides the entity's renderer when the world starts.
struct StartHidden {
    static constexpr u8 kType = 64;
    u8 hidden; // not 0: hidden
};

struct PushPad {
    static constexpr u8 kType = 66;
    f32 pushSpeed;
    f32 airSpeedDivisor;
    u64 sound; // 0 = none
    u8 useUpAxis;
    u8 unused17[3];
};

struct Fog {
    static constexpr u8 kType = 67;
    f32 ambient[4]; // RGBA, the lights' ambient colour
    f32 colour[4]; // RGBA
    u8 unused32[4];
    f32 end;
    u8 unused40[4];
    f32 start;
    u8 enabled;
    u8 unused49[3];
};

struct LevelGoal {
    static constexpr u8 kType = 68;
    EntityHandle bounceEffect;
    EntityHandle reachEffect;
    EntityHandle bounceEffectRace2;
    EntityHandle reachEffectRace2;
    u8 reached;
    u8 reachedAgain;
    u8 unused18[2];
};

// The level's statistics board: its four text labels.
struct LevelStatisticsDisplay {
    static constexpr u8 kType = 69;
    EntityHandle collectiblesText;
    EntityHandle deathsText;
    EntityHandle timeText;
    EntityHandle rankText; // its parent stays hidden until a rank is known
};

struct Lightning {
    static constexpr u8 kType = 70;
    f32 scrollInterval; // seconds between texture steps
    f32 moveInterval; // seconds between moves and flash chances
    f32 flashIntensity;
    Vec2f offsetStep; // texture offset step u, v
    EntityHandle flashLight;
    EntityHandle reference; // none: a random camera
    f32 minX;
    f32 maxX;
    f32 minY;
    f32 maxY;
    f32 flashChance; // percent
    u8 disabled;
    u8 unused49[3];
};

struct LanguageFilter {
    static constexpr u8 kType = 73;
    u32 mode; // 0 show only for the listed languages, 1 hide for them
    u32 languages; // bit n: language index n
};

// What the menu animates as it opens and closes: the backdrop shown behind the
// pause menu, two animated entities and a clip for each transition state.
struct MenuTransitionRig {
    static constexpr u8 kType = 74;
    u16 background; // an entity's slot index, not a handle
    u8 unused2[2];
    EntityHandle animated[2];
    u64 openClip; // clip name keys of the world's interner
    u64 closingClip;
    u64 reopenedClip;
    u8 unused36[48];
};

// An options row; the menu shows the controls overlay through the row of
// option type 10.
struct MenuOptionRow {
    static constexpr u8 kType = 75;
    i32 optionType;
    u8 unused4[16];
};

// A page of the menu: shown while the menu is in state `pageId`, parked off
// screen otherwise.
struct MenuPage {
    static constexpr u8 kType = 76;
    i32 pageId;
    i32 worldIndex; // the world a world-select page (id 3) shows; -1 on every other page
    EntityHandle buttons[30]; // the first is the page's default button
    EntityHandle selectedButton; // kept while the page is away
    EntityHandle previouslySelectedButton;
    u8 unused136;
    u8 locked; // never switched to
    u8 unused138[2];
};

struct MissileLauncher {
    static constexpr u8 kType = 77;
    EntityHandle animated;
    f32 reloadInterval;
    f32 reloadCountdown;
    EntityHandle missilePrefab;
    EntityHandle muzzle;
    u8 unused20[4];
    f32 sightLength;
};

struct Missile {
    static constexpr u8 kType = 78;
    EntityHandle target;
    f32 speed;
    Vector3 direction;
    u8 unused20[4];
    f32 homingRange;
    i32 mode; // 0 homing, 1 aim once
};

struct TextureScroll {
    static constexpr u8 kType = 79;
    f32 speed;
    f32 timeOffset;
    f32 uRate;
    f32 vRate;
    u8 randomU;
    u8 randomV;
    u8 unused18[2];
};

struct MovingPlatform {
    static constexpr u8 kType = 80;
    EntityHandle stationA;
    EntityHandle stationB;
    u8 unused8[4];
    i32 autoplay;
    EntityHandle targetStation;
    i32 targetIndex;
    u8 unused24[4];
    i32 state;
    i32 previousState;
    i32 changed;
    u8 setupValue;
    u8 started;
    u8 unused42[2];

    // A platform that waits for the player starts its clip at the first touch
    // of a player whose race does not oppose it; autoplaying ones never wait.
    static void startOnTouch(
        EntityHandle platform, quern::entity::World& world, AnimationSystem& animation, const PlayerView& player);
};

struct MovingPlatformSetup {
    static constexpr u8 kType = 81;
    EntityHandle platform;
    i32 wrapMode;
    i32 autoplay;
    u64 clip;
    u8 value;
    u8 unused21[3];
};

// What an options row or arrow button does to its option.
struct MenuOption {
    static constexpr u8 kType = 84;
    i32 action; // 1 next value, 2 previous, 3 rebind, 4 value text, 5 caption, 6 to 8 nothing, 9 default controls
    i32 optionType;
};

struct GatherChildren {
    static constexpr u8 kType = 86;
    u8 bytes[1];
};

struct OneShotAnimation {
    static constexpr u8 kType = 87;
    EntityHandle animated;
    u8 fired;
    u8 unused5[3];

    // Once: plays the animated entity's default clip, then switches the
    // trigger's Collider off so that it touches nothing more.
    static void fire(EntityHandle trigger, quern::entity::World& world, AnimationSystem* animation);
};

struct PlayerSpawn {
    static constexpr u8 kType = 88;
    u8 bytes[1];
};

struct SoundTrigger {
    static constexpr u8 kType = 89;
    u64 sound;
    u8 playerOnly;
    u8 stop;
    u8 played;
    u8 unused11;
};

struct Race {
    static constexpr u8 kType = 90;
    i32 value; // 0 and 2 oppose each other; 1 opposes nothing
};

struct RaceAnimationTrigger {
    static constexpr u8 kType = 91;
    EntityHandle animated;
    u64 opposedClip;
    u64 otherClip;
};

struct SpeechTrigger {
    static constexpr u8 kType = 92;
    u8 unused0[28];
    f32 value28;
    f32 value32;
    u8 unused36[12];
    f32 value48;
    u8 unused52[8];
};

struct Platform {
    static constexpr u8 kType = 93;
    EntityHandle breakPrefab;
    EntityHandle effectPrefab;
    u64 hideSound;
    u64 showSound;
    f32 hiddenTime;
    EntityHandle animated; // has the clips "hide" and "show"
    u8 unused32[16];
    i32 occupancy;
    f32 hiddenRemaining;
    f32 hideDelay;
    u8 standProof;
    u8 release;
    u8 running;
    u8 pending;
    u8 hiddenByStanding;
    u8 unused65[3];
};

struct SavePointTrigger {
    static constexpr u8 kType = 95;
    f32 messageTime;
    u64 idleSound;
    u64 rightSound;
    u64 wrongSound;
    u64 respawnSound;
    EntityHandle animated;
    f32 payWait;
    u32 flags;
    f32 rightWait;
    f32 respawnWait;
    EntityHandle frameAnimationRoot;
    EntityHandle frameAnimation;
    EntityHandle respawnEffectPrefab;

    static constexpr u32 kInside = 1u << 0; // the player's trigger is inside
    static constexpr u32 kRaceMatch = 1u << 1; // the player's race may save here
    static constexpr u32 kSaved = 1u << 2;
    static constexpr u32 kRespawnRequest = 1u << 3; // the last save was made here

    // At world start: finds the frame animation, shows "idle" and starts the
    // save point's coroutine.
    static void start(SavePointTrigger& trigger, quern::entity::World& world, CoroutineSystem& coroutines);
    // After the player's trigger entered or left: whether the two races of
    // the pair may save. Both entities must have a Race.
    static void updateRaceMatch(const PairEvent& pair, SavePointTrigger& trigger, quern::entity::World& world);
};

struct OverlaySettings {
    static constexpr u8 kType = 96;
    u8 unused0[4];
    f32 intensity;
    u64 texture; // asset ids
    u64 material;
};

struct ShowOnStart {
    static constexpr u8 kType = 97;
    u8 bytes[1];
};

// Puts an entity into the after-post scene pass; on the menu's world-select
// markers it also keeps the marker's world and where it stood before it was
// parked.
struct OverlayLayer {
    static constexpr u8 kType = 98;
    i32 worldIndex;
    Vector3 savedPosition;
};

struct CameraFollow {
    static constexpr u8 kType = 99;
    f32 cameraZ;
    f32 speedRangeStart;
    f32 speedRangeEnd;
    u32 easing;
    f32 fieldOfView;
    f32 smoothTime;
    f32 smoothTimeApproach;
    f32 lookOffsetSpeed;
    Vec2f maxLookOffset;
    f32 lookThreshold;
    f32 deadZoneMin;
    f32 deadZoneMax;
    f32 deadZoneGrowth;
    f32 deadZoneShrink;
    Vec2f deadZone;
    Vec2f focus;
    EntityHandle stateEntity;
    u8 unused80[4];
    EntityHandle target; // none at world start: the player
    Vec2f lookOffset;
    Vector3 targetPoint;
    Vector3 approachVelocity;
    Vector3 lastPosition;
    i32 lookDirection;
    f32 deadZoneFactor;
    u8 unused140[5];
    u8 focusMoved;
    u8 unused146[2];
};

struct Snapbox {
    static constexpr u8 kType = 100;
    EntityHandle neighbours[3];
    u8 unused12[12];
    f32 neighbourDistances[3];
    u8 unused36[12];
    EntityHandle blocker;
    EntityHandle cluster;
    EntityHandle linkedBox;
    u8 unused60[4];
    i32 boxKind; // 4: an edge box whose path continues on a station
};

struct SnapboxCluster {
    static constexpr u8 kType = 101;
    EntityHandle boxes[16];
    i32 boxCount;
    EntityHandle wobbleTarget;
    u64 wobbleSound;
    u8 keepsMomentum;
    u8 wobbling;
    u8 unused82[2];
};

struct SoundEmitter {
    static constexpr u8 kType = 102;
    u64 sound;
    u8 positional;
    u8 defaultMusic;
    u8 unused10[2];
};

struct SoundOverride {
    static constexpr u8 kType = 103;
    u64 sound; // 0: no replacement
    EntityHandle placeAt;
    u8 positional;
    u8 unused13[3];
};

struct AnimationStartTime {
    static constexpr u8 kType = 104;
    f32 startTime;
    u8 randomStart;
    u8 unused5[3];
};

struct SubtitleTrigger {
    static constexpr u8 kType = 105;
    u64 text; // text key of the line shown
    u8 done;
    u8 unused9[3];
};

struct RaceLook {
    static constexpr u8 kType = 106;
    EntityHandle frameAnimationEntity;
};

struct CutsceneActivator {
    static constexpr u8 kType = 107;
    u8 bytes[68];
};

struct VignetteSettings {
    static constexpr u8 kType = 108;
    f32 intensity;
    f32 chromaticAberration;
    f32 blur;
    f32 blurSpread;
    u64 vignetteMaterial; // asset ids
    u64 blurMaterial;
    u64 aberrationMaterial;
};

struct WaterFlow {
    static constexpr u8 kType = 109;
    u8 unused0[4];
    u32 blockingLayers; // bit n: colliders on layer n stop the jet
    EntityHandle bodyPrefab;
    f32 maxLength;
    EntityHandle tip;
    EntityHandle body;
    EntityHandle splashPrefab;
    f32 growthSpeed;
    f32 width;
    f32 length; // -1: not measured yet
};

#pragma pack(pop)

// Each record is exactly its stored size, aligned to no more than the store.
#define HARMONIZE_CHECK_RECORD(Record)                                                                                 \
    static_assert(sizeof(Record) == ComponentSizeTable[Record::kType], #Record " differs from its stored size");       \
    static_assert(alignof(Record) <= 4, #Record " must not need more alignment than the store gives")

HARMONIZE_CHECK_RECORD(Animation);
HARMONIZE_CHECK_RECORD(AudioSource);
HARMONIZE_CHECK_RECORD(BoxShape);
HARMONIZE_CHECK_RECORD(CameraLens);
HARMONIZE_CHECK_RECORD(CapsuleShape);
HARMONIZE_CHECK_RECORD(Collider);
HARMONIZE_CHECK_RECORD(ParticleShape);
HARMONIZE_CHECK_RECORD(CollisionLayer);
HARMONIZE_CHECK_RECORD(Light);
HARMONIZE_CHECK_RECORD(Line);
HARMONIZE_CHECK_RECORD(NoPhysicsBody);
HARMONIZE_CHECK_RECORD(MeshReference);
HARMONIZE_CHECK_RECORD(ParticleSettings);
HARMONIZE_CHECK_RECORD(ParticleSpawner);
HARMONIZE_CHECK_RECORD(ParticleAppearance);
HARMONIZE_CHECK_RECORD(Renderer);
HARMONIZE_CHECK_RECORD(RigidBody);
HARMONIZE_CHECK_RECORD(SphereShape);
HARMONIZE_CHECK_RECORD(TextLabel);
HARMONIZE_CHECK_RECORD(Transform);
HARMONIZE_CHECK_RECORD(ParticleCollision);
HARMONIZE_CHECK_RECORD(AchievementTrigger);
HARMONIZE_CHECK_RECORD(AlarmMachine);
HARMONIZE_CHECK_RECORD(FrameAnimation);
HARMONIZE_CHECK_RECORD(PlayerState);
HARMONIZE_CHECK_RECORD(FxaaSettings);
HARMONIZE_CHECK_RECORD(BeamPortal);
HARMONIZE_CHECK_RECORD(BloomSettings);
HARMONIZE_CHECK_RECORD(SpeechBubble);
HARMONIZE_CHECK_RECORD(CameraZone);
HARMONIZE_CHECK_RECORD(CameraCurve);
HARMONIZE_CHECK_RECORD(GameCameraRig);
HARMONIZE_CHECK_RECORD(ScreenFade);
HARMONIZE_CHECK_RECORD(VignetteMask);
HARMONIZE_CHECK_RECORD(RaceSource);
HARMONIZE_CHECK_RECORD(PlayerMovement);
HARMONIZE_CHECK_RECORD(Collectible);
HARMONIZE_CHECK_RECORD(MenuButton);
HARMONIZE_CHECK_RECORD(CutsceneTrigger);
HARMONIZE_CHECK_RECORD(PlatformWarning);
HARMONIZE_CHECK_RECORD(KillZone);
HARMONIZE_CHECK_RECORD(DeathTrigger);
HARMONIZE_CHECK_RECORD(Timer);
HARMONIZE_CHECK_RECORD(BreakOnContact);
HARMONIZE_CHECK_RECORD(PlatformSensor);
HARMONIZE_CHECK_RECORD(LightningBolt);
HARMONIZE_CHECK_RECORD(Detonator);
HARMONIZE_CHECK_RECORD(FlyingEnemy);
HARMONIZE_CHECK_RECORD(FuzzyCameraZone);
HARMONIZE_CHECK_RECORD(FuzzyZone);
HARMONIZE_CHECK_RECORD(GravityZone);
HARMONIZE_CHECK_RECORD(StartHidden);
HARMONIZE_CHECK_RECORD(Fog);
HARMONIZE_CHECK_RECORD(PushPad);
HARMONIZE_CHECK_RECORD(LevelGoal);
HARMONIZE_CHECK_RECORD(LevelStatisticsDisplay);
HARMONIZE_CHECK_RECORD(Lightning);
HARMONIZE_CHECK_RECORD(LanguageFilter);
HARMONIZE_CHECK_RECORD(MenuTransitionRig);
HARMONIZE_CHECK_RECORD(MenuOptionRow);
HARMONIZE_CHECK_RECORD(MenuPage);
HARMONIZE_CHECK_RECORD(MissileLauncher);
HARMONIZE_CHECK_RECORD(Missile);
HARMONIZE_CHECK_RECORD(TextureScroll);
HARMONIZE_CHECK_RECORD(MovingPlatform);
HARMONIZE_CHECK_RECORD(MovingPlatformSetup);
HARMONIZE_CHECK_RECORD(MenuOption);
HARMONIZE_CHECK_RECORD(GatherChildren);
HARMONIZE_CHECK_RECORD(OneShotAnimation);
HARMONIZE_CHECK_RECORD(PlayerSpawn);
HARMONIZE_CHECK_RECORD(SoundTrigger);
HARMONIZE_CHECK_RECORD(Race);
HARMONIZE_CHECK_RECORD(RaceAnimationTrigger);
HARMONIZE_CHECK_RECORD(SpeechTrigger);
HARMONIZE_CHECK_RECORD(Platform);
HARMONIZE_CHECK_RECORD(SavePointTrigger);
HARMONIZE_CHECK_RECORD(OverlaySettings);
HARMONIZE_CHECK_RECORD(ShowOnStart);
HARMONIZE_CHECK_RECORD(OverlayLayer);
HARMONIZE_CHECK_RECORD(CameraFollow);
HARMONIZE_CHECK_RECORD(Snapbox);
HARMONIZE_CHECK_RECORD(SnapboxCluster);
HARMONIZE_CHECK_RECORD(SoundEmitter);
HARMONIZE_CHECK_RECORD(SoundOverride);
HARMONIZE_CHECK_RECORD(AnimationStartTime);
HARMONIZE_CHECK_RECORD(SubtitleTrigger);
HARMONIZE_CHECK_RECORD(RaceLook);
HARMONIZE_CHECK_RECORD(CutsceneActivator);
HARMONIZE_CHECK_RECORD(VignetteSettings);
HARMONIZE_CHECK_RECORD(WaterFlow);

#undef HARMONIZE_CHECK_RECORD

// Offsets other code reads by number.
static_assert(offsetof(Light, intensity) == 12);
static_assert(offsetof(ScreenFade, direction) == 4 && offsetof(ScreenFade, speed) == 8);
static_assert(offsetof(Line, start) == 8 && offsetof(Line, end) == 20);
static_assert(offsetof(Renderer, material) == 24);
static_assert(offsetof(Animation, clips) == 376 && offsetof(Animation, wrapMode) == 748);
static_assert(offsetof(Animation, kinematic) == 752);
static_assert(offsetof(CameraLens, nearPlane) == 20 && offsetof(CameraLens, orthographic) == 36);
static_assert(offsetof(Light, castsShadows) == 24 && offsetof(Light, kind) == 28);
static_assert(offsetof(Renderer, lightmapOffset) == 16 && offsetof(Renderer, castsShadows) == 32);
static_assert(offsetof(BloomSettings, blurIterations) == 20 && offsetof(BloomSettings, brightPassMaterial) == 48);
static_assert(offsetof(Fog, end) == 36 && offsetof(Fog, start) == 44 && offsetof(Fog, enabled) == 48);
static_assert(offsetof(OverlaySettings, texture) == 8 && offsetof(VignetteSettings, aberrationMaterial) == 32);
static_assert(offsetof(Collider, halfExtents) == 12 && offsetof(Collider, trigger) == 24);
static_assert(offsetof(RigidBody, massless) == 17 && offsetof(RigidBody, lockAngular) == 21);
static_assert(offsetof(ParticleSettings, colourKeyCount) == 128 && offsetof(ParticleSettings, oneShot) == 188);
static_assert(offsetof(ParticleSpawner, worldStartVelocity) == 60 && offsetof(ParticleSpawner, emit) == 72);
static_assert(offsetof(ParticleAppearance, mode) == 8 && offsetof(ParticleAppearance, tilesDown) == 20);
static_assert(offsetof(AlarmMachine, idleClip) == 4 && offsetof(AlarmMachine, coolDownClip) == 28);
static_assert(offsetof(AlarmMachine, animated) == 36 && offsetof(AlarmMachine, beamBlend) == 76);
static_assert(offsetof(FrameAnimation, stateKeys) == 8 && offsetof(FrameAnimation, stateValues) == 56);
static_assert(offsetof(FrameAnimation, currentFrame) == 80 && offsetof(FrameAnimation, currentValue) == 84);
static_assert(offsetof(PlayerState, modelRace2) == 168 && offsetof(PlayerState, currentClip) == 200);
static_assert(offsetof(PlayerState, restHeightRace0) == 220);
static_assert(offsetof(BeamPortal, effectPrefab) == 20 && offsetof(BeamPortal, armed) == 24);
static_assert(offsetof(SpeechBubble, anchorEntity) == 32 && offsetof(SpeechBubble, speakerEntity) == 60);
static_assert(offsetof(SpeechBubble, bodyEntity) == 84 && offsetof(SpeechBubble, anchored) == 92);
static_assert(offsetof(CameraZone, camera) == 4 && offsetof(CameraZone, cameraFollows) == 16);
static_assert(offsetof(GameCameraRig, clampMaxY) == 40);
static_assert(offsetof(PlayerMovement, carrierMatrix) == 12 && offsetof(PlayerMovement, carrierInverse) == 76);
static_assert(offsetof(PlayerMovement, carrierVelocity) == 156 && offsetof(PlayerMovement, restoreEffectPrefab) == 168);
static_assert(offsetof(PlayerMovement, baseGravity) == 196 && offsetof(PlayerMovement, walkAcceleration) == 204);
static_assert(offsetof(PlayerMovement, walkDamping) == 224 && offsetof(PlayerMovement, airInputScale) == 236);
static_assert(offsetof(PlayerMovement, walkRampTime) == 256 && offsetof(PlayerMovement, riseCaps) == 284);
static_assert(offsetof(PlayerMovement, pushCountdown) == 352 && offsetof(PlayerMovement, brakeSide) == 356);
static_assert(offsetof(PlayerMovement, harmonizeEffectPrefab) == 376 && offsetof(PlayerMovement, maxTurnAngle) == 388);
static_assert(offsetof(PlayerMovement, cluster) == 392 && offsetof(PlayerMovement, clusterBoxCount) == 460);
static_assert(offsetof(PlayerMovement, snapPath) == 464 && offsetof(PlayerMovement, clusterUp) == 528);
static_assert(offsetof(PlayerMovement, snapBoxA) == 560 && offsetof(PlayerMovement, stepTimer) == 580);
static_assert(offsetof(PlayerMovement, movementState) == 596 && offsetof(PlayerMovement, jumpMode) == 608);
static_assert(offsetof(PlayerMovement, raceState) == 632 && offsetof(PlayerMovement, facingState) == 644);
static_assert(offsetof(PlayerMovement, liftOffset) == 656 && offsetof(PlayerMovement, gravityDirection) == 668);
static_assert(offsetof(PlayerMovement, gravityScale) == 676 && offsetof(PlayerMovement, brakeArmed) == 680);
static_assert(offsetof(PlayerMovement, harmonizeEnabled) == 684 && offsetof(PlayerMovement, jumpedThisTick) == 685);
static_assert(offsetof(PlatformWarning, clip) == 4);
static_assert(offsetof(BreakOnContact, ignoreTriggers) == 4);
static_assert(offsetof(PlatformSensor, hideWhenAway) == 8);
static_assert(
    offsetof(Detonator, clip) == 4 && offsetof(Detonator, target) == 12 && offsetof(Detonator, running) == 16);
static_assert(offsetof(FlyingEnemy, head) == 12 && offsetof(FlyingEnemy, wrap) == 20);
static_assert(offsetof(FlyingEnemy, path) == 24 && offsetof(FlyingEnemy, heading) == 280);
static_assert(offsetof(FlyingEnemy, pathPosition) == 296);
static_assert(offsetof(FuzzyCameraZone, followX) == 4);
static_assert(offsetof(FuzzyZone, coreSize) == 16 && offsetof(FuzzyZone, falloff) == 24);
static_assert(offsetof(GravityZone, gravityScale) == 4 && offsetof(GravityZone, savedDirection) == 12);
static_assert(offsetof(GravityZone, savedScale) == 20 && offsetof(GravityZone, direction) == 24);
static_assert(offsetof(PushPad, sound) == 8 && offsetof(PushPad, useUpAxis) == 16);
static_assert(offsetof(LevelGoal, reached) == 16);
static_assert(offsetof(MissileLauncher, muzzle) == 16 && offsetof(MissileLauncher, sightLength) == 24);
static_assert(offsetof(Missile, direction) == 8 && offsetof(Missile, homingRange) == 24);
static_assert(offsetof(TextureScroll, randomU) == 16);
static_assert(offsetof(MovingPlatform, autoplay) == 12 && offsetof(MovingPlatform, state) == 28);
static_assert(offsetof(MovingPlatform, setupValue) == 40 && offsetof(MovingPlatform, started) == 41);
static_assert(offsetof(MovingPlatformSetup, clip) == 12 && offsetof(MovingPlatformSetup, value) == 20);
static_assert(offsetof(SoundTrigger, playerOnly) == 8 && offsetof(SoundTrigger, played) == 10);
static_assert(offsetof(RaceAnimationTrigger, opposedClip) == 4 && offsetof(RaceAnimationTrigger, otherClip) == 12);
static_assert(offsetof(SpeechTrigger, value28) == 28 && offsetof(SpeechTrigger, value48) == 48);
static_assert(offsetof(Platform, hideSound) == 8 && offsetof(Platform, animated) == 28);
static_assert(offsetof(Platform, occupancy) == 48 && offsetof(Platform, standProof) == 60);
static_assert(offsetof(Platform, hiddenByStanding) == 64);
static_assert(offsetof(SavePointTrigger, idleSound) == 4 && offsetof(SavePointTrigger, respawnSound) == 28);
static_assert(offsetof(SavePointTrigger, animated) == 36 && offsetof(SavePointTrigger, flags) == 44);
static_assert(offsetof(SavePointTrigger, respawnEffectPrefab) == 64);
static_assert(offsetof(CameraFollow, easing) == 12 && offsetof(CameraFollow, deadZone) == 60);
static_assert(offsetof(CameraFollow, stateEntity) == 76 && offsetof(CameraFollow, target) == 84);
static_assert(offsetof(CameraFollow, targetPoint) == 96 && offsetof(CameraFollow, lookDirection) == 132);
static_assert(offsetof(CameraFollow, focusMoved) == 145);
static_assert(offsetof(Snapbox, neighbourDistances) == 24 && offsetof(Snapbox, blocker) == 48);
static_assert(offsetof(Snapbox, linkedBox) == 56 && offsetof(Snapbox, boxKind) == 64);
static_assert(offsetof(SnapboxCluster, boxCount) == 64 && offsetof(SnapboxCluster, wobbleSound) == 72);
static_assert(offsetof(SnapboxCluster, keepsMomentum) == 80);
static_assert(offsetof(SoundOverride, placeAt) == 8 && offsetof(SoundOverride, positional) == 12);
static_assert(offsetof(WaterFlow, blockingLayers) == 4 && offsetof(WaterFlow, splashPrefab) == 24);
static_assert(offsetof(WaterFlow, length) == 36);
static_assert(offsetof(Collectible, picked) == 8);
static_assert(offsetof(Lightning, flashLight) == 20 && offsetof(Lightning, flashChance) == 44);
static_assert(offsetof(Lightning, disabled) == 48);
static_assert(offsetof(SubtitleTrigger, done) == 8);
static_assert(offsetof(LevelStatisticsDisplay, timeText) == 8 && offsetof(LevelStatisticsDisplay, rankText) == 12);
static_assert(offsetof(MenuButton, selectedClip) == 16 && offsetof(MenuButton, activatedClip) == 40);
static_assert(offsetof(MenuButton, targets) == 48 && offsetof(MenuButton, transaction) == 80);
static_assert(offsetof(MenuButton, levelNumber) == 84 && offsetof(MenuButton, worldButton) == 112);
static_assert(offsetof(MenuButton, hasValueArrows) == 115);
static_assert(offsetof(MenuTransitionRig, animated) == 4 && offsetof(MenuTransitionRig, openClip) == 12);
static_assert(offsetof(MenuTransitionRig, reopenedClip) == 28);
static_assert(offsetof(MenuPage, buttons) == 8 && offsetof(MenuPage, selectedButton) == 128);
static_assert(offsetof(MenuPage, previouslySelectedButton) == 132 && offsetof(MenuPage, locked) == 137);
static_assert(offsetof(MenuOption, optionType) == 4);
static_assert(offsetof(OverlayLayer, savedPosition) == 4);

} // namespace harmonize
