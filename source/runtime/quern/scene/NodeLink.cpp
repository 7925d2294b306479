#include "quern/scene/NodeLink.h"

#include <algorithm>

namespace quern::scene {

LinkTarget::~LinkTarget() { clearLinks(); }

void LinkTarget::onLastReference() { clearLinks(); }

void LinkTarget::clearLinks()
{
    // A link removes itself from the list as it is told: walk a copy.
    const std::vector<NodeLink*> links = m_links;
    for (NodeLink* link : links)
        link->onTargetGone(this);
    m_links.clear();
}

NodeLink::~NodeLink() { set(nullptr); }

void NodeLink::set(LinkTarget* target)
{
    if (m_target == target)
        return;
    if (m_target)
        std::erase(m_target->m_links, this);
    m_target = target;
    if (m_target)
        m_target->m_links.push_back(this);
}

void NodeLink::onTargetGone(LinkTarget* target)
{
    if (m_target == target)
        set(nullptr);
}

} // namespace quern::scene
