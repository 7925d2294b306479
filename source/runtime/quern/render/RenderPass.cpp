#include "quern/render/RenderPass.h"

#include "quern/graphics/Display.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/render/PassList.h"
#include "quern/render/RenderCommand.h"
#include "quern/render/RenderQueue.h"
#include "quern/render/Renderer.h"
#include "quern/render/ViewportRestorer.h"

#include <ostream>

namespace quern::render {

RenderPass::RenderPass()
    : m_queue(RenderQueue::create())
{
}

RenderPass::~RenderPass()
{
    delete m_queue;
    m_owner = nullptr;
    m_output.reset();
}

void RenderPass::replaceQueue(RenderQueue* queue)
{
    delete m_queue;
    m_queue = queue;
}

void RenderPass::invalidate()
{
    if (m_owner)
        m_owner->compiled = 0;
}

void RenderPass::replaceRecorded(Ref& slot, RefCounted* object)
{
    if (slot.object() == object)
        return;
    slot = object ? Ref(object) : Ref();
    invalidate();
}

void RenderPass::setOutput(graphics::TextureRenderTarget* target) { replaceRecorded(m_output, target); }

void RenderPass::recordCommands(RenderCommandList& list)
{
    list.setRenderTarget(output());
    list.clear(output(), clearFlags, clearColour, clearDepth);
}

void RenderPass::describe(std::ostream& out)
{
    out << m_name;
    if (!enabled)
        out << " (disabled)";
    out << "\n";
    if (graphics::TextureRenderTarget* target = output())
        out << "Outputs:\n" << target->describe() << "\n";
}

void RenderPass::render(RenderLists& lists, Renderer&, scene::Camera& camera) { m_queue->renderScene(lists, camera); }

void RenderPass::setUpOnce()
{
    if (m_setUp)
        return;
    setUp();
    m_setUp = 1;
}

void RenderPass::renderImmediate(Renderer& renderer, scene::Camera& camera)
{
    if (!enabled)
        return;
    setUpOnce();
    graphics::Display& display = *graphics::Display::get();
    graphics::TextureRenderTarget* target = output();
    if (!target) {
        if (clearFlags != 0)
            display.clear(clearFlags, clearColour);
        render(renderer.renderLists(), renderer, camera);
        return;
    }
    ViewportRestorer restorer(display);
    target->bind();
    display.setViewport(target->viewport());
    if (clearFlags != 0)
        display.clear(clearFlags, clearColour);
    render(renderer.renderLists(), renderer, camera);
    restorer.restore();
    target->unbind();
}

} // namespace quern::render
