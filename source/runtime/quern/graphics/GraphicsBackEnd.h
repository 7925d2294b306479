#pragma once
// The graphics device under a Display: device-side buffers, images, render
// targets and queries, the viewport, clearing and presenting, the device's
// capabilities, and the compiled render-state objects that the state-object
// cache builds from Shaders. The OpenGL device and the null device implement it.

#include "quern/Types.h"
#include "quern/graphics/ShaderLanguage.h"

namespace quern::memory {
class Allocator;
}

namespace quern::graphics {

class Display;
class DisplayWindow;
class IndexBuffer;
class PixelBuffer;
class Shader;
class ShaderProgramState;
class StateObjectCache;
class TextureRenderTarget;
class VertexBuffer;
class VertexFormat;
struct DisplayConfiguration;
struct DisplayMode;

// Which kind of device a display runs; it selects the shading language.
enum class GraphicsBackEndVersion : u32 {
    Null = 1,
    OpenGL = 17,
    OpenGL2 = 18,
    OpenGL3 = 19,
    OpenGLFamily = 257,
    HLSL = 33,
    PSSL = 65,
    GXP = 129,
};

// Fatal "Invalid enum value for type GraphicsBackEndVersion" for other codes.
ShaderLanguage shadingLanguageForVersion(GraphicsBackEndVersion version);
// Codes 0x10..0x1f in the second nibble are the OpenGL devices.
constexpr bool isOpenGLVersion(GraphicsBackEndVersion version) { return (static_cast<u32>(version) & 0xff0u) == 0x10u; }

// What a device can do. The device owns the record; the display caches a pointer.
struct DisplayCaps {
    i32 vendorKind = 0;
    i32 driverKind = 0;
    u8 queried = 0; // set by the display when it caches the record
    u8 spare0 = 0;
    u8 featureFlag = 0;
    // When 0, render-target sizes are rounded up to powers of two.
    u8 nonPowerOfTwoTargets = 0;
    u8 floatTextures = 0;
    u8 mipmapGeneration = 0;
    u8 spare1 = 0;
    u8 spare2 = 0;
    u32 textureUnits = 0;
    u32 maxTextureSize = 0;
    u32 max3DTextureSize = 0;
    u32 maxRenderbufferSize = 0;
    u32 spare3 = 0;
    f32 maxAnisotropy = 1.0f;
    u32 maxSamples = 0;
    u32 limit = 0;
    u32 vramMegabytes = 0;
    i32 apiVersion = 0; // major * 100 + minor * 10
    i32 apiVersionCopy = 0;
    i32 shadingLanguageVersion = 0;
    i32 one = 0;
    u8 ARB_debug_output = 0;
    u8 ARB_draw_buffers = 0;
    u8 ARB_fragment_program = 0;
    u8 ARB_framebuffer_object = 0;
    u8 ARB_half_float_pixel = 0;
    u8 ARB_imaging = 0;
    u8 ARB_texture_float = 0;
    u8 ARB_texture_multisample = 0;
    u8 ARB_texture_non_power_of_two = 0;
    u8 ARB_texture_rectangle = 0;
    u8 ARB_vertex_buffer_object = 0;
    u8 ARB_vertex_program = 0;
    u8 EXT_framebuffer_blit = 0;
    u8 EXT_framebuffer_multisample = 0;
    u8 EXT_framebuffer_object = 0;
    u8 EXT_framebuffer_sRGB = 0;
    u8 EXT_paletted_texture = 0;
    u8 EXT_texture_filter_anisotropic = 0;
    u8 EXT_texture_sRGB = 0;
    u8 EXT_texture_compression_s3tc = 0;
    u8 SGIS_generate_mipmap = 0;
    u8 EXT_swap_control_tear = 0;
    u8 APPLE_framebuffer_multisample = 0;
    u8 OES_texture_3D = 0;
    u8 OES_vertex_array_object = 0;
    // Set by the game when vertex buffer objects are switched off, and by a
    // device whose driver handles them badly.
    u8 vertexBuffersDisabled = 0;
    // The driver's own mipmap generation is unreliable; generated mipmaps
    // follow the same switch.
    u8 driverMipmapsDisabled = 0;
    u8 generatedMipmapsDisabled = 0;
};

// What a display hands its device when it opens.
struct BackEndInitParams {
    u64 maxStateObjects = 0;
    StateObjectCache* stateObjectCache = nullptr;
    memory::Allocator* allocator = nullptr;
    DisplayWindow* window = nullptr;
    const DisplayMode* mode = nullptr;
    const DisplayConfiguration* configuration = nullptr;
};

// An occlusion query made by the device.
class OcclusionQuery {
public:
    virtual ~OcclusionQuery() = default;
    virtual void begin() = 0;
    virtual void end() = 0;
    // True with the sample count when the result is available.
    virtual bool getResult(u32& samples) = 0;
};

class GraphicsBackEnd {
public:
    // Bits of clear's flags.
    enum ClearFlags : u32 {
        ClearColour = 1,
        ClearDepth = 2,
        ClearStencil = 4,
    };
    // Usages of createPixelBuffer.
    enum PixelBufferUsage : u32 {
        TextureImage = 1,
        RenderTargetImage = 2,
    };
    static constexpr u32 kMaxTextureBindings = 8;

    virtual ~GraphicsBackEnd() = default;

    virtual void init(const BackEndInitParams& params) = 0;
    virtual void shutdown() = 0;
    // `usage` holds BufferUsage bits.
    virtual VertexBuffer* createVertexBuffer(u32 usage) = 0;
    virtual IndexBuffer* createIndexBuffer(u32 usage) = 0;
    virtual PixelBuffer* createPixelBuffer(u32 usage) = 0;
    virtual TextureRenderTarget* createRenderTarget() = 0;
    virtual OcclusionQuery* createQuery() = 0;
    // {x, y, width, height}; a zero-area rectangle changes nothing on the device.
    virtual void setViewport(const i32 rect[4]) = 0;
    // Depth is cleared to 1.0, with the scissor test off.
    virtual void clear(u32 flags, const f32 colour[4]) = 0;
    virtual void present() = 0;
    virtual DisplayCaps* getCapabilities() = 0;
    // A new render target over the window's own frame buffer.
    virtual TextureRenderTarget* createWindowRenderTarget() = 0;
    virtual u32 allocateStateObject() = 0;
    virtual void destroyStateObject(u32 handle) = 0;
    // (Re)builds the device state of the Shader's render states and the vertex
    // format's attribute bindings under an existing handle.
    virtual void createStateObject(u32 handle, Shader* shader, const VertexFormat* format) = 0;
    virtual void bindStateObject(u32 handle) = 0;
    virtual void unbindStateObject() = 0;
    // Binds images[0..count) to units 0..count-1 with the bound state object's sampling.
    virtual void bindTextures(u32 stage, PixelBuffer* const images[kMaxTextureBindings], u32 count) = 0;
    // Uploads the state's uniform lists to the bound state object's program.
    virtual void setUniforms(const ShaderProgramState* state, const void* context) = 0;
    // Does nothing on every device.
    virtual void reservedOperation() { }
};

} // namespace quern::graphics
