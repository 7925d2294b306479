#pragma once
// Small scene fixtures: nodes held for a test, a visual of a given sphere, a
// visitor that writes down what it was told, and a camera frustum.

#include "quern/math/Frustum.h"
#include "quern/scene/Camera.h"
#include "quern/scene/Light.h"
#include "quern/scene/Node.h"
#include "quern/scene/NodeVisitor.h"
#include "quern/visuals/MeshVisual.h"

#include <cmath>
#include <string>
#include <vector>

namespace quern::test {

// A mesh visual whose bounds are the given sphere, whatever its vertices.
inline visuals::MeshVisual* sphereVisual(const math::Vector3& centre, f32 radius)
{
    auto* visual = new visuals::MeshVisual();
    visual->setExplicitSphere(centre, radius);
    return visual;
}

inline scene::Node* namedNode(const char* name, Ref& holder)
{
    auto* node = new scene::Node();
    node->setName(name);
    holder = Ref(node);
    return node;
}

struct Visit {
    std::string kind;
    std::string name;
    u32 flag;
    bool operator==(const Visit&) const = default;
};

class RecordingVisitor final : public scene::NodeVisitor {
public:
    void begin(scene::Node*) override { visits.clear(); }
    void end() override { }
    void visitNode(scene::Node* node, u32 flag) override { visits.push_back({ "node", node->name(), flag }); }
    void visitLight(scene::Light* light, u32 flag) override { visits.push_back({ "light", light->name(), flag }); }
    void visitCamera(scene::Camera* camera, u32 flag) override { visits.push_back({ "camera", camera->name(), flag }); }

    u32 flagOf(const std::string& name) const
    {
        for (const Visit& visit : visits)
            if (visit.name == name)
                return visit.flag;
        return 99;
    }

    std::vector<Visit> visits;
};

// Looks down -Z from the origin: 90 degrees wide, near 1, far 100.
inline math::Frustum lookingDownMinusZ()
{
    const math::Matrix4 projection = math::Matrix4::perspective(1.5707964f, 1.0f, 1.0f, 100.0f, true);
    return math::Frustum(math::Matrix4(), projection);
}

inline bool near(const math::Vector3& a, const math::Vector3& b, f32 tolerance = 1e-5f)
{
    return std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance && std::fabs(a.z - b.z) <= tolerance;
}

inline bool near(const math::Matrix4& a, const math::Matrix4& b, f32 tolerance = 1e-5f)
{
    for (int i = 0; i < 16; ++i)
        if (std::fabs(a.m[i] - b.m[i]) > tolerance)
            return false;
    return true;
}

inline math::Quaternion turn(f32 angle, const math::Vector3& axis)
{
    return math::Quaternion::fromAxisAngle(angle, axis);
}

} // namespace quern::test
