#include "harmonize/systems/RenderSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/components/TransformChain.h"
#include "harmonize/display/DisplaySettings.h"
#include "harmonize/display/FrameLayout.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/EntityScenePass.h"
#include "harmonize/systems/LightingSystem.h"
#include "harmonize/systems/TransformHierarchySystem.h"
#include "harmonize/tasks/LoadingWorker.h"

#include "quern/debug/Log.h"
#include "quern/entity/World.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/materials/ParticleMaterial.h"
#include "quern/graphics/renderstate/RenderState.h"
#include "quern/math/Ray.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/visuals/MeshVisual.h"

#include <xmmintrin.h>

#include <cmath>
#include <cstring>
#include <new>
#include <ostream>
#include <utility>

namespace harmonize {
namespace {

using quern::RefCounted;
using quern::containers::Array;
using quern::entity::EntityState;
using quern::entity::World;
using quern::graphics::GenericMaterial;
using quern::graphics::Material;
using quern::graphics::MaterialProperty;
using quern::graphics::MaterialPropertyType;
using quern::math::Quaternion;
using quern::math::Vector3;
using quern::scene::Camera;
using quern::scene::Node;
using quern::visuals::MeshVisual;
using quern::visuals::Visual;

// A held body (collision mode 2 and above) keeps its node where it is.
constexpr u32 kFrozenCollisionMode = 2;
// A move of this length or more between ticks is a jump: drawn at once.
constexpr f32 kSnapDistanceSquared = 1.0f;
// A quaternion distance of pi/8 or more snaps as well.
constexpr f32 kSnapRotation = 0.39269909f;
constexpr f32 kDegreesToRadians = 3.1415927f * 0.0055555557f;

constexpr u64 kPendingVisualCapacity = 512;

constexpr u32 kClearEverything = 0x7FFFFFFF;
constexpr u32 kClearDepth = 2;
constexpr i32 kClearModeDepthOnly = 3;
constexpr i32 kClearModeNothing = 4;
constexpr f32 kDefaultClearColour[4] = { 2.0f / 255.0f, 95.0f / 255.0f, 213.0f / 255.0f, 1.0f };

template <class Record> Record& record(World& world, u64 index)
{
    return *static_cast<Record*>(world.getComponent(index, Record::kType));
}

EntityHandle handleOf(World& world, u64 index)
{
    return EntityHandle::make(static_cast<u16>(index), world.getGeneration(index));
}

bool isFrozen(World& world, u64 index)
{
    return world.getEnabledMask(index).test(CollisionLayer::kType)
        && record<CollisionLayer>(world, index).mode >= kFrozenCollisionMode;
}

// 1 / sqrt(x): the processor's estimate refined by one Newton step.
f32 reciprocalSquareRoot(f32 x)
{
    const f32 estimate = _mm_cvtss_f32(_mm_rsqrt_ss(_mm_set_ss(x)));
    return estimate * (1.5f - 0.5f * x * estimate * estimate);
}

Vector3 extrapolatedPosition(const Transform& newest, const Transform& previous, f32 factor)
{
    const Vector3 step = newest.position - previous.position;
    if (step.x * step.x + step.y * step.y + step.z * step.z >= kSnapDistanceSquared)
        return newest.position;
    return newest.position + step * factor;
}

Quaternion extrapolatedRotation(const Transform& newest, const Transform& previous, f32 factor)
{
    const Quaternion& q = newest.rotation;
    const Quaternion& p = previous.rotation;
    const f32 d[4] = { q.x - p.x, q.y - p.y, q.z - p.z, q.w - p.w };
    if (d[0] * d[0] + d[1] * d[1] + d[2] * d[2] + d[3] * d[3] >= kSnapRotation * kSnapRotation)
        return q;
    Quaternion r { q.x + d[0] * factor, q.y + d[1] * factor, q.z + d[2] * factor, q.w + d[3] * factor };
    const f32 lengthSquared = r.x * r.x + r.y * r.y + r.z * r.z + r.w * r.w;
    if (lengthSquared <= 0.0f)
        return q;
    const f32 scale = reciprocalSquareRoot(lengthSquared);
    r = Quaternion { r.x * scale, r.y * scale, r.z * scale, r.w * scale };
    r.w = r.w > 1.0f ? 1.0f : (r.w < -1.0f ? -1.0f : r.w);
    return r;
}

void applyLens(Camera& camera, const CameraLens& lens)
{
    const FrameSizeF frame = computeFrameSize();
    camera.markProjectionDirty();
    if (lens.orthographic) {
        const f32 aspect = frame.height > 0.0f ? frame.width / frame.height : 1.0f;
        camera.orthographic = 1;
        camera.height = 2.0f * lens.orthographicHalfHeight;
        camera.width = aspect * 2.0f * lens.orthographicHalfHeight;
    } else {
        camera.orthographic = 0;
        camera.height = frame.height;
        camera.width = frame.width;
        camera.fieldOfView = lens.fieldOfView * kDegreesToRadians;
    }
    camera.nearPlane = lens.nearPlane;
    camera.farPlane = lens.farPlane;
}

// Writing a uniform that another pass holds would change that pass too; such
// a material is rebuilt instead.
bool passIsPrivate(const GenericMaterial& material)
{
    const quern::graphics::Shader* pass = material.shader();
    if (!pass || pass->refCount() > 1)
        return false;
    const quern::graphics::RenderState* programs
        = pass->renderState(quern::graphics::RenderStateID::ShaderProgramState);
    return programs && programs->refCount() <= 1;
}

void detachFromParent(Node& node)
{
    Node* parent = node.parent();
    if (!parent)
        return;
    for (u64 i = 0; i < parent->childCount(); ++i)
        if (parent->child(i) == &node) {
            parent->removeChild(i);
            return;
        }
}

} // namespace

SkinningPalette::SkinningPalette(u64 boneCount)
    : Uniform("skinningPalette", quern::graphics::UniformType::Matrix4Array, 0)
    , m_matrices(sizeof(quern::math::Matrix4), 4)
{
    m_matrices.expand(boneCount);
    for (u64 i = 0; i < boneCount; ++i)
        m_matrices.at<quern::math::Matrix4>(i) = quern::math::Matrix4::identity();
    setExternalValue(m_matrices.data(), static_cast<u32>(boneCount * 16));
}

RenderSystem::RenderSystem(AppContext& context, LightingSystem& lighting, TransformHierarchySystem& hierarchy)
    : m_loadingWorker(context.services.loadingWorker)
    , m_dispatcher(context.services.taskDispatcher)
    , m_lighting(lighting)
    , m_hierarchy(hierarchy)
    , m_visuals(sizeof(Visual*), alignof(Visual*))
    , m_entityMaterials(sizeof(GenericMaterial*), alignof(GenericMaterial*))
    , m_materialsToRelease(sizeof(Material*), alignof(Material*))
    , m_nodesToRelease(sizeof(Node*), alignof(Node*))
    , m_passIndex(sizeof(u8), 1)
    , m_visible(sizeof(u8), 1)
    , m_drawStates(sizeof(u8), 1)
    , m_drawNodes(sizeof(Node*), alignof(Node*))
    , m_pendingVisuals(sizeof(Visual*), alignof(Visual*))
{
    m_newest.transforms = Array(sizeof(Transform), 4);
    m_previous.transforms = Array(sizeof(Transform), 4);
    for (quern::Ref& pass : m_passes)
        pass = quern::Ref(new EntityScenePass());
}

RenderSystem::~RenderSystem()
{
    // A world destroyed without being cleared: what detach would let go.
    destroyCullers(m_allocator);
    releasePendingVisuals();
    for (u64 i = 0; i < m_materialsToRelease.count(); ++i)
        RefCounted::release(m_materialsToRelease.at<Material*>(i));
    for (u64 i = 0; i < m_nodesToRelease.count(); ++i)
        RefCounted::release(m_nodesToRelease.at<Node*>(i));
    freeArrays();
    if (m_defaultMaterial)
        RefCounted::release(m_defaultMaterial);
    m_cameras.clear();
    m_currentCamera.reset();
    for (quern::Ref& pass : m_passes)
        pass.reset();
}

EntityScenePass* RenderSystem::pass(u64 index) const
{
    return index < 2 ? m_passes[index].get<EntityScenePass>() : nullptr;
}

Visual* RenderSystem::visual(u64 entityIndex) const
{
    return entityIndex < m_visuals.count() ? m_visuals.at<Visual*>(entityIndex) : nullptr;
}

Node* RenderSystem::node(u64 index) const
{
    const std::vector<quern::Ref>& nodes = pass(0)->nodes;
    return index < nodes.size() ? nodes[index].get<Node>() : nullptr;
}

u64 RenderSystem::nodeCount() const { return pass(0)->nodes.size(); }

void RenderSystem::describe(quern::entity::SystemInfo* info)
{
    System::describe(info);
    info->name = "RenderSystem";
}

// Lifecycle ------------------------------------------------------------------

void RenderSystem::attach(quern::memory::Allocator* allocator)
{
    m_allocator = allocator ? allocator : quern::memory::getDefaultAllocator();
    setUpPasses(m_allocator);
    adoptAllocator(m_allocator);
    m_pendingVisuals.reserve(kPendingVisualCapacity);
    if (!m_defaultMaterial) {
        m_defaultMaterial = new quern::graphics::ParticleMaterial();
        RefCounted::retain(m_defaultMaterial);
        m_defaultMaterial->setColour(1.0f, 1.0f, 1.0f, 1.0f);
    }
}

void RenderSystem::setUpPasses(quern::memory::Allocator* allocator)
{
    destroyCullers(allocator);
    for (i32 i = 0; i < 2; ++i) {
        EntityScenePass& scenePass = *pass(static_cast<u64>(i));
        void* memory = allocator->allocate(sizeof(EntityCuller), alignof(EntityCuller));
        if (!memory)
            QUERN_OUT_OF_MEMORY();
        scenePass.culler = new (memory) EntityCuller(*pass(0), i, m_passIndex, m_visible, m_drawStates, m_drawNodes, m_dispatcher, m_hierarchy);
        if (i == 0) {
            scenePass.clearFlags = kClearEverything;
            std::memcpy(scenePass.clearColour, kDefaultClearColour, sizeof kDefaultClearColour);
            std::memset(scenePass.viewport, 0, sizeof scenePass.viewport);
        } else {
            scenePass.clearFlags = kClearDepth;
            const ViewportRect output = computeOutputViewport();
            const i32 viewport[4] = { output.x, output.y, output.width, output.height };
            std::memcpy(scenePass.viewport, viewport, sizeof viewport);
        }
        scenePass.setCamera(currentCamera());
        scenePass.invalidate();
        scenePass.setUpOnce();
    }
}

void RenderSystem::destroyCullers(quern::memory::Allocator* allocator)
{
    for (u64 i = 0; i < 2; ++i) {
        EntityScenePass& scenePass = *pass(i);
        if (!scenePass.culler)
            continue;
        scenePass.culler->~EntityCuller();
        allocator->free(scenePass.culler);
        scenePass.culler = nullptr;
        scenePass.invalidate();
    }
}

void RenderSystem::adoptAllocator(quern::memory::Allocator* allocator)
{
    freeArrays();
    m_visuals = Array(sizeof(Visual*), alignof(Visual*), allocator);
    m_entityMaterials = Array(sizeof(GenericMaterial*), alignof(GenericMaterial*), allocator);
    m_newest.transforms = Array(sizeof(Transform), 4, allocator);
    m_previous.transforms = Array(sizeof(Transform), 4, allocator);
    m_materialsToRelease = Array(sizeof(Material*), alignof(Material*), allocator);
    m_nodesToRelease = Array(sizeof(Node*), alignof(Node*), allocator);
    m_passIndex = Array(sizeof(u8), 1, allocator);
    m_visible = Array(sizeof(u8), 1, allocator);
    m_drawStates = Array(sizeof(u8), 1, allocator);
    m_drawNodes = Array(sizeof(Node*), alignof(Node*), allocator);
    m_pendingVisuals = Array(sizeof(Visual*), alignof(Visual*), allocator);
}

void RenderSystem::freeArrays()
{
    m_visuals.release();
    m_entityMaterials.release();
    m_newest.transforms.release();
    m_previous.transforms.release();
    m_materialsToRelease.release();
    m_nodesToRelease.release();
    m_passIndex.release();
    m_visible.release();
    m_drawStates.release();
    m_drawNodes.release();
    m_pendingVisuals.release();
}

void RenderSystem::releasePendingVisuals()
{
    for (u64 i = 0; i < m_pendingVisuals.count(); ++i)
        RefCounted::release(m_pendingVisuals.at<Visual*>(i));
    m_pendingVisuals.clear();
}

void RenderSystem::detach(quern::memory::Allocator*)
{
    // The cullers go back to the allocator they came from.
    destroyCullers(m_allocator);
    // The pending visuals let go while the list still holds them.
    releasePendingVisuals();
    releaseFrameResources();
    quern::graphics::Display* display = quern::graphics::Display::current();
    if (display && display->isOpen())
        if (quern::graphics::StateObjectCache* cache = display->context().stateObjectCache)
            cache->markShaderDirty(cache->defaultShader());
    freeArrays();
    if (m_defaultMaterial) {
        RefCounted::release(m_defaultMaterial);
        m_defaultMaterial = nullptr;
    }
}

void RenderSystem::sizeArrays(World& world)
{
    const u64 capacity = std::max(world.getCapacity(), world.getSlotCount());
    auto fit = [capacity](Array& array, u8 fill) {
        const u64 old = array.count();
        array.expand(capacity);
        if (capacity > old)
            std::memset(array.at(old), fill, (capacity - old) * array.elementSize());
    };
    fit(m_visuals, 0);
    fit(m_entityMaterials, 0);
    fit(m_passIndex, 0);
    fit(m_visible, 1);
    fit(m_drawStates, kNodeJudge);
    fit(m_drawNodes, 0);
    pass(0)->nodes.resize(capacity);
}

void RenderSystem::snapshotTransforms(TransformSnapshot& snapshot, World& world)
{
    const u64 capacity = world.getCapacity();
    snapshot.transforms.expand(std::max(capacity, world.getSlotCount()));
    if (capacity > 0)
        std::memcpy(snapshot.transforms.data(), &transformRecord(world, 0), capacity * sizeof(Transform));
    snapshot.time = world.currentTime;
}

void RenderSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    m_currentCamera.reset();
    sizeArrays(world);
    snapshotTransforms(m_newest, world);
    snapshotTransforms(m_previous, world);
    readFog(world);
    makeCameras(world);
}

void RenderSystem::readFog(World& world)
{
    i64 found = -1;
    for (u64 i = 0; i < world.getSlotCount(); ++i)
        if (world.getEnabledMask(i).test(Fog::kType))
            found = static_cast<i64>(i);
    m_fogStart = 0.0f;
    m_fogInverseRange = 0.0f;
    const f32 black[4] = { 0.0f, 0.0f, 0.0f, 1.0f };
    std::memcpy(m_fogColour, black, sizeof black);
    if (found < 0)
        return;
    const Fog& fog = record<Fog>(world, static_cast<u64>(found));
    if (!fog.enabled)
        return;
    m_fogStart = fog.start;
    std::memcpy(m_fogColour, fog.colour, sizeof m_fogColour);
    const f32 range = fog.end - fog.start;
    if (range != 0.0f) {
        m_fogInverseRange = 1.0f / range;
        return;
    }
    // The shaders scale the depth by the inverse range: an infinite one would
    // make every fogged pixel either clear or solid.
    QUERN_LOG(2) << "Fog of entity \"" << world.getEntityName(handleOf(world, static_cast<u64>(found)))
                 << "\" ends where it starts (" << fog.start << "); it has no range" << std::endl;
}

void RenderSystem::makeCameras(World& world)
{
    m_cameras.clear();
    i64 chosen = -1;
    for (u64 i = 0; i < world.getSlotCount(); ++i) {
        const ComponentMask& has = world.getComponentMask(i);
        if (!has.test(Transform::kType) || !has.test(CameraLens::kType))
            continue;
        Camera* camera = new Camera();
        camera->setScale(1.0f, 1.0f, -1.0f);
        m_cameras.push_back(CameraSlot { quern::Ref(camera), handleOf(world, i) });
        if (world.getEnabledMask(i).containsAll(kGameCameraMask)) {
            m_currentCamera = quern::Ref(camera);
            chosen = static_cast<i64>(i);
        }
    }
    if (chosen < 0 && !m_cameras.empty()) {
        m_currentCamera = m_cameras.front().camera;
        chosen = m_cameras.front().entity.index();
    }
    if (chosen >= 0) {
        const CameraLens& lens = record<CameraLens>(world, static_cast<u64>(chosen));
        EntityScenePass& main = *pass(0);
        main.clearFlags = lens.clearMode == kClearModeDepthOnly ? kClearDepth
            : lens.clearMode == kClearModeNothing               ? 0u
                                                                : kClearEverything;
        std::memcpy(main.clearColour, lens.clearColour, sizeof main.clearColour);
        main.invalidate();
    }
    for (quern::Ref& scenePass : m_passes)
        scenePass.get<EntityScenePass>()->setCamera(currentCamera());
}

void RenderSystem::worldStopped(World&, quern::memory::Allocator*)
{
    m_cameras.clear();
    std::vector<quern::Ref>& nodes = pass(0)->nodes;
    for (quern::Ref& held : nodes)
        held.reset();
    nodes.clear();
    if (m_drawStates.count() > 0)
        std::memset(m_drawStates.data(), kNodeJudge, m_drawStates.count());
}

void RenderSystem::entitiesDestroyed(const EntityHandle* handles, u64 count, World&, quern::memory::Allocator*)
{
    std::vector<quern::Ref>& nodes = pass(0)->nodes;
    for (u64 i = 0; i < count; ++i) {
        const u64 index = handles[i].index();
        if (index >= nodes.size())
            continue;
        m_passIndex.at<u8>(index) = 0;
        if (Node* held = nodes[index].get<Node>()) {
            RefCounted::retain(held);
            m_nodesToRelease.append(held);
            nodes[index].reset();
        }
        markForJudging(index);
        Visual*& slot = m_visuals.at<Visual*>(index);
        // The default material is every mesh's until it gets its own.
        Material* material = slot ? slot->material() : nullptr;
        if (material && material != m_defaultMaterial) {
            RefCounted::retain(material);
            m_materialsToRelease.append(material);
        }
        slot = nullptr;
        m_entityMaterials.at<GenericMaterial*>(index) = nullptr;
    }
}

// Per tick and per frame -----------------------------------------------------

void RenderSystem::restoreQuickSave(World& world)
{
    snapshotTransforms(m_newest, world);
    snapshotTransforms(m_previous, world);
}

void RenderSystem::fixedTick(quern::entity::UpdateContext* context, World& world)
{
    std::swap(m_newest, m_previous);
    snapshotTransforms(m_newest, world);
    const u64 count = std::min<u64>(context ? context->slotCount : world.getSlotCount(), nodeCount());
    for (u64 i = 0; i < count; ++i) {
        if (!node(i) || isFrozen(world, i) || world.getEnabledMask(i).test(CameraLens::kType))
            continue;
        reparent(i, transformRecord(world, i));
    }
}

u8 RenderSystem::drawStateOf(const Node& node)
{
    const Visual* nodeVisual = node.visual();
    if (node.hidden || !nodeVisual)
        return kNodeSkip;
    // Flagged nodes are tested against their render transform, and a visual
    // without vertices is reported: both by the culler itself.
    if (hasRenderFlags(node) || !nodeVisual->vertexBuffer())
        return kNodeJudge;
    return kNodeDraw;
}

void RenderSystem::markForJudging(u64 index)
{
    if (index < m_drawStates.count())
        m_drawStates.at<u8>(index) = kNodeJudge;
}

void RenderSystem::update(quern::entity::UpdateContext*, World& world)
{
    if (!Settings::Renderer.enabled)
        return;
    EntityScenePass& afterPost = *pass(1);
    const ViewportRect output = computeOutputViewport();
    const i32 viewport[4] = { output.x, output.y, output.width, output.height };
    if (std::memcmp(afterPost.viewport, viewport, sizeof viewport) != 0) {
        std::memcpy(afterPost.viewport, viewport, sizeof viewport);
        afterPost.invalidate();
    }
    f32 factor = 0.0f;
    if (m_newest.time != m_previous.time)
        factor = static_cast<f32>(static_cast<i64>(world.currentTime - m_newest.time))
            / static_cast<f32>(static_cast<i64>(m_newest.time - m_previous.time));
    syncNodes(world, factor);
}

void RenderSystem::syncNodes(World& world, f32 factor)
{
    const u64 count = std::min(nodeCount(), world.getSlotCount());
    for (u64 i = 0; i < count; ++i)
        if (node(i))
            syncNode(i, world, factor);
}

void RenderSystem::syncNode(u64 index, World& world, f32 factor)
{
    Node& entityNode = *node(index);
    const ComponentMask& enabled = world.getEnabledMask(index);
    if (enabled.test(TextureOffset::kType))
        applyFrameOffset(index, world);
    entityNode.hidden = enabled.test(Renderable::kType) ? 0 : 1;
    m_drawStates.at<u8>(index) = drawStateOf(entityNode);
    m_drawNodes.at<Node*>(index) = &entityNode;
    GenericMaterial* material = m_entityMaterials.at<GenericMaterial*>(index);
    Visual* entityVisual = m_visuals.at<Visual*>(index);
    // Lights go into the material made here; one another system put in its
    // place is that system's to light.
    if (!entityNode.hidden && entityVisual && material && entityVisual->material() == material) {
        const BoundingSphere& sphere = m_hierarchy.worldBounds(index);
        m_lighting.updateVisualLights(*material, handleOf(world, index), sphere.centre, sphere.radius, world);
    }
    if (isFrozen(world, index))
        return;
    const Transform& newest = m_newest.transforms.at<Transform>(index);
    const Transform& previous = m_previous.transforms.at<Transform>(index);
    const Vector3 position = extrapolatedPosition(newest, previous, factor);
    const Quaternion rotation = extrapolatedRotation(newest, previous, factor);
    entityNode.setTranslation(position.x, position.y, position.z);
    entityNode.setRotation(rotation.x, rotation.y, rotation.z, rotation.w);
    if (enabled.test(CameraLens::kType)) {
        if (Camera* camera = cameraOfEntity(index)) {
            applyLens(*camera, record<CameraLens>(world, index));
            camera->setTranslation(position.x, position.y, position.z);
            camera->setRotation(rotation.x, rotation.y, rotation.z, rotation.w);
        }
        return;
    }
    entityNode.setScale(newest.scale.x, newest.scale.y, newest.scale.z);
    reparent(index, transformRecord(world, index));
}

void RenderSystem::applyFrameOffset(u64 index, World& world)
{
    const TextureOffset& frames = record<TextureOffset>(world, index);
    // A record without frames stays on the first column.
    const f32 u
        = frames.frameCount > 0 ? static_cast<f32>(frames.currentFrame) / static_cast<f32>(frames.frameCount) : 0.0f;
    setMainTextureOffset(index, u, frames.currentValue);
}

void RenderSystem::setMainTextureOffset(u64 index, f32 u, f32 v)
{
    GenericMaterial* material = nullptr;
    const i32 mainTexture = findMainTexture(index, material);
    if (mainTexture == 0)
        return;
    MaterialProperty& property = material->property(mainTexture);
    property.offset[0] = u;
    property.offset[1] = v;
    if (material->isDirty() || !property.scaleOffsetUniform)
        return;
    if (!passIsPrivate(*material)) {
        material->setDirty();
        return;
    }
    f32* value = property.scaleOffsetUniform->storage();
    value[0] = property.scale[0] != 0.0f ? property.scale[0] : 1.0f;
    value[1] = property.scale[1] != 0.0f ? property.scale[1] : 1.0f;
    value[2] = property.offset[0];
    value[3] = property.offset[1];
}

void RenderSystem::scrollMainTexture(u64 index, f32 du, f32 dv)
{
    GenericMaterial* material = nullptr;
    const i32 mainTexture = findMainTexture(index, material);
    if (mainTexture == 0)
        return;
    const MaterialProperty& property = material->property(mainTexture);
    setMainTextureOffset(index, property.offset[0] + du, property.offset[1] + dv);
}

i32 RenderSystem::findMainTexture(u64 index, GenericMaterial*& material) const
{
    material = index < m_entityMaterials.count() ? m_entityMaterials.at<GenericMaterial*>(index) : nullptr;
    return material ? material->findProperty("_MainTex") : 0;
}

Camera* RenderSystem::cameraOfEntity(u64 index) const
{
    for (const CameraSlot& slot : m_cameras)
        if (slot.entity.index() == index)
            return slot.camera.get<Camera>();
    return nullptr;
}

// Services to other systems --------------------------------------------------

Visual* RenderSystem::getOrCreateVisual(u64 entityIndex)
{
    if (entityIndex >= m_visuals.count() || entityIndex >= nodeCount())
        return nullptr;
    Visual*& slot = m_visuals.at<Visual*>(entityIndex);
    if (slot)
        return slot;
    slot = new MeshVisual();
    quern::Ref& held = pass(0)->nodes[entityIndex];
    if (!held)
        held = quern::Ref(new Node());
    held.get<Node>()->setVisual(slot);
    markForJudging(entityIndex);
    RefCounted::retain(slot);
    m_pendingVisuals.append(slot);
    return slot;
}

void RenderSystem::setBoundingSphere(EntityHandle entity, const f32 centre[3], f32 radius)
{
    const u64 index = entity.index();
    if (index >= m_visuals.count())
        return;
    BoundingSphere& local = m_hierarchy.localBounds(index);
    std::memcpy(local.centre, centre, sizeof local.centre);
    local.radius = radius;
    if (Visual* entityVisual = visual(index))
        if (MeshVisual* mesh = entityVisual->asMeshVisual())
            mesh->setExplicitSphere(Vector3 { centre[0], centre[1], centre[2] }, radius);
}

bool RenderSystem::isEntityVisible(u64 entityIndex) const
{
    const Node* entityNode = entityIndex < m_visible.count() ? node(entityIndex) : nullptr;
    return entityNode && !entityNode->hidden && m_visible.at<u8>(entityIndex) != 0;
}

void RenderSystem::applyFog(GenericMaterial& material)
{
    material.reserveProperties(material.propertyCount() + 2);
    material.setFog(m_fogStart, m_fogInverseRange);
    material.setPropertyVector(material.addProperty("fogColor", MaterialPropertyType::Vector), m_fogColour);
}

void RenderSystem::setRenderEnabledRecursive(EntityHandle entity, World& world, bool enabled)
{
    const u64 slots = world.getSlotCount();
    std::vector<EntityHandle> pending { entity };
    for (u64 visited = 0; !pending.empty(); ++visited) {
        const EntityHandle current = pending.back();
        pending.pop_back();
        const u64 index = current.index();
        if (index >= slots)
            continue;
        if (visited > slots)
            failTransformCycle(world, transformRecord(world, index));
        if (world.getComponentMask(index).test(Renderable::kType)) {
            if (enabled)
                world.getEnabledMask(index).set(Renderable::kType);
            else
                world.getEnabledMask(index).reset(Renderable::kType);
        }
        if (!isSomeEntity(current))
            continue;
        for (u64 s = 0; s < slots; ++s)
            if (world.getGeneration(s) != 0 && world.getEnabledMask(s).test(Transform::kType)
                && transformRecord(world, s).parent == current)
                pending.push_back(handleOf(world, s));
    }
}

void RenderSystem::setVisibleRecursive(u64 entityIndex, u8 passIndex, World& world)
{
    const u64 slots = world.getSlotCount();
    std::vector<u64> pending { entityIndex };
    for (u64 visited = 0; !pending.empty(); ++visited) {
        const u64 index = pending.back();
        pending.pop_back();
        if (index < m_passIndex.count())
            m_passIndex.at<u8>(index) = passIndex;
        if (index >= slots)
            continue;
        if (visited > slots)
            failTransformCycle(world, transformRecord(world, index));
        // Children: live entities whose transform's parent names this slot,
        // whatever generation the parent handle carries.
        for (u64 s = 0; s < slots; ++s) {
            if (world.getState(s) == EntityState::Free || world.getGeneration(s) == 0
                || !world.getComponentMask(s).test(Transform::kType))
                continue;
            const EntityHandle parent = transformRecord(world, s).parent;
            if (isSomeEntity(parent) && parent.index() == index)
                pending.push_back(s);
        }
    }
}

void RenderSystem::screenPointToRay(quern::math::Ray& out, f32 x, f32 y)
{
    Camera* camera = currentCamera();
    if (!camera) {
        out = quern::math::Ray {};
        return;
    }
    camera->refresh();
    const EntityScenePass& main = *pass(0);
    i32 viewport[4] = { main.viewport[0], main.viewport[1], main.viewport[2], main.viewport[3] };
    if (static_cast<i64>(viewport[2]) * viewport[3] <= 0) {
        const DisplaySize& display = processDisplaySize();
        const FrameSize size = frameSizeFor(FrameSettings::fromSettings(), display.width, display.height);
        viewport[0] = viewport[1] = 0;
        viewport[2] = size.width;
        viewport[3] = size.height;
    }
    // Into the viewport's own pixels: its left edge and its top (viewports
    // count y from the bottom) become 0.
    const FrameSizeF frame = computeFrameSize();
    const f32 screenX = x - static_cast<f32>(viewport[0]);
    const f32 screenY = y - (frame.height - static_cast<f32>(viewport[3]) - static_cast<f32>(viewport[1]));
    out = quern::math::Ray::fromScreenPoint(screenX, screenY, camera->viewMatrix(), camera->projectionMatrix(),
        static_cast<f32>(viewport[2]), static_cast<f32>(viewport[3]));
}

// Main thread ----------------------------------------------------------------

void RenderSystem::commitDynamicVisuals()
{
    quern::graphics::Display* display = quern::graphics::Display::get();
    for (u64 i = 0; i < m_pendingVisuals.count(); ++i) {
        Visual* pending = m_pendingVisuals.at<Visual*>(i);
        // A visual only this list holds will never be drawn.
        if (pending->refCount() <= 1)
            continue;
        pending->queueUpload();
        Material* material = pending->material();
        if (!material)
            continue;
        if (material->isDirty()) {
            material->updateShader(*display);
            material->clearDirty();
        }
        quern::graphics::Shader* shader = material->shader();
        quern::graphics::StateObjectCache* cache
            = shader && shader->stateObjectCache() ? shader->stateObjectCache() : display->context().stateObjectCache;
        if (shader && cache) {
            const quern::graphics::VertexBuffer* vertices = pending->vertexBuffer();
            cache->getStateObject(shader, vertices ? &vertices->format() : nullptr);
        }
    }
    releasePendingVisuals();
}

void RenderSystem::releaseFrameResources()
{
    for (u64 i = 0; i < m_materialsToRelease.count(); ++i) {
        Material* material = m_materialsToRelease.at<Material*>(i);
        if (m_loadingWorker)
            material->detach(m_loadingWorker->cache());
        RefCounted::release(material);
    }
    m_materialsToRelease.clear();
    for (u64 i = 0; i < m_nodesToRelease.count(); ++i) {
        Node* released = m_nodesToRelease.at<Node*>(i);
        // A parent that lives on would otherwise keep the node among its
        // children for good.
        detachFromParent(*released);
        RefCounted::release(released);
    }
    m_nodesToRelease.clear();
}

} // namespace harmonize
