#include "SoundTestSupport.h"

#include "harmonize/Scenario.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/SoundLibraryChunk.h"
#include "harmonize/tasks/TaskDispatcher.h"
#include "harmonize/ThreadingSettings.h"

namespace harmonize::testing {
namespace {

using quern::debug::MutexLock;
using quern::entity::EntityHandle;

constexpr const char* kLibrary = R"(
group Music
group Atmo
group Effects curve 0.5 1 1 0
sound jump group Effects instances 2
component beep
sound step interval 0.5 pick cycle
component beep
component boop
component bip
sound plain
component beep gain 0.5
sound theme group Music loop
component music fadein 1 fadeout 2
sound other group Music loop
component music2
sound wind group Atmo loop
component wind
)";

class SoundSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetChannels();
        for (const char* name : { "beep", "boop", "bip", "music", "music2", "wind" })
            content.addSound(name);
        libraryId = content.addLibrary("sounds", kLibrary);
        sound = new SoundSystem(nullptr, &audio.device, &content.depot, &content.cache);
        scene.addSystem(sound);
    }
    void TearDown() override { resetChannels(); }

    void start()
    {
        scene.world().attachSystems(nullptr);
        scene.start();
        sound->loadSoundLibrary(libraryId, content.depot);
    }
    // One fixed tick and one update at `seconds` of world time.
    void frame(f64 seconds)
    {
        scene.world().currentTime = static_cast<u64>(seconds * 1e6);
        sound->fixedTick(nullptr, scene.world());
        sound->update(nullptr, scene.world());
        sound->lateUpdate(scene.world());
    }
    f32 recordGain(u32 handle)
    {
        MutexLock lock(sound->mixer().lock());
        const MixerVoice* record = sound->mixer().record(handle);
        return record ? record->gain : -1.0f;
    }
    const SoundInstance& last() { return sound->instance(sound->instanceCount() - 1); }
    u64 key(const char* name) { return soundNameKey(name); }

    AudioSettingsScope settings;
    NullAudio audio;
    SoundContent content;
    Scenario scene;
    SoundSystem* sound = nullptr;
    u64 libraryId = 0;
};

TEST_F(SoundSystemTest, LoadingTheLibraryFindsTheGroupsAndPreloadsEveryComponent)
{
    start();
    EXPECT_EQ(sound->library().soundCount(), 6u);
    EXPECT_EQ(sound->musicGroup(), 0);
    EXPECT_EQ(sound->ambienceGroup(), 1);
    EXPECT_EQ(sound->mixer().preloadedCount(), 6u);
    // The same key again reads nothing.
    sound->loadSoundLibrary(libraryId, content.depot);
    EXPECT_EQ(sound->libraryKey(), libraryId);
}

TEST_F(SoundSystemTest, VoiceGainsFollowLibraryGainsVolumesDistanceAndTheVolumeCurve)
{
    start();
    struct Case {
        const char* name;
        const char* sound;
        f32 x;
        u8 positional;
        f32 global, effects, music, power;
        f32 expected;
    } cases[] = {
        { "all at 100", "plain", 0, 0, 100, 100, 100, 1, 0.5f },
        { "global 50 power 2", "plain", 0, 0, 50, 100, 100, 2, 0.0625f },
        { "effects 50", "plain", 0, 0, 100, 50, 100, 1, 0.25f },
        { "music volume spares effects", "plain", 0, 0, 100, 100, 10, 1, 0.5f },
        { "near: full", "jump", 40, 1, 100, 100, 100, 1, 1.0f },
        { "halfway down the curve", "jump", 75, 1, 100, 100, 100, 1, 0.5f },
        { "beyond the audible distance", "jump", 100, 1, 100, 100, 100, 1, 0.0f },
        { "not positional: no distance", "jump", 100, 0, 100, 100, 100, 1, 1.0f },
        { "music by the music volume", "other", 0, 0, 100, 20, 50, 1, 0.5f },
        { "ambience by the music volume", "wind", 0, 0, 100, 20, 50, 1, 0.5f },
        { "above 1 is limited", "plain", 0, 0, 400, 100, 100, 1, 1.0f },
    };
    f64 now = 1.0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Settings::Audio.globalVolume = c.global;
        Settings::Audio.effectsVolume = c.effects;
        Settings::Audio.musicVolume = c.music;
        Settings::Audio.volumePower = c.power;
        SoundRequest& request = sound->playSound(key(c.sound));
        request.position = { c.x, 0.0f, 0.0f };
        request.positional = c.positional;
        frame(now += 1.0);
        ASSERT_GE(sound->instanceCount(), 1u);
        EXPECT_NEAR(recordGain(last().record), c.expected, 1e-6f);
        sound->stopSound(key(c.sound));
        frame(now += 1.0);
        frame(now += 1.0);
        EXPECT_EQ(sound->instanceCount(), 0u);
    }
}

TEST_F(SoundSystemTest, LimitsAndPicksDecideWhatStarts)
{
    start();
    for (int i = 0; i < 3; ++i)
        sound->playSound(key("jump"));
    sound->playSound(key("nothing"));
    sound->stopSound(key("nothing"));
    frame(1.0);
    EXPECT_EQ(sound->instanceCount(), 2u);

    // A minimum interval of 0.5 s: the start 0.3 s later is refused, but its
    // pick has moved the cycle on.
    const quern::audio::SoundComponent* components = sound->library().components();
    sound->playSound(key("step"));
    frame(2.0);
    EXPECT_EQ(last().component, &components[2]);
    sound->playSound(key("step"));
    frame(2.3);
    EXPECT_EQ(last().component, &components[2]);
    EXPECT_EQ(sound->instanceCount(), 3u);
    sound->playSound(key("step"));
    frame(2.9);
    EXPECT_EQ(sound->instanceCount(), 4u);
    EXPECT_EQ(last().component, &components[1]);
}

TEST_F(SoundSystemTest, ARequestForAnEntityNotYetActiveIsDropped)
{
    const EntityHandle dormant = scene.add("dormant", { "Transform" }, {}, true);
    start();
    sound->playSound(key("plain")).entity = dormant.value;
    frame(1.0);
    EXPECT_EQ(sound->instanceCount(), 0u);
}

TEST_F(SoundSystemTest, APositionalInstanceFollowsItsEntityAndStaysWhereItWasWhenTheEntityGoes)
{
    const EntityHandle mover = scene.add("mover", { "Transform" });
    start();
    scene.get<Transform>(mover).position = { 10.0f, 0.0f, 0.0f };
    sound->playAtEntity(key("jump"), mover.value);
    frame(1.0);
    ASSERT_EQ(sound->instanceCount(), 1u);
    scene.get<Transform>(mover).position = { 80.0f, 0.0f, 0.0f };
    frame(1.1);
    EXPECT_EQ(last().position.x, 80.0f);
    EXPECT_NEAR(recordGain(last().record), 0.4f, 1e-5f);
    const u32 record = last().record;
    scene.world().destroyEntities(&mover, 1);
    frame(1.2);
    EXPECT_EQ(last().position.x, 80.0f);
    EXPECT_EQ(last().entity, 0u);
    frame(1.3);
    EXPECT_FALSE(sound->mixer().isValid(record));
}

TEST_F(SoundSystemTest, AnOverrideReplacesTheSoundAndWhereItPlays)
{
    const EntityHandle spot = scene.add("spot", { "Transform" });
    const EntityHandle caller = scene.add("caller", { "Transform", "SoundOverride" });
    start();
    scene.get<Transform>(spot).position = { 3.0f, 4.0f, 0.0f };
    SoundOverride& override = scene.get<SoundOverride>(caller);
    override.sound = key("plain");
    override.placeAt = spot;
    override.positional = 0;
    sound->playAtEntity(key("jump"), caller.value);
    ASSERT_EQ(sound->requestCount(), 1u);
    EXPECT_EQ(sound->request(0).soundId, key("plain"));
    EXPECT_EQ(sound->request(0).entity, spot.value);
    EXPECT_EQ(sound->request(0).positional, 0);
    EXPECT_EQ(sound->request(0).position.y, 4.0f);

    // An override naming an entity that is gone queues nothing.
    scene.world().destroyEntities(&spot, 1);
    sound->playAtEntity(key("jump"), caller.value);
    EXPECT_EQ(sound->requestCount(), 1u);
}

TEST_F(SoundSystemTest, WithAudioOffTheRequestsAreEmptiedAndNothingPlays)
{
    start();
    Settings::Audio.enabled = false;
    for (int i = 0; i < 100; ++i)
        sound->playSound(key("plain"));
    frame(1.0);
    EXPECT_EQ(sound->requestCount(), 0u);
    EXPECT_EQ(sound->instanceCount(), 0u);
}

TEST_F(SoundSystemTest, SwitchingTheMusicFadesTheOldOutAndTheNewIn)
{
    start();
    SoundChannel::play(SoundSystem::music(), *sound, key("theme"));
    frame(1.0);
    const u32 theme = last().record;
    EXPECT_EQ(SoundSystem::music().record, theme);
    EXPECT_NEAR(recordGain(theme), 0.0f, 1e-6f);
    frame(1.5);
    EXPECT_NEAR(recordGain(theme), 0.5f, 1e-6f);
    frame(2.0);
    EXPECT_NEAR(recordGain(theme), 1.0f, 1e-6f);

    SoundChannel::play(SoundSystem::music(), *sound, key("other"));
    frame(3.0);
    const u32 other = last().record;
    EXPECT_NE(other, theme);
    EXPECT_EQ(SoundSystem::music().record, other);
    EXPECT_NEAR(recordGain(theme), 1.0f, 1e-6f);
    frame(4.0);
    EXPECT_NEAR(recordGain(theme), 0.5f, 1e-6f);
    EXPECT_NEAR(recordGain(other), 1.0f, 1e-6f);
    frame(5.0);
    frame(5.1);
    EXPECT_FALSE(sound->mixer().isValid(theme));
}

TEST_F(SoundSystemTest, EntitiesAnnounceTheirSoundsAtCreation)
{
    const EntityHandle music = scene.add("music", { "SoundEmitter" });
    const EntityHandle source = scene.add("source", { "Transform", "AudioSource" });
    const u64 beep = content.ids["beep"];
    scene.get<SoundEmitter>(music).sound = key("theme");
    scene.get<SoundEmitter>(music).defaultMusic = 1;
    AudioSource& audioSource = scene.get<AudioSource>(source);
    audioSource.stream = beep;
    audioSource.gain = 1.5f;
    audioSource.auxiliary = 0.25f;
    audioSource.looping = 1;
    audioSource.playOnCreate = 1;
    start();
    EXPECT_EQ(sound->defaultMusic(), key("theme"));
    frame(1.0);
    ASSERT_EQ(sound->instanceCount(), 1u);
    MutexLock lock(sound->mixer().lock());
    const MixerVoice* record = sound->mixer().record(last().record);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->looping, 1);
    EXPECT_EQ(record->auxiliaryValue, 0.25f);
    EXPECT_EQ(record->gain, 1.0f);
    EXPECT_EQ(last().gain, 1.5f);
}

TEST_F(SoundSystemTest, TheLastCameraRigIsTheListenerWithTheRigsDepth)
{
    scene.add("first", { "Transform", "GameCameraRig" });
    const EntityHandle rig = scene.add("rig", { "Transform", "GameCameraRig" });
    scene.get<GameCameraRig>(rig).listenerZ = 0.0f;
    start();
    EXPECT_EQ(sound->listener(), rig.value);
    scene.get<Transform>(rig).position = { 50.0f, 0.0f, 9.0f };
    SoundRequest& request = sound->playSound(key("jump"));
    request.position = { 75.0f, 0.0f, 0.0f };
    request.positional = 1;
    frame(1.0);
    // 25 away in the plane: the rig's depth 0 replaces the camera's 9.
    EXPECT_NEAR(recordGain(last().record), 1.0f, 1e-6f);
}

TEST_F(SoundSystemTest, ClipStatisticsCountInstancesPerSoundMostFirst)
{
    start();
    sound->playSound(key("plain"));
    sound->playSound(key("jump"));
    sound->playSound(key("jump"));
    frame(1.0);
    quern::containers::Array counts(sizeof(SoundClipCount), 8);
    sound->collectClipStatistics(counts);
    ASSERT_EQ(counts.count(), 2u);
    EXPECT_EQ(counts.at<SoundClipCount>(0).soundId, key("jump"));
    EXPECT_EQ(counts.at<SoundClipCount>(0).count, 2u);
    EXPECT_EQ(counts.at<SoundClipCount>(1).count, 1u);
    EXPECT_FLOAT_EQ(sound->maximumGain(), 1.0f);
    EXPECT_FLOAT_EQ(sound->averageGain(), 2.5f / 3.0f);
}

TEST_F(SoundSystemTest, MutingLogsAndSilencesThroughTheMasterGain)
{
    start();
    sound->setMuted(true);
    EXPECT_EQ(sound->mixer().masterGain(), 0.0f);
    sound->setMuted(false);
    EXPECT_EQ(sound->mixer().masterGain(), 1.0f);
}

TEST_F(SoundSystemTest, WithThreadsTheMixerPassRunsAsATaskJoinedInTheLateUpdate)
{
    TaskDispatcher dispatcher;
    dispatcher.start(threading(true, 3, 0), 4);
    SoundSystem* threaded = new SoundSystem(&dispatcher, &audio.device, &content.depot, &content.cache);
    scene.addSystem(threaded);
    start();
    threaded->loadSoundLibrary(libraryId, content.depot);
    threaded->playSound(key("plain"));
    scene.world().currentTime = 1'000'000;
    threaded->fixedTick(nullptr, scene.world());
    threaded->update(nullptr, scene.world());
    threaded->lateUpdate(scene.world());
    EXPECT_NE(sound->mixer().voiceChannel(0), nullptr);
    EXPECT_EQ(sound->mixer().pendingCount(), 0u);
}

TEST(SoundLibraryChunk, HeadersThatHoldNoLibraryAreNamed)
{
    struct Case {
        std::vector<quern::u8> header;
        u64 size;
        const char* error;
    } cases[] = {
        { { 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0 }, 16, nullptr },
        { { 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0 }, 16, "the byte count runs past the end of the asset" },
        { { 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 }, 12, "the chunk is not of type 0" },
        { { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 }, 11, "shorter than its chunk header" },
    };
    for (const Case& c : cases) {
        const SoundLibraryChunk chunk = readSoundLibraryChunk(c.header.data(), c.size);
        EXPECT_STREQ(chunk.error, c.error);
    }
}

TEST_F(SoundSystemTest, ALibraryAssetWithABadChunkIsFatalNamingIt)
{
    const u64 broken = content.depot.add("broken", { 0, 0, 0, 0, 0, 0, 0, 0, 99, 0, 0, 0, 1, 2 });
    start();
    EXPECT_DEATH(sound->loadSoundLibrary(broken, content.depot),
        "Bad sound library [0-9a-f]+: the byte count runs past the end of the asset");
}

} // namespace
} // namespace harmonize::testing
