#pragma once
// Which lights reach one drawn visual, and how their values go into its
// material: the two directional lights, then up to six point lights in the
// material's point-light slots. Property names are looked up by their hashes,
// made once per process; values are written only where they changed.

#include "harmonize/systems/LightingSystem.h"

namespace quern::graphics {
class GenericMaterial;
}

namespace harmonize {

using quern::f32;
using quern::u32;
using quern::u64;

inline constexpr u32 kDirectionalLightSlots = 2;
inline constexpr u32 kPointLightSlots = 6;

// The MurmurHash2 ids of the lighting property names.
struct LightPropertyIds {
    u32 lightDirection[kDirectionalLightSlots];
    u32 lightColor[kDirectionalLightSlots];
    u32 pointLight[kPointLightSlots];
    u32 pointLightColor[kPointLightSlots];
    u32 shadowMap;
};

// Hashed on the first call, the same table for the rest of the process.
const LightPropertyIds& lightPropertyIds();

// The point lights for a visual whose bounding sphere is (centre, radius), as
// indices into `lights` in slot order; returns how many. With at most six
// lights every one is taken in order. With more, a light is a candidate when
// d = |centre - position|^2 - radius^2 is at most 2 range^2; the first six
// candidates are kept in arrival order, and once a seventh arrives the kept
// ones are held sorted by d (equal values keep their order) and a later
// candidate replaces the last one only when its d is smaller.
u32 pickPointLights(
    const PointLightRecord* lights, u64 count, const f32 centre[3], f32 radius, u32 picked[kPointLightSlots]);

// Writes the directional records and the picked point lights into the
// material's light properties; slots past the picked ones get colour
// (0, 0, 0, 1). Stops at the first light property the material lacks.
void writeLightValues(quern::graphics::GenericMaterial& material, const DirectionalLightRecord* directional,
    u64 directionalCount, const PointLightRecord* lights, const u32* picked, u32 pickedCount);

} // namespace harmonize
