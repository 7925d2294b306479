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
class Uniform;
} // namespace quern::graphics

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

    u64 directionalCount() const { return m_directionalCount; }
    const DirectionalLightRecord& directionalLight(u64 index) const { return m_directionalLights[index]; }
    u64 pointLightCount() const { return m_pointLights.count(); }
    const PointLightRecord& pointLight(u64 index) const { return m_pointLights.at<PointLightRecord>(index); }
    quern::entity::EntityHandle shadowLight() const { return m_shadowLight; }
    // The shadow matrix every lit material's "shadowMatrix" property holds.
    quern::graphics::Uniform* shadowMatrix() const { return m_shadowMatrix.get<quern::graphics::Uniform>(); }

private:
    void addLight(quern::entity::EntityHandle entity, quern::entity::World& world);
    void removeLight(quern::entity::EntityHandle entity);
    void updateShadowLight(quern::entity::World& world);
    void updateLightRecords(quern::entity::World& world);
    void setUpShadowProperties(quern::graphics::GenericMaterial& material);

    AppContext& m_context;
    f32 m_ambient[4] = { 0.0f, 0.0f, 0.0f, 1.0f };
    DirectionalLightRecord m_directionalLights[2] = {};
    u64 m_directionalCount = 0;
    quern::containers::Array m_pointLights; // PointLightRecord
    quern::Ref m_shadowMatrix; // quern::graphics::Uniform
    quern::entity::EntityHandle m_shadowLight;
    bool m_shadowMapGiven = false; // a material has been given a shadow map
};

} // namespace harmonize
