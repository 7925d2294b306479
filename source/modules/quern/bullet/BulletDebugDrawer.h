#pragma once
// Bullet's debug-drawing interface over a batch visual: every line Bullet
// draws goes to the visual's line batch, to be drawn after the next flush.

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

#include <LinearMath/btIDebugDraw.h>

namespace quern::visuals {
class BatchVisual;
}

namespace quern::bullet {

class BulletDebugDrawer final : public btIDebugDraw {
public:
    BulletDebugDrawer();
    ~BulletDebugDrawer() override;

    void drawLine(const btVector3& from, const btVector3& to, const btVector3& colour) override;
    void drawLine(
        const btVector3& from, const btVector3& to, const btVector3& fromColour, const btVector3& toColour) override;
    void drawContactPoint(const btVector3&, const btVector3&, btScalar, int, const btVector3&) override { }
    void reportErrorWarning(const char* text) override;
    void draw3dText(const btVector3&, const char*) override { }
    void setDebugMode(int mode) override { m_debugMode = mode; }
    int getDebugMode() const override { return m_debugMode; }

    visuals::BatchVisual* batchVisual() const;

private:
    Ref m_batchVisual;
    int m_debugMode = DBG_DrawWireframe | DBG_DrawFrames;
};

} // namespace quern::bullet
