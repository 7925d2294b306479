#pragma once
// While music from outside the game plays, the game's own music is silenced.
// The player's volume is kept aside and put back when that music stops, and it
// is what the settings file keeps meanwhile, never the silenced zero.

#include "quern/Types.h"

namespace harmonize {

class MusicVolumeLatch {
public:
    // playing: zero the volume, keeping the player's value; else put it back.
    // Repeated reports of the same state change nothing.
    void onPlaybackChanged(bool playing, quern::f32& volume)
    {
        if (playing) {
            if (!m_silenced)
                m_kept = volume;
            m_silenced = true;
            volume = 0.0f;
        } else if (m_silenced) {
            volume = m_kept;
            m_silenced = false;
        }
    }

    // The volume to write into the settings file.
    quern::f32 volumeToSave(quern::f32 current) const { return m_silenced ? m_kept : current; }
    bool silenced() const { return m_silenced; }

private:
    quern::f32 m_kept = 0.0f;
    bool m_silenced = false;
};

} // namespace harmonize
