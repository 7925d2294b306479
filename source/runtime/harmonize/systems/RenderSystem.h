#pragma once
// Turns a world's entities into the scene graph: a node for every entity with
// a Transform, a visual and a per-entity material for every Renderable, a
// camera for every CameraLens. Once per fixed tick it snapshots the
// transforms; once per frame it places the nodes extrapolated from the last
// two snapshots, so drawing stays smooth between ticks. It owns the world's
// two scene passes, its fog and its current camera.

#include "quern/containers/Array.h"
#include "quern/entity/System.h"
#include "quern/graphics/Uniform.h"
#include "quern/language/RefCounted.h"
#include "quern/scene/Camera.h"

#include <vector>

namespace quern::graphics {
class GenericMaterial;
class ParticleMaterial;
} // namespace quern::graphics
namespace quern::math {
struct Ray;
}
namespace quern::visuals {
class Visual;
}

namespace harmonize {

using quern::f32;
using quern::u64;
using quern::u8;

struct AppContext;
class EntityScenePass;
class LightingSystem;
class LoadingWorker;
class TaskDispatcher;
class TransformHierarchySystem;
struct Transform;

// The bone matrices a GPU-skinned entity's material uploads, one 4x4 matrix
// per bone, identities until the skinning writes them.
class SkinningPalette final : public quern::graphics::Uniform {
public:
    explicit SkinningPalette(u64 boneCount);

    u64 boneCount() const { return m_matrices.count(); }
    quern::math::Matrix4* matrices() { return m_matrices.dataAs<quern::math::Matrix4>(); }

private:
    quern::containers::Array m_matrices; // Matrix4
};

class RenderSystem : public quern::entity::System {
public:
    RenderSystem(AppContext& context, LightingSystem& lighting, TransformHierarchySystem& hierarchy);
    ~RenderSystem() override;

    void entitiesCreated(const quern::entity::EntityHandle* handles, u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void entitiesDestroyed(const quern::entity::EntityHandle* handles, u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void worldStopped(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // The entity's visual, made (with a node when it has none) when missing.
    quern::visuals::Visual* getOrCreateVisual(u64 entityIndex);
    void setBoundingSphere(quern::entity::EntityHandle entity, const f32 centre[3], f32 radius);
    // Adds the world's fog to a material.
    void applyFog(quern::graphics::GenericMaterial& material);
    // Gives a cloned material the level's textures and resource cache, as the
    // entities' own materials get them.
    void bindToLevelResources(quern::graphics::GenericMaterial& material);
    // The last culling saw the entity and its node is not hidden.
    bool isEntityVisible(u64 entityIndex) const;
    // The texture offset of the "_MainTex" property of the entity's own
    // material (a sprite frame, a scrolling surface); nothing without one.
    void setMainTextureOffset(u64 entityIndex, f32 u, f32 v);
    // Moves that offset on by (du, dv).
    void scrollMainTexture(u64 entityIndex, f32 du, f32 dv);
    void setRenderEnabledRecursive(quern::entity::EntityHandle entity, quern::entity::World& world, bool enabled);
    // Moves the entity's subtree to pass 0 (the scene) or 1 (after the post effects).
    void setVisibleRecursive(u64 entityIndex, u8 pass, quern::entity::World& world);
    // The ray through a point of the frame, in pixels from its top left.
    void screenPointToRay(quern::math::Ray& out, f32 x, f32 y);
    // Main thread, before drawing: device buffers and state objects of the
    // visuals made this frame.
    void commitDynamicVisuals();
    // Main thread: lets go the nodes and materials of destroyed entities.
    void releaseFrameResources();
    // After a quick save put the world back: both transform snapshots become
    // the restored transforms, so the next frames draw the restored places
    // instead of extrapolating across the jump.
    void restoreQuickSave(quern::entity::World& world);

    // Pass 0 draws the world, pass 1 after the post effects.
    EntityScenePass* pass(u64 index) const;
    quern::scene::Camera* currentCamera() const { return m_currentCamera.get<quern::scene::Camera>(); }
    // The current camera's view, refreshed first when it moved.
    const quern::math::Matrix4& getCameraViewMatrix() { return currentCamera()->getViewMatrix(); }
    quern::visuals::Visual* visual(u64 entityIndex) const;

private:
    struct CameraSlot {
        quern::Ref camera;
        quern::entity::EntityHandle entity;
    };
    // The transform records of every slot as one fixed tick left them.
    struct TransformSnapshot {
        quern::containers::Array transforms; // Transform per slot
        u64 time = 0; // microseconds of world time
    };

    void adoptAllocator(quern::memory::Allocator* allocator);
    void setUpPasses(quern::memory::Allocator* allocator);
    void destroyCullers(quern::memory::Allocator* allocator);
    void releasePendingVisuals();
    void freeArrays();
    // Per-entity arrays cover every slot the world can hold.
    void sizeArrays(quern::entity::World& world);
    void snapshotTransforms(TransformSnapshot& snapshot, quern::entity::World& world);
    void readFog(quern::entity::World& world);
    void makeCameras(quern::entity::World& world);

    void createEntity(quern::entity::EntityHandle entity, quern::entity::World& world);
    void createVisual(quern::entity::EntityHandle entity, quern::scene::Node& node, quern::entity::World& world);
    quern::visuals::Visual* cloneMesh(u64 meshId, bool ownVertices);
    void createEntityMaterial(
        quern::entity::EntityHandle entity, quern::visuals::Visual& visual, quern::entity::World& world);
    void parentNodes(const quern::entity::EntityHandle* handles, u64 count, quern::entity::World& world);
    // Moves the node under the node of its transform's parent when that differs.
    void reparent(u64 index, const Transform& transform);

    void syncNodes(quern::entity::World& world, f32 factor);
    void syncNode(u64 index, quern::entity::World& world, f32 factor);
    static u8 drawStateOf(const quern::scene::Node& node);
    // Something changed the entity's node or visual since the node sync.
    void markForJudging(u64 index);
    void applyFrameOffset(u64 index, quern::entity::World& world);
    // The property index of "_MainTex" in the entity's own material; 0 when
    // either is missing.
    quern::i32 findMainTexture(u64 index, quern::graphics::GenericMaterial*& material) const;
    quern::scene::Camera* cameraOfEntity(u64 index) const;

    quern::scene::Node* node(u64 index) const;
    u64 nodeCount() const;

    LoadingWorker* m_loadingWorker;
    TaskDispatcher* m_dispatcher;
    LightingSystem& m_lighting;
    TransformHierarchySystem& m_hierarchy;
    quern::memory::Allocator* m_allocator = nullptr;

    quern::containers::Array m_visuals; // Visual* per slot; the node holds the reference
    // The material made for the entity (GenericMaterial* per slot, not
    // counted: its visual holds it); lights and frame offsets go there.
    quern::containers::Array m_entityMaterials;
    quern::Ref m_passes[2];
    f32 m_fogStart = 0.0f;
    f32 m_fogInverseRange = 0.0f;
    f32 m_fogColour[4] = { 0.0f, 0.0f, 0.0f, 1.0f };
    std::vector<CameraSlot> m_cameras;
    quern::Ref m_currentCamera;
    TransformSnapshot m_newest;
    TransformSnapshot m_previous;
    // One reference each, let go by releaseFrameResources.
    quern::containers::Array m_materialsToRelease; // Material*
    quern::containers::Array m_nodesToRelease; // Node*
    quern::containers::Array m_passIndex; // u8 per slot: the pass that draws it
    quern::containers::Array m_visible; // u8 per slot: culling result
    quern::containers::Array m_drawStates; // NodeDrawState per slot, from the node sync
    quern::containers::Array m_drawNodes; // Node* per slot, as the node sync saw it
    quern::graphics::ParticleMaterial* m_defaultMaterial = nullptr; // one reference
    // Visuals made or replaced since the last commit, one reference each.
    quern::containers::Array m_pendingVisuals; // Visual*
};

} // namespace harmonize
