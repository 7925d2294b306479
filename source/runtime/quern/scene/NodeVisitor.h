#pragma once
// What the scene traversals call back. The flag says where a node stands:
// 0 outside (culled, or missed by a ray), 1 inside, 2 straddling the frustum
// or possibly hit by the ray.

#include "quern/Types.h"

namespace quern::scene {

class Camera;
class Light;
class Node;

class NodeVisitor {
public:
    enum Flag : u32 {
        Outside = 0,
        Inside = 1,
        Intersecting = 2,
    };

    virtual ~NodeVisitor() = default;
    virtual void begin(Node* root) = 0;
    virtual void end() = 0;
    virtual void visitNode(Node* node, u32 flag) = 0;
    virtual void visitLight(Light* light, u32 flag) = 0;
    virtual void visitCamera(Camera* camera, u32 flag) = 0;
};

} // namespace quern::scene
