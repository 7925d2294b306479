#pragma once
// An OpenGL 3.1+ context for tests, made without a window: EGL on Mesa's
// surfaceless platform, else the default EGL display with a small pbuffer.
// Programs are compiled and linked for real and drawn into a float colour
// target that the test reads back.

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <array>
#include <string>
#include <vector>

namespace quern::testgl {

// Attribute locations every test program is linked with.
enum Attribute : GLuint { Position = 0, Texcoord0 = 1, Texcoord1 = 2, Color = 3 };

struct Vertex {
    std::array<float, 4> position;
    std::array<float, 2> texcoord0;
    std::array<float, 2> texcoord1;
    std::array<float, 4> color;
};

using Pixel = std::array<float, 4>;

class GLTestContext {
public:
    // Empty error(): the context is current.
    GLTestContext();
    ~GLTestContext();
    GLTestContext(const GLTestContext&) = delete;
    GLTestContext& operator=(const GLTestContext&) = delete;

    const std::string& error() const { return m_error; }
    std::string description() const;

private:
    void* m_display = nullptr;
    void* m_context = nullptr;
    void* m_surface = nullptr;
    std::string m_error;
};

struct CompileResult {
    GLuint shader = 0;
    bool ok = false;
    std::string log;
};

CompileResult compileShader(GLenum stage, const char* text, long length);

struct LinkResult {
    GLuint program = 0;
    bool ok = false;
    std::string log;
};

// Links two compiled stages with the fixed attribute locations and
// "fragColor" on output 0.
LinkResult linkProgram(GLuint vertex, GLuint fragment);

// A width x height RGBA32F colour target, bound for drawing.
class RenderTarget {
public:
    RenderTarget(int width, int height);
    ~RenderTarget();
    RenderTarget(const RenderTarget&) = delete;
    RenderTarget& operator=(const RenderTarget&) = delete;

    Pixel pixel(int x, int y) const;
    bool complete() const { return m_complete; }

private:
    GLuint m_framebuffer = 0;
    GLuint m_texture = 0;
    int m_width;
    int m_height;
    bool m_complete = false;
};

// A 2D texture of RGBA32F texels, rows bottom first, nearest filtering.
GLuint makeTexture(int width, int height, const std::vector<Pixel>& texels);

// Two triangles over the whole target, texcoord0 from (0, 0) to (1, 1),
// texcoord1 zero, colour white.
std::vector<Vertex> screenQuad();

// Draws triangles with the program (its uniforms set by the caller).
void draw(GLuint program, const std::vector<Vertex>& vertices);

// Uniform setters by name; false when the program has no such uniform.
bool setUniform(GLuint program, const char* name, float value);
bool setUniform(GLuint program, const char* name, int value);
bool setUniform(GLuint program, const char* name, const Pixel& value);
bool setMatrix(GLuint program, const char* name, const std::array<float, 16>& columnMajor);

std::array<float, 16> identityMatrix();

} // namespace quern::testgl
