#pragma once
// Turns a world's entities into the scene graph: a node for every entity with
// a Transform, a visual and a per-entity material for every Renderable, a
// camera for every CameraLens. Once per fixed tick it snapshots the
// transforms; once per frame it places the nodes extrapolated from the last
// two snapshots, so drawing stays smooth between ticks. It owns the world's
// two scene passes, its fog and its current camera.

#include "quern/containers/Array.h"
#include "quern/entity/System.h"
#include "quern/language/RefCounted.h"
#include "quern/scene/Camera.h"

namespace quern::graphics {
class GenericMaterial;
}
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
class TransformHierarchySystem;

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

    // Pass 0 draws the world, pass 1 after the post effects.
    EntityScenePass* pass(u64 index) const;
    quern::scene::Camera* currentCamera() const { return m_currentCamera.get<quern::scene::Camera>(); }
    // The current camera's view, refreshed first when it moved.
    const quern::math::Matrix4& getCameraViewMatrix() { return currentCamera()->getViewMatrix(); }
    quern::visuals::Visual* visual(u64 entityIndex) const;

private:
    quern::Ref m_currentCamera;
    // Further members belong to the render system's own file.
};

} // namespace harmonize
