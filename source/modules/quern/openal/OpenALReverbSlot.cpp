#include "quern/openal/OpenALReverbSlot.h"

namespace quern::openal {

void OpenALReverbSlot::addReverb(const ReverbParameters& parameters)
{
    if (!m_reverb.createImpl(m_slot->slotId()))
        return;
    m_reverb.setReverbParameters(parameters);
    m_slot->appendEffect(&m_reverb);
}

void OpenALReverbSlot::removeReverb() { m_slot->removeEffect(&m_reverb); }

void OpenALReverbSlot::setReverbParameters(const ReverbParameters& parameters)
{
    // Without an OpenAL effect there is nothing to upload into; the next
    // addReverb brings the parameters along.
    if (m_reverb.effectId() != 0)
        m_reverb.setReverbParameters(parameters);
}

} // namespace quern::openal
