#pragma once
// Something the renderer draws into whose results land in textures: one or
// more attached textures (colour, depth) of one size. The device makes the
// target object; the factory here attaches the textures, shrinking sizes the
// device cannot take.

#include "quern/Types.h"
#include "quern/graphics/PixelBufferFormat.h"
#include "quern/graphics/Texture.h"
#include "quern/language/RefCounted.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace quern::graphics {

class Display;
class PixelBuffer;
struct DisplayCaps;

// A texture made for a render target: its image comes from the device as a
// render-target image.
class RenderTargetTexture : public Texture {
public:
    // A 512 x 512 B8G8R8 image, loaded.
    RenderTargetTexture();
    // A new texture sharing this one's image.
    RenderTargetTexture* clone() const;

    u32 tag() const { return m_tag; }

protected:
    RenderTargetTexture(const RenderTargetTexture& other) = default;

private:
    u32 m_tag = 4;
};

// One image format per texture to attach; the first one's width and height
// give the requested size.
struct TextureRenderTargetDescription {
    const PixelBufferFormat* formats = nullptr;
    u64 count = 0;
};

class TextureRenderTarget : public RefCounted {
public:
    TextureRenderTarget();
    // Releases every attached texture.
    ~TextureRenderTarget() override;

    // Makes the target current for drawing.
    virtual void bind() {}
    // Finishes drawing into the target.
    virtual void unbind() {}
    // Flags as the device's clear.
    virtual void clear(u32 flags, const f32 colour[4]);
    virtual void printTextures(std::ostream& stream);
    // Copies the first colour texture into `destination`.
    virtual void readPixels(PixelBuffer& destination);
    // Attaches the texture; the first one fixes the target's size.
    virtual void addTexture(Texture* texture);
    // Detaches every attachment of the texture; the last one empties the target.
    virtual void removeTexture(Texture* texture);
    virtual void setCubeFace(u32 face) { m_cubeFace = face; }
    // Whether the device accepts the attached images.
    virtual bool isComplete() { return true; }
    // The names of the attached textures, joined by "; ".
    virtual std::string describe();

    // The first attached texture whose image has a depth channel, or null.
    Texture* findDepthTexture() const;

    // A target for the described images, made by the display's device. A
    // target the device cannot make or does not accept is fatal.
    static TextureRenderTarget* createTextureRenderTarget(const TextureRenderTargetDescription& description,
                                                          Display& display);
    // The size a device without non-power-of-two targets can take: each side
    // the smallest power of two not below it, limited by the largest render
    // buffer (and at least 2). Logs an adjusted size.
    static void adjustSize(const DisplayCaps& caps, u32& width, u32& height);

    const i32* viewport() const { return m_viewport; }
    void setViewport(i32 x, i32 y, i32 width, i32 height);
    bool isUsable() const { return m_usable != 0; }
    bool sRGB() const { return m_sRGB != 0; }
    void setSRGB(bool on) { m_sRGB = on ? 1 : 0; }
    u32 width() const { return m_width; }
    u32 height() const { return m_height; }
    u32 cubeFace() const { return m_cubeFace; }
    u64 textureCount() const { return m_textures.size(); }
    Texture* texture(u64 index) const { return m_textures[index].get<Texture>(); }

protected:
    void setUsable(bool usable) { m_usable = usable ? 1 : 0; }

private:
    i32 m_viewport[4] = {0, 0, 0, 0};
    u8 m_usable = 1;
    u8 m_sRGB = 0;
    std::vector<Ref> m_textures;
    u32 m_width = 0;
    u32 m_height = 0;
    u32 m_reserved = 0;
    u32 m_cubeFace = 0;
};

} // namespace quern::graphics
