#pragma once
// Which collision layers touch: a body of layer L joins the physics world with
// the group 1 << L and the mask kLayerMasks[L]; two bodies meet when each
// one's group is in the other's mask.

#include "quern/Types.h"

namespace harmonize {

inline constexpr quern::u32 kCollisionLayerCount = 15;

inline constexpr quern::i16 kLayerMasks[kCollisionLayerCount] = {
    0x7fff, // 0: everything
    0x7ffd, // 1: all but itself (particles share its group)
    0x7fff, 0x7fff, 0x7fff, 0x7fff, 0x7fff, 0x7fff, 0x7fff, // 2 to 8
    0x0100, // 9: the player's layer 8 only
    0x7fff, 0x7fff, // 10, 11
    0x0121, // 12: layers 0, 5 and 8
    0x7fff, // 13
    0x3fff, // 14: all but itself
};

inline constexpr quern::i16 layerGroup(quern::u32 layer) { return static_cast<quern::i16>(1 << layer); }

// Particle bodies sit in layer 1's group with its mask: they never meet
// layer 1 nor each other.
inline constexpr quern::i16 kParticleGroup = 2;
inline constexpr quern::i16 kParticleMask = 0x7ffd;

// Queries ask as layer 0; the closest sphere sweep looks at layer 8 only.
inline constexpr quern::i16 kQueryGroup = 1;
inline constexpr quern::i16 kQueryMaskAll = -1;
inline constexpr quern::i16 kSphereCastMask = 0x0100;

} // namespace harmonize
