#include "quern/visuals/MeshVisual.h"

#include "quern/graphics/VertexBuffer.h"
#include "quern/math/Matrix4.h"
#include "quern/visuals/SubMesh.h"

namespace quern::visuals {

MeshVisual::MeshVisual()
    : m_boneMatrices(sizeof(math::Matrix4), 4)
{
}

MeshVisual::MeshVisual(const MeshVisual& other)
    : Visual(other)
    , explicitRadius(other.explicitRadius)
    , explicitCentre(other.explicitCentre)
    , useExplicitSphere(other.useExplicitSphere)
    , auxiliaryFlag(other.auxiliaryFlag)
    , m_generator(other.m_generator)
    , m_boneMatrices(sizeof(math::Matrix4), 4)
{
    const containers::Array& bones = other.m_boneMatrices;
    if (bones.count() != 0)
        m_boneMatrices.assign(bones.data(), static_cast<const u8*>(bones.data()) + bones.usedBytes());
    setVertexBuffer(other.vertexBuffer());
    // Each copy keeps its sub-mesh's whole sphere: the render system clones
    // every mesh, and a copy culling around the origin hides parts on screen.
    for (u64 i = 0; i < other.subMeshCount(); ++i)
        appendSubMesh(new SubMesh(*other.subMesh(i)));
}

MeshVisual::~MeshVisual()
{
    m_boneMatrices.release();
    m_generator.reset();
}

Visual* MeshVisual::clone() const { return new MeshVisual(*this); }

void MeshVisual::setVertexGenerator(VertexGenerator* generator) { m_generator = generator ? Ref(generator) : Ref(); }

void MeshVisual::setExplicitSphere(const math::Vector3& centre, f32 radius)
{
    explicitCentre = centre;
    explicitRadius = radius;
    useExplicitSphere = 1;
}

void MeshVisual::refreshGeometry()
{
    VertexGenerator* generator = vertexGenerator();
    if (!generator)
        return;
    graphics::VertexBuffer* vb = getVertexBuffer(graphics::BufferUsage::Static | graphics::BufferUsage::Draw);
    const u64 count = vb->vertexCount();
    if (count == 0)
        return;
    generator->prepare(vb->format());
    u8* vertices = vb->lockVertices(containers::BufferBase::Lock::Write, 0, count);
    generator->write(vertices, count);
    vb->unlockVertices();
}

f32 MeshVisual::getBoundingSphere(math::Vector3& centre)
{
    if (!useExplicitSphere)
        return Visual::getBoundingSphere(centre);
    centre = explicitCentre;
    return explicitRadius;
}

void MeshVisual::getBoundingBox(math::Vector3& centre, math::Vector3& halfExtents)
{
    if (!useExplicitSphere) {
        Visual::getBoundingBox(centre, halfExtents);
        return;
    }
    centre = explicitCentre;
    halfExtents = { explicitRadius, explicitRadius, explicitRadius };
}

} // namespace quern::visuals
