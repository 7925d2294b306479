#include "quern/bullet/BulletDebugDrawer.h"

#include "quern/debug/Log.h"
#include "quern/graphics/materials/ParticleMaterial.h"
#include "quern/visuals/BatchVisual.h"

#include <ostream>

namespace quern::bullet {

BulletDebugDrawer::BulletDebugDrawer()
    : m_batchVisual(new visuals::BatchVisual())
{
    batchVisual()->setMaterial(new graphics::DebugMaterial());
}

BulletDebugDrawer::~BulletDebugDrawer() { m_batchVisual.reset(); }

visuals::BatchVisual* BulletDebugDrawer::batchVisual() const { return m_batchVisual.get<visuals::BatchVisual>(); }

void BulletDebugDrawer::drawLine(const btVector3& from, const btVector3& to, const btVector3& colour)
{
    drawLine(from, to, colour, colour);
}

void BulletDebugDrawer::drawLine(
    const btVector3& from, const btVector3& to, const btVector3& fromColour, const btVector3& toColour)
{
    visuals::PrimitiveBatch* lines = batchVisual()->getBatch(graphics::PrimitiveType::LineList);
    lines->addVertex(from.x(), from.y(), from.z(), fromColour.x(), fromColour.y(), fromColour.z(), 1.0f, 0, 0);
    lines->addVertex(to.x(), to.y(), to.z(), toColour.x(), toColour.y(), toColour.z(), 1.0f, 0, 0);
}

void BulletDebugDrawer::reportErrorWarning(const char* text) { QUERN_LOG(2) << text << std::endl; }

} // namespace quern::bullet
