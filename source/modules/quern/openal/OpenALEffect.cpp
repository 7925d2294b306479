#include "quern/openal/OpenALEffect.h"

#include "quern/debug/Log.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/openal/OpenALEFX.h"
#include "quern/openal/OpenALError.h"

#include <new>

namespace quern::openal {

ReverbParameters defaultReverbParameters()
{
    return { AL_EAXREVERB_DEFAULT_DENSITY, AL_EAXREVERB_DEFAULT_DIFFUSION, AL_EAXREVERB_DEFAULT_GAIN,
        AL_EAXREVERB_DEFAULT_GAINHF, AL_EAXREVERB_DEFAULT_GAINLF, AL_EAXREVERB_DEFAULT_DECAY_TIME,
        AL_EAXREVERB_DEFAULT_DECAY_HFRATIO, AL_EAXREVERB_DEFAULT_DECAY_LFRATIO, AL_EAXREVERB_DEFAULT_REFLECTIONS_GAIN,
        AL_EAXREVERB_DEFAULT_REFLECTIONS_DELAY, { 0.0f, 0.0f, 0.0f }, AL_EAXREVERB_DEFAULT_LATE_REVERB_GAIN,
        AL_EAXREVERB_DEFAULT_LATE_REVERB_DELAY, { 0.0f, 0.0f, 0.0f }, AL_EAXREVERB_DEFAULT_ECHO_TIME,
        AL_EAXREVERB_DEFAULT_ECHO_DEPTH, AL_EAXREVERB_DEFAULT_MODULATION_TIME, AL_EAXREVERB_DEFAULT_MODULATION_DEPTH,
        AL_EAXREVERB_DEFAULT_AIR_ABSORPTION_GAINHF, AL_EAXREVERB_DEFAULT_HFREFERENCE, AL_EAXREVERB_DEFAULT_LFREFERENCE,
        AL_EAXREVERB_DEFAULT_ROOM_ROLLOFF_FACTOR, AL_EAXREVERB_DEFAULT_DECAY_HFLIMIT };
}

OpenALEffect::~OpenALEffect() { destroyImpl(); }

void OpenALEffect::destroyImpl()
{
    if (m_effectId == 0 || !hasEFX())
        return;
    efx().alDeleteEffects(1, &m_effectId);
    QUERN_AL_CHECK("quern::openal::OpenALEffect::destroyImpl");
    m_effectId = 0;
}

bool OpenALEffect::createImpl(u32 slotId)
{
    if (!hasEFX())
        return false;
    // A second creation replaces the first effect; the old id would leak.
    destroyImpl();
    m_slotId = slotId;
    efx().alGenEffects(1, &m_effectId);
    if (alGetError() != AL_NO_ERROR) {
        m_effectId = 0;
        QUERN_LOG(1) << "No free OpenAL Effects left" << std::endl;
        return false;
    }
    constexpr const char* kFunction = "quern::openal::OpenALEffect::createImpl";
    if (efx().alIsEffect(m_effectId)) {
        efx().alEffecti(m_effectId, AL_EFFECT_TYPE, AL_EFFECT_EAXREVERB);
        QUERN_AL_CHECK(kFunction);
    }
    if (efx().alIsAuxiliaryEffectSlot(m_slotId)) {
        efx().alAuxiliaryEffectSloti(m_slotId, AL_EFFECTSLOT_EFFECT, static_cast<ALint>(m_effectId));
        QUERN_AL_CHECK(kFunction);
    }
    QUERN_AL_CHECK(kFunction);
    setReverbParameters(m_parameters);
    return true;
}

i32 OpenALEffect::setReverbParameters(const ReverbParameters& parameters)
{
    m_parameters = parameters;
    if (!hasEFX())
        return AL_NO_ERROR;
    const EFXEntryPoints& f = efx();
    const ReverbParameters& p = m_parameters;
    alGetError();
    f.alAuxiliaryEffectSloti(m_slotId, AL_EFFECTSLOT_EFFECT, AL_EFFECT_NULL);
    f.alEffecti(m_effectId, AL_EFFECT_TYPE, AL_EFFECT_EAXREVERB);
    f.alEffectf(m_effectId, AL_EAXREVERB_DENSITY, p.density);
    f.alEffectf(m_effectId, AL_EAXREVERB_DIFFUSION, p.diffusion);
    f.alEffectf(m_effectId, AL_EAXREVERB_GAIN, p.gain);
    f.alEffectf(m_effectId, AL_EAXREVERB_GAINHF, p.gainHF);
    f.alEffectf(m_effectId, AL_EAXREVERB_GAINLF, p.gainLF);
    f.alEffectf(m_effectId, AL_EAXREVERB_DECAY_TIME, p.decayTime);
    f.alEffectf(m_effectId, AL_EAXREVERB_DECAY_HFRATIO, p.decayHFRatio);
    f.alEffectf(m_effectId, AL_EAXREVERB_DECAY_LFRATIO, p.decayLFRatio);
    f.alEffectf(m_effectId, AL_EAXREVERB_REFLECTIONS_GAIN, p.reflectionsGain);
    f.alEffectf(m_effectId, AL_EAXREVERB_REFLECTIONS_DELAY, p.reflectionsDelay);
    f.alEffectfv(m_effectId, AL_EAXREVERB_REFLECTIONS_PAN, p.reflectionsPan);
    f.alEffectf(m_effectId, AL_EAXREVERB_LATE_REVERB_GAIN, p.lateReverbGain);
    f.alEffectf(m_effectId, AL_EAXREVERB_LATE_REVERB_DELAY, p.lateReverbDelay);
    f.alEffectfv(m_effectId, AL_EAXREVERB_LATE_REVERB_PAN, p.lateReverbPan);
    f.alEffectf(m_effectId, AL_EAXREVERB_ECHO_TIME, p.echoTime);
    f.alEffectf(m_effectId, AL_EAXREVERB_ECHO_DEPTH, p.echoDepth);
    f.alEffectf(m_effectId, AL_EAXREVERB_MODULATION_TIME, p.modulationTime);
    f.alEffectf(m_effectId, AL_EAXREVERB_MODULATION_DEPTH, p.modulationDepth);
    f.alEffectf(m_effectId, AL_EAXREVERB_AIR_ABSORPTION_GAINHF, p.airAbsorptionGainHF);
    f.alEffectf(m_effectId, AL_EAXREVERB_HFREFERENCE, p.hfReference);
    f.alEffectf(m_effectId, AL_EAXREVERB_LFREFERENCE, p.lfReference);
    f.alEffectf(m_effectId, AL_EAXREVERB_ROOM_ROLLOFF_FACTOR, p.roomRolloffFactor);
    f.alEffecti(m_effectId, AL_EAXREVERB_DECAY_HFLIMIT, p.decayHFLimit);
    f.alAuxiliaryEffectSloti(m_slotId, AL_EFFECTSLOT_EFFECT, static_cast<ALint>(m_effectId));
    return alGetError();
}

OpenALEffectSlot* OpenALEffectSlot::generate()
{
    if (!hasEFX())
        return nullptr;
    void* memory = memory::getDefaultAllocator()->allocate(sizeof(OpenALEffectSlot), alignof(OpenALEffectSlot));
    if (!memory)
        return nullptr;
    auto* slot = new (memory) OpenALEffectSlot;
    efx().alGenAuxiliaryEffectSlots(1, &slot->m_slotId);
    if (const ALenum error = alGetError(); error != AL_NO_ERROR) {
        QUERN_LOG(1) << "No free OpenAL EffectsSlots left: " << openALErrorText(error) << std::endl;
        slot->m_slotId = 0;
        destroy(slot);
        return nullptr;
    }
    return slot;
}

void OpenALEffectSlot::destroy(OpenALEffectSlot* slot)
{
    if (!slot)
        return;
    if (slot->m_slotId != 0) {
        efx().alDeleteAuxiliaryEffectSlots(1, &slot->m_slotId);
        if (const ALenum error = alGetError(); error != AL_NO_ERROR)
            QUERN_LOG(1) << "Can't destroy OpenAL EffectSlot: " << openALErrorText(error) << std::endl;
        slot->m_slotId = 0;
    }
    // Effects still attached go with their slot; their OpenAL ids would leak.
    for (u64 i = 0; i < slot->effectCount(); ++i)
        slot->effect(i)->destroyImpl();
    slot->~OpenALEffectSlot();
    memory::getDefaultAllocator()->free(slot);
}

void OpenALEffectSlot::removeEffect(OpenALEffect* effect)
{
    if (hasEFX()) {
        efx().alAuxiliaryEffectSloti(m_slotId, AL_EFFECTSLOT_EFFECT, AL_EFFECT_NULL);
        QUERN_AL_CHECK("quern::openal::OpenALEffectSlot::removeEffect");
    }
    m_effects.removeValue(effect);
}

} // namespace quern::openal
