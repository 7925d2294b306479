#include "harmonize/systems/LightAssignment.h"

#include "quern/graphics/GenericMaterial.h"
#include "quern/strings/Hashes.h"

#include <cstdio>
#include <cstring>

namespace harmonize {

using quern::i32;
using quern::graphics::GenericMaterial;

namespace {

u32 hashOf(const char* name) { return quern::strings::murmurHash2(name, std::strlen(name)); }

u32 hashOfNumbered(const char* stem, u32 number)
{
    char name[32];
    std::snprintf(name, sizeof name, "%s%u", stem, number);
    return hashOf(name);
}

LightPropertyIds makeLightPropertyIds()
{
    LightPropertyIds ids {};
    for (u32 i = 0; i < kDirectionalLightSlots; ++i) {
        ids.lightDirection[i] = hashOfNumbered("lightDirection", i);
        ids.lightColor[i] = hashOfNumbered("lightColor", i);
    }
    for (u32 i = 0; i < kPointLightSlots; ++i) {
        ids.pointLight[i] = hashOfNumbered("pointLight", i);
        ids.pointLightColor[i] = hashOfNumbered("pointLightColor", i);
    }
    ids.shadowMap = hashOf("shadowMap");
    return ids;
}

// Moves kept light `i` down to its place among the ones before it, which are
// in order: after every one whose distance is not larger, so equal distances
// keep their held order (an insertion sort's step, hence stable).
void settle(u32 picked[kPointLightSlots], f32 distance[kPointLightSlots], u32 i)
{
    const u32 light = picked[i];
    const f32 d = distance[i];
    u32 at = i;
    for (; at > 0 && distance[at - 1] > d; --at) {
        picked[at] = picked[at - 1];
        distance[at] = distance[at - 1];
    }
    picked[at] = light;
    distance[at] = d;
}

// Writes the value only when it differs, bit for bit: a value that was NaN
// once is still replaced when the light recovers.
void updateVector(GenericMaterial& material, i32 index, const f32 value[4])
{
    if (std::memcmp(material.property(index).value, value, 4 * sizeof(f32)) != 0)
        material.setPropertyVector(index, value);
}

bool writeSlot(GenericMaterial& material, u32 positionId, u32 colourId, const f32 position[4], const f32 colour[4])
{
    const i32 positionIndex = material.findPropertyByHash(positionId);
    if (positionIndex == 0)
        return false;
    updateVector(material, positionIndex, position);
    if (const i32 colourIndex = material.findPropertyByHash(colourId))
        updateVector(material, colourIndex, colour);
    return true;
}

} // namespace

const LightPropertyIds& lightPropertyIds()
{
    static const LightPropertyIds ids = makeLightPropertyIds();
    return ids;
}

u32 pickPointLights(
    const PointLightRecord* lights, u64 count, const f32 centre[3], f32 radius, u32 picked[kPointLightSlots])
{
    if (count <= kPointLightSlots) {
        for (u32 i = 0; i < count; ++i)
            picked[i] = i;
        return static_cast<u32>(count);
    }
    f32 distance[kPointLightSlots];
    const f32 radiusSquared = radius * radius;
    u32 kept = 0;
    bool sorted = false;
    for (u64 i = 0; i < count; ++i) {
        const PointLightRecord& light = lights[i];
        const f32 dx = centre[0] - light.position[0];
        const f32 dy = centre[1] - light.position[1];
        const f32 dz = centre[2] - light.position[2];
        const f32 d = dx * dx + dy * dy + dz * dz - radiusSquared;
        // Written so that a NaN is no candidate.
        if (!(d <= 2.0f * light.range * light.range))
            continue;
        if (kept < kPointLightSlots) {
            picked[kept] = static_cast<u32>(i);
            distance[kept] = d;
            ++kept;
            continue;
        }
        if (!sorted) {
            for (u32 k = 1; k < kPointLightSlots; ++k)
                settle(picked, distance, k);
            sorted = true;
        }
        // A candidate only as far as the farthest kept one stays out.
        if (d < distance[kPointLightSlots - 1]) {
            picked[kPointLightSlots - 1] = static_cast<u32>(i);
            distance[kPointLightSlots - 1] = d;
            settle(picked, distance, kPointLightSlots - 1);
        }
    }
    return kept;
}

void writeLightValues(GenericMaterial& material, const DirectionalLightRecord* directional, u64 directionalCount,
    const PointLightRecord* lights, const u32* picked, u32 pickedCount)
{
    const LightPropertyIds& ids = lightPropertyIds();
    for (u64 i = 0; i < directionalCount && i < kDirectionalLightSlots; ++i) {
        const DirectionalLightRecord& light = directional[i];
        const i32 colourIndex = material.findPropertyByHash(ids.lightColor[i]);
        if (colourIndex == 0)
            return;
        const f32 colour[4] = { light.colour[0], light.colour[1], light.colour[2], light.intensity };
        updateVector(material, colourIndex, colour);
        const f32 direction[4] = { light.direction[0], light.direction[1], light.direction[2], 1.0f };
        if (const i32 directionIndex = material.findPropertyByHash(ids.lightDirection[i]))
            updateVector(material, directionIndex, direction);
    }
    for (u32 slot = 0; slot < pickedCount; ++slot) {
        const PointLightRecord& light = lights[picked[slot]];
        const f32 position[4] = { light.position[0], light.position[1], light.position[2], light.range };
        const f32 colour[4] = { light.colour[0], light.colour[1], light.colour[2], light.intensity };
        if (!writeSlot(material, ids.pointLight[slot], ids.pointLightColor[slot], position, colour))
            return;
    }
    static constexpr f32 kUnlit[4] = { 0.0f, 0.0f, 0.0f, 1.0f };
    for (u32 slot = pickedCount; slot < kPointLightSlots; ++slot)
        if (const i32 colourIndex = material.findPropertyByHash(ids.pointLightColor[slot]))
            updateVector(material, colourIndex, kUnlit);
}

} // namespace harmonize
