#pragma once
// Turns the Light entities of a world into shader inputs: an ambient colour,
// up to two directional lights and any number of point lights, of which each
// drawn material gets the six nearest. It also moves the shadow-map pass's
// light to the shadow-casting light and computes the one shadow matrix every
// lit material shares.

#include "quern/containers/Array.h"
#include "quern/entity/System.h"
#include "quern/language/RefCounted.h"

namespace quern::graphics {
class GenericMaterial;
}

namespace harmonize {

using quern::f32;
using quern::u32;
using quern::u64;

struct AppContext;

struct DirectionalLightRecord {
    f32 direction[3];
    f32 colour[3];
    f32 intensity;
    u32 entity;
};

struct PointLightRecord {
    f32 position[3];
    f32 colour[3];
    f32 intensity;
    f32 range;
    u32 entity;
};

class LightingSystem : public quern::entity::System {
public:
    explicit LightingSystem(AppContext& context);
    ~LightingSystem() override;

    void entitiesCreated(const quern::entity::EntityHandle* handles, u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void entitiesDestroyed(const quern::entity::EntityHandle* handles, u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // Gives a new per-entity material its lighting properties.
    void setUpMaterial(quern::graphics::GenericMaterial& material);
    // Writes this frame's light values into a drawn entity's material.
    void updateVisualLights(quern::graphics::GenericMaterial& material, quern::entity::EntityHandle entity,
        const f32 worldPosition[3], f32 radius, quern::entity::World& world);

};

} // namespace harmonize
