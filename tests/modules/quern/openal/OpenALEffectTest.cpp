#include "Loopback.h"

#include "quern/openal/OpenALEFX.h"
#include "quern/openal/OpenALEffect.h"
#include "quern/openal/OpenALOutputChannel.h"

#include "support/MemorySampleStream.h"

#include <gtest/gtest.h>

namespace quern::openal {
namespace {

using quern::testing::MemorySampleStream;
using quern::testing::pcmFormat;
using quern::testing::sineBytes16;
using testing::kLoopbackRate;
using testing::LoopbackAudio;

std::unique_ptr<MemorySampleStream> shortSine()
{
    const u64 frames = kLoopbackRate / 10;
    return std::make_unique<MemorySampleStream>(
        pcmFormat(1, kLoopbackRate, 16), sineBytes16(1, kLoopbackRate, 500.0, frames, 0.9));
}

// Plays the sound once through the slot and returns the loudest sample well
// after the dry sound ended (0.15 s to 0.4 s after the start).
f32 tailAfterPlaying(LoopbackAudio& audio, OpenALEffectSlot* slot, MemorySampleStream& stream)
{
    audio::OutputChannel* channel = audio.device.createOutputChannel(&stream);
    static_cast<OpenALOutputChannel*>(channel)->setEffectSlot(slot);
    channel->open(audio::BufferMode::Static);
    channel->play();
    const std::vector<f32> mix = testing::renderSeconds(0.4);
    const f32 dry = testing::peak(mix, 0, kLoopbackRate / 10);
    EXPECT_GT(dry, 0.1f);
    audio.device.releaseOutputChannel(channel);
    return testing::peak(mix, kLoopbackRate * 15 / 100, mix.size());
}

TEST(OpenALEffects, AllEntryPointsAreFound)
{
    LoopbackAudio audio;
    EXPECT_TRUE(hasEFX());
    EXPECT_EQ(kEFXEntryPointCount, 33u);
    EXPECT_NE(efx().alGetAuxiliaryEffectSlotfv, nullptr);
    EXPECT_NE(efx().alGenFilters, nullptr);
}

TEST(OpenALEffects, ReverbLeavesATailAfterTheDrySound)
{
    LoopbackAudio audio;
    OpenALEffectSlot* slot = audio.backEnd().createEffectSlot();
    ASSERT_NE(slot, nullptr);
    EXPECT_NE(slot->slotId(), 0u);
    EXPECT_EQ(audio.backEnd().effectSlotCount(), 1u);
    OpenALEffect reverb(defaultReverbParameters());
    ASSERT_TRUE(reverb.createImpl(slot->slotId()));
    slot->appendEffect(&reverb);
    auto stream = shortSine();
    EXPECT_GT(tailAfterPlaying(audio, slot, *stream), 0.005f);
}

TEST(OpenALEffects, NoTailAfterTheEffectIsRemovedOrWithoutASlot)
{
    auto stream = shortSine();
    {
        LoopbackAudio audio;
        EXPECT_LT(tailAfterPlaying(audio, nullptr, *stream), 1e-4f);
    }
    LoopbackAudio audio;
    OpenALEffectSlot* slot = audio.backEnd().createEffectSlot();
    OpenALEffect reverb(defaultReverbParameters());
    ASSERT_TRUE(reverb.createImpl(slot->slotId()));
    slot->appendEffect(&reverb);
    slot->removeEffect(&reverb);
    EXPECT_EQ(slot->effectCount(), 0u);
    EXPECT_LT(tailAfterPlaying(audio, slot, *stream), 1e-4f);
}

TEST(OpenALEffects, ChangingParametersKeepsTheEffectLoaded)
{
    LoopbackAudio audio;
    OpenALEffectSlot* slot = audio.backEnd().createEffectSlot();
    OpenALEffect reverb(defaultReverbParameters());
    ASSERT_TRUE(reverb.createImpl(slot->slotId()));
    ReverbParameters changed = defaultReverbParameters();
    changed.decayTime = 3.5f;
    changed.decayHFLimit = 0;
    changed.lateReverbPan[1] = 0.5f;
    EXPECT_EQ(reverb.setReverbParameters(changed), AL_NO_ERROR);
    // Still loaded: the slot reverberates.
    slot->appendEffect(&reverb);
    auto stream = shortSine();
    EXPECT_GT(tailAfterPlaying(audio, slot, *stream), 0.005f);
    ALfloat decay = 0.0f, pan[3] = {};
    ALint limit = -1;
    efx().alGetEffectf(reverb.effectId(), AL_EAXREVERB_DECAY_TIME, &decay);
    efx().alGetEffecti(reverb.effectId(), AL_EAXREVERB_DECAY_HFLIMIT, &limit);
    efx().alGetEffectfv(reverb.effectId(), AL_EAXREVERB_LATE_REVERB_PAN, pan);
    EXPECT_EQ(decay, 3.5f);
    EXPECT_EQ(limit, 0);
    EXPECT_EQ(pan[1], 0.5f);
    EXPECT_EQ(reverb.parameters().decayTime, 3.5f);
}

TEST(OpenALEffects, NoEffectIdIsLeaked)
{
    LoopbackAudio audio;
    OpenALEffectSlot* slot = audio.backEnd().createEffectSlot();
    OpenALEffect reverb(defaultReverbParameters());
    ASSERT_TRUE(reverb.createImpl(slot->slotId()));
    const u32 first = reverb.effectId();
    ASSERT_TRUE(reverb.createImpl(slot->slotId()));
    EXPECT_FALSE(efx().alIsEffect(first) && first != reverb.effectId());
    EXPECT_TRUE(efx().alIsEffect(reverb.effectId()));
    reverb.destroyImpl();
    EXPECT_EQ(reverb.effectId(), 0u);
}

TEST(OpenALEffects, SlotDestructionDeletesTheIdsOfAttachedEffects)
{
    LoopbackAudio audio;
    // A slot of its own, destroyed while the context lives so OpenAL can be asked.
    OpenALEffectSlot* slot = OpenALEffectSlot::generate();
    ASSERT_NE(slot, nullptr);
    OpenALEffect attached(defaultReverbParameters());
    ASSERT_TRUE(attached.createImpl(slot->slotId()));
    slot->appendEffect(&attached);
    const u32 id = attached.effectId();
    OpenALEffectSlot* second = audio.backEnd().createEffectSlot();
    ASSERT_NE(second, nullptr);
    const u32 slotId = slot->slotId();
    OpenALEffectSlot::destroy(slot);
    EXPECT_FALSE(efx().alIsEffect(id));
    EXPECT_FALSE(efx().alIsAuxiliaryEffectSlot(slotId));
    EXPECT_EQ(attached.effectId(), 0u);
    EXPECT_TRUE(efx().alIsAuxiliaryEffectSlot(second->slotId()));
}

} // namespace
} // namespace quern::openal
