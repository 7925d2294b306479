// The OpenGL device against raw GL on one Mesa context (an SDL2 window):
// - a frame of 2,000 small cubes with 20 materials (each its own image and
//   colour) drawn through the pass list,
//   the scene pass, the render queue and the device, against a raw program
//   drawing the same vertex arrays with the same GLSL programs, changing state
//   only where it differs; both report GL calls per draw;
// - a write lock and unlock of a 1 MiB dynamic vertex buffer against raw
//   glBufferData of the same bytes.
// Prints the ratios. Run under an X display (xvfb-run).

#include "quern/graphics/Display.h"
#include "quern/graphics/DisplayMode.h"
#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/Uniform.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/graphics/renderstate/TextureState.h"
#include "quern/math/Matrix4.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/GLSLShaderProgram.h"
#include "quern/opengl/OpenGLBackEnd.h"
#include "quern/opengl/OpenGLBuffers.h"
#include "quern/opengl/OpenGLPixelBuffer.h"
#include "quern/render/PassList.h"
#include "quern/render/ScenePass.h"
#include "quern/scene/Camera.h"
#include "quern/scene/Node.h"
#include "quern/sdl/SDL2Display.h"
#include "quern/sdl/SDL2Library.h"
#include "quern/visuals/MeshVisual.h"
#include "quern/visuals/SubMesh.h"

#include <benchmark/benchmark.h>

#include "support/RatioReporter.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace quern;
using namespace quern::opengl;

constexpr u32 kCubes = 2000;
constexpr u32 kMaterials = 20;
constexpr u32 kColumns = 50;
constexpr u32 kStaticDraw = graphics::BufferUsage::Static | graphics::BufferUsage::Draw;
constexpr u32 kDynamicDraw = graphics::BufferUsage::Dynamic | graphics::BufferUsage::Draw;
constexpr u64 kBufferBytes = 1u << 20;

u64 g_glCalls = 0;

// Counts every call of the listed entry points, then forwards it.
#define QUERN_COUNT_GL(function)                                                                                       \
    do {                                                                                                               \
        static auto original = function;                                                                               \
        function = [](auto... arguments) {                                                                             \
            ++g_glCalls;                                                                                               \
            return original(arguments...);                                                                             \
        };                                                                                                             \
    } while (0)

void countDrawCalls()
{
    QUERN_COUNT_GL(glEnable);
    QUERN_COUNT_GL(glDisable);
    QUERN_COUNT_GL(glBlendFunc);
    QUERN_COUNT_GL(glBlendColor);
    QUERN_COUNT_GL(glBlendEquation);
    QUERN_COUNT_GL(glCullFace);
    QUERN_COUNT_GL(glScissor);
    QUERN_COUNT_GL(glDepthFunc);
    QUERN_COUNT_GL(glDepthMask);
    QUERN_COUNT_GL(glPolygonOffset);
    QUERN_COUNT_GL(glPolygonMode);
    QUERN_COUNT_GL(glLineWidth);
    QUERN_COUNT_GL(glColorMask);
    QUERN_COUNT_GL(glLogicOp);
    QUERN_COUNT_GL(glStencilFunc);
    QUERN_COUNT_GL(glStencilOp);
    QUERN_COUNT_GL(glUseProgram);
    QUERN_COUNT_GL(glActiveTexture);
    QUERN_COUNT_GL(glBindTexture);
    QUERN_COUNT_GL(glTexParameteri);
    QUERN_COUNT_GL(glTexParameterf);
    QUERN_COUNT_GL(glUniform1i);
    QUERN_COUNT_GL(glUniform4f);
    QUERN_COUNT_GL(glUniformMatrix4fv);
    QUERN_COUNT_GL(glBindVertexArray);
    QUERN_COUNT_GL(glBindBuffer);
    QUERN_COUNT_GL(glEnableVertexAttribArray);
    QUERN_COUNT_GL(glDisableVertexAttribArray);
    QUERN_COUNT_GL(glVertexAttribPointer);
    QUERN_COUNT_GL(glDrawArrays);
    QUERN_COUNT_GL(glDrawElements);
    QUERN_COUNT_GL(glClear);
    QUERN_COUNT_GL(glClearColor);
    QUERN_COUNT_GL(glClearDepth);
    QUERN_COUNT_GL(glViewport);
    QUERN_COUNT_GL(glBufferData);
    QUERN_COUNT_GL(glGenBuffers);
    QUERN_COUNT_GL(glMapBuffer);
}

// A 0.2-wide cube, position and texture coordinates, two triangles a face.
std::vector<f32> cubeVertices()
{
    std::vector<f32> v;
    for (int axis = 0; axis < 3; ++axis) {
        for (f32 side : { -0.1f, 0.1f }) {
            const f32 corners[6][2] = { { -1, -1 }, { 1, -1 }, { 1, 1 }, { -1, -1 }, { 1, 1 }, { -1, 1 } };
            for (const auto& c : corners) {
                f32 p[3];
                p[axis] = side;
                p[(axis + 1) % 3] = 0.1f * c[0];
                p[(axis + 2) % 3] = 0.1f * c[1];
                v.insert(v.end(), { p[0], p[1], p[2], (c[0] + 1) / 2, (c[1] + 1) / 2 });
            }
        }
    }
    return v;
}

void cubePosition(u32 i, f32 out[3])
{
    out[0] = -7.35f + 0.3f * static_cast<f32>(i % kColumns);
    out[1] = -5.85f + 0.3f * static_cast<f32>(i / kColumns);
    out[2] = 0.0f;
}

void materialColour(u32 m, f32 out[4])
{
    out[0] = static_cast<f32>(m % 5) / 4.0f;
    out[1] = static_cast<f32>(m / 5) / 3.0f;
    out[2] = 0.5f;
    out[3] = 1.0f;
}

struct World {
    sdl::SDL2Display* display = nullptr;
    GLSLShaderProgram* vertex = nullptr;
    GLSLShaderProgram* fragment = nullptr;
    std::vector<graphics::Texture*> textures;
    std::vector<Ref> held;
    Ref root;
    Ref camera;
    render::PassList passes;
};

World* g_world = nullptr;

GLSLShaderProgram* compile(World& world, graphics::EmbeddedProgram which, graphics::ShaderProgramType type)
{
    auto* program = new GLSLShaderProgram(type);
    world.held.emplace_back(program);
    const graphics::EmbeddedProgramSource& source = graphics::glslProgramSource(which);
    program->setCode(source.text, source.length, source.name);
    return program;
}

bool openWorld(World& world)
{
    world.display = new sdl::SDL2Display(&OpenGLBackEnd::instance(), graphics::GraphicsBackEndVersion::OpenGL);
    graphics::Display::set(world.display);
    graphics::DisplayConfiguration configuration;
    configuration.caption = "Quern OpenGL benchmark";
    configuration.openGL = 1;
    configuration.doubleBuffer = 1;
    configuration.depthBits = 24;
    configuration.contextProfile = 1;
    configuration.contextMajorVersion = 3;
    configuration.contextMinorVersion = 2;
    graphics::DisplayMode mode;
    mode.format = graphics::PixelFormat::B8G8R8A8;
    mode.width = mode.drawableWidth = 320;
    mode.height = mode.drawableHeight = 240;
    world.display->openWithVideoMode(mode, configuration);
    if (!world.display->isOpen())
        return false;

    world.vertex = compile(world, graphics::EmbeddedProgram::UnlitVertex, graphics::ShaderProgramType::Vertex);
    world.fragment = compile(world, graphics::EmbeddedProgram::UnlitFragment, graphics::ShaderProgramType::Fragment);
    // Each material has its own image, as real materials do; the queue sorts
    // opaque draws by image and program.
    for (u32 m = 0; m < kMaterials; ++m) {
        auto* image = OpenGLBackEnd::instance().createPixelBuffer(graphics::GraphicsBackEnd::TextureImage);
        u8 texels[16];
        for (u32 i = 0; i < 16; ++i)
            texels[i] = static_cast<u8>(i % 4 == 3 ? 255 : 60 + 9 * m + 40 * (i % 4));
        image->setData(texels, graphics::PixelBufferFormat::create2D(2, 2, graphics::PixelFormat::A8B8G8R8, 0, 0, 0),
            nullptr, OpenGLPixelBuffer::NoMipLevels);
        world.textures.push_back(new graphics::Texture(image));
        world.held.emplace_back(world.textures.back());
    }

    std::vector<graphics::Shader*> materials;
    for (u32 m = 0; m < kMaterials; ++m) {
        auto* shader = new graphics::Shader();
        world.held.emplace_back(shader);
        auto* programs = new graphics::ShaderProgramState(nullptr);
        programs->setVertexProgram(world.vertex);
        programs->setFragmentProgram(world.fragment);
        programs->addUniform(
            new graphics::ModelViewProjectionMatrixUniform(), graphics::ShaderProgramState::VertexStage);
        auto* tint = new graphics::Uniform("color", graphics::UniformType::Vector, 4);
        f32 colour[4];
        materialColour(m, colour);
        tint->setValue(colour, 4);
        programs->addUniform(tint, graphics::ShaderProgramState::FragmentStage);
        programs->addUniform(
            new graphics::TextureUniform("textureMap", 0), graphics::ShaderProgramState::FragmentStage);
        shader->setShaderProgramState(programs);
        auto* textures = new graphics::TextureState(nullptr);
        textures->setTexture(0, world.textures[m]);
        textures->setMipmapMode(0, 0);
        shader->setTextureState(textures);
        materials.push_back(shader);
    }

    world.root = Ref(new scene::Node());
    const std::vector<f32> vertices = cubeVertices();
    for (u32 i = 0; i < kCubes; ++i) {
        auto* visual = new visuals::MeshVisual();
        graphics::VertexBuffer* buffer = visual->getVertexBuffer(kStaticDraw);
        buffer->setVertexFormat(graphics::VertexFormat::fromFlags(
            graphics::VertexFormat::kHasPosition | (1u << graphics::VertexFormat::kTexCoordShift)));
        buffer->resizeElements(36);
        auto* at = reinterpret_cast<f32*>(buffer->lockVertices(containers::BufferBase::Lock::Write, 0, 36));
        std::memcpy(at, vertices.data(), vertices.size() * sizeof(f32));
        buffer->unlockVertices();
        visual->appendSubMesh(new visuals::SubMesh());
        visual->setMaterial(materials[i % kMaterials]);
        auto* node = new scene::Node();
        node->setVisual(visual);
        f32 p[3];
        cubePosition(i, p);
        node->setTranslation(p[0], p[1], p[2]);
        world.root.get<scene::Node>()->addChild(node);
    }
    world.camera = Ref(new scene::Camera());
    world.camera.get<scene::Camera>()->setTranslation(0, 0, 15);
    auto* pass = new render::ScenePass();
    pass->setCamera(world.camera.get<scene::Camera>());
    pass->setSceneRoot(world.root.get<scene::Node>());
    pass->clearFlags = graphics::GraphicsBackEnd::ClearColour | graphics::GraphicsBackEnd::ClearDepth;
    world.passes.addPass(pass);
    return true;
}

void BM_EngineFrame(benchmark::State& state)
{
    World& world = *g_world;
    world.passes.renderFrame(*world.display);
    glFinish();
    const u64 before = g_glCalls;
    world.passes.renderFrame(*world.display);
    glFinish();
    state.counters["gl_calls_per_draw"] = static_cast<double>(g_glCalls - before) / kCubes;
    for (auto _ : state) {
        world.passes.renderFrame(*world.display);
        glFinish();
    }
}
BENCHMARK(BM_EngineFrame)->Unit(benchmark::kMillisecond);

void BM_RawFrame(benchmark::State& state)
{
    // The same programs linked once, one vertex array per mesh, state set
    // only where it differs, the matrix of each cube made on the CPU.
    const GLuint program = glCreateProgram();
    glAttachShader(program, g_world->vertex->shaderName());
    glAttachShader(program, g_world->fragment->shaderName());
    glLinkProgram(program);
    const GLint mvpAt = glGetUniformLocation(program, "modelViewProjectionMatrix");
    const GLint colourAt = glGetUniformLocation(program, "color");
    const GLint samplerAt = glGetUniformLocation(program, "textureMap");
    const GLint positionAt = glGetAttribLocation(program, "position");
    const GLint texcoordAt = glGetAttribLocation(program, "texcoord0");
    const std::vector<f32> vertices = cubeVertices();
    std::vector<GLuint> arrays(kCubes);
    std::vector<GLuint> buffers(kCubes);
    glGenVertexArrays(kCubes, arrays.data());
    glGenBuffers(kCubes, buffers.data());
    for (u32 i = 0; i < kCubes; ++i) {
        glBindVertexArray(arrays[i]);
        glBindBuffer(GL_ARRAY_BUFFER, buffers[i]);
        glBufferData(
            GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(f32)), vertices.data(), GL_STATIC_DRAW);
        glEnableVertexAttribArray(static_cast<GLuint>(positionAt));
        glVertexAttribPointer(static_cast<GLuint>(positionAt), 3, GL_FLOAT, GL_FALSE, 20, nullptr);
        glEnableVertexAttribArray(static_cast<GLuint>(texcoordAt));
        glVertexAttribPointer(
            static_cast<GLuint>(texcoordAt), 2, GL_FLOAT, GL_FALSE, 20, reinterpret_cast<const void*>(12));
    }
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    const math::Matrix4 projection = math::Matrix4::perspective(1.0471973f, 4.0f / 3.0f, 1.0f, 100000.0f, true);
    math::Matrix4 view;
    view.m[14] = -15.0f;
    const math::Matrix4 viewProjection = projection * view;

    auto frame = [&] {
        glViewport(0, 0, 320, 240);
        glDisable(GL_SCISSOR_TEST);
        glDepthMask(GL_TRUE);
        glClearColor(0, 0, 0, 1);
        glClearDepth(1.0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LESS);
        glEnable(GL_CULL_FACE);
        glCullFace(GL_BACK);
        glDisable(GL_BLEND);
        glUseProgram(program);
        glUniform1i(samplerAt, 0);
        glActiveTexture(GL_TEXTURE0);
        for (u32 m = 0; m < kMaterials; ++m) {
            glBindTexture(GL_TEXTURE_2D, static_cast<OpenGLPixelBuffer*>(g_world->textures[m]->pixelBuffer())->name());
            f32 colour[4];
            materialColour(m, colour);
            glUniform4f(colourAt, colour[0], colour[1], colour[2], colour[3]);
            for (u32 i = m; i < kCubes; i += kMaterials) {
                math::Matrix4 world;
                cubePosition(i, &world.m[12]);
                const math::Matrix4 mvp = viewProjection * world;
                glUniformMatrix4fv(mvpAt, 1, GL_FALSE, mvp.m);
                glBindVertexArray(arrays[i]);
                glDrawArrays(GL_TRIANGLES, 0, 36);
            }
        }
        glBindVertexArray(0);
        glFinish();
    };
    frame();
    const u64 before = g_glCalls;
    frame();
    state.counters["gl_calls_per_draw"] = static_cast<double>(g_glCalls - before) / kCubes;
    for (auto _ : state)
        frame();
    glDeleteVertexArrays(kCubes, arrays.data());
    glDeleteBuffers(kCubes, buffers.data());
    glDeleteProgram(program);
    OpenGLBackEnd::instance().unbindStateObject();
}
BENCHMARK(BM_RawFrame)->Unit(benchmark::kMillisecond);

void BM_VertexBufferWriteLock(benchmark::State& state)
{
    auto* buffer = static_cast<OpenGLVertexBuffer*>(OpenGLBackEnd::instance().createVertexBuffer(kDynamicDraw));
    Ref holder(static_cast<RefCounted*>(buffer));
    buffer->setSize(kBufferBytes);
    buffer->createDeviceObject();
    for (auto _ : state) {
        u8* bytes = buffer->lock(containers::BufferBase::Lock::Write, 0, buffer->elementCount());
        benchmark::DoNotOptimize(bytes);
        buffer->unlock();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferBytes));
}
BENCHMARK(BM_VertexBufferWriteLock)->Unit(benchmark::kMicrosecond);

void BM_RawBufferData(benchmark::State& state)
{
    std::vector<u8> bytes(kBufferBytes);
    GLuint name = 0;
    glGenBuffers(1, &name);
    glBindBuffer(GL_ARRAY_BUFFER, name);
    glBufferData(GL_ARRAY_BUFFER, kBufferBytes, bytes.data(), GL_DYNAMIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    for (auto _ : state) {
        glBindBuffer(GL_ARRAY_BUFFER, name);
        glBufferData(GL_ARRAY_BUFFER, kBufferBytes, bytes.data(), GL_DYNAMIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
    }
    glDeleteBuffers(1, &name);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferBytes));
}
BENCHMARK(BM_RawBufferData)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    memory::initDefaultAllocators(memory::AllocatorConfig {});
    auto* world = new World();
    g_world = world;
    if (!openWorld(*world)) {
        std::fprintf(stderr, "no OpenGL display\n");
        return 1;
    }
    countDrawCalls();
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    const auto ratio = [&t](const char* ours, const char* peer) {
        if (t.count(ours) && t.count(peer))
            std::printf("%s / %s: %.2fx\n", ours, peer, t[ours] / t[peer]);
    };
    ratio("BM_EngineFrame", "BM_RawFrame");
    ratio("BM_VertexBufferWriteLock", "BM_RawBufferData");
    world->passes.clearPasses();
    world->root = Ref();
    world->held.clear();
    graphics::Display::set(nullptr);
    sdl::shutdownSDL();
    delete world;
    memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
