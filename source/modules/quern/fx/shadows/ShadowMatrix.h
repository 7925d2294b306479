#pragma once
// Where a light's shadow map lies: the light camera made from a light (with a
// size fitted to the viewer's view when asked), and the matrix that takes a
// viewer's view-space point to that shadow map's texture space.

#include "quern/Types.h"
#include "quern/math/Matrix4.h"

namespace quern::scene {
class Camera;
class Light;
} // namespace quern::scene

namespace quern::fx {

// The light camera at the light's render-transform position, turned as the
// light is in the world: orthographic for a directional light, else
// perspective with twice the light's angle as field of view; `width` by
// `height`, far plane at the light's range.
void configureLightCamera(scene::Light& light, scene::Camera& camera, f32 width, f32 height);

// inverse(view) followed by the light's view and projection, then the bias
// that maps normalised device coordinates -1..1 to 0..1 on every axis.
math::Matrix4& computeShadowMatrix(math::Matrix4& out, scene::Light& light, const math::Matrix4& viewerView);

// Shrinks width x height (the light's size, centred on the origin) to the
// part the viewer's frustum covers and moves the light above the viewer by
// `height` in whole shadow-map texels. A fit that leaves no positive size
// keeps the size given.
void fitLightToView(
    scene::Camera& viewer, scene::Light& light, f32& width, f32& height, u32 mapWidth, u32 mapHeight, f32 heightAbove);

} // namespace quern::fx
