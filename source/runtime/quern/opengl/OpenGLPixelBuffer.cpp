#include "quern/opengl/OpenGLPixelBuffer.h"

#include "quern/containers/Array.h"
#include "quern/debug/Log.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/PixelFormatError.h"
#include "quern/graphics/filters/MipmapFilter.h"
#include "quern/graphics/iterators/MipmapIterator.h"
#include "quern/opengl/GLContext.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLException.h"
#include "quern/opengl/OpenGLPixelFormat.h"
#include "quern/parameter/Parameter.h"
#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace quern::opengl {
namespace {

using graphics::ChannelContent;
using graphics::PixelBufferFormat;
using graphics::PixelFormat;
using LayoutType = PixelBufferFormat::Type;

containers::Array& textureNames()
{
    static containers::Array names(sizeof(u32), alignof(u32));
    return names;
}

void addTextureMemory(f64 bytes)
{
    graphics::Display* display = graphics::Display::current();
    if (!display)
        return;
    Parameter* statistic = display->context().statistic(graphics::DisplayStatistic::TextureMemoryUsed);
    statistic->setValue(static_cast<f32>(statistic->value() + bytes));
}

u32 faceCount(u32 target) { return target == GL_TEXTURE_CUBE_MAP ? 6 : 1; }

u32 faceTarget(u32 target, u32 face)
{
    return target == GL_TEXTURE_CUBE_MAP ? GL_TEXTURE_CUBE_MAP_POSITIVE_X + face : target;
}

u32 targetFor(const PixelBufferFormat& layout, const graphics::DisplayCaps& caps)
{
    switch (layout.type) {
    case LayoutType::Image1D:
        return GL_TEXTURE_1D;
    case LayoutType::Image2D:
        return layout.layerCount > 1 && caps.ARB_texture_multisample ? GL_TEXTURE_2D_MULTISAMPLE : GL_TEXTURE_2D;
    case LayoutType::Volume:
        return GL_TEXTURE_3D;
    case LayoutType::CubeMap:
        return GL_TEXTURE_CUBE_MAP;
    default:
        QUERN_FATAL("Invalid pixel buffer format type");
    }
}

// The generic compressed form of an uncompressed internal format; others are kept.
u32 genericCompressed(u32 internal)
{
    switch (internal) {
    case GL_ALPHA:
        return GL_COMPRESSED_ALPHA;
    case GL_RGB:
    case GL_RGB8:
        return GL_COMPRESSED_RGB;
    case GL_RGBA:
    case GL_RGBA8:
        return GL_COMPRESSED_RGBA;
    case GL_LUMINANCE:
        return GL_COMPRESSED_LUMINANCE;
    case GL_LUMINANCE_ALPHA:
        return GL_COMPRESSED_LUMINANCE_ALPHA;
    case GL_INTENSITY:
        return GL_COMPRESSED_INTENSITY;
    default:
        QUERN_LOG(2) << "Can't compress internal format " << glEnumName(internal) << std::endl;
        return internal;
    }
}

// Every channel needs a content, a type (but filler bits) and a size (but depth,
// stencil and block channels).
bool isComplete(const PixelFormat& format)
{
    if (format.channelCount == 0)
        return false;
    for (u32 i = 0; i < format.channelCount; ++i) {
        const graphics::Channel& channel = format.channels[i];
        if (channel.content == ChannelContent::None)
            return false;
        if (channel.type == graphics::ChannelType::None && channel.content != ChannelContent::X)
            return false;
        // The alpha marker of DXT1 with alpha is a block channel without bits of its own.
        if (channel.bits == 0 && channel.content != ChannelContent::D && channel.content != ChannelContent::S
            && channel.type != graphics::ChannelType::Compressed)
            return false;
    }
    return true;
}

GLFormatTriple mappedOrFallback(const PixelFormat& requested)
{
    GLFormatTriple triple = toGLFormat(requested);
    if (triple.isMapped())
        return triple;
    triple = toGLFormat(requested.hasChannel(ChannelContent::A) ? PixelFormat::A8B8G8R8 : PixelFormat::B8G8R8);
    if (!triple.isMapped())
        QUERN_RAISE_UNSUPPORTED_PIXEL_FORMAT(requested);
    return triple;
}

} // namespace

u32 genTexture()
{
    GLuint name = 0;
    glGenTextures(1, &name);
    textureNames().append<u32>(name);
    return name;
}

void deleteTexture(u32 name)
{
    containers::Array& names = textureNames();
    u32* first = names.dataAs<u32>();
    u32* kept = std::remove(first, first + names.count(), name);
    names.expand(static_cast<u64>(kept - first));
    const GLuint glName = name;
    glDeleteTextures(1, &glName);
    if (names.isEmpty())
        QUERN_LOG(3) << "All OpenGL texture objects deleted" << std::endl;
}

u64 textureNameCount() { return textureNames().count(); }

u32 textureNameAt(u64 index) { return textureNames().at<u32>(index); }

u32 paletteTableSize(u32 entryCount)
{
    u32 size = 1;
    while (size < entryCount)
        size *= 2;
    return size;
}

OpenGLPixelBuffer::OpenGLPixelBuffer(u32 usage, const graphics::DisplayCaps* caps)
    : PixelBuffer(usage)
    , m_caps(caps)
    , m_type(GL_UNSIGNED_BYTE)
    , m_target(GL_TEXTURE_2D)
{
}

OpenGLPixelBuffer::~OpenGLPixelBuffer() { discard(); }

i32 OpenGLPixelBuffer::chooseMipmapMode(
    const PixelBufferFormat& layout, u32 flags, u32 usage, const graphics::DisplayCaps& caps)
{
    if (layout.mipCount > 0)
        return GivenLevels;
    if ((flags & NoMipLevels) || static_cast<u64>(layout.width) * layout.height * std::max(layout.depth, 1u) <= 1
        || usage == graphics::GraphicsBackEnd::RenderTargetImage)
        return NoMipmaps;
    if (layout.pixelFormat.hasCompressedChannel()) {
        QUERN_LOG(2) << "Can't generate mipmaps for compressed textures!" << std::endl;
        return NoMipmaps;
    }
    if (layout.pixelFormat.hasChannel(ChannelContent::P)) {
        QUERN_LOG(2) << "Can't generate mipmaps for color-indexed textures!" << std::endl;
        return NoMipmaps;
    }
    if ((caps.ARB_framebuffer_object || caps.EXT_framebuffer_object) && !caps.generatedMipmapsDisabled)
        return GenerateMipmap;
    if (caps.SGIS_generate_mipmap && !caps.driverMipmapsDisabled && layout.type != LayoutType::CubeMap)
        return GenerateParameter;
    if (layout.type == LayoutType::Volume) {
        QUERN_LOG(2) << "Can't generate mipmaps for 3D textures!" << std::endl;
        return NoMipmaps;
    }
    if (layout.type == LayoutType::Image1D) {
        QUERN_LOG(2) << "Can't generate mipmaps for 1D textures!" << std::endl;
        return NoMipmaps;
    }
    return FilteredLevels;
}

void OpenGLPixelBuffer::createImpl(PixelBufferFormat& created, const PixelBufferFormat& requested, u32 flags)
{
    glGetError();
    GLFormatTriple triple = mappedOrFallback(requested.pixelFormat);
    triple.internalFormat = (flags & SRGB) ? sRGBPartner(triple.internalFormat) : linearPartner(triple.internalFormat);
    checkDeviceFormat(triple, *m_caps);
    QUERN_LOG(5) << "Creating OpenGL texture with format " << glEnumName(triple.internalFormat) << ", "
                 << glEnumName(triple.format) << ", " << glEnumName(triple.type) << std::endl;

    if (m_name)
        deleteTexture(m_name);
    m_target = targetFor(requested, *m_caps);
    // A refilled image keeps its texture when the target stays: re-creating
    // GL textures costs the driver fresh storage every time.
    if (m_parkedName && m_parkedTarget == m_target) {
        m_name = m_parkedName;
        resetParameters();
    } else {
        if (m_parkedName)
            deleteTexture(m_parkedName);
        m_name = genTexture();
    }
    m_parkedName = 0;
    m_format = triple.format;
    m_type = triple.type;
    m_internalFormat = triple.internalFormat;

    u32 width = requested.width;
    u32 height = requested.height;
    u32 depth = requested.depth;
    const bool compressed = fromGLFormat(triple).hasCompressedChannel();
    if (compressed) {
        // S3TC levels are allocated by their uploads; other block formats never map.
        if (glGetError() != GL_NO_ERROR)
            QUERN_RAISE(Exception, (std::string("Invalid OpenGL format ") + glEnumName(m_internalFormat)).c_str());
    } else {
        width = std::min(width, m_caps->maxTextureSize);
        height = std::min(height, m_caps->maxTextureSize);
        depth = std::min(depth, m_caps->max3DTextureSize);
        if (flags & StoreCompressed)
            m_internalFormat = genericCompressed(m_internalFormat);
        triple.internalFormat = m_internalFormat = allocateStorage(width, height, depth, requested.layerCount, flags);
    }

    PixelFormat pixelFormat = fromGLFormat(triple);
    if (!isComplete(pixelFormat))
        QUERN_RAISE_UNSUPPORTED_PIXEL_FORMAT(pixelFormat);
    if (!compressed)
        pixelFormat = pixelFormat.reversed();

    m_mipmapMode = chooseMipmapMode(requested, flags, usage(), *m_caps);
    // Given levels stay as many as were given; made levels form the full chain.
    u32 mipCount = requested.mipCount;
    if (m_mipmapMode != NoMipmaps && m_mipmapMode != GivenLevels)
        mipCount = PixelBufferFormat::computeFullMipCount(width, height, depth);
    if (m_mipmapMode == NoMipmaps)
        mipCount = 0;
    created = PixelBufferFormat::create(
        requested.type, width, height, depth, pixelFormat, 0, 0, static_cast<i32>(mipCount), 1, requested.layerCount);
    m_definedLevels = 0;
    addTextureMemory(static_cast<f64>(created.dataSize));
}

u32 OpenGLPixelBuffer::allocateStorage(u32 width, u32 height, u32 depth, i32 samples, u32 flags)
{
    const GLint internal = static_cast<GLint>(m_internalFormat);
    const GLsizei w = static_cast<GLsizei>(width);
    const GLsizei h = static_cast<GLsizei>(height);
    glBindTexture(m_target, m_name);
    switch (m_target) {
    case GL_TEXTURE_1D:
        glTexImage1D(m_target, 0, internal, w, 0, m_format, m_type, nullptr);
        break;
    case GL_TEXTURE_2D:
    case GL_TEXTURE_RECTANGLE:
        glTexImage2D(m_target, 0, internal, w, h, 0, m_format, m_type, nullptr);
        break;
    case GL_TEXTURE_3D:
        glTexImage3D(m_target, 0, internal, w, h, static_cast<GLsizei>(depth), 0, m_format, m_type, nullptr);
        break;
    case GL_TEXTURE_CUBE_MAP:
        for (u32 face = 0; face < 6; ++face)
            glTexImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, 0, internal, w, h, 0, m_format, m_type, nullptr);
        break;
    case GL_TEXTURE_2D_MULTISAMPLE:
        glTexImage2DMultisample(m_target, static_cast<GLsizei>(std::max(samples, 1)), m_internalFormat, w, h, GL_FALSE);
        break;
    default:
        QUERN_FATAL("Unsupported pixel buffer format");
    }
    GLint allocated = 0;
    glGetTexLevelParameteriv(faceTarget(m_target, 0), 0, GL_TEXTURE_INTERNAL_FORMAT, &allocated);
    if (m_target != GL_TEXTURE_2D_MULTISAMPLE) {
        if (flags & ClampedLinear) {
            glTexParameterf(m_target, GL_TEXTURE_WRAP_S, static_cast<GLfloat>(GL_CLAMP_TO_EDGE));
            glTexParameterf(m_target, GL_TEXTURE_WRAP_T, static_cast<GLfloat>(GL_CLAMP_TO_EDGE));
            glTexParameterf(m_target, GL_TEXTURE_WRAP_R, static_cast<GLfloat>(GL_CLAMP_TO_EDGE));
        }
        if ((flags & ClampedLinear) || m_target == GL_TEXTURE_RECTANGLE) {
            glTexParameterf(m_target, GL_TEXTURE_MAG_FILTER, static_cast<GLfloat>(GL_LINEAR));
            glTexParameterf(m_target, GL_TEXTURE_MIN_FILTER, static_cast<GLfloat>(GL_LINEAR));
        }
    }
    glBindTexture(m_target, 0);
    return allocated ? static_cast<u32>(allocated) : m_internalFormat;
}

// A kept texture starts again with GL's default sampling and level range.
void OpenGLPixelBuffer::resetParameters()
{
    if (m_target == GL_TEXTURE_2D_MULTISAMPLE)
        return;
    glBindTexture(m_target, m_name);
    glTexParameteri(m_target, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(m_target, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(m_target, GL_TEXTURE_WRAP_R, GL_REPEAT);
    glTexParameteri(m_target, GL_TEXTURE_MIN_FILTER, GL_NEAREST_MIPMAP_LINEAR);
    glTexParameteri(m_target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(m_target, GL_TEXTURE_MAX_LEVEL, 1000);
    glBindTexture(m_target, 0);
}

// Depth images and multisample textures take no pixels from memory.
bool OpenGLPixelBuffer::transfersPixels() const
{
    return m_format != GL_DEPTH_COMPONENT && m_target != GL_TEXTURE_2D_MULTISAMPLE;
}

void OpenGLPixelBuffer::uploadLevels(const u8* pixels, u32 lastLevel)
{
    const PixelBufferFormat& layout = format();
    const u32 faces = faceCount(m_target);
    PixelBufferFormat walked = layout;
    walked.mipCount = std::min(lastLevel, layout.mipCount);
    for (u32 face = 0; face < faces; ++face) {
        u8* faceData = const_cast<u8*>(pixels) + face * (layout.dataSize / faces);
        graphics::MipmapIterator it(faceData, walked);
        for (; it.current != it.end; it.next()) {
            const GLint level = static_cast<GLint>(it.levelIndex);
            const u32 target = faceTarget(m_target, face);
            const GLsizei w = static_cast<GLsizei>(it.level.width);
            const GLsizei h = static_cast<GLsizei>(it.level.height);
            const GLsizei d = static_cast<GLsizei>(it.level.depth);
            glGetError();
            glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
            if (it.compressed) {
                const GLsizei size = static_cast<GLsizei>(it.levelSize);
                if (m_target == GL_TEXTURE_1D)
                    glCompressedTexImage1D(target, level, m_internalFormat, w, 0, size, it.current);
                else if (m_target == GL_TEXTURE_3D)
                    glCompressedTexImage3D(target, level, m_internalFormat, w, h, d, 0, size, it.current);
                else
                    glCompressedTexImage2D(target, level, m_internalFormat, w, h, 0, size, it.current);
            } else {
                const GLint internal = static_cast<GLint>(m_internalFormat);
                if (m_target == GL_TEXTURE_1D)
                    glTexImage1D(target, level, internal, w, 0, m_format, m_type, it.current);
                else if (m_target == GL_TEXTURE_3D)
                    glTexImage3D(target, level, internal, w, h, d, 0, m_format, m_type, it.current);
                else
                    glTexImage2D(target, level, internal, w, h, 0, m_format, m_type, it.current);
            }
            QUERN_CHECK_GL_ERROR();
        }
    }
}

void OpenGLPixelBuffer::setDataImpl(const void* pixels, u32 mipCount)
{
    if (!transfersPixels() || !m_name || !pixels)
        return;
    const u8* bytes = static_cast<const u8*>(pixels);
    containers::ElementBuffer filtered;
    if (m_mipmapMode == FilteredLevels && mipCount < format().mipCount) {
        filtered.setSize(format().dataSize);
        std::memcpy(filtered.data(), bytes, format().dataSize);
        graphics::filters::buildMipLevels(filtered.data(), format(), mipCount + 1);
        bytes = filtered.data();
    }
    glBindTexture(m_target, m_name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    switch (m_mipmapMode) {
    case GivenLevels:
    case FilteredLevels:
        m_definedLevels = m_mipmapMode == GivenLevels ? std::min(mipCount, format().mipCount) : format().mipCount;
        uploadLevels(bytes, m_definedLevels);
        glTexParameteri(m_target, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(m_definedLevels));
        break;
    case GenerateMipmap:
        uploadLevels(bytes, 0);
        glGenerateMipmap(m_target);
        m_definedLevels = format().mipCount;
        break;
    case GenerateParameter:
        glTexParameteri(m_target, GL_GENERATE_MIPMAP, GL_TRUE);
        uploadLevels(bytes, 0);
        glTexParameteri(m_target, GL_GENERATE_MIPMAP, GL_FALSE);
        m_definedLevels = format().mipCount;
        break;
    default:
        uploadLevels(bytes, 0);
        glTexParameteri(m_target, GL_TEXTURE_MAX_LEVEL, 0);
        m_definedLevels = 0;
        break;
    }
    glBindTexture(m_target, 0);
}

void OpenGLPixelBuffer::readBack(u8* destination)
{
    if (!transfersPixels())
        return;
    const PixelBufferFormat& layout = format();
    const u32 faces = faceCount(m_target);
    PixelBufferFormat walked = layout;
    walked.mipCount = std::min(m_definedLevels, layout.mipCount);
    glBindTexture(m_target, m_name);
    for (u32 face = 0; face < faces; ++face) {
        graphics::MipmapIterator it(destination + face * (layout.dataSize / faces), walked);
        for (; it.current != it.end; it.next()) {
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            const GLint level = static_cast<GLint>(it.levelIndex);
            if (it.compressed)
                glGetCompressedTexImage(faceTarget(m_target, face), level, it.current);
            else
                glGetTexImage(faceTarget(m_target, face), level, m_format, m_type, it.current);
        }
    }
    glBindTexture(m_target, 0);
}

// A zeroed system copy of the whole image, owned by the buffer.
void OpenGLPixelBuffer::installSystemCopy()
{
    const u64 bytes = format().dataSize;
    void* block = bytes ? allocateBufferMemory(bytes) : nullptr;
    if (block)
        std::memset(block, 0, bytes);
    adopt(block, bytes, block != nullptr);
}

// The texture holds the image again: only the size stays.
void OpenGLPixelBuffer::dropSystemCopy() { adopt(nullptr, format().dataSize, false); }

void OpenGLPixelBuffer::setSize(u64 bytes)
{
    if (m_name && bytes) {
        adopt(nullptr, bytes, false);
        return;
    }
    PixelBuffer::setSize(bytes);
}

u8* OpenGLPixelBuffer::lock(Lock mode, u64 firstElement, u64 elementCount)
{
    if (!m_name)
        return PixelBuffer::lock(mode, firstElement, elementCount);
    if (m_lockDepth++ == 0) {
        installSystemCopy();
        if (mode != Lock::WriteBack && data())
            readBack(data());
    }
    if (isWriteLock(mode))
        m_dirty = true;
    return data() + firstElement * elementSize();
}

void OpenGLPixelBuffer::unlock()
{
    if (!m_name || m_lockDepth == 0) {
        PixelBuffer::unlock();
        return;
    }
    if (--m_lockDepth > 0)
        return;
    if (m_dirty && transfersPixels() && data()) {
        glBindTexture(m_target, m_name);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        uploadLevels(data(), 0);
        glTexParameteri(m_target, GL_TEXTURE_MAX_LEVEL, 0);
        m_definedLevels = 0;
        glBindTexture(m_target, 0);
    }
    m_dirty = false;
    dropSystemCopy();
}

void OpenGLPixelBuffer::createDeviceObject()
{
    if (format().dataSize == 0 || hasDeviceObject())
        return;
    DisplayBuffer::createDeviceObject();
    if (m_name || !isGLContextCurrent())
        return;
    m_name = genTexture();
    allocateStorage(format().width, format().height, format().depth, format().layerCount, createFlags());
    if (transfersPixels() && data())
        setDataImpl(data(), format().mipCount);
    dropSystemCopy();
    addTextureMemory(static_cast<f64>(format().dataSize));
}

void OpenGLPixelBuffer::releaseDeviceObject()
{
    if (hasDeviceObject() && m_name && format().dataSize) {
        const u32 name = m_name;
        m_name = 0;
        installSystemCopy();
        if (isGLContextCurrent()) {
            m_name = name;
            readBack(data());
            m_name = 0;
            addTextureMemory(-static_cast<f64>(format().dataSize));
            deleteTexture(name);
        }
    }
    DisplayBuffer::releaseDeviceObject();
}

void OpenGLPixelBuffer::discard()
{
    if (m_name && isRefilling()) {
        m_parkedName = m_name;
        m_parkedTarget = m_target;
        addTextureMemory(-static_cast<f64>(format().dataSize));
        m_name = 0;
    }
    if (m_name) {
        if (isGLContextCurrent()) {
            glBindTexture(m_target, 0);
            addTextureMemory(-static_cast<f64>(format().dataSize));
            deleteTexture(m_name);
        }
        m_name = 0;
    }
    m_internalFormat = 0;
    m_type = GL_UNSIGNED_BYTE;
    m_dirty = false;
    m_lockDepth = 0;
    m_definedLevels = 0;
    PixelBuffer::discard();
}

void OpenGLPixelBuffer::bind()
{
    if (!hasDeviceObject() || !m_name)
        createDeviceObject();
    glBindTexture(m_target, m_name);
}

void OpenGLPixelBuffer::unbind()
{
    graphics::Display* display = graphics::Display::current();
    if (display && display->isOpen())
        glBindTexture(m_target, 0);
}

void OpenGLPixelBuffer::setPalette(const containers::ElementBuffer& entries)
{
    PixelBuffer::setPalette(entries);
    const u32 count = static_cast<u32>(palette().byteSize() / 4);
    if (count == 0 || !m_caps->EXT_paletted_texture || !m_name)
        return;
    // The table holds every entry: a palette above 256 entries gets 512.
    const u32 size = paletteTableSize(count);
    // Bytes red, green, blue in memory, as GL_RGB reads them.
    containers::ElementBuffer table;
    table.setSize(static_cast<u64>(size) * 3);
    std::memset(table.data(), 0, table.byteSize());
    for (u32 i = 0; i < count; ++i) {
        graphics::Pixel entry;
        std::memcpy(&entry, palette().data() + static_cast<u64>(i) * 4, sizeof entry);
        u8* rgb = table.data() + static_cast<u64>(i) * 3;
        rgb[0] = entry.r;
        rgb[1] = entry.g;
        rgb[2] = entry.b;
    }
    glBindTexture(m_target, m_name);
    glColorTableEXT(m_target, GL_RGB, static_cast<GLsizei>(size), GL_RGB, GL_UNSIGNED_BYTE, table.data());
    glBindTexture(m_target, 0);
}

} // namespace quern::opengl
