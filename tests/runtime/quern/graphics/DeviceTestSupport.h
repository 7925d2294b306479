#pragma once
// A recording fake device for pixel-buffer, texture and render-target tests:
// images that adapt what they are asked for the way a real device does
// (power-of-two sizes, bottom-up rows, one stored pixel format) and record
// every upload; render targets that accept or refuse attachments by size; a
// display over that device; and log capture.

#include "support/LogCapture.h"
#include "quern/Types.h"
#include "quern/debug/Logger.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/TextureRenderTarget.h"

#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace quern::graphics::testing {

using Bytes = std::vector<u8>;

using quern::testing::LogCapture;

// How the fake device adapts a requested layout.
struct DeviceRules {
    bool powerOfTwo = false;            // sizes rounded to the nearest power of two
    bool keepMipLevels = false;         // a rounded layout keeps the requested mip count
    std::optional<u32> origin;          // the row order it stores
    std::optional<PixelFormat> storeAs; // the one pixel format it stores

    DeviceRules& roundToPowerOfTwo(bool keepMips = false)
    {
        powerOfTwo = true;
        keepMipLevels = keepMips;
        return *this;
    }
    DeviceRules& rowsFromBottom()
    {
        origin = 1u;
        return *this;
    }
    DeviceRules& storing(const PixelFormat& format)
    {
        storeAs = format;
        return *this;
    }
};

struct Upload {
    Bytes pixels; // the whole layout's dataSize bytes, as the device reads them
    u32 mipCount = 0;
};

class RecordingPixelBuffer final : public PixelBuffer {
public:
    explicit RecordingPixelBuffer(DeviceRules rules = {}, u32 usage = BufferUsage::Dynamic)
        : PixelBuffer(usage), rules(rules)
    {
    }

    void bind() override {}
    void unbind() override {}

    DeviceRules rules;
    std::vector<PixelBufferFormat> requests;
    std::vector<Upload> uploads;

protected:
    void createImpl(PixelBufferFormat& created, const PixelBufferFormat& requested, u32) override
    {
        requests.push_back(requested);
        created = requested;
        if (rules.powerOfTwo && !requested.isPowerOfTwo()) {
            const PixelBufferFormat rounded = requested.toNearestPowerOfTwo();
            created = PixelBufferFormat::create2D(rounded.width, rounded.height, requested.pixelFormat, 0,
                                                  rules.keepMipLevels ? static_cast<i32>(requested.mipCount) : 0,
                                                  requested.origin);
        }
        if (rules.storeAs)
            created = PixelBufferFormat::copyWithPixelFormat(created, *rules.storeAs);
        if (rules.origin)
            created.origin = *rules.origin;
    }

    void setDataImpl(const void* pixels, u32 mipCount) override
    {
        const u8* bytes = static_cast<const u8*>(pixels);
        uploads.push_back({Bytes(bytes, bytes + format().dataSize), mipCount});
        u8* destination = lockPixelsForWrite();
        std::copy(bytes, bytes + std::min(format().dataSize, byteSize()), destination);
        unlockPixels();
    }
};

// A target that accepts its attachments when `accepts` says so (default: always).
class FakeRenderTarget final : public TextureRenderTarget {
public:
    explicit FakeRenderTarget(bool usable = true) { setUsable(usable); }
    bool isComplete() override
    {
        ++completenessChecks;
        return !accepts || accepts(*this);
    }

    std::function<bool(const FakeRenderTarget&)> accepts;
    u32 completenessChecks = 0;
};

class FakeBackEnd final : public GraphicsBackEnd {
public:
    void init(const BackEndInitParams&) override {}
    void shutdown() override {}
    VertexBuffer* createVertexBuffer(u32) override { return nullptr; }
    IndexBuffer* createIndexBuffer(u32) override { return nullptr; }
    PixelBuffer* createPixelBuffer(u32 usage) override
    {
        pixelBufferUsages.push_back(usage);
        auto* image = new RecordingPixelBuffer(imageRules, usage);
        images.push_back(image);
        return image;
    }
    TextureRenderTarget* createRenderTarget() override
    {
        if (!makeTargets)
            return nullptr;
        auto* target = new FakeRenderTarget(targetsUsable);
        target->accepts = targetAccepts;
        return target;
    }
    OcclusionQuery* createQuery() override { return nullptr; }
    void setViewport(const i32[4]) override {}
    void clear(u32, const f32[4]) override {}
    void present() override {}
    DisplayCaps* getCapabilities() override { return &caps; }
    TextureRenderTarget* createWindowRenderTarget() override { return createRenderTarget(); }
    u32 allocateStateObject() override { return 0; }
    void destroyStateObject(u32) override {}
    void createStateObject(u32, Shader*, const VertexFormat*) override {}
    void bindStateObject(u32) override {}
    void unbindStateObject() override {}
    void bindTextures(u32, PixelBuffer* const[kMaxTextureBindings], u32) override {}
    void setUniforms(const ShaderProgramState*, const void*) override {}

    DisplayCaps caps = defaultCaps();
    DeviceRules imageRules;
    bool makeTargets = true;
    bool targetsUsable = true;
    std::function<bool(const FakeRenderTarget&)> targetAccepts;
    std::vector<u32> pixelBufferUsages;
    std::vector<RecordingPixelBuffer*> images; // not owned

    static DisplayCaps defaultCaps()
    {
        DisplayCaps caps;
        caps.maxTextureSize = 4096;
        caps.maxRenderbufferSize = 4096;
        caps.nonPowerOfTwoTargets = 1;
        return caps;
    }
};

class FakeDisplay final : public Display {
public:
    explicit FakeDisplay(FakeBackEnd& device) : Display(&device, GraphicsBackEndVersion::OpenGL) {}
    void setSwapInterval(i32) override {}
    input::InputBackEnd* createInputBackEnd() override { return nullptr; }
    void implOpen(DisplayMode&, const DisplayConfiguration&) override {}
    void enumerateModes(containers::Array&) override {}
};

// Installs a display as the global one for the test's lifetime.
class GlobalDisplay {
public:
    explicit GlobalDisplay(Display* display) : m_display(display) { Display::set(display); }
    ~GlobalDisplay() { Display::set(nullptr); }
    GlobalDisplay(const GlobalDisplay&) = delete;
    GlobalDisplay& operator=(const GlobalDisplay&) = delete;
    Display& display() const { return *m_display; }

private:
    Display* m_display;
};

// Pixel bytes of the buffer's whole layout.
inline Bytes pixelsOf(const PixelBuffer& buffer)
{
    const u8* data = buffer.lockPixels();
    Bytes bytes(data, data + buffer.format().dataSize);
    buffer.unlockPixels();
    return bytes;
}

} // namespace quern::graphics::testing
