#pragma once
// What culling produced: every node seen, the visible ones (what passes draw)
// and the culled ones, each in visiting order.

#include "quern/containers/Array.h"

namespace quern::scene {
class Node;
}

namespace quern::render {

struct RenderLists {
    RenderLists();
    ~RenderLists();
    RenderLists(const RenderLists&) = delete;
    RenderLists& operator=(const RenderLists&) = delete;

    void addVisible(scene::Node* node);
    void addCulled(scene::Node* node);
    // Empties the three lists, keeping their storage.
    void clear();

    u64 visibleCount() const { return visible.count(); }
    scene::Node* visibleNode(u64 index) const { return visible.at<scene::Node*>(index); }

    containers::Array all; // scene::Node*
    containers::Array visible; // scene::Node*
    containers::Array culled; // scene::Node*
};

} // namespace quern::render
