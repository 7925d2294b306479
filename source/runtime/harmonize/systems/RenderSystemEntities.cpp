// The render system's entity set-up: a node for each new entity with a
// Transform, and for a Renderer the visual its kind asks for and a material
// of its own.

#include "harmonize/systems/RenderSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/components/TransformChain.h"
#include "harmonize/systems/EntityScenePass.h"
#include "harmonize/systems/LightingSystem.h"
#include "harmonize/systems/TransformHierarchySystem.h"
#include "harmonize/tasks/LoadingWorker.h"
#include "harmonize/tasks/PreloadedResources.h"

#include "quern/assets/ResourceCache.h"
#include "quern/entity/World.h"
#include "quern/graphics/BatchVertex.h"
#include "quern/graphics/DefaultTextures.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/materials/ParticleMaterial.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/visuals/MeshVisual.h"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace harmonize {
namespace {

using quern::RefCounted;
using quern::entity::World;
using quern::graphics::GenericMaterial;
using quern::graphics::Material;
using quern::graphics::MaterialProperty;
using quern::graphics::MaterialPropertyType;
using quern::math::Vector3;
using quern::scene::Node;
using quern::visuals::MeshVisual;
using quern::visuals::Visual;

// Components read here that have no record of their own.
constexpr u8 kSkinnedMeshType = 19; // bounds at +0 (centre) and +12 (half extent), mesh at +308
constexpr u8 kTrailType = 22;
constexpr u64 kSkinnedMeshIdOffset = 308;
constexpr u64 kLineDetachOffset = 64;
static_assert(offsetof(ParticleSpawner, worldSpace) == 75, "the emitter's detach byte");

const ComponentMask& kRendererOffMask = kRenderMasks[0];
const ComponentMask& kAncestorRendererOffMask = kRenderMasks[1];
const ComponentMask& kSkinnedMask = kRenderMasks[2];

constexpr u32 kDynamicDraw = quern::graphics::BufferUsage::Dynamic | quern::graphics::BufferUsage::Draw;
// Lightmaps clamp to the edge both ways and sit on unit 4.
constexpr u32 kLightmapWrap = 15;
constexpr i32 kLightmapUnit = 4;

template <class Record> Record& record(World& world, u64 index)
{
    return *static_cast<Record*>(world.getComponent(index, Record::kType));
}

const u8* rawRecord(World& world, u64 index, u32 type)
{
    return static_cast<const u8*>(world.getComponent(index, type));
}

bool sharesBit(const ComponentMask& a, const ComponentMask& b)
{
    return ((a.words[0] & b.words[0]) | (a.words[1] & b.words[1])) != 0;
}

// The entity, or an ancestor reached through transform parents that have a
// Transform, has one of `mask`'s components enabled.
bool selfOrAncestorHas(World& world, u64 index, const ComponentMask& mask)
{
    const u64 slots = world.getSlotCount();
    const Transform& start = transformRecord(world, index);
    u64 current = index;
    for (u64 visited = 0;; ++visited) {
        if (visited > slots)
            failTransformCycle(world, start);
        if (sharesBit(world.getEnabledMask(current), mask))
            return true;
        const i64 parent = linkedSlot(transformRecord(world, current).parent, slots);
        if (parent < 0 || !world.getComponentMask(static_cast<u64>(parent)).test(Transform::kType))
            return false;
        current = static_cast<u64>(parent);
    }
}

// Gives the texture property a handle on the cached texture of `key` (none
// when the cache lacks it).
void holdTexture(MaterialProperty& property, quern::assets::ResourceCache& cache, u64 key)
{
    const u32 handle = key != 0 ? cache.acquire(key) : 0;
    if (handle == 0)
        return;
    u64 type = 0;
    void* texture = cache.entry(handle, type);
    property.textureRef.handle = handle;
    property.texture = type == quern::assets::ResourceType::Texture
        ? static_cast<quern::graphics::Texture*>(static_cast<RefCounted*>(texture))
        : nullptr;
}

// Texture properties of a cloned material hold no handles: take them from
// the cache, where the level's preload put the textures.
void resolveTextures(GenericMaterial& material, quern::assets::ResourceCache& cache)
{
    for (u64 i = 1; i <= material.propertyCount(); ++i) {
        MaterialProperty& property = material.property(static_cast<i32>(i));
        if (property.type == static_cast<u32>(MaterialPropertyType::Texture) && property.textureRef.assetId != 0
            && property.textureRef.handle == 0)
            holdTexture(property, cache,
                quern::assets::resourceKey(property.textureRef.assetId, quern::assets::ResourceType::Texture));
    }
    material.setResourceCache(&cache);
}

// The lightmap on unit 4: the entity's lightmap texture, or the white one.
void addLightmap(GenericMaterial& material, const Renderable& renderer, quern::assets::ResourceCache& cache)
{
    MaterialProperty& lightmap = material.property(material.addProperty("lightmap", MaterialPropertyType::Texture));
    lightmap.scale[0] = renderer.lightmapScale[0];
    lightmap.scale[1] = renderer.lightmapScale[1];
    lightmap.offset[0] = renderer.lightmapOffset[0];
    lightmap.offset[1] = renderer.lightmapOffset[1];
    lightmap.wrap = kLightmapWrap;
    lightmap.unit = kLightmapUnit;
    lightmap.textureRef.assetId = renderer.lightmap;
    if (lightmap.textureRef.assetId == 0)
        holdTexture(lightmap, cache, quern::graphics::defaultWhiteTextureKey());
}

} // namespace

void RenderSystem::entitiesCreated(const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    sizeArrays(world);
    for (u64 i = 0; i < count; ++i)
        createEntity(handles[i], world);
    // Parents made in the same batch exist only now.
    parentNodes(handles, count, world);
}

void RenderSystem::createEntity(EntityHandle entity, World& world)
{
    const u64 index = entity.index();
    if (index >= nodeCount() || !world.getComponentMask(index).test(Transform::kType))
        return;
    const Transform& transform = transformRecord(world, index);
    m_newest.transforms.at<Transform>(index) = transform;
    m_previous.transforms.at<Transform>(index) = transform;
    m_visible.at<u8>(index) = 1;
    markForJudging(index);

    Node* node = new Node();
    node->setName(world.getEntityName(entity));
    node->setTranslation(transform.position.x, transform.position.y, transform.position.z);
    node->setRotation(transform.rotation.x, transform.rotation.y, transform.rotation.z, transform.rotation.w);
    node->setScale(transform.scale.x, transform.scale.y, transform.scale.z);
    pass(0)->nodes[index] = quern::Ref(node);
    if (world.getComponentMask(index).test(Renderable::kType))
        createVisual(entity, *node, world);
}

void RenderSystem::createVisual(EntityHandle entity, Node& node, World& world)
{
    const u64 index = entity.index();
    const ComponentMask& has = world.getComponentMask(index);
    ComponentMask& enabled = world.getEnabledMask(index);
    if (sharesBit(enabled, kRendererOffMask) || selfOrAncestorHas(world, index, kAncestorRendererOffMask))
        enabled.reset(Renderable::kType);

    u8 detached = 0;
    u8 cancelParentScale = 0;
    if (has.test(ParticleSpawner::kType)) {
        cancelParentScale = 1;
        detached = record<ParticleSpawner>(world, index).worldSpace;
    } else if (has.test(LineStrip::kType)) {
        detached = rawRecord(world, index, LineStrip::kType)[kLineDetachOffset];
    } else {
        detached = has.test(kTrailType) ? 1 : 0;
    }
    const u8 identityLocal = enabled.containsAll(kSkinnedMask) ? 1 : detached;
    node.detached = detached != 0 ? 1 : 0;
    node.identityLocal = identityLocal != 0 ? 1 : 0;
    node.cancelParentScale = cancelParentScale;
    m_hierarchy.flags(index) = static_cast<u8>((node.identityLocal ? kParentOnly : 0) | (node.detached ? kNoParent : 0)
        | (node.cancelParentScale ? kNoScale : 0));

    if (record<Renderable>(world, index).castsShadows)
        node.shadowMode = 1;

    const bool ownVertices = !Settings::Animation.gpuSkinning && has.test(kSkinnedMeshType);
    BoundingSphere sphere {};
    Visual* visual = nullptr;
    if (has.test(MeshReference::kType)) {
        const u64 meshId = record<MeshReference>(world, index).mesh;
        if (meshId == 0 || !(visual = cloneMesh(meshId, ownVertices)))
            return;
        Vector3 centre;
        sphere.radius = visual->getBoundingSphere(centre);
        sphere.centre[0] = centre.x;
        sphere.centre[1] = centre.y;
        sphere.centre[2] = centre.z;
    } else if (has.test(kSkinnedMeshType)) {
        const u8* skinned = rawRecord(world, index, kSkinnedMeshType);
        f32 halfExtent[3];
        u64 meshId = 0;
        std::memcpy(sphere.centre, skinned, sizeof sphere.centre);
        std::memcpy(halfExtent, skinned + 12, sizeof halfExtent);
        std::memcpy(&meshId, skinned + kSkinnedMeshIdOffset, sizeof meshId);
        sphere.radius
            = std::sqrt(halfExtent[0] * halfExtent[0] + halfExtent[1] * halfExtent[1] + halfExtent[2] * halfExtent[2]);
        if (meshId == 0 || !(visual = cloneMesh(meshId, ownVertices)))
            return;
    } else if (has.test(TextLabel::kType) || has.test(LineStrip::kType) || has.test(kTrailType)) {
        visual = new MeshVisual();
        visual->getVertexBuffer(kDynamicDraw)
            ->setVertexFormat(quern::graphics::VertexFormat::fromFlags(quern::graphics::kBatchVertexFlags));
        visual->getFirstSubMesh();
    } else if (has.test(ParticleAppearance::kType)) {
        return;
    } else {
        QUERN_FATAL("Unknown renderer type");
    }
    const bool fromMesh = has.test(MeshReference::kType) || has.test(kSkinnedMeshType);
    if (fromMesh && m_defaultMaterial)
        visual->setMaterial(m_defaultMaterial);
    m_hierarchy.localBounds(index) = sphere;

    m_visuals.at<Visual*>(index) = visual;
    node.setVisual(visual);
    RefCounted::retain(visual);
    m_pendingVisuals.append(visual);
    createEntityMaterial(entity, *visual, world);
}

Visual* RenderSystem::cloneMesh(u64 meshId, bool ownVertices)
{
    if (!m_loadingWorker)
        return nullptr;
    const u32 handle = m_loadingWorker->acquirePreloadedResource(meshId, quern::assets::ResourceType::Mesh);
    if (handle == 0)
        return nullptr;
    quern::assets::ResourceCache& cache = m_loadingWorker->cache();
    u64 type = 0;
    void* resource = cache.entry(handle, type);
    Visual* clone = resource && type == quern::assets::ResourceType::Mesh
        ? static_cast<MeshVisual*>(static_cast<RefCounted*>(resource))->clone()
        : nullptr;
    cache.release(handle);
    // CPU skinning writes every entity's vertices into a buffer of its own.
    if (clone && ownVertices && clone->vertexBuffer())
        clone->setVertexBuffer(clone->vertexBuffer()->clone());
    return clone;
}

void RenderSystem::createEntityMaterial(EntityHandle entity, Visual& visual, World& world)
{
    const u64 index = entity.index();
    const Renderable& renderer = record<Renderable>(world, index);
    const u64 materialId = renderer.material;
    if (materialId == 0 || !m_loadingWorker)
        return;
    Material* preloaded = getPreloadedMaterial(*m_loadingWorker, materialId);
    if (!preloaded)
        return;
    quern::assets::ResourceCache& cache = m_loadingWorker->cache();
    // Material assets always load into the data-driven material.
    auto* material = static_cast<GenericMaterial*>(preloaded->clone());
    const quern::Ref hold(material);
    material->reserveProperties(material->propertyCount() + 3);
    addLightmap(*material, renderer, cache);
    applyFog(*material);
    m_lighting.setUpMaterial(*material);
    const bool gpuSkinned = Settings::Animation.gpuSkinning && world.getComponentMask(index).test(kSkinnedMeshType);
    f32 boneCount = 0.0f;
    if (gpuSkinned) {
        MeshVisual* mesh = visual.asMeshVisual();
        const u64 bones = mesh ? mesh->boneMatrices().count() : 0;
        material->reserveProperties(material->propertyCount() + 2);
        const i32 palette = material->addProperty("skinningPalette", MaterialPropertyType::Uniform);
        material->setPropertyUniform(palette, new SkinningPalette(bones));
        boneCount = static_cast<f32>(bones);
    } else {
        material->reserveProperties(material->propertyCount() + 1);
    }
    material->property(material->addProperty("numBones", MaterialPropertyType::Float)).value[0] = boneCount;
    resolveTextures(*material, cache);
    visual.setMaterial(material);
    m_entityMaterials.at<GenericMaterial*>(index) = material;
}

void RenderSystem::bindToLevelResources(GenericMaterial& material)
{
    if (m_loadingWorker)
        resolveTextures(material, m_loadingWorker->cache());
}

void RenderSystem::parentNodes(const EntityHandle* handles, u64 count, World& world)
{
    for (u64 i = 0; i < count; ++i) {
        const u64 index = handles[i].index();
        if (node(index))
            reparent(index, transformRecord(world, index));
    }
}

void RenderSystem::reparent(u64 index, const Transform& transform)
{
    if (!isSomeEntity(transform.parent))
        return;
    Node* child = node(index);
    Node* parent = node(transform.parent.index());
    if (!child || !parent || parent == child || child->parent() == parent)
        return;
    parent->addChild(child);
}

} // namespace harmonize
