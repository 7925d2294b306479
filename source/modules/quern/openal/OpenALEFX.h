#pragma once
// The Effects Extension entry points, looked up at run time. Every use of EFX
// first asks hasEFX: without all of them, sounds play dry.

#include "quern/Types.h"

#include <AL/al.h>
#include <AL/efx.h>

namespace quern::openal {

#define QUERN_EFX_ENTRY_POINTS(X)                                                                                      \
    X(LPALGENEFFECTS, alGenEffects)                                                                                    \
    X(LPALDELETEEFFECTS, alDeleteEffects)                                                                              \
    X(LPALISEFFECT, alIsEffect)                                                                                        \
    X(LPALEFFECTI, alEffecti)                                                                                          \
    X(LPALEFFECTIV, alEffectiv)                                                                                        \
    X(LPALEFFECTF, alEffectf)                                                                                          \
    X(LPALEFFECTFV, alEffectfv)                                                                                        \
    X(LPALGETEFFECTI, alGetEffecti)                                                                                    \
    X(LPALGETEFFECTIV, alGetEffectiv)                                                                                  \
    X(LPALGETEFFECTF, alGetEffectf)                                                                                    \
    X(LPALGETEFFECTFV, alGetEffectfv)                                                                                  \
    X(LPALGENFILTERS, alGenFilters)                                                                                    \
    X(LPALDELETEFILTERS, alDeleteFilters)                                                                              \
    X(LPALISFILTER, alIsFilter)                                                                                        \
    X(LPALFILTERI, alFilteri)                                                                                          \
    X(LPALFILTERIV, alFilteriv)                                                                                        \
    X(LPALFILTERF, alFilterf)                                                                                          \
    X(LPALFILTERFV, alFilterfv)                                                                                        \
    X(LPALGETFILTERI, alGetFilteri)                                                                                    \
    X(LPALGETFILTERIV, alGetFilteriv)                                                                                  \
    X(LPALGETFILTERF, alGetFilterf)                                                                                    \
    X(LPALGETFILTERFV, alGetFilterfv)                                                                                  \
    X(LPALGENAUXILIARYEFFECTSLOTS, alGenAuxiliaryEffectSlots)                                                          \
    X(LPALDELETEAUXILIARYEFFECTSLOTS, alDeleteAuxiliaryEffectSlots)                                                    \
    X(LPALISAUXILIARYEFFECTSLOT, alIsAuxiliaryEffectSlot)                                                              \
    X(LPALAUXILIARYEFFECTSLOTI, alAuxiliaryEffectSloti)                                                                \
    X(LPALAUXILIARYEFFECTSLOTIV, alAuxiliaryEffectSlotiv)                                                              \
    X(LPALAUXILIARYEFFECTSLOTF, alAuxiliaryEffectSlotf)                                                                \
    X(LPALAUXILIARYEFFECTSLOTFV, alAuxiliaryEffectSlotfv)                                                              \
    X(LPALGETAUXILIARYEFFECTSLOTI, alGetAuxiliaryEffectSloti)                                                          \
    X(LPALGETAUXILIARYEFFECTSLOTIV, alGetAuxiliaryEffectSlotiv)                                                        \
    X(LPALGETAUXILIARYEFFECTSLOTF, alGetAuxiliaryEffectSlotf)                                                          \
    X(LPALGETAUXILIARYEFFECTSLOTFV, alGetAuxiliaryEffectSlotfv)

struct EFXEntryPoints {
#define QUERN_EFX_FIELD(Type, name) Type name = nullptr;
    QUERN_EFX_ENTRY_POINTS(QUERN_EFX_FIELD)
#undef QUERN_EFX_FIELD
};

inline constexpr u32 kEFXEntryPointCount = sizeof(EFXEntryPoints) / sizeof(void*);
static_assert(kEFXEntryPointCount == 33);

// Looks every entry point up with alGetProcAddress, replacing the last set.
void loadEFX();
// True only when all 33 were found.
bool hasEFX();
// The process-wide entry points.
const EFXEntryPoints& efx();

} // namespace quern::openal
