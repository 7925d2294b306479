#pragma once
// Reverb through the Effects Extension: an auxiliary effect slot that sources
// send to, and the reverb effects loaded into it. Nothing here works without
// EFX; every operation asks hasEFX first.

#include "quern/Types.h"
#include "quern/audio/ReverbSlot.h"
#include "quern/containers/Array.h"

namespace quern::openal {

using audio::ReverbParameters;

// The extension's own defaults (a generic room).
ReverbParameters defaultReverbParameters();

class OpenALEffect {
public:
    explicit OpenALEffect(const ReverbParameters& parameters)
        : m_parameters(parameters)
    {
    }
    // Deletes its OpenAL effect when it still holds one.
    ~OpenALEffect();
    OpenALEffect(const OpenALEffect&) = delete;
    OpenALEffect& operator=(const OpenALEffect&) = delete;

    // Makes the OpenAL reverb effect (deleting one made before), loads it into
    // the slot and uploads the parameters. False without EFX or when no effect
    // can be made.
    bool createImpl(u32 slotId);
    // Keeps the parameters and uploads them, unloading and reloading the slot
    // around the upload; returns the OpenAL error (0 without EFX).
    i32 setReverbParameters(const ReverbParameters& parameters);
    // Deletes the OpenAL effect, if any.
    void destroyImpl();

    const ReverbParameters& parameters() const { return m_parameters; }
    u32 effectId() const { return m_effectId; }
    u32 slotId() const { return m_slotId; }

private:
    ReverbParameters m_parameters;
    u32 m_effectId = 0;
    u32 m_slotId = 0;
};

class OpenALEffectSlot {
public:
    // A slot with a new OpenAL auxiliary effect slot; null without EFX, or
    // when OpenAL has none left. Destroy with destroy(); the back end owns the
    // slots it makes.
    static OpenALEffectSlot* generate();
    // Deletes the OpenAL slot and the OpenAL effects still attached to it, then
    // frees the slot.
    static void destroy(OpenALEffectSlot* slot);

    // Unloads the slot's effect and removes the first entry equal to the effect
    // from the list; the others keep their order.
    void removeEffect(OpenALEffect* effect);
    // Lists an effect made for this slot (after its createImpl).
    void appendEffect(OpenALEffect* effect) { m_effects.append(effect); }

    u32 slotId() const { return m_slotId; }
    u64 effectCount() const { return m_effects.count(); }
    OpenALEffect* effect(u64 index) const { return m_effects.at<OpenALEffect*>(index); }

private:
    OpenALEffectSlot()
        : m_effects(sizeof(OpenALEffect*), 8)
    {
    }
    ~OpenALEffectSlot() = default;

    u32 m_slotId = 0;
    containers::Array m_effects;
};

} // namespace quern::openal
