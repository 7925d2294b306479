#include "quern/render/RenderQueue.h"

#include "quern/graphics/Display.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/graphics/renderstate/TextureState.h"
#include "quern/parameter/ParameterRegistry.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/render/RenderLists.h"
#include "quern/scene/Camera.h"
#include "quern/strings/PackedName.h"
#include "quern/visuals/Visual.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace quern::render {

namespace {

constexpr Vector4 kOrigin { 0.0f, 0.0f, 0.0f, 1.0f };
constexpr u64 kOpaqueBit = 1ull << 63;

// Bits 4 to 19 of the object's address: equal objects, equal identities.
u64 identity(const void* object) { return (reinterpret_cast<uintptr_t>(object) >> 4) & 0xffff; }

u64 stateKey(graphics::Shader& shader)
{
    u64 key = kOpaqueBit;
    if (auto* textures
        = static_cast<graphics::TextureState*>(shader.renderState(graphics::RenderStateID::TextureState))) {
        key |= identity(textures->texture(0)) << 36;
        key |= identity(textures->texture(1)) << 24;
    }
    if (auto* programs
        = static_cast<graphics::ShaderProgramState*>(shader.renderState(graphics::RenderStateID::ShaderProgramState))) {
        key |= identity(programs->vertexProgram()) << 12;
        key |= identity(programs->fragmentProgram());
    }
    return key;
}

u64 depthBits(f32 depth)
{
    u32 bits;
    std::memcpy(&bits, &depth, sizeof bits);
    return bits;
}

Parameter* counter(const char* name)
{
    return ParameterRegistry::instance().getParameter(packName("renderqueue"), packName(name));
}

// The index range of a job: its own, else its index buffer's draw range, else
// everything. A count to the end is measured from the first index, and a
// first index at or past the end draws nothing.
void drawRange(const RenderJob& job, u32& first, i64& count)
{
    graphics::IndexBuffer* ib = job.indexBuffer;
    if (job.firstIndex != 0 || job.indexCount >= 0) {
        first = job.firstIndex;
        count = job.indexCount;
    } else if (ib) {
        first = ib->start();
        count = ib->count();
    } else {
        first = 0;
        count = -1;
    }
    if (count >= 0)
        return;
    const u64 total = (ib && ib->byteSize() != 0) ? ib->elementCount() : job.vertexBuffer->elementCount();
    count = first < total ? static_cast<i64>(total - first) : 0;
}

std::unique_ptr<RenderQueue>& prototype()
{
    static std::unique_ptr<RenderQueue> queue;
    return queue;
}

} // namespace

u64 sortKey(const RenderJob& job, RenderQueue::SortMode mode)
{
    switch (mode) {
    case RenderQueue::SortMode::ByState:
        if (job.shader->usesTransparency())
            return depthBits(job.depthKey);
        return stateKey(*job.shader);
    case RenderQueue::SortMode::FrontToBack:
        return ~depthBits(job.depthKey);
    case RenderQueue::SortMode::BackToFront:
        return depthBits(job.depthKey);
    case RenderQueue::SortMode::Unsorted:
        return 0;
    }
    QUERN_FATAL_INVALID_ENUM("RenderQueue::SortMode");
}

f32 depthKey(const math::Matrix4& vp, const math::Vector3& c)
{
    const f32* m = vp.m;
    const f32 sum = c.x * (m[2] + m[3]) + c.y * (m[6] + m[7]) + c.z * (m[10] + m[11]) + m[14] + m[15];
    return sum * sum;
}

RenderQueueState::RenderQueueState()
    : jobPool(nullptr, kRecordsPerBlock, 8)
    , matrixPool(nullptr, kRecordsPerBlock, 4)
    , vectorPool(nullptr, kRecordsPerBlock, 4)
    , jobs(sizeof(RenderJob*), 8)
    , world(&math::kIdentityMatrix)
    , worldView(&math::kIdentityMatrix)
    , worldViewProjection(&math::kIdentityMatrix)
    , view(&math::kIdentityMatrix)
    , projection(&math::kIdentityMatrix)
    , cameraPosition(&kOrigin)
    , renderJobs(counter("renderJobs"))
    , stateChanges(counter("stateChanges"))
{
}

RenderQueueState::~RenderQueueState()
{
    overrideState.reset();
    overrideShader.reset();
    jobs.release();
}

const math::Matrix4* RenderQueueState::pooledMatrix(const math::Matrix4& matrix)
{
    math::Matrix4* record = matrixPool.take();
    std::memcpy(record->m, matrix.m, sizeof(matrix.m));
    return record;
}

const Vector4* RenderQueueState::pooledVector(const Vector4& vector)
{
    Vector4* record = vectorPool.take();
    *record = vector;
    return record;
}

void RenderQueueState::reset()
{
    world = worldView = worldViewProjection = view = projection = &math::kIdentityMatrix;
    cameraPosition = &kOrigin;
    jobPool.clear();
    matrixPool.clear();
    vectorPool.clear();
    jobs.clear();
}

RenderQueue::RenderQueue()
    : m_state(new RenderQueueState())
{
}

RenderQueue::~RenderQueue() { delete m_state; }

RenderQueue* RenderQueue::clone() const { return new RenderQueue(); }

RenderQueue* RenderQueue::create()
{
    std::unique_ptr<RenderQueue>& held = prototype();
    if (!held)
        held = std::make_unique<RenderQueue>();
    return held->clone();
}

void RenderQueue::submitVisual(visuals::Visual* visual, RenderContext& context)
{
    context.jobs = &m_state->jobs;
    context.state = m_state;
    context.worldMatrix = m_state->world;
    context.viewMatrix = m_state->view;
    context.projectionMatrix = m_state->projection;
    context.worldViewMatrix = m_state->worldView;
    context.worldViewProjectionMatrix = m_state->worldViewProjection;
    context.cameraPosition = m_state->cameraPosition;
    visual->submit(context);
}

void RenderQueue::setWorldMatrix(const math::Matrix4& matrix) { m_state->world = m_state->pooledMatrix(matrix); }

void RenderQueue::setWorldViewMatrix(const math::Matrix4& matrix)
{
    m_state->worldView = m_state->pooledMatrix(matrix);
}

void RenderQueue::setWorldViewProjectionMatrix(const math::Matrix4& matrix)
{
    m_state->worldViewProjection = m_state->pooledMatrix(matrix);
}

void RenderQueue::setProjectionMatrix(const math::Matrix4& matrix)
{
    m_state->projection = m_state->pooledMatrix(matrix);
}

void RenderQueue::setOverrideMaterial(graphics::Shader* shader)
{
    if (shader == overrideShader())
        return;
    m_state->overrideShader = shader ? Ref(shader) : Ref();
    if (!shader) {
        m_state->overrideState.reset();
        return;
    }
    graphics::Shader* state = shader->clone();
    for (u32 i = 0; i < graphics::kRenderStateCount; ++i)
        state->setRenderState(static_cast<graphics::RenderStateID>(i), nullptr);
    m_state->overrideState = Ref(state);
}

void RenderQueue::finish(RenderContext& context)
{
    const u64 count = m_state->jobs.count();
    m_state->renderJobs->setValue(static_cast<f32>(count));
    if (count != 0) {
        sort(sortMode);
        dispatch(context, m_state->jobs.dataAs<RenderJob*>(), count);
    }
    reset();
}

void RenderQueue::flush(RenderContext& context) { finish(context); }

void RenderQueue::sort(SortMode mode)
{
    RenderJob** jobs = m_state->jobs.dataAs<RenderJob*>();
    const u64 count = m_state->jobs.count();
    for (u64 i = 0; i < count; ++i)
        jobs[i]->sortKey = sortKey(*jobs[i], mode);
    if (mode == SortMode::Unsorted)
        return;
    std::sort(jobs, jobs + count, [](const RenderJob* a, const RenderJob* b) { return a->sortKey > b->sortKey; });
}

void RenderQueue::renderScene(RenderLists& lists, scene::Camera& camera)
{
    const math::Matrix4& cameraWorld = camera.getWorldTransform();
    const Vector4 position { cameraWorld.m[12], cameraWorld.m[13], cameraWorld.m[14], 1.0f };
    camera.refresh();
    const math::Matrix4 view = camera.viewMatrix();
    const math::Matrix4& projection = camera.projectionMatrix();
    const math::Matrix4 viewProjection = projection * view;

    m_state->view = m_state->pooledMatrix(view);
    setProjectionMatrix(projection);
    m_state->cameraPosition = m_state->pooledVector(position);

    RenderContext context;
    context.viewMatrix = m_state->view;
    context.projectionMatrix = m_state->projection;
    context.cameraPosition = m_state->cameraPosition;

    for (u64 i = 0; i < lists.visibleCount(); ++i) {
        scene::Node* node = lists.visibleNode(i);
        visuals::Visual* visual = node->visual();
        if (!visual)
            continue;
        math::Matrix4 world;
        node->getRenderTransform(world);
        setWorldMatrix(world);
        math::Matrix4 worldView = view;
        worldView.multiplyAffine(world);
        setWorldViewMatrix(worldView);
        setWorldViewProjectionMatrix(projection * worldView);

        math::Vector3 centre;
        visual->getBoundingSphere(centre);
        const math::Vector3 c = world.transformPoint(centre);
        context.node = node;
        context.nodeCentre = m_state->pooledVector({ c.x, c.y, c.z, 1.0f });
        context.depthKey = depthKey(viewProjection, c);
        submitVisual(visual, context);
    }
    finish(context);
}

void RenderQueue::dispatch(RenderContext&, RenderJob** jobs, u64 count)
{
    graphics::Display& display = *graphics::Display::get();
    graphics::GraphicsBackEnd& device = *display.backEnd();
    graphics::StateObjectCache* displayCache = display.context().stateObjectCache;
    graphics::Shader* overrideWith = overrideShader();
    graphics::Shader* merged = overrideState();
    device.unbindStateObject();

    graphics::Shader* previous = nullptr;
    for (u64 i = 0; i < count; ++i) {
        RenderJob& job = *jobs[i];
        graphics::Shader* pass = job.shader;
        if (overrideWith) {
            if (job.shader != previous)
                job.shader->overlay(*overrideWith, *merged);
            pass = merged;
        }
        previous = job.shader;

        const u32 passes = std::max(pass->passCount(), 1u);
        for (u32 p = 0; p < passes; ++p) {
            graphics::StateObjectCache* cache = pass->stateObjectCache() ? pass->stateObjectCache() : displayCache;
            device.bindStateObject(cache->getStateObject(pass, &job.vertexBuffer->format()));
            cache->bindTextures(
                static_cast<graphics::TextureState*>(pass->renderState(graphics::RenderStateID::TextureState)),
                &job.textures);
            device.setUniforms(static_cast<graphics::ShaderProgramState*>(
                                   pass->renderState(graphics::RenderStateID::ShaderProgramState)),
                &job);
            u32 first = 0;
            i64 indexCount = 0;
            drawRange(job, first, indexCount);
            if (indexCount > 0) {
                graphics::VertexBuffer* vb = job.vertexBuffer;
                if (!vb->hasDeviceObject())
                    vb->createDeviceObject();
                vb->bind();
                vb->draw(job.indexBuffer, first, static_cast<u32>(indexCount));
                vb->unbind();
            }
        }
        pass->finishDraw();
    }
}

} // namespace quern::render
