#include "SoundTestSupport.h"

#include "quern/audio/OutputChannel.h"
#include "quern/openal/OpenALOutputChannel.h"
#include "quern/openal/OpenALReverbSlot.h"
#include "support/MemorySampleStream.h"

#include <atomic>
#include <thread>

namespace harmonize::testing {
namespace {

using quern::debug::MutexLock;
using quern::testing::MemorySampleStream;
using quern::testing::pcmFormat;
using quern::testing::sineBytes16;

// The process-wide mixer over a device, torn down after each test.
class MixerTest : public ::testing::Test {
protected:
    void SetUp() override { mixer.init(&audio.device, nullptr, nullptr); }
    void TearDown() override { mixer.teardown(); }

    // A record started at the next pass; its handle.
    u32 queue(f32 gain = 1.0f)
    {
        MutexLock lock(mixer.lock());
        const u32 handle = mixer.allocateRecord(&stream);
        mixer.record(handle)->gain = gain;
        mixer.start(handle);
        return handle;
    }
    void stop(u32 handle)
    {
        MutexLock lock(mixer.lock());
        mixer.record(handle)->stopRequested = 1;
    }

    NullAudio audio;
    SoundMixer& mixer = SoundMixer::instance();
    MemorySampleStream stream { pcmFormat(1, 44100, 16), sineBytes16(1, 44100, 440.0, 4410, 0.5) };
};

TEST_F(MixerTest, TheFirstVoicesTakenAreZeroThenOne)
{
    const u32 first = queue();
    const u32 second = queue();
    mixer.run();
    ASSERT_NE(mixer.voiceChannel(0), nullptr);
    ASSERT_NE(mixer.voiceChannel(1), nullptr);
    EXPECT_EQ(mixer.voiceRecordIndex(0), first & 0xffff);
    EXPECT_EQ(mixer.voiceRecordIndex(1), second & 0xffff);
    EXPECT_EQ(mixer.voiceChannel(2), nullptr);
    EXPECT_TRUE(mixer.voiceChannel(0)->isPlaying());
    EXPECT_EQ(mixer.freeVoiceCount(), 62);
}

TEST_F(MixerTest, AStartBeyondSixtyFourVoicesIsDroppedAndALaterOneGetsAFreedVoice)
{
    std::vector<u32> handles;
    for (int i = 0; i < 65; ++i)
        handles.push_back(queue());
    mixer.run();
    EXPECT_EQ(mixer.freeVoiceCount(), 0);
    EXPECT_TRUE(mixer.isValid(handles[63]));
    EXPECT_FALSE(mixer.isValid(handles[64]));

    stop(handles[10]);
    const u32 later = queue();
    mixer.run();
    EXPECT_FALSE(mixer.isValid(handles[10]));
    EXPECT_TRUE(mixer.isValid(later));
    EXPECT_EQ(mixer.voiceRecordIndex(10), later & 0xffff);
}

TEST_F(MixerTest, AStopBeforeTheFirstPassIsSeenAtTheFollowingPass)
{
    const u32 handle = queue();
    stop(handle);
    mixer.run();
    EXPECT_TRUE(mixer.isValid(handle));
    EXPECT_NE(mixer.voiceChannel(0), nullptr);
    mixer.run();
    EXPECT_FALSE(mixer.isValid(handle));
    EXPECT_EQ(mixer.voiceChannel(0), nullptr);
    EXPECT_EQ(mixer.freeVoiceCount(), 64);
}

TEST_F(MixerTest, AChannelThatEndedFreesItsVoiceAndRecord)
{
    const u32 handle = queue();
    mixer.run();
    mixer.voiceChannel(0)->stop();
    mixer.run();
    EXPECT_FALSE(mixer.isValid(handle));
    EXPECT_EQ(mixer.freeVoiceCount(), 64);
}

TEST_F(MixerTest, MutingGivesEveryPlayingChannelGainZeroAtTheNextPass)
{
    queue(0.5f);
    queue(1.0f);
    mixer.run();
    EXPECT_FLOAT_EQ(mixer.voiceChannel(0)->gain(), 0.5f);
    mixer.setMasterGain(0.0f);
    mixer.run();
    EXPECT_EQ(mixer.voiceChannel(0)->gain(), 0.0f);
    EXPECT_EQ(mixer.voiceChannel(1)->gain(), 0.0f);
    mixer.setMasterGain(1.0f);
    mixer.run();
    EXPECT_FLOAT_EQ(mixer.voiceChannel(1)->gain(), 1.0f);
}

TEST_F(MixerTest, WhenTheDeviceGivesNoChannelTheVoiceReturnsAndTheRemainingStartsAreDropped)
{
    // Another user holds 63 of the device's 64 channels: the second start of
    // the pass finds the device full.
    std::vector<quern::audio::OutputChannel*> held;
    for (int i = 0; i < 63; ++i)
        held.push_back(audio.device.createOutputChannel(&stream));
    const u32 first = queue();
    const u32 second = queue();
    const u32 third = queue();
    mixer.run();
    EXPECT_TRUE(mixer.isValid(first));
    EXPECT_FALSE(mixer.isValid(second));
    EXPECT_FALSE(mixer.isValid(third));
    EXPECT_EQ(mixer.freeVoiceCount(), 63);
    EXPECT_EQ(mixer.pendingCount(), 0u);

    for (quern::audio::OutputChannel* channel : held)
        audio.device.releaseOutputChannel(channel);
    const u32 next = queue();
    mixer.run();
    EXPECT_TRUE(mixer.isValid(next));
    EXPECT_EQ(mixer.voiceRecordIndex(1), next & 0xffff);
}

TEST_F(MixerTest, WithoutAReverbSlotSwitchingChangesNothing)
{
    EXPECT_EQ(mixer.reverbSlot(), nullptr);
    mixer.setReverbEnabled(true);
    EXPECT_FALSE(mixer.reverbOn());
}

TEST(SoundMixer, PreloadingWhileAnotherThreadSearchesKeepsTheListWhole)
{
    NullAudio audio;
    SoundContent content;
    const std::vector<quern::u8> bytes = sineSound("tiny", 0.05f, 880);
    std::vector<u64> ids;
    for (int i = 0; i < 300; ++i)
        ids.push_back(content.depot.add("tiny" + std::to_string(i), bytes));
    SoundMixer& mixer = SoundMixer::instance();
    mixer.init(&audio.device, &content.depot, &content.cache);
    std::atomic<bool> done { false };
    std::thread searcher([&] {
        while (!done.load()) {
            MutexLock lock(mixer.lock());
            for (u64 id : ids) {
                const PreloadedStream* entry = mixer.findPreloaded(id);
                if (entry && entry->asset.assetId != id)
                    ADD_FAILURE() << "an entry of another asset";
            }
        }
    });
    for (u64 id : ids)
        mixer.preload(id);
    done = true;
    searcher.join();
    EXPECT_EQ(mixer.preloadedCount(), 300u);
    mixer.preload(ids[0]);
    EXPECT_EQ(mixer.preloadedCount(), 300u);
    for (u64 id : ids) {
        MutexLock lock(mixer.lock());
        ASSERT_NE(mixer.findPreloaded(id), nullptr);
        EXPECT_NE(mixer.findPreloaded(id)->stream, nullptr);
    }
    mixer.teardown();
}

TEST(SoundMixer, TheReverbStartsAsASmallDampedRoomAndSwitchesOnAndOff)
{
    LoopbackAudio audio;
    SoundMixer& mixer = SoundMixer::instance();
    mixer.init(&audio.device, nullptr, nullptr);
    auto* slot = static_cast<quern::openal::OpenALReverbSlot*>(mixer.reverbSlot());
    ASSERT_NE(slot, nullptr);
    const SoundMixer fresh;
    EXPECT_EQ(std::memcmp(&fresh.reverbParameters(), &SoundMixer::kStartingReverb, sizeof(SoundMixer::kStartingReverb)),
        0);
    // The process-wide mixer keeps what earlier levels uploaded.
    mixer.setReverbParameters(SoundMixer::kStartingReverb);

    mixer.setReverbEnabled(true);
    EXPECT_TRUE(mixer.reverbOn());
    EXPECT_EQ(slot->slot()->effectCount(), 1u);
    EXPECT_NE(slot->reverb().effectId(), 0u);
    EXPECT_FLOAT_EQ(slot->reverb().parameters().gainHF, 0.056f);
    // A second "on" makes a new effect and lists the reverb again.
    mixer.setReverbEnabled(true);
    EXPECT_EQ(slot->slot()->effectCount(), 2u);
    mixer.setReverbEnabled(false);
    EXPECT_FALSE(mixer.reverbOn());
    EXPECT_EQ(slot->slot()->effectCount(), 1u);
    mixer.teardown();
}

TEST(SoundMixer, ParametersSetWhileTheReverbIsOffWaitForItToComeOn)
{
    LoopbackAudio audio;
    SoundMixer& mixer = SoundMixer::instance();
    mixer.init(&audio.device, nullptr, nullptr);
    auto* slot = static_cast<quern::openal::OpenALReverbSlot*>(mixer.reverbSlot());
    ASSERT_NE(slot, nullptr);
    mixer.setReverbParameters(SoundMixer::kStartingReverb);
    mixer.setReverbEnabled(true);
    mixer.setReverbEnabled(false);
    ASSERT_FALSE(slot->listed());

    // An upload would load the effect into the slot again and make it heard.
    quern::audio::ReverbParameters hall = SoundMixer::kStartingReverb;
    hall.gainHF = 0.5f;
    mixer.setReverbParameters(hall);
    EXPECT_FALSE(slot->listed());
    EXPECT_FLOAT_EQ(slot->reverb().parameters().gainHF, SoundMixer::kStartingReverb.gainHF);
    mixer.setReverbEnabled(true);
    EXPECT_TRUE(slot->listed());
    EXPECT_FLOAT_EQ(slot->reverb().parameters().gainHF, 0.5f);
    mixer.teardown();
}

TEST(SoundMixer, NewChannelsSendToTheReverbSlot)
{
    LoopbackAudio audio;
    MemorySampleStream stream(pcmFormat(1, 44100, 16), sineBytes16(1, 44100, 440.0, 4410, 0.5));
    SoundMixer& mixer = SoundMixer::instance();
    mixer.init(&audio.device, nullptr, nullptr);
    {
        MutexLock lock(mixer.lock());
        mixer.start(mixer.allocateRecord(&stream));
    }
    mixer.run();
    auto* channel = static_cast<quern::openal::OpenALOutputChannel*>(mixer.voiceChannel(0));
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(channel->effectSlot(), static_cast<quern::openal::OpenALReverbSlot*>(mixer.reverbSlot())->slot());
    mixer.teardown();
}

TEST(SoundMixer, ATeardownForgetsTheClosedDevicesSlotAndTheNextInitAsksItsOwnDevice)
{
    SoundMixer& mixer = SoundMixer::instance();
    {
        LoopbackAudio first;
        mixer.init(&first.device, nullptr, nullptr);
        mixer.setReverbEnabled(true);
        mixer.teardown();
    }
    EXPECT_EQ(mixer.reverbSlot(), nullptr);
    EXPECT_FALSE(mixer.reverbOn());
    NullAudio silent;
    mixer.init(&silent.device, nullptr, nullptr);
    EXPECT_EQ(mixer.reverbSlot(), nullptr);
    mixer.setReverbEnabled(true);
    EXPECT_FALSE(mixer.reverbOn());
    mixer.teardown();
}

TEST(SoundMixer, GainsReachTheLoopbackMixExactly)
{
    LoopbackAudio audio;
    const u64 frames = 44100 / 5;
    MemorySampleStream loud(pcmFormat(1, 44100, 16), sineBytes16(1, 44100, 500.0, frames, 0.8));
    SoundMixer& mixer = SoundMixer::instance();
    mixer.init(&audio.device, nullptr, nullptr);
    f32 peaks[2] = {};
    const f32 gains[2] = { 1.0f, 0.25f };
    for (int i = 0; i < 2; ++i) {
        u32 handle = 0;
        {
            MutexLock lock(mixer.lock());
            handle = mixer.allocateRecord(&loud);
            mixer.record(handle)->gain = gains[i];
            mixer.start(handle);
        }
        mixer.run();
        peaks[i] = quern::openal::testing::peak(quern::openal::testing::renderFrames(frames / 2), 0, frames / 2);
        {
            MutexLock lock(mixer.lock());
            mixer.record(handle)->stopRequested = 1;
        }
        mixer.run();
    }
    ASSERT_GT(peaks[0], 0.1f);
    EXPECT_NEAR(peaks[1] / peaks[0], 0.25f, 0.01f);
    mixer.teardown();
}

} // namespace
} // namespace harmonize::testing
