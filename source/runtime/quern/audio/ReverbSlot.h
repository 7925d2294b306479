#pragma once
// Reverb as the game sees it: one effect slot of the audio back end that the
// channels send to, into which the reverb effect is switched. Back ends
// without effects make no slot, and sounds then play dry.

#include "quern/Types.h"

namespace quern::audio {

// The full EAX reverb parameter set, in the order it is uploaded.
struct ReverbParameters {
    f32 density;
    f32 diffusion;
    f32 gain;
    f32 gainHF;
    f32 gainLF;
    f32 decayTime;
    f32 decayHFRatio;
    f32 decayLFRatio;
    f32 reflectionsGain;
    f32 reflectionsDelay;
    f32 reflectionsPan[3];
    f32 lateReverbGain;
    f32 lateReverbDelay;
    f32 lateReverbPan[3];
    f32 echoTime;
    f32 echoDepth;
    f32 modulationTime;
    f32 modulationDepth;
    f32 airAbsorptionGainHF;
    f32 hfReference;
    f32 lfReference;
    f32 roomRolloffFactor;
    i32 decayHFLimit;
};
static_assert(sizeof(ReverbParameters) == 108);

class ReverbSlot {
public:
    virtual ~ReverbSlot() = default;

    // Makes a new reverb effect with the parameters, loads it into the slot and
    // lists it there (a second call lists the effect a second time).
    virtual void addReverb(const ReverbParameters& parameters) = 0;
    // Unloads the slot's effect and unlists the reverb once.
    virtual void removeReverb() = 0;
    // Uploads the parameters into the reverb effect when it exists.
    virtual void setReverbParameters(const ReverbParameters& parameters) = 0;
};

} // namespace quern::audio
