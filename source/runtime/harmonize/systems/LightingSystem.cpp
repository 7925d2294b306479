#include "harmonize/systems/LightingSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/components/TransformChain.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/LightAssignment.h"
#include "harmonize/systems/RenderSystem.h"

#include "quern/debug/Log.h"
#include "quern/entity/World.h"
#include "quern/fx/shadows/ShadowMapRenderPass.h"
#include "quern/fx/shadows/ShadowMatrix.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/Uniform.h"
#include "quern/graphics/renderstate/TextureState.h"
#include "quern/scene/Light.h"
#include "quern/threads/Task.h"

#include <algorithm>
#include <cstring>
#include <ostream>

namespace harmonize {

using quern::i32;
using quern::entity::EntityHandle;
using quern::entity::World;
using quern::graphics::GenericMaterial;
using quern::graphics::MaterialPropertyType;
using quern::math::Quaternion;
using quern::math::Vector3;

namespace {

constexpr f32 kShadowExtent = 100.0f;
constexpr f32 kShadowRange = 10000.0f;
constexpr f32 kDefaultAmbient[4] = { 0.2f, 0.2f, 0.2f, 1.0f };
constexpr f32 kUnlitAmbient[4] = { 1.0f, 1.0f, 1.0f, 1.0f };

// The ambient colour, two properties per light slot, the shadow map and matrix.
constexpr u64 kLitPropertyCount = 1 + 2 * (kDirectionalLightSlots + kPointLightSlots) + 2;

constexpr const char* kLightDirectionNames[kDirectionalLightSlots] = { "lightDirection0", "lightDirection1" };
constexpr const char* kLightColorNames[kDirectionalLightSlots] = { "lightColor0", "lightColor1" };
constexpr const char* kPointLightNames[kPointLightSlots]
    = { "pointLight0", "pointLight1", "pointLight2", "pointLight3", "pointLight4", "pointLight5" };
constexpr const char* kPointLightColorNames[kPointLightSlots] = { "pointLightColor0", "pointLightColor1",
    "pointLightColor2", "pointLightColor3", "pointLightColor4", "pointLightColor5" };

bool lightingEnabled() { return Settings::Renderer.enabled && Settings::Renderer.lightingEnabled; }

Vector3 worldPosition(World& world, EntityHandle entity)
{
    return Transform::localToWorld(transformAt(world, entity.index()), Vector3 {}, world);
}

// The local z axis in world space.
Vector3 worldDirection(World& world, EntityHandle entity)
{
    return TransformComponent::vectorToWorld(transformAt(world, entity.index()), Vector3 { 0.0f, 0.0f, 1.0f }, world);
}

const Light& lightOf(World& world, EntityHandle entity)
{
    return *static_cast<const Light*>(world.getComponent(entity.index(), Light::kType));
}

DirectionalLightRecord directionalRecord(World& world, EntityHandle entity)
{
    const Vector3 direction = worldDirection(world, entity);
    const Light& light = lightOf(world, entity);
    return { { direction.x, direction.y, direction.z }, { light.colour[0], light.colour[1], light.colour[2] },
        light.intensity, entity.value };
}

PointLightRecord pointRecord(World& world, EntityHandle entity)
{
    const Vector3 position = worldPosition(world, entity);
    const Light& light = lightOf(world, entity);
    return { { position.x, position.y, position.z }, { light.colour[0], light.colour[1], light.colour[2] },
        light.intensity, light.range, entity.value };
}

// Each record takes its light's current values; the record of a light whose
// entity is not active stays, dark, until the entity is destroyed.
template <class Record>
void refreshRecords(Record* records, u64 count, World& world, Record (*make)(World&, EntityHandle))
{
    for (u64 i = 0; i < count; ++i) {
        const EntityHandle entity { records[i].entity };
        if (isActiveEntity(world, entity))
            records[i] = make(world, entity);
        else
            records[i].intensity = 0.0f;
    }
}

void addVector(GenericMaterial& material, const char* name, const f32 xyz[3], f32 w)
{
    const i32 index = material.addProperty(name, MaterialPropertyType::Vector);
    const f32 value[4] = { xyz[0], xyz[1], xyz[2], w };
    material.setPropertyVector(index, value);
}

// Removes the record of `entity`, keeping the order of the others.
template <class Record> u64 removeRecord(Record* records, u64 count, EntityHandle entity)
{
    Record* end = records + count;
    Record* found = std::find_if(records, end, [&](const Record& r) { return r.entity == entity.value; });
    if (found == end)
        return count;
    std::copy(found + 1, end, found);
    return count - 1;
}

// One drawn visual's lights, run on the thread that syncs the visual.
class LightAssignTask final : public quern::threads::Task {
public:
    LightAssignTask(const DirectionalLightRecord* directional, u64 directionalCount,
        const quern::containers::Array& pointLights, GenericMaterial& material, EntityHandle entity,
        const f32 position[3], f32 radius, World& world, bool setShadowMap, quern::graphics::Texture* shadowMap)
        : Task(1)
        , m_directional(directional)
        , m_directionalCount(directionalCount)
        , m_pointLights(pointLights)
        , m_material(material)
        , m_entity(entity)
        , m_position { position[0], position[1], position[2] }
        , m_radius(radius)
        , m_world(world)
        , m_setShadowMap(setShadowMap)
        , m_shadowMap(shadowMap)
    {
    }

    void run(quern::threads::TaskRange) override
    {
        if (!isAliveEntity(m_world, m_entity) || !m_world.getEnabledMask(m_entity.index()).test(Transform::kType))
            return;
        if (m_setShadowMap)
            updateShadowMap();
        // Too few properties to hold the lighting set: not a lit material.
        if (m_material.propertyCount() <= 7)
            return;
        u32 picked[kPointLightSlots];
        const auto* lights = m_pointLights.dataAs<PointLightRecord>();
        const u32 count = pickPointLights(lights, m_pointLights.count(), m_position, m_radius, picked);
        writeLightValues(m_material, m_directional, m_directionalCount, lights, picked, count);
    }

private:
    void updateShadowMap()
    {
        const i32 index = m_material.findPropertyByHash(lightPropertyIds().shadowMap);
        if (index != 0 && m_material.property(index).type == static_cast<u32>(MaterialPropertyType::Texture))
            m_material.setPropertyTexture(index, m_shadowMap);
    }

    const DirectionalLightRecord* m_directional;
    u64 m_directionalCount;
    const quern::containers::Array& m_pointLights;
    GenericMaterial& m_material;
    EntityHandle m_entity;
    f32 m_position[3];
    f32 m_radius;
    World& m_world;
    bool m_setShadowMap;
    quern::graphics::Texture* m_shadowMap;
};

} // namespace

LightingSystem::LightingSystem(AppContext& context)
    : m_context(context)
    , m_pointLights(sizeof(PointLightRecord), alignof(PointLightRecord))
    , m_shadowMatrix(new quern::graphics::Uniform())
{
}

LightingSystem::~LightingSystem() = default;

void LightingSystem::attach(quern::memory::Allocator* allocator)
{
    lightPropertyIds();
    m_pointLights = quern::containers::Array(sizeof(PointLightRecord), alignof(PointLightRecord), allocator);
    m_pointLights.reserve(kPointLightSlots);
    m_directionalCount = 0;
    m_shadowLight = EntityHandle {};
    std::memcpy(m_ambient, kDefaultAmbient, sizeof m_ambient);
}

void LightingSystem::detach(quern::memory::Allocator*) { m_pointLights.release(); }

void LightingSystem::describe(quern::entity::SystemInfo* info)
{
    System::describe(info);
    info->name = "LightingSystem";
}

void LightingSystem::entitiesCreated(const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    if (!lightingEnabled())
        return;
    for (u64 i = 0; i < count; ++i) {
        const EntityHandle entity = handles[i];
        if (!isValidEntity(world, entity))
            continue;
        const quern::entity::ComponentMask& mask = world.getComponentMask(entity.index());
        if (mask.test(Fog::kType))
            std::memcpy(m_ambient, static_cast<const Fog*>(world.getComponent(entity.index(), Fog::kType))->ambient,
                sizeof m_ambient);
        if (mask.test(Light::kType))
            addLight(entity, world);
    }
}

void LightingSystem::addLight(EntityHandle entity, World& world)
{
    const Light& light = lightOf(world, entity);
    if (light.kind == Light::kDirectional) {
        // A directional light past the second still casts the shadow when it says so.
        if (light.castsShadows != 0)
            m_shadowLight = entity;
        if (m_directionalCount < kDirectionalLightSlots)
            m_directionalLights[m_directionalCount++] = directionalRecord(world, entity);
    } else if (light.kind == Light::kPoint) {
        m_pointLights.append(pointRecord(world, entity));
    }
}

void LightingSystem::entitiesDestroyed(const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    // The whole world going: detach frees the records.
    if (!lightingEnabled() || count == world.liveEntityCount)
        return;
    for (u64 i = 0; i < count; ++i)
        if (isValidEntity(world, handles[i]) && world.getComponentMask(handles[i].index()).test(Light::kType))
            removeLight(handles[i]);
}

// By handle from both lists: a record must not outlive its entity even when
// the light changed its kind.
void LightingSystem::removeLight(EntityHandle entity)
{
    m_directionalCount = removeRecord(m_directionalLights, m_directionalCount, entity);
    const u64 points = removeRecord(m_pointLights.dataAs<PointLightRecord>(), m_pointLights.count(), entity);
    m_pointLights.expand(points);
}

void LightingSystem::update(quern::entity::UpdateContext*, World& world)
{
    if (!lightingEnabled())
        return;
    updateShadowLight(world);
    updateLightRecords(world);
}

void LightingSystem::updateShadowLight(World& world)
{
    quern::fx::ShadowMapRenderPass* pass = m_context.shadowPass;
    if (!Settings::Renderer.renderShadows || !pass || !isActiveEntity(world, m_shadowLight))
        return;
    // The pipeline gives the pass its light before it joins the pass list.
    quern::scene::Light* node = pass->caster().light();
    if (!node)
        return;
    if (!pass->enabled) {
        pass->enabled = 1;
        pass->invalidate();
    }
    const Transform& transform = transformAt(world, m_shadowLight.index());
    const Vector3 p = Transform::localToWorld(transform, Vector3 {}, world);
    Quaternion q;
    Transform::accumulateWorldRotation(transform, q, EntityHandle {}, world);
    const f32 lengthSquared = q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w;
    const f32 scale = lengthSquared == 0.0f ? 1.0f : 1.0f / lengthSquared;
    node->setTranslation(p.x, p.y, p.z);
    node->setRotation(-q.x * scale, -q.y * scale, -q.z * scale, q.w * scale);
    node->width = kShadowExtent;
    node->height = kShadowExtent;
    node->range = kShadowRange;
    node->kind = quern::scene::Light::kOrthographicKind;
    // Without a camera nothing is drawn that would read the matrix.
    RenderSystem* render = m_context.render;
    if (!render || !render->currentCamera())
        return;
    quern::math::Matrix4 matrix;
    quern::fx::computeShadowMatrix(matrix, *node, render->getCameraViewMatrix());
    shadowMatrix()->setValue(matrix.m, 16);
}

void LightingSystem::updateLightRecords(World& world)
{
    refreshRecords(m_directionalLights, m_directionalCount, world, directionalRecord);
    refreshRecords(m_pointLights.dataAs<PointLightRecord>(), m_pointLights.count(), world, pointRecord);
}

void LightingSystem::setUpMaterial(GenericMaterial& material)
{
    if (!lightingEnabled()) {
        material.reserveProperties(material.propertyCount() + 1);
        const i32 ambient = material.addProperty("ambientColor", MaterialPropertyType::Vector);
        material.setPropertyVector(ambient, kUnlitAmbient);
        return;
    }
    // Room for the whole set at once: the property list grows to exactly what is reserved.
    material.reserveProperties(material.propertyCount() + kLitPropertyCount);
    const i32 ambient = material.addProperty("ambientColor", MaterialPropertyType::Vector);
    material.setPropertyVector(ambient, m_ambient);
    for (u32 i = 0; i < kDirectionalLightSlots; ++i) {
        const DirectionalLightRecord light
            = i < m_directionalCount ? m_directionalLights[i] : DirectionalLightRecord {};
        addVector(material, kLightDirectionNames[i], light.direction, 1.0f);
        addVector(material, kLightColorNames[i], light.colour, light.intensity);
    }
    for (u32 i = 0; i < kPointLightSlots; ++i) {
        const PointLightRecord light = i < m_pointLights.count() ? pointLight(i) : PointLightRecord {};
        addVector(material, kPointLightNames[i], light.position, light.range);
        addVector(material, kPointLightColorNames[i], light.colour, light.intensity);
    }
    if (Settings::Renderer.renderShadows)
        setUpShadowProperties(material);
}

void LightingSystem::setUpShadowProperties(GenericMaterial& material)
{
    i32 highestUnit = -1;
    for (u64 i = 1; i <= material.propertyCount(); ++i) {
        const quern::graphics::MaterialProperty& property = material.property(static_cast<i32>(i));
        if (property.type == static_cast<u32>(MaterialPropertyType::Texture))
            highestUnit = std::max(highestUnit, property.unit);
    }
    // A material whose textures fill every unit has none left for the map;
    // it is drawn unshadowed rather than with a unit the pass does not have.
    const i32 unit = highestUnit + 1;
    if (unit < static_cast<i32>(quern::graphics::TextureState::kUnitCount)) {
        const i32 shadowMap = material.addProperty("shadowMap", MaterialPropertyType::Texture);
        material.property(shadowMap).unit = unit;
    } else {
        QUERN_LOG(2) << "Material \"" << material.name() << "\" has no texture unit left for the shadow map"
                     << std::endl;
    }
    const i32 matrix = material.addProperty("shadowMatrix", MaterialPropertyType::Uniform);
    material.setPropertyUniform(matrix, shadowMatrix());
}

void LightingSystem::updateVisualLights(
    GenericMaterial& material, EntityHandle entity, const f32 worldPosition[3], f32 radius, World& world)
{
    if (!lightingEnabled())
        return;
    // The shadow map is the current shadow pass's depth texture, or none: a
    // material must not keep the texture of a pass that may be gone, which
    // its next rebuild would bind. Until a map has been handed out no
    // material holds one, and the look-up is left out.
    quern::graphics::Texture* shadowMap = nullptr;
    if (Settings::Renderer.renderShadows && m_context.shadowPass)
        shadowMap = m_context.shadowPass->findDepthTarget();
    m_shadowMapGiven = m_shadowMapGiven || shadowMap;
    LightAssignTask task(m_directionalLights, m_directionalCount, m_pointLights, material, entity, worldPosition,
        radius, world, m_shadowMapGiven, shadowMap);
    quern::threads::Task::runInline(task);
}

} // namespace harmonize
