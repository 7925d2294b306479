#include "quern/render/RenderCommand.h"

#include "quern/graphics/Display.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/math/Frustum.h"
#include "quern/render/Culler.h"
#include "quern/render/PassList.h"
#include "quern/render/RenderLists.h"
#include "quern/render/RenderPass.h"
#include "quern/render/RenderQueue.h"
#include "quern/scene/Camera.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quern::render {

namespace {

constexpr f32 kByteToFloat = 0.003921569f;

u32 colourByte(f32 channel)
{
    const f32 scaled = std::floor(channel * 255.0f + 0.5f);
    return static_cast<u32>(std::clamp(scaled, 0.0f, 255.0f));
}

u32 floatBits(f32 value)
{
    u32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

RenderCommand makeCommand(RenderCommand::Type type)
{
    RenderCommand command;
    command.type = type;
    return command;
}

bool drawsScene(const RenderCommand& command)
{
    return command.type == RenderCommand::RenderScene || command.type == RenderCommand::RenderVisual;
}

void runCull(RenderCommand& command)
{
    scene::Camera* camera = command.pointer<scene::Camera>(0);
    if (!camera || !command.renderLists)
        return;
    camera->refresh();
    const math::Frustum frustum(camera->viewMatrix(), camera->projectionMatrix());
    if (Culler* culler = command.pointer<Culler>(1)) {
        culler->cull(frustum, *command.renderLists);
        return;
    }
    SceneCuller& culler = SceneCuller::defaultCuller();
    culler.root = command.pointer<scene::Node>(2);
    culler.cull(frustum, *command.renderLists);
}

void runRenderVisual(RenderCommand& command)
{
    RenderQueue* queue = command.pointer<RenderQueue>(0);
    const math::Matrix4* projection = command.pointer<const math::Matrix4>(1);
    const math::Matrix4* worldView = command.pointer<const math::Matrix4>(2);
    visuals::Visual* visual = command.pointer<visuals::Visual>(3);
    if (!queue || !projection || !worldView || !visual)
        return;
    queue->setProjectionMatrix(*projection);
    queue->setWorldViewMatrix(*worldView);
    queue->setWorldViewProjectionMatrix(*projection * *worldView);
    RenderContext context;
    context.projectionMatrix = projection;
    context.worldViewMatrix = worldView;
    queue->submitVisual(visual, context);
    queue->flush(context);
}

void runClear(RenderCommand& command)
{
    if (!command.target)
        return;
    const u32 colourBytes = RenderCommand::high(command.operands[0]);
    const f32 colour[4] = { static_cast<f32>(colourBytes & 0xff) * kByteToFloat,
        static_cast<f32>((colourBytes >> 8) & 0xff) * kByteToFloat,
        static_cast<f32>((colourBytes >> 16) & 0xff) * kByteToFloat,
        static_cast<f32>(colourBytes >> 24) * kByteToFloat };
    // The device clears depth to 1.0; the recorded depth travels with the
    // command for targets that honour it.
    command.target->clear(RenderCommand::low(command.operands[0]), colour);
}

void runSetViewport(graphics::Display& display, const RenderCommand& command)
{
    i32 rect[4] = { static_cast<i32>(RenderCommand::low(command.operands[0])),
        static_cast<i32>(RenderCommand::high(command.operands[0])),
        static_cast<i32>(RenderCommand::low(command.operands[1])),
        static_cast<i32>(RenderCommand::high(command.operands[1])) };
    if (rect[2] <= 0) {
        graphics::TextureRenderTarget* target = command.target;
        const i32* own = target ? target->viewport() : nullptr;
        if (own && static_cast<i64>(own[2]) * own[3] > 0) {
            std::copy(own, own + 4, rect);
        } else if (target && target != display.context().windowRenderTarget) {
            rect[0] = rect[1] = 0;
            rect[2] = static_cast<i32>(target->width());
            rect[3] = static_cast<i32>(target->height());
        } else {
            const graphics::DisplayMode& mode = display.currentMode();
            rect[0] = rect[1] = 0;
            rect[2] = mode.drawableWidth > 0 ? mode.drawableWidth : mode.width;
            rect[3] = mode.drawableHeight > 0 ? mode.drawableHeight : mode.height;
        }
    }
    display.setViewport(rect);
}

} // namespace

void RenderCommand::release()
{
    switch (type) {
    case Cull:
        delete renderLists;
        renderLists = nullptr;
        break;
    case RenderScene:
    case RenderVisual:
        delete pointer<RenderQueue>(0);
        operands[0] = 0;
        break;
    default:
        break;
    }
}

RenderCommandList::RenderCommandList()
    : m_commands(sizeof(RenderCommand), alignof(RenderCommand))
{
}

RenderCommandList::~RenderCommandList()
{
    reset();
    m_commands.release();
}

void RenderCommandList::append(const RenderCommand& command) { m_commands.append(command); }

void RenderCommandList::setRenderTarget(graphics::TextureRenderTarget* target)
{
    RenderCommand bind = makeCommand(RenderCommand::SetRenderTarget);
    bind.target = target;
    append(bind);
    setViewport(nullptr);
}

void RenderCommandList::setViewport(const i32* rect)
{
    RenderCommand viewport = makeCommand(RenderCommand::SetViewport);
    if (rect) {
        viewport.operands[0] = RenderCommand::pack(static_cast<u32>(rect[0]), static_cast<u32>(rect[1]));
        viewport.operands[1] = RenderCommand::pack(static_cast<u32>(rect[2]), static_cast<u32>(rect[3]));
    } else {
        viewport.operands[1] = RenderCommand::pack(static_cast<u32>(-1), 0);
    }
    append(viewport);
}

void RenderCommandList::clear(graphics::TextureRenderTarget* target, u32 flags, const f32 colour[4], f32 depth)
{
    RenderCommand command = makeCommand(RenderCommand::Clear);
    const u32 bytes = colourByte(colour[0]) | (colourByte(colour[1]) << 8) | (colourByte(colour[2]) << 16)
        | (colourByte(colour[3]) << 24);
    command.operands[0] = RenderCommand::pack(flags, bytes);
    command.operands[1] = RenderCommand::pack(floatBits(depth), 0);
    command.target = target;
    append(command);
}

void RenderCommandList::cull(scene::Node* root, scene::Camera* camera)
{
    RenderCommand command = makeCommand(RenderCommand::Cull);
    command.setPointer(0, camera);
    command.setPointer(2, root);
    command.renderLists = new RenderLists();
    append(command);
}

void RenderCommandList::renderScene(
    scene::Node* root, scene::Camera* camera, RenderQueue* queue, Culler* culler, const i32* viewport)
{
    if (culler) {
        RenderCommand command = makeCommand(RenderCommand::Cull);
        command.setPointer(0, camera);
        command.setPointer(1, culler);
        command.renderLists = new RenderLists();
        append(command);
    } else {
        cull(root, camera);
    }
    setViewport(viewport);
    RenderCommand draw = makeCommand(RenderCommand::RenderScene);
    draw.setPointer(0, queue ? queue : RenderQueue::create());
    draw.setPointer(1, camera);
    append(draw);
}

void RenderCommandList::recordPasses(PassList& passes)
{
    reset();
    for (u64 i = 0; i < passes.passCount(); ++i) {
        RenderPass* pass = passes.pass(i);
        if (!pass->enabled)
            continue;
        pass->setUpOnce();
        pass->recordCommands(*this);
    }
}

void RenderCommandList::reset()
{
    for (u64 i = 0; i < m_commands.count(); ++i)
        at(i).release();
    m_commands.clear();
}

void RenderCommandList::compile(graphics::Display& display)
{
    graphics::DisplayContext& context = display.context();
    if (!context.windowRenderTarget)
        context.windowRenderTarget = display.backEnd()->createWindowRenderTarget();
    graphics::TextureRenderTarget* window = context.windowRenderTarget;

    const u64 count = m_commands.count();
    RenderCommand* commands = m_commands.dataAs<RenderCommand>();
    for (u64 i = 0; i < count; ++i) {
        RenderCommand& command = commands[i];
        const RenderCommand* previous = i ? &commands[i - 1] : nullptr;
        if (!command.target)
            command.target = (!previous || command.type == RenderCommand::SetRenderTarget) ? window : previous->target;
        if (!command.renderLists && previous)
            command.renderLists = previous->renderLists;
    }

    // The commands move into the new sequence: what they own stays owned once.
    containers::Array compiled(sizeof(RenderCommand), alignof(RenderCommand));
    bool targetSeen = false;
    for (u64 i = 0; i < count; ++i) {
        const RenderCommand& command = commands[i];
        if (command.type == RenderCommand::SetRenderTarget)
            targetSeen = true;
        if (drawsScene(command) && !targetSeen) {
            RenderCommand bind = makeCommand(RenderCommand::SetRenderTarget);
            bind.target = window;
            compiled.append(bind);
            RenderCommand viewport = makeCommand(RenderCommand::SetViewport);
            viewport.operands[1] = RenderCommand::pack(static_cast<u32>(-1), 0);
            viewport.target = window;
            compiled.append(viewport);
        }
        if (command.type == RenderCommand::Clear && RenderCommand::low(command.operands[0]) == 0)
            continue;
        compiled.append(command);
    }
    // The result, trimmed to its exact size, replaces the old storage.
    m_commands.release();
    if (compiled.count() != 0) {
        m_commands.reserve(compiled.count());
        m_commands.assign(compiled.data(), compiled.end());
    }
    compiled.release();
}

void RenderCommandList::execute(graphics::Display& display)
{
    const u64 count = m_commands.count();
    if (count == 0)
        return;
    display.beginRendering();
    for (u64 i = 0; i < count; ++i)
        run(display, at(i));
    if (graphics::TextureRenderTarget* last = at(count - 1).target)
        last->unbind();
    display.endRendering();
}

void RenderCommandList::run(graphics::Display& display, RenderCommand& command)
{
    switch (command.type) {
    case RenderCommand::Cull:
        runCull(command);
        break;
    case RenderCommand::RenderScene:
        if (RenderQueue* queue = command.pointer<RenderQueue>(0)) {
            scene::Camera* camera = command.pointer<scene::Camera>(1);
            if (camera && command.renderLists)
                queue->renderScene(*command.renderLists, *camera);
        }
        break;
    case RenderCommand::RenderVisual:
        runRenderVisual(command);
        break;
    case RenderCommand::Clear:
        runClear(command);
        break;
    case RenderCommand::SetRenderTarget:
        if (command.target)
            command.target->bind();
        break;
    case RenderCommand::SetViewport:
        runSetViewport(display, command);
        break;
    case RenderCommand::Custom:
        if (RenderCallback* callback = command.pointer<RenderCallback>(0))
            callback->run(command);
        break;
    default:
        break;
    }
}

} // namespace quern::render
