#include "quern/opengl/GLSLShaderProgram.h"
#include "quern/assets/AssetLoaderContext.h"
#include "quern/assets/ResourceCache.h"
#include "quern/debug/Log.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/io/ByteSource.h"
#include "quern/language/Exception.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLException.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/FloatingPointTraps.h"
#include <cstdint>
#include <string>

namespace quern::opengl {

GLSLShaderProgram::GLSLShaderProgram(graphics::ShaderProgramType type)
    : ShaderProgram(graphics::ShaderLanguage::GLSL, type)
{
}

GLSLShaderProgram::~GLSLShaderProgram() { releaseDeviceObject(); }

void GLSLShaderProgram::loadCodeImpl(const char* text, u64 length, const char* name)
{
    glGetError();
    m_shader = glCreateShader(type() == graphics::ShaderProgramType::Vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER);
    if (m_shader == 0)
        QUERN_FATAL("glCreateShader() failed");
    const GLint count = static_cast<GLint>(length);
    glShaderSource(m_shader, 1, &text, &count);
    {
        // As for linking: the driver's compiler runs without the game's traps.
        platform::UntrappedFloatingPointScope untrapped;
        glCompileShader(m_shader);
    }
    GLint status = 0;
    glGetShaderiv(m_shader, GL_COMPILE_STATUS, &status);
    if (status != 0)
        return;

    QUERN_LOG(1) << "Error compiling GLSL shader:\n" << std::string(text, length) << std::endl;
    std::string message;
    GLint logLength = 0;
    glGetShaderiv(m_shader, GL_INFO_LOG_LENGTH, &logLength);
    if (logLength > 1) {
        memory::Allocator& allocator = *memory::getDefaultAllocator();
        char* log = static_cast<char*>(allocator.allocate(static_cast<u64>(logLength), 4));
        if (!log)
            QUERN_OUT_OF_MEMORY();
        GLsizei written = 0;
        glGetShaderInfoLog(m_shader, logLength, &written, log);
        message.assign(log, static_cast<u64>(written > 0 ? written : 0));
        allocator.free(log);
    } else {
        const GLenum error = glGetError();
        message = error == GL_NO_ERROR ? "Unknown error" : glErrorText(error);
    }
    QUERN_RAISE(ParseException, message.c_str(), name ? name : "", -1);
}

void GLSLShaderProgram::releaseDeviceObject()
{
    if (m_shader == 0)
        return;
    const graphics::Display* display = graphics::Display::current();
    if (!display || !display->isOpen())
        return;
    glDeleteShader(m_shader);
    m_shader = 0;
}

void GLSLShaderProgram::createDeviceObject() { loadCodeImpl(text().data(), text().size(), getName()); }

void GLSLShaderProgramHandler::load(ByteSource& source, assets::AssetLoaderContext& context)
{
    auto& scratch = *static_cast<Scratch*>(context.scratch());
    const u64 size = source.size();
    if (size > static_cast<u64>(PTRDIFF_MAX))
        QUERN_FATAL("File too large for buffer on this platform");
    // The kind character must be inside the text.
    if (size <= graphics::kEmbeddedStageOffset)
        QUERN_FATAL("Shader program text too short to name its stage");
    memory::Allocator& allocator = *memory::getDefaultAllocator();
    scratch.text = static_cast<char*>(allocator.allocate(size, 4));
    if (!scratch.text)
        QUERN_OUT_OF_MEMORY();
    scratch.length = size;
    source.read(scratch.text, size);
    const auto type = static_cast<graphics::ShaderProgramType>(
        static_cast<u32>(static_cast<u8>(scratch.text[graphics::kEmbeddedStageOffset]) - u8 { '0' }));

    assets::ResourceRecord record;
    bool created = false;
    scratch.program = context.createResourceObject<GLSLShaderProgram>(
        assets::ResourceType::ShaderProgram, 0, record, created, type);
}

void GLSLShaderProgramHandler::finalize(assets::AssetLoaderContext& context)
{
    auto& scratch = *static_cast<Scratch*>(context.scratch());
    if (scratch.program)
        scratch.program->setCode(scratch.text, scratch.length, "");
    if (scratch.text)
        memory::getDefaultAllocator()->free(scratch.text);
    scratch.text = nullptr;
}

void GLSLShaderProgramHandler::describe(assets::AssetHandlerInfo& info)
{
    info.format = assets::kNativeAssetFormat;
    info.typeId = assets::ResourceType::ShaderProgram;
    info.scratchBytes = sizeof(Scratch);
    info.keepOpen = false;
    info.mainThreadStages = true;
}

} // namespace quern::opengl
