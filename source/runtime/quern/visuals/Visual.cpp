#include "quern/visuals/Visual.h"

#include "quern/debug/Log.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/iterators/PrimitiveIterator.h"
#include "quern/math/Frustum.h"
#include "quern/math/Ray.h"
#include "quern/render/RenderQueue.h"
#include "quern/scene/Node.h"
#include "quern/visuals/SubMesh.h"
#include "quern/visuals/VertexPositions.h"

#include <algorithm>
#include <cmath>
#include <ostream>

namespace quern::visuals {

namespace {

constexpr u32 kStaticDraw = graphics::BufferUsage::Static | graphics::BufferUsage::Draw;

graphics::GraphicsBackEnd& device() { return *graphics::Display::get()->backEnd(); }

bool pairwiseDifferent(const math::Vector3& a, const math::Vector3& b, const math::Vector3& c)
{
    return !(a == b) && !(b == c) && !(a == c);
}

} // namespace

f32 largestAxisScale(const f32 m[16])
{
    f32 largest = 0.0f;
    for (int axis = 0; axis < 3; ++axis) {
        const f32* v = m + axis * 4;
        largest = std::max(largest, v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    }
    return std::sqrt(largest);
}

Visual::Visual()
    : m_material(new graphics::Shader())
{
}

Visual::Visual(const Visual& other)
    : RefCounted()
    , NodeListenerList()
    , m_flags(other.m_flags | GeometryDirty)
    , m_material(other.m_material)
    , m_name(other.m_name)
{
}

Visual::~Visual()
{
    releasePicking();
    if (m_bufferListener) {
        if (graphics::VertexBuffer* vb = vertexBuffer())
            vb->removeListener(m_bufferListener);
        delete m_bufferListener;
    }
    m_subMeshes.clear();
    m_material.reset();
    m_vertexBuffer.reset();
}

graphics::VertexBuffer* Visual::vertexBuffer() const { return m_vertexBuffer.getCounted<graphics::VertexBuffer>(); }

void Visual::update()
{
    if (m_flags & GeometryDirty) {
        m_flags &= ~GeometryDirty;
        const Ref held = m_material;
        buildGeometry();
        if (!m_material && held)
            m_material = held;
    }
    if (m_flags & ContentsChanged) {
        m_flags &= ~ContentsChanged;
        refreshGeometry();
    }
}

void Visual::setVertexBuffer(graphics::VertexBuffer* vb)
{
    graphics::VertexBuffer* current = vertexBuffer();
    if (vb && !m_bufferListener)
        m_bufferListener = new BufferListener(this);
    if (current && m_bufferListener)
        current->removeListener(m_bufferListener);
    if (vb)
        vb->addListener(m_bufferListener);
    if (vb != current)
        m_vertexBuffer = vb ? Ref(vb) : Ref();
}

graphics::VertexBuffer* Visual::getVertexBuffer(u32 usage)
{
    if (!vertexBuffer())
        setVertexBuffer(device().createVertexBuffer(usage));
    return vertexBuffer();
}

SubMesh* Visual::addSubMesh(graphics::Material* material)
{
    SubMesh* subMesh = new SubMesh();
    subMesh->setIndexBuffer(device().createIndexBuffer(kStaticDraw));
    subMesh->setMaterial(material);
    appendSubMesh(subMesh);
    return subMesh;
}

void Visual::appendSubMesh(SubMesh* subMesh) { m_subMeshes.emplace_back(subMesh); }

SubMesh* Visual::getFirstSubMesh()
{
    if (m_subMeshes.empty())
        appendSubMesh(new SubMesh());
    return subMesh(0);
}

graphics::IndexBuffer* Visual::getIndexBuffer()
{
    if (m_subMeshes.empty())
        addSubMesh(nullptr);
    return subMesh(0)->getIndexBuffer();
}

void Visual::setMaterial(graphics::Material* material)
{
    if (material == this->material())
        return;
    m_material = material ? Ref(material) : Ref();
}

graphics::Shader* Visual::getMaterialShader()
{
    graphics::Material* current = material();
    return current ? current->getShader() : nullptr;
}

graphics::Shader* Visual::getEffectiveShader()
{
    if (graphics::Shader* shader = getMaterialShader())
        return shader;
    return graphics::Display::get()->context().stateObjectCache->defaultShader();
}

void Visual::addChangeListener(VisualChangeListener* listener) { m_changeListeners.push_back(listener); }

void Visual::removeChangeListener(VisualChangeListener* listener) { std::erase(m_changeListeners, listener); }

void Visual::notifyChanged()
{
    // A listener may unregister itself while it is told.
    const std::vector<VisualChangeListener*> listeners = m_changeListeners;
    for (VisualChangeListener* listener : listeners)
        listener->visualChanged(this);
    for (const Ref& held : m_subMeshes)
        held.get<SubMesh>()->markBoundsStale();
}

void Visual::queueUpload()
{
    update();
    graphics::VertexBuffer* vb = vertexBuffer();
    if (vb && vb->byteSize() != 0 && !vb->hasDeviceObject())
        vb->createDeviceObject();
    for (const Ref& held : m_subMeshes) {
        graphics::IndexBuffer* ib = held.get<SubMesh>()->indexBuffer();
        if (ib && ib->byteSize() != 0 && !ib->hasDeviceObject())
            ib->createDeviceObject();
    }
}

bool Visual::intersectsBounds(const math::Ray& ray, scene::Node& node)
{
    math::Vector3 centre;
    const f32 radius = node.getBoundingSphere(centre);
    const f32 distance = math::cross(centre - ray.origin, ray.direction).length() / ray.direction.length();
    return distance <= radius;
}

f32 Visual::getBoundingSphere(math::Vector3& centre)
{
    update();
    graphics::VertexBuffer* vb = vertexBuffer();
    if (!vb) {
        centre = math::kZeroVector;
        return 0.0f;
    }
    vb->updateBoundingSphere();
    centre = { vb->centre()[0], vb->centre()[1], vb->centre()[2] };
    return vb->radius();
}

void Visual::getBoundingBox(math::Vector3& centre, math::Vector3& halfExtents)
{
    update();
    graphics::VertexBuffer* vb = vertexBuffer();
    if (!vb) {
        centre = math::kZeroVector;
        halfExtents = math::kZeroVector;
        return;
    }
    vb->updateBoundingBox();
    const math::Vector3 min { vb->boxMin()[0], vb->boxMin()[1], vb->boxMin()[2] };
    const math::Vector3 max { vb->boxMax()[0], vb->boxMax()[1], vb->boxMax()[2] };
    centre = (min + max) * 0.5f;
    halfExtents = (max - min) * 0.5f;
}

void Visual::submit(render::RenderContext& context)
{
    update();
    graphics::VertexBuffer* vb = vertexBuffer();
    if (!vb)
        return;
    graphics::Shader* fallback = getEffectiveShader();
    const bool cullSubMeshes = !(vb->usage() & graphics::BufferUsage::Dynamic) && m_subMeshes.size() > 1;
    math::Frustum frustum;
    f32 radiusScale = 1.0f;
    if (cullSubMeshes) {
        frustum = math::Frustum(*context.viewMatrix, *context.projectionMatrix);
        // The spheres are in the visual's space: a scaled node stretches them.
        radiusScale = largestAxisScale(context.worldMatrix->m);
    }
    for (const Ref& held : m_subMeshes) {
        SubMesh* part = held.get<SubMesh>();
        if (cullSubMeshes) {
            if (part->boundsStale())
                part->updateBounds(vb);
            const math::Vector3 centre = context.worldMatrix->transformPoint(part->centre());
            const f32 radius = part->radius() * radiusScale;
            if (frustum.testSphere(centre, radius) == math::Frustum::TestResult::Outside)
                continue;
        }
        render::RenderJob* job = context.state->takeJob();
        job->vertexBuffer = vb;
        job->indexBuffer = part->indexBuffer();
        graphics::Material* own = part->material();
        graphics::Shader* shader = own ? own->getShader() : nullptr;
        job->shader = shader ? shader : fallback;
        job->textures.images[0] = part->textureOverrides[0];
        job->textures.images[1] = part->textureOverrides[1];
        job->node = context.node;
        job->modelMatrix = context.worldMatrix;
        job->modelViewMatrix = context.worldViewMatrix;
        job->modelViewProjectionMatrix = context.worldViewProjectionMatrix;
        job->viewMatrix = context.viewMatrix;
        job->cameraPosition = context.cameraPosition;
        job->depthKey = context.depthKey;
        job->context = &context;
        context.jobs->append(job);
    }
}

f32 Visual::computeVolume()
{
    update();
    graphics::VertexBuffer* vb = vertexBuffer();
    if (!vb)
        return 0.0f;
    math::Vector3 m;
    getBoundingSphere(m);
    VertexPositions positions(*vb);
    f64 sum = 0.0;
    for (const Ref& held : m_subMeshes) {
        graphics::IndexBuffer* ib = held.get<SubMesh>()->indexBuffer();
        if (!ib || ib->indexCount() == 0)
            continue;
        const u64 count = ib->indexCount();
        const u8* begin = ib->lockIndices(containers::BufferBase::Lock::Read, 0, count);
        graphics::IndexedTriangleIterator triangles(
            begin, begin + count * ib->indexSize(), ib->indexSize(), ib->primitiveType());
        u32 t[3];
        while (triangles.next(t)) {
            math::Vector3 a, b, c;
            if (!positions.read(t[0], a) || !positions.read(t[1], b) || !positions.read(t[2], c))
                continue;
            if (!pairwiseDifferent(a, b, c))
                continue;
            sum += std::fabs(math::dot(a - m, math::cross(b - m, c - m)));
        }
        ib->unlockIndices();
    }
    return static_cast<f32>(sum) * 0.16666667f;
}

void Visual::mergeSubMeshes()
{
    const u64 before = m_subMeshes.size();
    if (before < 2)
        return;
    std::vector<Ref> sorted = std::move(m_subMeshes);
    m_subMeshes.clear();
    std::stable_sort(sorted.begin(), sorted.end(),
        [](const Ref& a, const Ref& b) { return a.get<SubMesh>()->material() < b.get<SubMesh>()->material(); });
    for (u64 first = 0; first < sorted.size();) {
        graphics::Material* shared = sorted[first].get<SubMesh>()->material();
        u64 last = first + 1;
        while (last < sorted.size() && sorted[last].get<SubMesh>()->material() == shared)
            ++last;
        if (last - first == 1) {
            m_subMeshes.push_back(sorted[first]);
        } else {
            std::vector<graphics::IndexBuffer*> buffers;
            for (u64 i = first; i < last; ++i)
                if (graphics::IndexBuffer* ib = sorted[i].get<SubMesh>()->indexBuffer())
                    buffers.push_back(ib);
            SubMesh* merged = new SubMesh();
            if (buffers.size() == 1) {
                merged->setIndexBuffer(buffers[0]);
            } else if (buffers.size() > 1) {
                graphics::IndexBuffer* joined = device().createIndexBuffer(buffers[0]->usage());
                merged->setIndexBuffer(joined);
                graphics::IndexBuffer::concatenate(*buffers[0], *buffers[1], *joined);
                for (u64 i = 2; i < buffers.size(); ++i)
                    graphics::IndexBuffer::concatenate(*joined, *buffers[i], *joined);
            }
            merged->setMaterial(shared);
            appendSubMesh(merged);
        }
        first = last;
    }
    QUERN_LOG(3) << "Merged " << before << " sub-meshes to " << m_subMeshes.size() << std::endl;
}

void Visual::describe(std::ostream& out)
{
    graphics::VertexBuffer* vb = vertexBuffer();
    if (!vb)
        out << "No vertices.\n";
    else
        out << *vb << "\n";
    for (const Ref& held : m_subMeshes)
        if (graphics::IndexBuffer* ib = held.get<SubMesh>()->indexBuffer())
            out << *ib << "\n";
}

} // namespace quern::visuals
