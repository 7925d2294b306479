#pragma once
// Listeners that a node (and the visual it shows) tells about events that
// travel through the tree as two numbers. The list holds a reference on each.

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

#include <vector>

namespace quern::scene {

class NodeListenerList;

class NodeListener : public RefCounted {
public:
    virtual void onNotify(f32 a, f32 b) = 0;
    // Called as well when wantsOwnNotification is set.
    virtual void onOwnNotify(f32, f32) { }
    // Called when the listener leaves its list.
    virtual void detach() { }

    u8 wantsOwnNotification = 0;
    NodeListenerList* list = nullptr;
};

class NodeListenerList {
public:
    NodeListenerList() = default;
    virtual ~NodeListenerList();
    NodeListenerList(const NodeListenerList&) = delete;
    NodeListenerList& operator=(const NodeListenerList&) = delete;

    virtual void notify(f32 a, f32 b);

    // Retains the listener.
    void addListener(NodeListener* listener);
    // Detaches and releases it; a listener not in the list is ignored.
    void removeListener(NodeListener* listener);
    void removeAllListeners();
    u64 listenerCount() const { return m_listeners.size(); }

protected:
    // Tells only this list's listeners.
    void notifyOwnListeners(f32 a, f32 b);

private:
    std::vector<NodeListener*> m_listeners;
};

} // namespace quern::scene
