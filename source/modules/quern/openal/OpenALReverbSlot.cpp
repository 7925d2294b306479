#include "quern/openal/OpenALReverbSlot.h"

namespace quern::openal {

void OpenALReverbSlot::addReverb(const ReverbParameters& parameters)
{
    if (!m_reverb.createImpl(m_slot->slotId()))
        return;
    m_reverb.setReverbParameters(parameters);
    m_slot->appendEffect(&m_reverb);
    m_listed = true;
}

void OpenALReverbSlot::removeReverb()
{
    m_slot->removeEffect(&m_reverb);
    m_listed = false;
}

void OpenALReverbSlot::setReverbParameters(const ReverbParameters& parameters)
{
    // An upload loads the effect into the slot again, so it waits while the
    // reverb is off: the next addReverb brings the parameters along.
    if (m_listed)
        m_reverb.setReverbParameters(parameters);
}

} // namespace quern::openal
