#pragma once
// The back end's answer to the game's reverb: one EFX effect slot with the
// game's reverb effect switched into it.

#include "quern/audio/ReverbSlot.h"
#include "quern/openal/OpenALEffect.h"

namespace quern::openal {

class OpenALReverbSlot final : public audio::ReverbSlot {
public:
    // The slot stays the back end's; it must outlive this object's use.
    explicit OpenALReverbSlot(OpenALEffectSlot* slot)
        : m_slot(slot)
        , m_reverb(defaultReverbParameters())
    {
    }

    void addReverb(const ReverbParameters& parameters) override;
    void removeReverb() override;
    void setReverbParameters(const ReverbParameters& parameters) override;

    OpenALEffectSlot* slot() const { return m_slot; }
    const OpenALEffect& reverb() const { return m_reverb; }
    bool listed() const { return m_listed; }

private:
    OpenALEffectSlot* m_slot;
    OpenALEffect m_reverb;
    bool m_listed = false; // the effect is in the slot and audible
};

} // namespace quern::openal
