#include "harmonize/render/RenderTargetPool.h"

#include "quern/graphics/Channel.h"
#include "quern/graphics/PixelBufferFormat.h"
#include "quern/graphics/PixelFormat.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/platform/ErrorReporting.h"

namespace harmonize {
namespace {

using quern::graphics::ChannelContent;
using quern::graphics::PixelBufferFormat;
using quern::graphics::PixelFormat;

PixelFormat colourFormatOf(i32 code)
{
    switch (code) {
    case RenderTargetRequest::kColourB8G8R8: return PixelFormat::B8G8R8;
    case RenderTargetRequest::kColourB8G8R8A8: return PixelFormat::B8G8R8A8;
    case RenderTargetRequest::kDepth16: return PixelFormat::D16;
    case RenderTargetRequest::kDepth32: return PixelFormat::D32;
    default: return PixelFormat();
    }
}

PixelFormat depthFormatOf(i32 bits)
{
    const quern::graphics::Channel depth { ChannelContent::D, quern::graphics::ChannelType::Unsigned,
        static_cast<quern::u32>(bits), 0, 0 };
    return PixelFormat::fromOneChannel(depth, 0);
}

} // namespace

RenderTargetPool::RenderTargetPool(quern::graphics::Display& display, CreateTarget create)
    : m_display(display)
    , m_create(create ? create : &quern::graphics::TextureRenderTarget::createTextureRenderTarget)
{
}

quern::graphics::TextureRenderTarget* RenderTargetPool::target(u64 index) const
{
    return m_entries[index].target.get<quern::graphics::TextureRenderTarget>();
}

quern::graphics::TextureRenderTarget* RenderTargetPool::acquire(const RenderTargetRequest& request)
{
    for (Entry& entry : m_entries) {
        if (entry.useCount == 0 && entry.request == request) {
            ++entry.useCount;
            return entry.target.get<quern::graphics::TextureRenderTarget>();
        }
    }
    quern::graphics::TextureRenderTarget* made = create(request);
    if (!made)
        QUERN_FATAL("Failed to create render target");
    m_entries.push_back(Entry { quern::Ref(made), request, 1 });
    return made;
}

void RenderTargetPool::release(quern::graphics::TextureRenderTarget* target)
{
    for (Entry& entry : m_entries) {
        if (entry.target.get<quern::graphics::TextureRenderTarget>() == target && entry.useCount > 0) {
            --entry.useCount;
            return;
        }
    }
}

quern::graphics::TextureRenderTarget* RenderTargetPool::create(const RenderTargetRequest& request)
{
    const auto width = static_cast<quern::u32>(request.width);
    const auto height = static_cast<quern::u32>(request.height);
    PixelBufferFormat formats[2] = {
        PixelBufferFormat::create2D(width, height, colourFormatOf(request.colourFormat)),
        PixelBufferFormat::create2D(width, height, depthFormatOf(request.depthBits)),
    };
    const quern::graphics::TextureRenderTargetDescription description { formats, request.depthBits != 0 ? 2u : 1u };
    return m_create(description, m_display);
}

} // namespace harmonize
