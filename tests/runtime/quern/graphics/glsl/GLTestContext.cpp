#include "GLTestContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <sstream>

namespace quern::testgl {
namespace {

std::string eglErrorText(const char* step)
{
    std::ostringstream out;
    out << step << " failed (EGL error 0x" << std::hex << eglGetError() << ")";
    return out.str();
}

EGLDisplay surfacelessDisplay()
{
    const char* extensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!extensions || std::string(extensions).find("EGL_MESA_platform_surfaceless") == std::string::npos)
        return EGL_NO_DISPLAY;
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay)
        return EGL_NO_DISPLAY;
    return getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
}

} // namespace

GLTestContext::GLTestContext()
{
    std::string reasons;
    EGLDisplay display = surfacelessDisplay();
    bool surfaceless = display != EGL_NO_DISPLAY;
    EGLint major = 0;
    EGLint minor = 0;
    if (surfaceless && !eglInitialize(display, &major, &minor)) {
        reasons += eglErrorText("surfaceless eglInitialize") + "; ";
        surfaceless = false;
    }
    if (!surfaceless) {
        display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
        if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
            m_error = reasons + eglErrorText("default-display eglInitialize");
            return;
        }
    }
    m_display = display;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        m_error = eglErrorText("eglBindAPI(OpenGL)");
        return;
    }

    EGLConfig config = nullptr;
    const EGLint surfaceType = surfaceless ? 0 : EGL_PBUFFER_BIT;
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, surfaceType, EGL_NONE};
    EGLint configCount = 0;
    eglChooseConfig(display, configAttributes, &config, 1, &configCount);
    if (configCount == 0) {
        if (!surfaceless) {
            m_error = eglErrorText("eglChooseConfig (pbuffer)");
            return;
        }
        config = nullptr; // surfaceless Mesa takes a context without a config
    }

    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 1, EGL_NONE};
    m_context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    if (!m_context) {
        m_error = eglErrorText("eglCreateContext (OpenGL 3.1)");
        return;
    }
    if (!surfaceless) {
        const EGLint pbufferAttributes[] = {EGL_WIDTH, 16, EGL_HEIGHT, 16, EGL_NONE};
        m_surface = eglCreatePbufferSurface(display, config, pbufferAttributes);
        if (!m_surface) {
            m_error = eglErrorText("eglCreatePbufferSurface");
            return;
        }
    }
    EGLSurface surface = m_surface ? m_surface : EGL_NO_SURFACE;
    if (!eglMakeCurrent(display, surface, surface, m_context))
        m_error = eglErrorText("eglMakeCurrent");
}

GLTestContext::~GLTestContext()
{
    if (!m_display)
        return;
    eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (m_surface)
        eglDestroySurface(m_display, m_surface);
    if (m_context)
        eglDestroyContext(m_display, m_context);
    eglTerminate(m_display);
}

std::string GLTestContext::description() const
{
    const auto text = [](GLenum name) {
        const GLubyte* value = glGetString(name);
        return value ? std::string(reinterpret_cast<const char*>(value)) : std::string("?");
    };
    return text(GL_RENDERER) + ", OpenGL " + text(GL_VERSION) + ", GLSL " + text(GL_SHADING_LANGUAGE_VERSION);
}

CompileResult compileShader(GLenum stage, const char* text, long length)
{
    CompileResult result;
    result.shader = glCreateShader(stage);
    const GLint glLength = static_cast<GLint>(length);
    glShaderSource(result.shader, 1, &text, &glLength);
    glCompileShader(result.shader);
    GLint status = 0;
    glGetShaderiv(result.shader, GL_COMPILE_STATUS, &status);
    GLint logLength = 0;
    glGetShaderiv(result.shader, GL_INFO_LOG_LENGTH, &logLength);
    if (logLength > 1) {
        result.log.resize(static_cast<size_t>(logLength));
        glGetShaderInfoLog(result.shader, logLength, nullptr, result.log.data());
        result.log.resize(static_cast<size_t>(logLength - 1));
    }
    result.ok = status == GL_TRUE;
    return result;
}

LinkResult linkProgram(GLuint vertex, GLuint fragment)
{
    LinkResult result;
    result.program = glCreateProgram();
    glAttachShader(result.program, vertex);
    glAttachShader(result.program, fragment);
    glBindAttribLocation(result.program, Position, "position");
    glBindAttribLocation(result.program, Texcoord0, "texcoord0");
    glBindAttribLocation(result.program, Texcoord1, "texcoord1");
    glBindAttribLocation(result.program, Color, "color");
    glBindFragDataLocation(result.program, 0, "fragColor");
    glLinkProgram(result.program);
    GLint status = 0;
    glGetProgramiv(result.program, GL_LINK_STATUS, &status);
    GLint logLength = 0;
    glGetProgramiv(result.program, GL_INFO_LOG_LENGTH, &logLength);
    if (logLength > 1) {
        result.log.resize(static_cast<size_t>(logLength));
        glGetProgramInfoLog(result.program, logLength, nullptr, result.log.data());
        result.log.resize(static_cast<size_t>(logLength - 1));
    }
    result.ok = status == GL_TRUE;
    return result;
}

RenderTarget::RenderTarget(int width, int height) : m_width(width), m_height(height)
{
    // Made on a unit the programs never sample, so it replaces none of their textures.
    GLint activeUnit = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &activeUnit);
    glActiveTexture(GL_TEXTURE15);
    glGenTextures(1, &m_texture);
    glBindTexture(GL_TEXTURE_2D, m_texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, width, height, 0, GL_RGBA, GL_FLOAT, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);
    glActiveTexture(static_cast<GLenum>(activeUnit));
    glGenFramebuffers(1, &m_framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_texture, 0);
    m_complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glViewport(0, 0, width, height);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

RenderTarget::~RenderTarget()
{
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &m_framebuffer);
    glDeleteTextures(1, &m_texture);
}

Pixel RenderTarget::pixel(int x, int y) const
{
    Pixel value{};
    glBindFramebuffer(GL_READ_FRAMEBUFFER, m_framebuffer);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_FLOAT, value.data());
    return value;
}

GLuint makeTexture(int width, int height, const std::vector<Pixel>& texels)
{
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, width, height, 0, GL_RGBA, GL_FLOAT, texels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return texture;
}

std::vector<Vertex> screenQuad()
{
    const auto corner = [](float x, float y) {
        return Vertex{{x * 2.0f - 1.0f, y * 2.0f - 1.0f, 0.0f, 1.0f}, {x, y}, {0.0f, 0.0f}, {1.0f, 1.0f, 1.0f, 1.0f}};
    };
    return {corner(0, 0), corner(1, 0), corner(1, 1), corner(0, 0), corner(1, 1), corner(0, 1)};
}

void draw(GLuint program, const std::vector<Vertex>& vertices)
{
    GLuint array = 0;
    GLuint buffer = 0;
    glGenVertexArrays(1, &array);
    glBindVertexArray(array);
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(Vertex)), vertices.data(),
                 GL_STATIC_DRAW);
    const auto attribute = [](GLuint index, GLint size, size_t offset) {
        glEnableVertexAttribArray(index);
        glVertexAttribPointer(index, size, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(offset));
    };
    attribute(Position, 4, offsetof(Vertex, position));
    attribute(Texcoord0, 2, offsetof(Vertex, texcoord0));
    attribute(Texcoord1, 2, offsetof(Vertex, texcoord1));
    attribute(Color, 4, offsetof(Vertex, color));
    glUseProgram(program);
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(vertices.size()));
    glFinish();
    glUseProgram(0);
    glBindVertexArray(0);
    glDeleteBuffers(1, &buffer);
    glDeleteVertexArrays(1, &array);
}

namespace {
GLint location(GLuint program, const char* name)
{
    glUseProgram(program);
    return glGetUniformLocation(program, name);
}
} // namespace

bool setUniform(GLuint program, const char* name, float value)
{
    const GLint at = location(program, name);
    glUniform1f(at, value);
    return at >= 0;
}

bool setUniform(GLuint program, const char* name, int value)
{
    const GLint at = location(program, name);
    glUniform1i(at, value);
    return at >= 0;
}

bool setUniform(GLuint program, const char* name, const Pixel& value)
{
    const GLint at = location(program, name);
    glUniform4fv(at, 1, value.data());
    return at >= 0;
}

bool setMatrix(GLuint program, const char* name, const std::array<float, 16>& columnMajor)
{
    const GLint at = location(program, name);
    glUniformMatrix4fv(at, 1, GL_FALSE, columnMajor.data());
    return at >= 0;
}

std::array<float, 16> identityMatrix() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

} // namespace quern::testgl
