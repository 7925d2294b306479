#include "quern/render/PassList.h"

#include "quern/parameter/ParameterRegistry.h"
#include "quern/render/RenderPass.h"
#include "quern/strings/PackedName.h"

namespace quern::render {

PassList::~PassList()
{
    if (m_display)
        m_display->removeListener(this);
    clearPasses();
    m_commandList.reset();
}

void PassList::addPass(RenderPass* pass)
{
    if (!pass)
        return;
    pass->setOwner(this);
    // Copy first: the reference may be one of the list's own.
    Ref held(pass);
    m_passes.push_back(std::move(held));
    compiled = 0;
}

void PassList::clearPasses()
{
    for (const Ref& held : m_passes)
        held.get<RenderPass>()->setOwner(nullptr);
    m_passes.clear();
    compiled = 0;
}

void PassList::enableStatistics()
{
    ParameterRegistry& registry = ParameterRegistry::instance();
    const u64 group = packName("renderer");
    registry.getParameter(group, packName("visibleNodes"));
    registry.getParameter(group, packName("triangles"));
    registry.getParameter(group, packName("vertices"));
    statistics = 1;
}

void PassList::onDisplayEvent(const graphics::DisplayEvent& event)
{
    if (event.type == graphics::DisplayEvent::Closing)
        compiled = 0;
}

void PassList::renderFrame(graphics::Display& display)
{
    if (m_display != &display) {
        if (m_display)
            m_display->removeListener(this);
        display.addListener(this);
        m_display = &display;
        compiled = 0;
    }
    if (!compiled) {
        m_commandList.recordPasses(*this);
        m_commandList.compile(display);
        compiled = 1;
    }
    m_commandList.execute(display);
}

} // namespace quern::render
