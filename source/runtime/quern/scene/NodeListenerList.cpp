#include "quern/scene/NodeListenerList.h"

#include <algorithm>

namespace quern::scene {

NodeListenerList::~NodeListenerList() { removeAllListeners(); }

void NodeListenerList::notify(f32 a, f32 b) { notifyOwnListeners(a, b); }

void NodeListenerList::notifyOwnListeners(f32 a, f32 b)
{
    // A listener may remove itself while it is told.
    const std::vector<NodeListener*> listeners = m_listeners;
    for (NodeListener* listener : listeners) {
        listener->onNotify(a, b);
        if (listener->wantsOwnNotification)
            listener->onOwnNotify(a, b);
    }
}

void NodeListenerList::addListener(NodeListener* listener)
{
    if (!listener)
        return;
    RefCounted::retain(listener);
    listener->list = this;
    m_listeners.push_back(listener);
}

void NodeListenerList::removeListener(NodeListener* listener)
{
    const auto found = std::find(m_listeners.begin(), m_listeners.end(), listener);
    if (found == m_listeners.end())
        return;
    m_listeners.erase(found);
    listener->detach();
    listener->list = nullptr;
    RefCounted::release(listener);
}

void NodeListenerList::removeAllListeners()
{
    while (!m_listeners.empty())
        removeListener(m_listeners.back());
}

} // namespace quern::scene
