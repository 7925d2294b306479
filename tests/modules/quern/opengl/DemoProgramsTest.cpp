// The demo content's GLSL programs on Mesa through the OpenGL device: every
// program compiles through the program handler, every material's pair links
// into a state object and reads only names that the device or the game
// fills, and drawn with known inputs the programs compute what the game's
// lighting and post effects expect of them.

#include "OpenGLDisplayFixture.h"

#include "support/BuiltContent.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/assets/ResourceCache.h"
#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/Uniform.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/materials/UnlitMaterial.h"
#include "quern/graphics/serialization/MaterialSerialization.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"
#include "quern/opengl/GLSLShaderProgram.h"
#include "quern/opengl/OpenGLPixelBuffer.h"
#include "quern/render/PassList.h"
#include "quern/render/ScenePass.h"
#include "quern/scene/Camera.h"
#include "quern/scene/Node.h"
#include "quern/strings/Hashes.h"
#include "quern/visuals/MeshSerialization.h"
#include "quern/visuals/MeshVisual.h"
#include "quern/visuals/QuadGeometry.h"
#include "quern/visuals/SubMesh.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace quern::opengl::testing {
namespace {

using graphics::GenericMaterial;
using graphics::MaterialPropertyType;
using Colour = std::array<f32, 4>;

constexpr u32 kStaticDraw = graphics::BufferUsage::Static | graphics::BufferUsage::Draw;
constexpr u32 kCentreX = 160;
constexpr u32 kCentreY = 120;

u64 assetId(const std::string& name) { return strings::murmurHash64A(name.data(), name.size(), 0); }

// What the device fills for every draw.
const std::set<std::string> kAutomaticUniforms
    = { "modelViewProjectionMatrix", "modelViewMatrix", "modelMatrix", "projectionMatrix", "normalMatrix" };
// What game code adds to materials: the render and lighting systems to an
// entity's copy, the overlay effect its intensity.
const std::set<std::string> kGameUniforms = { "lightmap", "lightmapScaleOffset", "fog", "fogColor", "ambientColor",
    "lightDirection0", "lightDirection1", "lightColor0", "lightColor1", "pointLight0", "pointLight1", "pointLight2",
    "pointLight3", "pointLight4", "pointLight5", "pointLightColor0", "pointLightColor1", "pointLightColor2",
    "pointLightColor3", "pointLightColor4", "pointLightColor5", "shadowMap", "shadowMatrix", "skinningPalette",
    "numBones", "_Intensity" };
// The vertex attributes meshes and the quad renderer carry.
const std::set<std::string> kAttributes
    = { "position", "normal", "texcoord0", "texcoord1", "color", "blendindices", "blendweight" };

// A shader's or a program's info log, through its pair of GL queries.
template <class Query, class Read> std::string infoLog(GLuint object, Query query, Read read)
{
    GLint length = 0;
    query(object, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<u64>(length > 0 ? length : 0), '\0');
    if (length > 0)
        read(object, length, nullptr, log.data());
    return log;
}
std::string compileLog(GLuint shader) { return infoLog(shader, glGetShaderiv, glGetShaderInfoLog); }
std::string linkLog(GLuint program) { return infoLog(program, glGetProgramiv, glGetProgramInfoLog); }

// The active uniforms or attributes of a linked program, array names without "[0]".
std::set<std::string> activeNames(GLuint program, GLenum countQuery, bool uniforms)
{
    GLint count = 0;
    glGetProgramiv(program, countQuery, &count);
    std::set<std::string> names;
    for (GLint i = 0; i < count; ++i) {
        char name[256] = {};
        GLsizei length = 0;
        GLint size = 0;
        GLenum type = 0;
        if (uniforms)
            glGetActiveUniform(program, static_cast<GLuint>(i), sizeof name, &length, &size, &type, name);
        else
            glGetActiveAttrib(program, static_cast<GLuint>(i), sizeof name, &length, &size, &type, name);
        std::string text(name, static_cast<u64>(length));
        if (const u64 bracket = text.find('['); bracket != std::string::npos)
            text.resize(bracket);
        names.insert(text);
    }
    return names;
}

class DemoProgramsTest : public OpenGLDisplayTest {
protected:
    static void SetUpTestSuite()
    {
        s_folder = std::filesystem::path(QUERN_TEST_BINARY_DIR) / ("demo-programs-" + std::to_string(getpid()));
        std::filesystem::remove_all(s_folder);
        s_content = new quern::testing::BuiltContent;
        std::string error;
        const std::filesystem::path content = QUERN_CONTENT_DIR;
        if (!s_content->build(content / "assets.txt", content, s_folder, error))
            s_error = error.empty() ? "the content did not build" : error;
    }
    static void TearDownTestSuite()
    {
        delete s_content;
        s_content = nullptr;
        std::filesystem::remove_all(s_folder);
    }

    void SetUp() override
    {
        OpenGLDisplayTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(s_error, "");
        registry.create<GLSLShaderProgramHandler>();
        registry.create<graphics::MaterialHandler>();
        registry.create<graphics::PixelBufferHandler>();
        registry.create<visuals::MeshHandler>();
        assets::AssetHandlerRegistry::setInstance(&registry);
        // The full-screen materials draw through the built-in unlit vertex
        // program, which the game registers at start-up.
        graphics::UnlitMaterial::registerShaders(graphics::ShaderLanguage::GLSL, cache);
    }
    void TearDown() override
    {
        passes.clearPasses();
        held.clear();
        cache.clear();
        assets::AssetHandlerRegistry::setInstance(nullptr);
        OpenGLDisplayTest::TearDown();
    }

    static std::vector<std::string> assetsOfType(u64 typeId)
    {
        std::vector<std::string> names;
        for (u64 i = 0; i < s_content->database.recordCount(); ++i)
            if (s_content->database.record(i).typeId == typeId)
                names.push_back(s_content->database.record(i).name);
        return names;
    }

    RefCounted* loaded(const std::string& name, u64 typeId)
    {
        const u64 key = assets::loadAsset(assetId(name), typeId, *s_content->depot, cache);
        const u32 handle = cache.acquire(key);
        u64 type = 0;
        auto* object = static_cast<RefCounted*>(cache.entry(handle, type));
        cache.release(handle);
        EXPECT_EQ(type, typeId) << name;
        return object;
    }

    // A copy of a material asset with its programs and textures resolved, as
    // the game makes one for an entity or an effect.
    GenericMaterial& material(const std::string& name)
    {
        auto* asset = static_cast<GenericMaterial*>(loaded(name, assets::ResourceType::Material));
        GenericMaterial* copy = asset->clone();
        held.emplace_back(copy);
        copy->acquireResources(*s_content->depot, cache);
        return *copy;
    }

    graphics::Texture* texture(u32 width, u32 height, const std::function<Colour(u32 x, u32 y)>& texel)
    {
        std::vector<u8> pixels;
        for (u32 y = 0; y < height; ++y)
            for (u32 x = 0; x < width; ++x)
                for (f32 channel : texel(x, y))
                    pixels.push_back(static_cast<u8>(std::lround(channel * 255.0f)));
        auto* image = device().createPixelBuffer(graphics::GraphicsBackEnd::TextureImage);
        image->setData(pixels.data(),
            graphics::PixelBufferFormat::create2D(width, height, graphics::PixelFormat::A8B8G8R8, 0, 0, 0), nullptr,
            OpenGLPixelBuffer::NoMipLevels);
        auto* result = new graphics::Texture(image);
        held.emplace_back(result);
        return result;
    }
    graphics::Texture* solid(Colour colour)
    {
        return texture(2, 2, [colour](u32, u32) { return colour; });
    }

    // Draws the visual with the material through a scene pass: the quad
    // filling the window under an orthographic camera, anything else under a
    // perspective camera 10 units up the z axis.
    Frame draw(visuals::Visual* visual, GenericMaterial& with, bool fullScreen)
    {
        visual->setMaterial(&with);
        Ref node(new scene::Node());
        node.get<scene::Node>()->setVisual(visual);
        Ref cameraHold(new scene::Camera());
        auto* camera = cameraHold.get<scene::Camera>();
        if (fullScreen) {
            camera->orthographic = 1;
            camera->width = 2.0f;
            camera->height = 2.0f;
            camera->nearPlane = 0.1f;
            camera->farPlane = 10.0f;
            camera->setTranslation(0, 0, 1);
        } else {
            camera->setTranslation(0, 0, 10);
        }
        auto* pass = new render::ScenePass();
        pass->setCamera(camera);
        pass->setSceneRoot(node.get<scene::Node>());
        pass->clearFlags = graphics::GraphicsBackEnd::ClearColour | graphics::GraphicsBackEnd::ClearDepth;
        passes.addPass(pass);
        passes.renderFrame(*display);
        const Frame frame = readWindow();
        passes.clearPasses();
        visual->setMaterial(nullptr);
        return frame;
    }

    visuals::MeshVisual* quad()
    {
        auto* visual = new visuals::MeshVisual();
        held.emplace_back(visual);
        visuals::buildUnitQuad(*visual->getVertexBuffer(kStaticDraw));
        visual->appendSubMesh(new visuals::SubMesh());
        return visual;
    }
    visuals::Visual* cube()
    {
        auto* mesh = static_cast<visuals::MeshVisual*>(loaded("meshes/cube.obj", assets::ResourceType::Mesh));
        visuals::Visual* copy = mesh->clone();
        held.emplace_back(copy);
        return copy;
    }

    static void expectColour(const Frame& frame, u32 x, u32 y, Colour expected, const char* what)
    {
        const u8* pixel = frame.at(x, y);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(pixel[c], std::lround(std::clamp(expected[c], 0.0f, 1.0f) * 255.0f), 3)
                << what << ", channel " << c << " at " << x << ", " << y;
    }

    static void set(GenericMaterial& m, const char* name, Colour value)
    {
        const i32 index = m.findProperty(name);
        ASSERT_NE(index, 0) << m.name() << " has no " << name;
        std::memcpy(m.property(index).value, value.data(), sizeof(f32) * 4);
        m.setDirty();
    }
    static void set(GenericMaterial& m, const char* name, f32 value) { set(m, name, Colour { value, 0, 0, 0 }); }
    static void set(GenericMaterial& m, const char* name, graphics::Texture* value)
    {
        const i32 index = m.findProperty(name);
        ASSERT_NE(index, 0) << m.name() << " has no " << name;
        EXPECT_EQ(m.property(index).type, static_cast<u32>(MaterialPropertyType::Texture));
        m.property(index).texture = value;
        m.setDirty();
    }
    // Adds a property as game code does.
    static void add(GenericMaterial& m, const char* name, Colour value)
    {
        const i32 index = m.addProperty(name, MaterialPropertyType::Vector);
        std::memcpy(m.property(index).value, value.data(), sizeof(f32) * 4);
    }
    static void add(GenericMaterial& m, const char* name, graphics::Texture* value, i32 unit)
    {
        const i32 index = m.addProperty(name, MaterialPropertyType::Texture);
        m.property(index).texture = value;
        m.property(index).unit = unit;
    }
    static void addMatrix(GenericMaterial& m, const char* name, const std::array<f32, 16>& value,
        graphics::UniformType type = graphics::UniformType::Matrix4)
    {
        const i32 index = m.addProperty(name, MaterialPropertyType::Uniform);
        Ref uniform(new graphics::Uniform(name, type, 16));
        uniform.get<graphics::Uniform>()->setValue(value.data(), 16);
        m.setPropertyUniform(index, uniform.get<graphics::Uniform>());
    }

    static std::string s_error;
    static std::filesystem::path s_folder;
    static quern::testing::BuiltContent* s_content;

    assets::AssetHandlerRegistry registry;
    assets::DefaultResourceCache cache;
    std::vector<Ref> held;
    render::PassList passes;
};

std::string DemoProgramsTest::s_error;
std::filesystem::path DemoProgramsTest::s_folder;
quern::testing::BuiltContent* DemoProgramsTest::s_content = nullptr;

TEST_F(DemoProgramsTest, EveryProgramCompilesThroughTheProgramHandler)
{
    const std::vector<std::string> programs = assetsOfType(assets::ResourceType::ShaderProgram);
    EXPECT_GE(programs.size(), 10u);
    for (const std::string& name : programs) {
        SCOPED_TRACE(name);
        // The compiler's log first, where a failure is readable; the handler
        // would end the process on it.
        const u32 handle = s_content->depot->open(assetId(name));
        std::string text(s_content->depot->size(handle), '\0');
        s_content->depot->read(handle, text.size(), text.data());
        s_content->depot->close(handle);
        ASSERT_GT(text.size(), graphics::kEmbeddedStageOffset);
        const bool vertex = text[graphics::kEmbeddedStageOffset] == '0';
        const GLuint shader = glCreateShader(vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER);
        const char* source = text.c_str();
        const GLint length = static_cast<GLint>(text.size());
        glShaderSource(shader, 1, &source, &length);
        glCompileShader(shader);
        GLint compiled = 0;
        glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
        const std::string log = compileLog(shader);
        glDeleteShader(shader);
        ASSERT_EQ(compiled, GL_TRUE) << log;

        auto* program = static_cast<GLSLShaderProgram*>(loaded(name, assets::ResourceType::ShaderProgram));
        ASSERT_NE(program, nullptr);
        GLint type = 0;
        glGetShaderiv(program->shaderName(), GL_SHADER_TYPE, &type);
        EXPECT_EQ(type, vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER);
        EXPECT_EQ(program->type(), vertex ? graphics::ShaderProgramType::Vertex : graphics::ShaderProgramType::Fragment);
    }
    EXPECT_EQ(glGetError(), GL_NO_ERROR);
}

TEST_F(DemoProgramsTest, EveryMaterialLinksAndReadsOnlyWhatTheDeviceOrTheGameFills)
{
    const std::vector<std::string> materials = assetsOfType(assets::ResourceType::Material);
    EXPECT_GE(materials.size(), 12u);
    for (const std::string& name : materials) {
        SCOPED_TRACE(name);
        GenericMaterial& m = material(name);
        ASSERT_NE(m.vertexProgram(), nullptr);
        ASSERT_NE(m.fragmentProgram(), nullptr);
        const GLuint program = glCreateProgram();
        glAttachShader(program, static_cast<GLSLShaderProgram*>(m.vertexProgram())->shaderName());
        glAttachShader(program, static_cast<GLSLShaderProgram*>(m.fragmentProgram())->shaderName());
        glLinkProgram(program);
        GLint linked = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        ASSERT_EQ(linked, GL_TRUE) << linkLog(program);

        std::set<std::string> known = kAutomaticUniforms;
        known.insert(kGameUniforms.begin(), kGameUniforms.end());
        for (u64 i = 1; i <= m.propertyCount(); ++i) {
            const graphics::MaterialProperty& property = m.property(static_cast<i32>(i));
            known.insert(property.name);
            if (property.type == static_cast<u32>(MaterialPropertyType::Texture))
                known.insert(std::string(property.name) + "ScaleOffset");
        }
        for (const std::string& uniform : activeNames(program, GL_ACTIVE_UNIFORMS, true))
            EXPECT_TRUE(known.count(uniform)) << "nothing fills the uniform " << uniform;
        for (const std::string& attribute : activeNames(program, GL_ACTIVE_ATTRIBUTES, false))
            EXPECT_TRUE(kAttributes.count(attribute)) << "no mesh carries the attribute " << attribute;
        glDeleteProgram(program);

        // The device links the pair again for the state object of a draw.
        m.updateShader(*display);
        const graphics::VertexFormat format = graphics::vertexFormatFromString("position normal texcoord0(2f)");
        EXPECT_NE(display->context().stateObjectCache->getStateObject(m.shader(), &format), 0u);
    }
    EXPECT_EQ(glGetError(), GL_NO_ERROR);
}

// The front face of the demo cube, lit.mat's white texture: at the window's
// centre the face is at world (0, 0, 0.5), 9.5 units in front of the camera,
// facing it.
TEST_F(DemoProgramsTest, TheLitMaterialAddsUpTheLightsThatReachAFace)
{
    struct Light {
        const char* name;
        Colour value;
    };
    const struct {
        const char* what;
        std::vector<Light> lights;
        Colour lightmap;
        Colour expected;
    } cases[] = {
        { "ambient alone", { { "ambientColor", { 0.2f, 0.4f, 0.6f, 1 } } }, { 1, 1, 1, 1 }, { 0.2f, 0.4f, 0.6f } },
        { "the lightmap scales the ambient light", { { "ambientColor", { 1, 1, 1, 1 } } }, { 0.5f, 0.25f, 1, 1 },
            { 0.5f, 0.25f, 1 } },
        { "a sun shining into the screen, its intensity in w",
            { { "ambientColor", { 0.1f, 0.1f, 0.1f, 1 } }, { "lightDirection0", { 0, 0, -1, 1 } },
                { "lightColor0", { 1, 0.5f, 0.25f, 0.5f } } },
            { 1, 1, 1, 1 }, { 0.6f, 0.35f, 0.225f } },
        { "a sun shining out of the screen does not light the face",
            { { "ambientColor", { 0.1f, 0.1f, 0.1f, 1 } }, { "lightDirection0", { 0, 0, 1, 1 } },
                { "lightColor0", { 1, 1, 1, 1 } } },
            { 1, 1, 1, 1 }, { 0.1f, 0.1f, 0.1f } },
        { "a slanted second light by the cosine", { { "lightDirection1", { 0, -0.6f, -0.8f, 1 } },
                                                      { "lightColor1", { 0, 1, 0, 1 } } },
            { 1, 1, 1, 1 }, { 0, 0.8f, 0 } },
        { "a point light falls off with the square of the distance's share of its range",
            { { "pointLight3", { 0, 0, 2.5f, 4 } }, { "pointLightColor3", { 0, 1, 0, 1 } } }, { 1, 1, 1, 1 },
            { 0, 0.25f, 0 } },
        { "every slot adds its light",
            { { "pointLight0", { 0, 0, 2.5f, 4 } }, { "pointLightColor0", { 1, 0, 0, 2 } },
                { "pointLight5", { 0, 0, 2.5f, 4 } }, { "pointLightColor5", { 0, 0, 1, 4 } } },
            { 1, 1, 1, 1 }, { 0.5f, 0, 1 } },
        { "a point light out of range adds nothing",
            { { "ambientColor", { 0.3f, 0.3f, 0.3f, 1 } }, { "pointLight2", { 0, 0, 6, 4 } },
                { "pointLightColor2", { 1, 1, 1, 1 } } },
            { 1, 1, 1, 1 }, { 0.3f, 0.3f, 0.3f } },
        { "fog by the depth: start 5, 1 / range 0.1 at depth 9.5",
            { { "ambientColor", { 1, 1, 1, 1 } }, { "fog", { 5, 0.1f, 0, 1 } }, { "fogColor", { 0, 0, 1, 1 } } },
            { 1, 1, 1, 1 }, { 0.55f, 0.55f, 1 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GenericMaterial& lit = material("materials/lit.mat");
        // In the order the render and lighting systems add them.
        add(lit, "lightmap", solid(c.lightmap), 4);
        for (const char* name : { "fog", "fogColor", "ambientColor", "lightDirection0", "lightColor0",
                 "lightDirection1", "lightColor1", "pointLight0", "pointLightColor0", "pointLight1",
                 "pointLightColor1", "pointLight2", "pointLightColor2", "pointLight3", "pointLightColor3",
                 "pointLight4", "pointLightColor4", "pointLight5", "pointLightColor5" }) {
            Colour value {};
            for (const Light& light : c.lights)
                if (std::strcmp(light.name, name) == 0)
                    value = light.value;
            add(lit, name, value);
        }
        expectColour(draw(cube(), lit, false), kCentreX, kCentreY, c.expected, c.what);
    }
}

// The shadow matrix takes the face's view-space point to (0.5, 0.5, 0.475)
// of the shadow map; a map holding less depth there shadows the sun.
TEST_F(DemoProgramsTest, TheSunIsShadowedWhereTheShadowMapHoldsSomethingNearer)
{
    const std::array<f32, 16> toMap = { 0.05f, 0, 0, 0, 0, 0.05f, 0, 0, 0, 0, -0.05f, 0, 0.5f, 0.5f, 0, 1 };
    const struct {
        f32 mapDepth;
        f32 expected;
    } cases[] = { { 0.0f, 0.1f }, { 0.46f, 0.1f }, { 0.5f, 1.1f }, { 1.0f, 1.1f } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mapDepth);
        GenericMaterial& lit = material("materials/lit.mat");
        add(lit, "ambientColor", { 0.1f, 0.1f, 0.1f, 1 });
        add(lit, "lightDirection0", { 0, 0, -1, 1 });
        add(lit, "lightColor0", { 1, 1, 1, 1 });
        add(lit, "shadowMap", solid({ c.mapDepth, 0, 0, 1 }), 5);
        addMatrix(lit, "shadowMatrix", toMap);
        expectColour(draw(cube(), lit, false), kCentreX, kCentreY, { c.expected, c.expected, c.expected }, "shadow");
    }
}

// A two-unit square at the origin facing the camera, every vertex bound to
// bone 0 with weight 1.
TEST_F(DemoProgramsTest, TheLitVertexProgramMovesSkinnedVerticesByTheirBones)
{
    auto* square = new visuals::MeshVisual();
    held.emplace_back(square);
    graphics::VertexBuffer* buffer = square->getVertexBuffer(kStaticDraw);
    buffer->setVertexFormat(
        graphics::vertexFormatFromString("position normal texcoord0(2f) blendindices(4f) blendweight(4f)"));
    const f32 corners[6][2] = { { -1, -1 }, { 1, -1 }, { 1, 1 }, { -1, -1 }, { 1, 1 }, { -1, 1 } };
    buffer->resizeElements(6);
    auto* at = reinterpret_cast<f32*>(buffer->lockVertices(containers::BufferBase::Lock::Write, 0, 6));
    for (const auto& corner : corners) {
        const f32 vertex[16] = { corner[0], corner[1], 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0 };
        at = std::copy(vertex, vertex + 16, at);
    }
    buffer->unlockVertices();
    square->appendSubMesh(new visuals::SubMesh());

    const std::array<f32, 16> identity = { 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1 };
    std::array<f32, 16> moved = identity;
    moved[12] = 100.0f;
    const struct {
        const char* what;
        f32 bones;
        std::array<f32, 16> palette;
        f32 expected;
    } cases[] = {
        { "no palette: drawn where it is", 0.0f, moved, 1.0f },
        { "bone 0 at rest", 1.0f, identity, 1.0f },
        { "bone 0 moved out of sight", 1.0f, moved, 0.0f },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GenericMaterial& lit = material("materials/lit.mat");
        add(lit, "ambientColor", { 1, 1, 1, 1 });
        addMatrix(lit, "skinningPalette", c.palette, graphics::UniformType::Matrix4Array);
        const i32 bones = lit.addProperty("numBones", MaterialPropertyType::Float);
        lit.property(bones).value[0] = c.bones;
        expectColour(draw(square, lit, false), kCentreX, kCentreY, { c.expected, c.expected, c.expected }, c.what);
    }
}

// Each effect's material drawn over the window with the values its effect
// writes; sources are plain colours, so every pixel shows the result.
TEST_F(DemoProgramsTest, PostEffectMaterialsComputeWhatTheirEffectsExpect)
{
    using Setup = std::function<void(GenericMaterial&)>;
    const Colour frameColour = { 0.8f, 0.4f, 0.2f, 1 };
    const auto brightPass = [&](f32 maskWeight) {
        return [&, maskWeight](GenericMaterial& m) {
            set(m, "_MainTex", solid({ 0.9f, 0.5f, 1.0f, 0.5f }));
            set(m, "threshold", Colour { 0.8f, 5.0f, 0, 1 });
            set(m, "useSrcAlphaMask", maskWeight);
        };
    };
    // The effect adds "_Intensity" to its copy of the material.
    const auto overlay = [&](f32 layer, f32 intensity) {
        return [&, layer, intensity](GenericMaterial& m) {
            set(m, "_MainTex", solid({ 0.2f, 0.6f, 0.5f, 1 }));
            set(m, "_Overlay", solid({ layer, layer, layer, 1 }));
            const i32 index = m.addProperty("_Intensity", MaterialPropertyType::Float);
            m.property(index).value[0] = intensity;
        };
    };
    const struct {
        const char* what;
        const char* material;
        Setup setup;
        Colour expected;
    } cases[] = {
        { "FXAA keeps a flat frame", "materials/fxaa.mat",
            [&](GenericMaterial& m) {
                set(m, "frameBuffer", solid(frameColour));
                set(m, "_MainTex", solid(frameColour));
                set(m, "inverseResolution", Colour { 1.0f / 320, 1.0f / 240, 0, 1 });
            },
            frameColour },
        { "the bright pass keeps and stretches what exceeds the threshold", "materials/bloom_bright.mat",
            brightPass(0.0f), { 0.5f, 0.0f, 1.0f } },
        { "the bright pass masked by the source's alpha", "materials/bloom_bright.mat", brightPass(1.0f),
            { 0.25f, 0.0f, 0.5f } },
        { "a blur of a flat image is the image", "materials/blur.mat",
            [&](GenericMaterial& m) {
                set(m, "_MainTex", solid(frameColour));
                set(m, "offsets", Colour { 0.01f, 0, 0, 1 });
            },
            frameColour },
        { "the combine adds the bloom (_MainTex) to the frame (bloomTex) by the intensity",
            "materials/bloom_combine.mat",
            [&](GenericMaterial& m) {
                set(m, "_MainTex", solid({ 0.2f, 0.1f, 0.0f, 1 }));
                set(m, "bloomTex", solid({ 0.3f, 0.3f, 0.3f, 1 }));
                set(m, "intensity", 2.0f);
            },
            { 0.7f, 0.5f, 0.3f } },
        { "the vignette keeps the middle of the frame", "materials/vignette.mat",
            [&](GenericMaterial& m) {
                set(m, "_MainTex", solid(frameColour));
                set(m, "blurredTex", solid({ 0, 0, 1, 1 }));
                set(m, "intensity", 1.0f);
                set(m, "blur", 1.0f);
            },
            frameColour },
        { "overlay: mid-grey changes nothing", "materials/overlay.mat", overlay(0.5f, 1.0f), { 0.2f, 0.6f, 0.5f } },
        { "overlay: a dark layer darkens below mid-grey and above it", "materials/overlay.mat", overlay(0.25f, 1.0f),
            { 0.1f, 0.4f, 0.25f } },
        { "overlay: no intensity, no overlay", "materials/overlay.mat", overlay(0.25f, 0.0f), { 0.2f, 0.6f, 0.5f } },
        { "no chromatic aberration keeps the frame", "materials/aberration.mat",
            [&](GenericMaterial& m) {
                set(m, "_MainTex", solid(frameColour));
                set(m, "_MainTex_TexelSize", Colour { 1.0f / 320, 1.0f / 240, 0, 1 });
            },
            frameColour },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GenericMaterial& m = material(c.material);
        c.setup(m);
        const Frame frame = draw(quad(), m, true);
        expectColour(frame, kCentreX, kCentreY, c.expected, c.what);
        // The vignette has its own test for the edges.
        if (c.material != std::string("materials/vignette.mat"))
            expectColour(frame, 5, 5, c.expected, c.what);
    }
}

// The mask of the demo content is white in the middle and black in the
// corners: there the vignette's blur shows the blurred copy alone, and its
// darkening takes everything.
TEST_F(DemoProgramsTest, TheVignetteBlursAndDarkensWhereTheMaskFallsOff)
{
    const struct {
        f32 intensity;
        f32 blur;
        Colour corner;
    } cases[] = { { 0, 0, { 0.8f, 0.4f, 0.2f } }, { 0, 1, { 0, 0, 1 } }, { 1, 0, { 0, 0, 0 } } };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "intensity " << c.intensity << ", blur " << c.blur);
        GenericMaterial& m = material("materials/vignette.mat");
        set(m, "_MainTex", solid({ 0.8f, 0.4f, 0.2f, 1 }));
        set(m, "blurredTex", solid({ 0, 0, 1, 1 }));
        set(m, "intensity", c.intensity);
        set(m, "blur", c.blur);
        const Frame frame = draw(quad(), m, true);
        expectColour(frame, kCentreX, kCentreY, { 0.8f, 0.4f, 0.2f }, "middle");
        // The mask's corner texel is 3 of 255.
        for (const auto& corner : { std::array<u32, 2> { 0, 0 }, std::array<u32, 2> { 319, 239 } }) {
            const u8* pixel = frame.at(corner[0], corner[1]);
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(pixel[i], std::lround(c.corner[i] * 255.0f), 8) << "corner channel " << i;
        }
    }
}

// Staircase edges (white where x - 40 > |y - 119.5|, the same either way up):
// FXAA leaves the flat parts alone and blends pixels along the steps.
TEST_F(DemoProgramsTest, FxaaBlendsStaircaseEdges)
{
    GenericMaterial& m = material("materials/fxaa.mat");
    graphics::Texture* stairs = texture(320, 240, [](u32 x, u32 y) {
        const f32 v = static_cast<f32>(x) - 40.0f > std::fabs(static_cast<f32>(y) - 119.5f) ? 1.0f : 0.0f;
        return Colour { v, v, v, 1 };
    });
    set(m, "frameBuffer", stairs);
    set(m, "_MainTex", stairs);
    set(m, "inverseResolution", Colour { 1.0f / 320, 1.0f / 240, 0, 1 });
    const Frame frame = draw(quad(), m, true);
    expectColour(frame, 250, kCentreY, { 1, 1, 1 }, "far inside the white wedge");
    expectColour(frame, 20, kCentreY, { 0, 0, 0 }, "far on the black side");
    expectColour(frame, 60, 10, { 0, 0, 0 }, "far on the black side");
    u32 blended = 0;
    for (u32 y = 20; y < 100; ++y) {
        const u32 edge = 40 + (120 - y);
        for (u32 x = edge - 1; x <= edge + 1; ++x) {
            const u8 value = frame.at(x, y)[1];
            if (value > 20 && value < 235)
                ++blended;
        }
    }
    EXPECT_GT(blended, 40u) << "pixels along the edge between black and white";
}

// Black with a white band at the right edge: at x = 310 the shift of 8
// pixels at the corners is about 7.5 pixels, so red comes from the black
// left of the band and blue from inside it.
TEST_F(DemoProgramsTest, ChromaticAberrationDrawsRedAndBlueApartTowardsTheEdges)
{
    GenericMaterial& m = material("materials/aberration.mat");
    set(m, "_MainTex", texture(320, 240, [](u32 x, u32) {
        const f32 v = x >= 305 ? 1.0f : 0.0f;
        return Colour { v, v, v, 1 };
    }));
    set(m, "_MainTex_TexelSize", Colour { 1.0f / 320, 1.0f / 240, 0, 1 });
    set(m, "chromaticAberration", 8.0f);
    const Frame frame = draw(quad(), m, true);
    expectColour(frame, 310, kCentreY, { 0, 1, 1 }, "near the right edge");
    expectColour(frame, kCentreX, kCentreY, { 0, 0, 0 }, "the middle does not move");
}

} // namespace
} // namespace quern::opengl::testing
