#include "SoundTestSupport.h"

#include "harmonize/Scenario.h"
#include "quern/audio/OutputChannel.h"
#include "quern/openal/OpenALReverbSlot.h"

namespace harmonize::testing {
namespace {

using quern::debug::MutexLock;

constexpr const char* kLibrary = R"(
group Music
group Atmo
sound theme group Music loop
component music
sound other group Music loop
component music2
sound wind group Atmo loop
component wind
)";

// 27 reverb values whose density is `density`.
std::string reverbValues(f32 density)
{
    std::string text = " reverb " + std::to_string(density);
    for (int k = 1; k < 27; ++k)
        text += " 0.5";
    return text;
}

// A level world with its sound system, run by hand.
struct LevelWorld {
    LevelWorld(SoundContent& content, quern::audio::AudioDevice& device)
    {
        sound = new SoundSystem(nullptr, &device, &content.depot, &content.cache);
        scene.addSystem(sound);
        scene.world().attachSystems(nullptr);
        scene.start();
    }
    void frame(f64 seconds)
    {
        scene.world().currentTime = static_cast<u64>(seconds * 1e6);
        sound->fixedTick(nullptr, scene.world());
        sound->update(nullptr, scene.world());
        sound->lateUpdate(scene.world());
    }

    Scenario scene;
    SoundSystem* sound = nullptr;
};

class LevelAudioTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetChannels();
        for (const char* name : { "music", "music2", "wind" })
            content.addSound(name, 2.0f);
        library = content.addLibrary("sounds", kLibrary);
        content.buildLevels("world 0 0\nworld 0 1\nworld 0 2\nworld 0 3\n"
                            "level 0 id 1 sound sounds music theme ambience wind"
            + reverbValues(0.25f)
            + " name One\n"
              "level 1 id 2 sound sounds music theme"
            + reverbValues(0.75f)
            + " name Two\n"
              "level 2 id 3 sound sounds name Three\n"
              "level 3 id 4 music theme ambience wind name Four\n"
              "extra 3 sound sounds music other\n");
    }
    void TearDown() override { resetChannels(); }

    AudioSettingsScope settings;
    SoundContent content;
    u64 library = 0;
};

TEST_F(LevelAudioTest, TheReverbFollowsTheLevelsAndOnlyNewParametersAreUploaded)
{
    LoopbackAudio audio;
    LevelWorld world(content, audio.device);
    SoundMixer& mixer = world.sound->mixer();
    auto* slot = static_cast<quern::openal::OpenALReverbSlot*>(mixer.reverbSlot());
    ASSERT_NE(slot, nullptr);

    world.sound->applyLevelAudio(0, content.levels);
    EXPECT_TRUE(mixer.reverbOn());
    EXPECT_EQ(slot->slot()->effectCount(), 1u);
    EXPECT_FLOAT_EQ(slot->reverb().parameters().density, 0.25f);

    world.sound->applyLevelAudio(1, content.levels);
    EXPECT_EQ(slot->slot()->effectCount(), 1u);
    EXPECT_FLOAT_EQ(slot->reverb().parameters().density, 0.75f);
    EXPECT_FLOAT_EQ(mixer.reverbParameters().density, 0.75f);

    world.sound->applyLevelAudio(2, content.levels);
    EXPECT_FALSE(mixer.reverbOn());
    EXPECT_EQ(slot->slot()->effectCount(), 0u);
}

TEST_F(LevelAudioTest, TheSameMusicPlaysOnAcrossALevelSwitchWithoutARestart)
{
    NullAudio audio;
    LevelWorld first(content, audio.device);
    first.sound->loadSoundLibrary(library, content.depot);
    first.sound->applyLevelAudio(0, content.levels);
    first.frame(1.0);
    const u32 music = SoundSystem::music().record;
    const u32 ambience = SoundSystem::ambience().record;
    ASSERT_NE(music, 0u);
    ASSERT_NE(ambience, 0u);
    first.frame(1.1);
    SoundMixer& mixer = first.sound->mixer();
    quern::audio::OutputChannel* channel = mixer.voiceChannel(0);
    ASSERT_NE(channel, nullptr);

    // The next level loads into the other world, which starts; the old world
    // is cleared; then the new level's audio is applied.
    LevelWorld second(content, audio.device);
    first.scene.world().clear();
    EXPECT_FLOAT_EQ(SoundSystem::music().savedGain, 1.0f);
    second.sound->loadSoundLibrary(library, content.depot);
    second.sound->applyLevelAudio(1, content.levels);
    second.frame(2.0);
    second.frame(2.1);
    EXPECT_EQ(SoundSystem::music().record, music);
    EXPECT_TRUE(mixer.isValid(music));
    EXPECT_EQ(mixer.voiceChannel(0), channel);
    EXPECT_TRUE(channel->isPlaying());
    // Level two has no ambience: the wind stops.
    EXPECT_FALSE(mixer.isValid(ambience));
    EXPECT_EQ(SoundSystem::ambience().soundId, 0u);
    ASSERT_EQ(second.sound->instanceCount(), 1u);
    EXPECT_EQ(second.sound->instance(0).record, music);
    EXPECT_NE(second.sound->instance(0).component, nullptr);
}

TEST_F(LevelAudioTest, AnExtraEntryOverridesTheLevelsMusicAndAmbience)
{
    NullAudio audio;
    LevelWorld world(content, audio.device);
    world.sound->loadSoundLibrary(library, content.depot);
    world.sound->applyLevelAudio(3, content.levels);
    EXPECT_EQ(SoundSystem::music().soundId, soundNameKey("other"));
    EXPECT_EQ(SoundSystem::ambience().soundId, 0u);
}

TEST_F(LevelAudioTest, WithoutAMusicNameTheDefaultMusicPlays)
{
    NullAudio audio;
    LevelWorld world(content, audio.device);
    world.sound->loadSoundLibrary(library, content.depot);
    world.sound->applyLevelAudio(2, content.levels);
    EXPECT_EQ(SoundSystem::music().soundId, 0u);
    EXPECT_EQ(world.sound->requestCount(), 0u);
}

TEST_F(LevelAudioTest, TheLevelsSoundLibraryIsTheFirstThatIsSet)
{
    content.buildLevels("world 0 0\nworld 0 1\nworld 0 2\nworld 0 3\n"
                        "level 0 id 1 sound sounds name A\n"
                        "level 1 id 2 name B\n"
                        "extra 1 sound music\n"
                        "start 2 sound wind\n"
                        "final 3 sound music2\n"
                        "title 3 sound wind\n");
    EXPECT_EQ(content.levels.soundLibraryOfLevel(0), content.ids["sounds"]);
    EXPECT_EQ(content.levels.soundLibraryOfLevel(1), content.ids["music"]);
    EXPECT_EQ(content.levels.soundLibraryOfLevel(2), content.ids["wind"]);
    EXPECT_EQ(content.levels.soundLibraryOfLevel(3), content.ids["music2"]);
    EXPECT_EQ(content.levels.soundLibraryOfLevel(7), 0u);
}

} // namespace
} // namespace harmonize::testing
