#include "quern/graphics/Display.h"

#include "quern/graphics/DisplayObjects.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/parameter/Parameter.h"
#include "quern/parameter/ParameterRegistry.h"

namespace quern::graphics {

namespace {

struct StatisticName {
    u64 id;
    const char* text;
};

constexpr StatisticName kStatisticNames[DisplayContext::kStatisticCount] = {
    { 0x0feaa6b5864ad2ddull, "Frames/second" },
    { 0x31c27860e805704dull, "Texture memory used" },
    { 0x37b2e7609dc5b11eull, "Vertex memory used" },
    { 0x2dcd5dcc4339d202ull, "Render target memory used" },
    { 0x37861e1f1d9ae880ull, "Free VRAM" },
};

} // namespace

DisplayContext::DisplayContext(GraphicsBackEnd* backEnd)
    : modes(sizeof(DisplayMode), 4)
    , stateObjectCache(new StateObjectCache(backEnd))
    , listeners(sizeof(DisplayListener*), alignof(DisplayListener*))
    , registry(&ParameterRegistry::instance())
{
    for (u32 i = 0; i < kStatisticCount; ++i) {
        statistics[i] = registry->getParameter(kStatisticsGroup, kStatisticNames[i].id);
        statistics[i]->setDisplayName(kStatisticNames[i].text);
    }
}

DisplayContext::~DisplayContext()
{
    caps = nullptr;
    destroyRenderTarget(windowRenderTarget);
    windowRenderTarget = nullptr;
    {
        debug::MutexLock lock(listenerLock);
        for (u64 i = 0; i < listeners.count(); ++i)
            listeners.at<DisplayListener*>(i)->detach();
        listeners.clear();
    }
    registry = nullptr;
    delete stateObjectCache;
    stateObjectCache = nullptr;
}

void DisplayContext::notifyListeners(const DisplayEvent& event)
{
    debug::MutexLock lock(listenerLock);
    // By index: a listener may register another buffer's listener while it
    // handles the event, which can move the list.
    for (u64 i = 0; i < listeners.count(); ++i)
        listeners.at<DisplayListener*>(i)->onDisplayEvent(event);
}

} // namespace quern::graphics
