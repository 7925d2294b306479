#pragma once
// A self-contained immediate renderer: while a scene tree is culled it is the
// visitor that collects the visible nodes, the enabled lights and the
// cameras; then it runs its own passes at once. A renderer without passes
// repairs itself with one plain pass (and says so once).

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/language/RefCounted.h"
#include "quern/scene/NodeVisitor.h"

#include <iosfwd>
#include <memory>
#include <vector>

namespace quern {
class Parameter;
}

namespace quern::visuals {
class Visual;
}

namespace quern::render {

class RenderPass;
struct RenderLists;

class Renderer : public RefCounted, public scene::NodeVisitor {
public:
    Renderer();
    ~Renderer() override;

    // The frame's start: empties the lights, cameras and render lists.
    void begin(scene::Node* root) override;
    void end() override { }
    // Shown nodes with a visual: visible unless the flag is 0.
    void visitNode(scene::Node* node, u32 flag) override;
    // Enabled lights, wherever they are.
    void visitLight(scene::Light* light, u32 flag) override;
    void visitCamera(scene::Camera* camera, u32 flag) override;
    // Every pass at once, between the display's frame hooks.
    virtual void render(scene::Camera& camera);
    virtual void addPass(RenderPass* pass);
    // Removes every reference to the pass.
    virtual void removePass(RenderPass* pass);
    virtual void describe(std::ostream& out);

    // Culls the tree from the camera and renders; the display's viewport
    // is restored afterwards.
    void renderFromCamera(scene::Node* root, scene::Camera& camera);
    // The visible-node counter, and the triangle and vertex counters when
    // anyone listens to them.
    void updateStatistics();
    // Triangles (or lines, points) a visual draws; 0 without geometry.
    static u64 countPrimitives(visuals::Visual* visual);

    RenderLists& renderLists() { return *m_lists; }
    u64 lightCount() const { return m_lights.count(); }
    scene::Light* light(u64 index) const { return m_lights.at<scene::Light*>(index); }
    u64 cameraCount() const { return m_cameras.count(); }
    scene::Camera* camera(u64 index) const { return m_cameras.at<scene::Camera*>(index); }
    u64 passCount() const { return m_passes.size(); }
    RenderPass* pass(u64 index) const { return m_passes[index].get<RenderPass>(); }

    Parameter* visibleNodesCounter = nullptr;
    Parameter* trianglesCounter = nullptr;
    Parameter* verticesCounter = nullptr;
    u8 statistics = 0;
    // Used when its area is above 0.
    i32 viewport[4] = { 0, 0, 0, 0 };

private:
    containers::Array m_lights; // scene::Light*
    containers::Array m_cameras; // scene::Camera*
    std::vector<Ref> m_passes;
    std::unique_ptr<RenderLists> m_lists;
};

} // namespace quern::render
