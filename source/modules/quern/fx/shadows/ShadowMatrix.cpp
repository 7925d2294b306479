#include "quern/fx/shadows/ShadowMatrix.h"

#include "quern/math/AABB.h"
#include "quern/math/Frustum.h"
#include "quern/math/Quaternion.h"
#include "quern/scene/Camera.h"
#include "quern/scene/Light.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quern::fx {
namespace {

// Made on first use, released at exit.
scene::Camera* g_shadowCamera = nullptr;

scene::Camera& shadowCamera()
{
    if (!g_shadowCamera) {
        g_shadowCamera = new scene::Camera();
        RefCounted::retain(g_shadowCamera);
        std::atexit([] {
            RefCounted::release(g_shadowCamera);
            g_shadowCamera = nullptr;
        });
    }
    return *g_shadowCamera;
}

const math::Matrix4& biasMatrix()
{
    static const math::Matrix4 bias = [] {
        math::Matrix4 m;
        m.m[0] = m.m[5] = m.m[10] = 0.5f;
        m.m[12] = m.m[13] = m.m[14] = 0.5f;
        return m;
    }();
    return bias;
}

} // namespace

void configureLightCamera(scene::Light& light, scene::Camera& camera, f32 width, f32 height)
{
    math::Matrix4 render;
    light.getRenderTransform(render);
    camera.setTranslation(render.m[12], render.m[13], render.m[14]);
    const math::Quaternion turn = light.getWorldRotation();
    camera.setRotation(turn.x, turn.y, turn.z, turn.w);
    if (light.kind == scene::Light::kOrthographicKind) {
        camera.orthographic = 1;
    } else {
        camera.orthographic = 0;
        camera.fieldOfView = 2.0f * light.angle;
    }
    camera.width = width;
    camera.height = height;
    camera.farPlane = light.range;
    camera.markProjectionDirty();
}

math::Matrix4& computeShadowMatrix(math::Matrix4& out, scene::Light& light, const math::Matrix4& viewerView)
{
    scene::Camera& camera = shadowCamera();
    light.configureCamera(camera);
    camera.refresh();
    // The engine's products run right to left: the view-space point first
    // leaves the viewer's view, then enters the light's view and projection.
    out = biasMatrix() * camera.projectionMatrix() * camera.viewMatrix() * viewerView.inverted();
    return out;
}

void fitLightToView(
    scene::Camera& viewer, scene::Light& light, f32& width, f32& height, u32 mapWidth, u32 mapHeight, f32 heightAbove)
{
    viewer.refresh();
    const math::AABB bounds = math::Frustum(viewer.viewMatrix(), viewer.projectionMatrix()).computeBounds();
    const f32 fittedWidth = std::min(width * 0.5f, bounds.max.x) - std::max(-width * 0.5f, bounds.min.x);
    const f32 fittedHeight = std::min(height * 0.5f, bounds.max.z) - std::max(-height * 0.5f, bounds.min.z);
    // A view that misses the window around the origin leaves nothing to fit.
    if (fittedWidth > 0 && fittedHeight > 0) {
        width = fittedWidth;
        height = fittedHeight;
    }
    const math::Vector3 c = viewer.worldPosition();
    math::Vector3 f = viewer.viewDirection();
    const f32 length = f.length();
    if (length > 0)
        f = f * (1.0f / length);
    const f32 texelX = light.width / static_cast<f32>(std::max<u32>(mapWidth, 1));
    const f32 texelZ = light.height / static_cast<f32>(std::max<u32>(mapHeight, 1));
    // Whole texels keep the shadow's edges still while the light follows the viewer.
    const f32 x = c.x + f.x * width * 0.5f;
    const f32 z = c.z + f.z * width * 0.5f;
    const f32 snappedX = texelX > 0 ? std::floor(x / texelX) * texelX : x;
    const f32 snappedZ = texelZ > 0 ? std::floor(z / texelZ) * texelZ : z;
    light.setTranslation(snappedX, c.y + heightAbove, snappedZ);
}

} // namespace quern::fx
