#pragma once
// Weak references between scene objects. A link points at a target without
// keeping it alive; the target knows every link that points at it and clears
// them when it goes away, so a child never keeps its parent alive and a camera
// never keeps the node it looks at alive.

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

#include <vector>

namespace quern::scene {

class NodeLink;

class LinkTarget : public RefCounted {
public:
    LinkTarget() = default;
    // Clears every link still pointing here.
    ~LinkTarget() override;

    u64 linkCount() const { return m_links.size(); }

protected:
    // The links see no target from now on, even before the object is gone.
    void onLastReference() override;
    void clearLinks();

private:
    friend class NodeLink;
    std::vector<NodeLink*> m_links;
};

class NodeLink {
public:
    NodeLink() = default;
    virtual ~NodeLink();
    NodeLink(const NodeLink&) = delete;
    NodeLink& operator=(const NodeLink&) = delete;

    // Moves the link from its old target's list to the new one's (once).
    void set(LinkTarget* target);
    LinkTarget* get() const { return m_target; }
    template <class T> T* getAs() const { return static_cast<T*>(m_target); }
    explicit operator bool() const { return m_target != nullptr; }

    // The target is going away: the link forgets it.
    virtual void onTargetGone(LinkTarget* target);

private:
    LinkTarget* m_target = nullptr;
};

} // namespace quern::scene
