#include "quern/graphics/TextureRenderTarget.h"

#include "quern/debug/Log.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/language/Exception.h"

#include <algorithm>
#include <string>

namespace quern::graphics {
namespace {

constexpr u32 kRenderTargetImageFlags = 18;

void createImage(RenderTargetTexture& texture, const PixelBufferFormat& layout)
{
    PixelBuffer* image = texture.pixelBuffer();
    image->create(layout, image->createFlags());
    texture.setFormatClass(textureFormatClass(layout.pixelFormat));
    texture.markLoaded();
}

// The layout of one attached image at the target's size. Row pitch and data
// size are kept only when they still describe that size without mip levels.
PixelBufferFormat attachedLayout(const PixelBufferFormat& format, u32 width, u32 height)
{
    const bool keepSizes = width == format.width && height == format.height && format.mipCount == 0;
    return PixelBufferFormat::create(format.type, width, height, format.depth, format.pixelFormat,
                                     keepSizes ? format.rowPitch : 0, keepSizes ? format.dataSize : 0, 0,
                                     format.origin, format.layerCount);
}

std::string describeFormats(const TextureRenderTargetDescription& description)
{
    if (!description.formats || description.count == 0)
        return "no images";
    std::string text;
    for (u64 i = 0; i < description.count; ++i) {
        if (i)
            text += "; ";
        const PixelBufferFormat& format = description.formats[i];
        const bool printable =
            format.type >= PixelBufferFormat::Type::Image1D && format.type <= PixelBufferFormat::Type::CubeMap;
        text += printable ? format.toString() : "no layout";
    }
    return text;
}

[[noreturn]] void unsupported(const std::string& what)
{
    const std::string message = "Texture render target unsupported: " + what;
    QUERN_RAISE(Exception, message.c_str());
}

u32 adjustSide(u32 value, u32 maximum)
{
    if (value < 3)
        return 2;
    u32 side = 2;
    while (side < maximum && side < value)
        side *= 2;
    return side;
}

} // namespace

RenderTargetTexture::RenderTargetTexture()
{
    PixelBuffer* image = display()->backEnd()->createPixelBuffer(GraphicsBackEnd::RenderTargetImage);
    if (!image)
        image = new NullPixelBuffer;
    setPixelBuffer(image);
    image->create(PixelBufferFormat::create2D(512, 512, PixelFormat::B8G8R8, 0, 0, 0), kRenderTargetImageFlags);
    setFormatClass(ColourB8G8R8);
    markLoaded();
}

RenderTargetTexture* RenderTargetTexture::clone() const { return new RenderTargetTexture(*this); }

TextureRenderTarget::TextureRenderTarget() = default;

TextureRenderTarget::~TextureRenderTarget() = default;

void TextureRenderTarget::clear(u32, const f32[4]) {}

void TextureRenderTarget::printTextures(std::ostream&) {}

void TextureRenderTarget::readPixels(PixelBuffer&) {}

void TextureRenderTarget::setViewport(i32 x, i32 y, i32 width, i32 height)
{
    m_viewport[0] = x;
    m_viewport[1] = y;
    m_viewport[2] = width;
    m_viewport[3] = height;
}

void TextureRenderTarget::addTexture(Texture* texture)
{
    if (!texture)
        return;
    m_textures.emplace_back(texture);
    if (m_width != 0)
        return;
    if (const PixelBuffer* image = texture->pixelBuffer()) {
        m_width = image->format().width;
        m_height = image->format().height;
    }
    if (static_cast<i64>(m_viewport[2]) * m_viewport[3] <= 0)
        setViewport(0, 0, static_cast<i32>(m_width), static_cast<i32>(m_height));
}

void TextureRenderTarget::removeTexture(Texture* texture)
{
    std::erase_if(m_textures, [texture](const Ref& held) { return held.object() == texture; });
    if (!m_textures.empty())
        return;
    m_width = 0;
    m_height = 0;
    setViewport(0, 0, 0, 0);
}

std::string TextureRenderTarget::describe()
{
    std::string text;
    for (u64 i = 0; i < m_textures.size(); ++i) {
        if (i)
            text += "; ";
        text += texture(i)->getName();
    }
    return text;
}

Texture* TextureRenderTarget::findDepthTexture() const
{
    for (const Ref& held : m_textures) {
        Texture* candidate = held.get<Texture>();
        const PixelBuffer* image = candidate->pixelBuffer();
        if (image && image->pixelFormat().hasChannel(ChannelContent::D))
            return candidate;
    }
    return nullptr;
}

void TextureRenderTarget::adjustSize(const DisplayCaps& caps, u32& width, u32& height)
{
    const u32 adjustedWidth = adjustSide(width, caps.maxRenderbufferSize);
    const u32 adjustedHeight = adjustSide(height, caps.maxRenderbufferSize);
    if (adjustedWidth != width || adjustedHeight != height)
        QUERN_LOG(3) << "Creating render target with adjusted size: " << adjustedWidth << "x" << adjustedHeight
                     << " (requested: " << width << "x" << height << ")" << std::endl;
    width = adjustedWidth;
    height = adjustedHeight;
}

TextureRenderTarget* TextureRenderTarget::createTextureRenderTarget(const TextureRenderTargetDescription& description,
                                                                   Display& display)
{
    TextureRenderTarget* target = display.backEnd()->createRenderTarget();
    // A device that makes no usable target leaves nothing to attach to.
    if (!target || !target->isUsable() || !description.formats || description.count == 0) {
        if (target) {
            RefCounted::retain(target);
            RefCounted::release(target);
        }
        unsupported(describeFormats(description));
    }
    RefCounted::retain(target);

    const DisplayCaps* caps = display.getCapabilities();
    const bool powerOfTwoOnly = caps && !caps->nonPowerOfTwoTargets;
    u32 width = description.formats[0].width;
    u32 height = description.formats[0].height;
    if (powerOfTwoOnly)
        adjustSize(*caps, width, height);

    for (u64 i = 0; i < description.count; ++i) {
        const PixelBufferFormat& format = description.formats[i];
        RenderTargetTexture* texture = new RenderTargetTexture;
        const Ref holder(texture);
        createImage(*texture, attachedLayout(format, width, height));
        target->addTexture(texture);
        const PixelBufferFormat& made = texture->pixelBuffer()->format();
        target->setViewport(0, 0, static_cast<i32>(made.width), static_cast<i32>(made.height));
        if (target->isComplete())
            continue;

        // Refused: try the image's own size made a power of two.
        target->removeTexture(texture);
        u32 retryWidth = format.width;
        u32 retryHeight = format.height;
        if (caps)
            adjustSize(*caps, retryWidth, retryHeight);
        if (retryWidth == format.width && retryHeight == format.height)
            unsupported(describeFormats(description));
        createImage(*texture, PixelBufferFormat::create2D(retryWidth, retryHeight, format.pixelFormat, 0, 0, 0));
        target->addTexture(texture);
        const PixelBufferFormat& retried = texture->pixelBuffer()->format();
        target->setViewport(0, 0, static_cast<i32>(retried.width), static_cast<i32>(retried.height));
        if (!target->isComplete()) {
            target->removeTexture(texture);
            unsupported(describeFormats(description));
        }
        width = retryWidth;
        height = retryHeight;
    }
    RefCounted::decrementRef(target);
    return target;
}

} // namespace quern::graphics
