#pragma once
// Turns visuals into draws. Visuals are submitted with a RenderContext that
// carries the current matrices and append one RenderJob per sub-mesh; on
// flush every job gets a 64-bit sort key by the queue's sort mode, the job
// pointers are sorted (larger keys first) and drawn through the graphics
// device, and the queue forgets its jobs and gives every pooled block back.
//
// Matrices are the engine's (column vectors): "world followed by view" is
// view * world.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/containers/BlockPool.h"
#include "quern/language/RefCounted.h"
#include "quern/math/Matrix4.h"
#include "quern/render/RenderContext.h"
#include "quern/render/RenderJob.h"

#include <new>

namespace quern {
class Parameter;
}

namespace quern::graphics {
class Shader;
}

namespace quern::scene {
class Camera;
}

namespace quern::visuals {
class Visual;
}

namespace quern::render {

struct RenderLists;

// The pools, the job list and the current matrices of one queue.
struct RenderQueueState {
    static constexpr u64 kRecordsPerBlock = 100;

    RenderQueueState();
    ~RenderQueueState();
    RenderQueueState(const RenderQueueState&) = delete;
    RenderQueueState& operator=(const RenderQueueState&) = delete;

    // Pooled copies, valid until the next reset.
    const math::Matrix4* pooledMatrix(const math::Matrix4& matrix);
    const Vector4* pooledVector(const Vector4& vector);
    // A cleared job from the pool (not yet in the job list).
    RenderJob* takeJob() { return new (jobPool.take()) RenderJob(); }
    // Identity matrices, the origin as camera position, every pool block
    // freed, no jobs.
    void reset();

    containers::BlockPool<RenderJob> jobPool;
    containers::BlockPool<math::Matrix4> matrixPool;
    containers::BlockPool<Vector4> vectorPool;
    containers::Array jobs; // RenderJob*, in submission order
    const math::Matrix4* world;
    const math::Matrix4* worldView;
    const math::Matrix4* worldViewProjection;
    const math::Matrix4* view;
    const math::Matrix4* projection;
    const Vector4* cameraPosition;
    Parameter* renderJobs;
    Parameter* stateChanges; // registered for the statistics views; not written here
    Ref overrideShader;
    Ref overrideState; // a private clone of the override shader
};

class RenderQueue {
public:
    enum class SortMode : u32 {
        // Opaque jobs first, grouped by textures and programs; then the
        // transparent ones from the farthest to the nearest.
        ByState = 0,
        FrontToBack = 1,
        BackToFront = 2,
        Unsorted = 3,
    };

    RenderQueue();
    virtual ~RenderQueue();
    RenderQueue(const RenderQueue&) = delete;
    RenderQueue& operator=(const RenderQueue&) = delete;

    // Fills the context from the current state and lets the visual submit.
    virtual void submitVisual(visuals::Visual* visual, RenderContext& context);
    // A new queue of the same class: fresh state, sort mode 0, no override.
    virtual RenderQueue* clone() const;
    // Draws the jobs in array order.
    virtual void dispatch(RenderContext& context, RenderJob** jobs, u64 count);

    // A clone of the process-wide prototype queue.
    static RenderQueue* create();

    void setWorldMatrix(const math::Matrix4& matrix);
    void setWorldViewMatrix(const math::Matrix4& matrix);
    void setWorldViewProjectionMatrix(const math::Matrix4& matrix);
    void setProjectionMatrix(const math::Matrix4& matrix);
    // Every job is drawn with the override's states where it has them.
    void setOverrideMaterial(graphics::Shader* shader);
    graphics::Shader* overrideShader() const { return m_state->overrideShader.get<graphics::Shader>(); }
    graphics::Shader* overrideState() const { return m_state->overrideState.get<graphics::Shader>(); }

    // Counts, sorts and dispatches the jobs, then resets.
    void flush(RenderContext& context);
    void reset() { m_state->reset(); }
    // Draws the visible nodes of the lists as the camera sees them.
    void renderScene(RenderLists& lists, scene::Camera& camera);
    // Writes each job's key for the mode and sorts the jobs (fatal for an
    // unknown mode).
    void sort(SortMode mode);

    RenderQueueState& state() { return *m_state; }
    u64 jobCount() const { return m_state->jobs.count(); }
    RenderJob* job(u64 index) const { return m_state->jobs.at<RenderJob*>(index); }

    SortMode sortMode = SortMode::ByState;

private:
    void finish(RenderContext& context);

    RenderQueueState* m_state;
};

// Submits, counts and sorts like a RenderQueue but never draws: for passes
// that only want to know what would be drawn.
class CollectingRenderQueue final : public RenderQueue {
public:
    RenderQueue* clone() const override { return new CollectingRenderQueue(); }
    void dispatch(RenderContext&, RenderJob**, u64) override { }
};

// The 64-bit key of a job for a mode (Unsorted gives 0).
u64 sortKey(const RenderJob& job, RenderQueue::SortMode mode);
// The depth key of a world-space point: (clip z + clip w) squared, growing
// with the distance from the camera between the near and far planes.
f32 depthKey(const math::Matrix4& viewProjection, const math::Vector3& point);

} // namespace quern::render
