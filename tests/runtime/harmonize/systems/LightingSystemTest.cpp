#include "harmonize/systems/LightingSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AppContext.h"

#include "harmonize/Scenario.h"

#include "quern/fx/shadows/ShadowMapRenderPass.h"
#include "quern/graphics/Channel.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/PixelBufferFormat.h"
#include "quern/graphics/PixelFormat.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/graphics/Uniform.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/graphics/renderstate/TextureState.h"
#include "quern/math/Matrix4.h"
#include "quern/render/PassList.h"
#include "quern/scene/Light.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace harmonize;
using quern::Ref;
using quern::graphics::GenericMaterial;
using quern::graphics::MaterialPropertyType;
using quern::math::Quaternion;
using quern::math::Vector3;
using Floats = std::vector<f32>;
using Scenario = harmonize::testing::Scenario;

namespace {

constexpr f32 kHalfPi = 1.5707963f;

// The display material passes and shadow passes need, and the settings at
// their defaults around every test.
class LightingSystemTest : public ::testing::Test {
protected:
    LightingSystemTest()
    {
        Settings::resetToDefaults();
        quern::graphics::Display::set(new quern::graphics::NullDisplay);
    }
    ~LightingSystemTest() override
    {
        quern::graphics::Display::set(nullptr);
        Settings::resetToDefaults();
    }
};

// A world with the lighting system attached and one drawn entity.
struct LightingWorld {
    LightingWorld()
    {
        scene.addSystem(lighting);
        scene.world().attachSystems(nullptr);
    }

    // A point light whose colour's red channel names it.
    EntityHandle addPointLight(f32 x, f32 range, f32 name)
    {
        const EntityHandle light = scene.add("point", { "Transform", "Light" });
        scene.get<Transform>(light).position = { x, 0.0f, 0.0f };
        scene.get<Light>(light) = Light { { name, 0.5f, 0.25f }, 2.0f, range, {}, 0, Light::kPoint };
        return light;
    }
    EntityHandle addDirectionalLight(const Quaternion& rotation, f32 name, bool castsShadows = false)
    {
        const EntityHandle light = scene.add("sun", { "Transform", "Light" });
        scene.get<Transform>(light).rotation = rotation;
        scene.get<Light>(light)
            = Light { { name, 0.5f, 0.25f }, 3.0f, 0.0f, {}, castsShadows ? 1u : 0u, Light::kDirectional };
        return light;
    }

    Ref litMaterial()
    {
        Ref held(new GenericMaterial);
        lighting->setUpMaterial(*held.get<GenericMaterial>());
        return held;
    }
    void assign(GenericMaterial& material, Vector3 centre = {}, f32 radius = 0.0f)
    {
        const f32 position[3] = { centre.x, centre.y, centre.z };
        lighting->updateVisualLights(material, visual, position, radius, scene.world());
    }
    void update() { lighting->update(nullptr, scene.world()); }

    Scenario scene;
    AppContext context;
    LightingSystem* lighting = new LightingSystem(context); // the world's
    EntityHandle visual = scene.add("visual", { "Transform" });
};

Floats valueOf(const GenericMaterial& material, const std::string& name)
{
    const quern::i32 index = material.findProperty(name.c_str());
    if (index == 0)
        return { -1.0f };
    const f32* value = material.property(index).value;
    return Floats(value, value + 4);
}

std::vector<std::string> propertyNames(const GenericMaterial& material)
{
    std::vector<std::string> names;
    for (u64 i = 1; i <= material.propertyCount(); ++i)
        names.push_back(material.property(static_cast<quern::i32>(i)).name);
    return names;
}

const quern::graphics::Uniform* passUniform(GenericMaterial& material, const std::string& name)
{
    const auto& list
        = material.getShader()->getShaderProgramState()->uniforms(quern::graphics::ShaderProgramState::FragmentStage);
    for (u64 i = 0; i < list.count(); ++i)
        if (list.at(i)->name() == name)
            return list.at(i);
    return nullptr;
}

// The point-light slot contents as the names (red channels) of the lights in
// them; an unlit slot is 0 when its colour is (0, 0, 0, 1).
std::vector<f32> slotNames(const GenericMaterial& material)
{
    std::vector<f32> names;
    for (int slot = 0; slot < 6; ++slot) {
        const Floats colour = valueOf(material, "pointLightColor" + std::to_string(slot));
        names.push_back(colour == Floats { 0, 0, 0, 1 } ? 0.0f : colour[0]);
    }
    return names;
}

TEST_F(LightingSystemTest, SetUpGivesTheLightingPropertiesWithTheCurrentLights)
{
    LightingWorld w;
    const EntityHandle fog = w.scene.add("fog", { "Fog" });
    w.scene.set(fog, "Fog", "ambient", { 0.1, 0.2, 0.3, 0.4 });
    w.addDirectionalLight(Quaternion::fromAxisAngle(kHalfPi, { 0, 1, 0 }), 7);
    w.addPointLight(4, 9, 5);
    w.scene.start();

    Ref held = w.litMaterial();
    const GenericMaterial& material = *held.get<GenericMaterial>();
    const std::vector<std::string> expected
        = { "ambientColor", "lightDirection0", "lightColor0", "lightDirection1", "lightColor1", "pointLight0",
              "pointLightColor0", "pointLight1", "pointLightColor1", "pointLight2", "pointLightColor2", "pointLight3",
              "pointLightColor3", "pointLight4", "pointLightColor4", "pointLight5", "pointLightColor5" };
    EXPECT_EQ(propertyNames(material), expected);
    EXPECT_EQ(valueOf(material, "ambientColor"), (Floats { 0.1f, 0.2f, 0.3f, 0.4f }));
    // The light's z axis turned a quarter about y points along x.
    const Floats direction = valueOf(material, "lightDirection0");
    EXPECT_NEAR(direction[0], 1.0f, 1e-6f);
    EXPECT_NEAR(direction[2], 0.0f, 1e-6f);
    EXPECT_EQ(direction[3], 1.0f);
    EXPECT_EQ(valueOf(material, "lightColor0"), (Floats { 7, 0.5f, 0.25f, 3 }));
    EXPECT_EQ(valueOf(material, "lightDirection1"), (Floats { 0, 0, 0, 1 }));
    EXPECT_EQ(valueOf(material, "lightColor1"), (Floats { 0, 0, 0, 0 }));
    EXPECT_EQ(valueOf(material, "pointLight0"), (Floats { 4, 0, 0, 9 }));
    EXPECT_EQ(valueOf(material, "pointLightColor0"), (Floats { 5, 0.5f, 0.25f, 2 }));
    EXPECT_EQ(valueOf(material, "pointLightColor1"), (Floats { 0, 0, 0, 0 }));
    for (u64 i = 1; i <= material.propertyCount(); ++i)
        EXPECT_EQ(material.property(static_cast<quern::i32>(i)).type, static_cast<u32>(MaterialPropertyType::Vector));
}

TEST_F(LightingSystemTest, AttachStartsOverFromTheDefaultAmbientWithNoLights)
{
    LightingWorld w;
    w.addDirectionalLight({}, 1, true);
    w.addPointLight(1, 1, 1);
    w.scene.start();
    w.lighting->detach(nullptr);
    w.lighting->attach(nullptr);
    Ref held = w.litMaterial();
    EXPECT_EQ(valueOf(*held.get<GenericMaterial>(), "ambientColor"), (Floats { 0.2f, 0.2f, 0.2f, 1.0f }));
    EXPECT_EQ(w.lighting->directionalCount(), 0u);
    EXPECT_EQ(w.lighting->pointLightCount(), 0u);
    EXPECT_TRUE(w.lighting->shadowLight().isNull());
}

TEST_F(LightingSystemTest, ThreeDirectionalLightsKeepTheFirstTwoAndTheThirdCanStillCastTheShadow)
{
    LightingWorld w;
    const EntityHandle first = w.addDirectionalLight({}, 1);
    const EntityHandle second = w.addDirectionalLight({}, 2);
    const EntityHandle third = w.addDirectionalLight({}, 3, true);
    w.scene.start();

    ASSERT_EQ(w.lighting->directionalCount(), 2u);
    EXPECT_EQ(w.lighting->directionalLight(0).entity, first.value);
    EXPECT_EQ(w.lighting->directionalLight(1).entity, second.value);
    EXPECT_EQ(w.lighting->shadowLight(), third);
    Ref held = w.litMaterial();
    GenericMaterial& material = *held.get<GenericMaterial>();
    w.assign(material);
    EXPECT_EQ(valueOf(material, "lightColor0")[0], 1.0f);
    EXPECT_EQ(valueOf(material, "lightColor1")[0], 2.0f);
}

struct SlotCase {
    const char* name;
    std::vector<std::pair<f32, f32>> lights; // x and range; light i is named i + 1
    f32 radius;
    std::vector<f32> slots; // light names in slot order, 0 for an unlit slot
};

TEST_F(LightingSystemTest, PointLightsFillTheSlotsNearestFirstOnceThereAreMoreThanSix)
{
    const SlotCase cases[] = {
        // Six or fewer: every light in order, whatever its range.
        { "six", { { 5, 1 }, { 4, 1 }, { 3, 1 }, { 2, 1 }, { 1, 1 }, { 0, 1 } }, 0, { 1, 2, 3, 4, 5, 6 } },
        { "two", { { 50, 1 }, { 3, 1 } }, 0, { 1, 2, 0, 0, 0, 0 } },
        // The seventh candidate sorts the kept ones; the farthest drops out.
        { "seven", { { 7, 99 }, { 1, 99 }, { 6, 99 }, { 2, 99 }, { 5, 99 }, { 3, 99 }, { 4, 99 } }, 0,
            { 2, 4, 6, 7, 5, 3 } },
        // Out of range: d = x^2 - radius^2 above 2 range^2. Light 4 (x 3,
        // range 2, radius 1) sits on the limit and is in. Fewer than seven
        // candidates keep their arrival order.
        { "range", { { 6, 99 }, { 1, 99 }, { 5, 1 }, { 3, 2 }, { 3.1f, 2 }, { 4, 99 }, { 7, 1 } }, 1,
            { 1, 2, 4, 6, 0, 0 } },
        // Light 7 is exactly as far as the sixth kept (light 5): it stays out.
        // Lights 1 and 3 are equally far and keep their order.
        { "tie with the sixth", { { 3, 99 }, { 1, 99 }, { 3, 99 }, { 2, 99 }, { 5, 99 }, { 4, 99 }, { 5, 99 } }, 0,
            { 2, 4, 1, 3, 6, 5 } },
        // Light 7 replaces the sixth and goes after the kept lights as far as it.
        { "tie inside", { { 3, 99 }, { 1, 99 }, { 3, 99 }, { 2, 99 }, { 5, 99 }, { 4, 99 }, { -3, 99 } }, 0,
            { 2, 4, 1, 3, 7, 6 } },
    };
    for (const SlotCase& c : cases) {
        SCOPED_TRACE(c.name);
        LightingWorld w;
        f32 name = 1;
        for (const auto& [x, range] : c.lights)
            w.addPointLight(x, range, name++);
        w.scene.start();
        w.update();
        Ref held = w.litMaterial();
        GenericMaterial& material = *held.get<GenericMaterial>();
        w.assign(material, {}, c.radius);
        EXPECT_EQ(slotNames(material), c.slots);
        // A slot holds its light's position and range too.
        const auto& [x, range] = c.lights[static_cast<u64>(c.slots[0]) - 1];
        EXPECT_EQ(valueOf(material, "pointLight0"), (Floats { x, 0, 0, range }));
    }
}

TEST_F(LightingSystemTest, TheNearestLightsFollowTheVisual)
{
    LightingWorld w;
    for (f32 x = 1; x <= 8; ++x)
        w.addPointLight(x * 10, 99, x);
    w.scene.start();
    Ref held = w.litMaterial();
    GenericMaterial& material = *held.get<GenericMaterial>();
    w.assign(material, { 0, 0, 0 });
    EXPECT_EQ(slotNames(material), (std::vector<f32> { 1, 2, 3, 4, 5, 6 }));
    w.assign(material, { 90, 0, 0 });
    EXPECT_EQ(slotNames(material), (std::vector<f32> { 8, 7, 6, 5, 4, 3 }));
}

TEST_F(LightingSystemTest, ADeactivatedLightKeepsItsRecordWithIntensityZeroUntilDestroyed)
{
    LightingWorld w;
    const EntityHandle sun = w.addDirectionalLight({}, 1);
    const EntityHandle a = w.addPointLight(1, 9, 1);
    const EntityHandle b = w.addPointLight(2, 9, 2);
    const EntityHandle c = w.addPointLight(3, 9, 3);
    w.scene.start();
    w.scene.world().deactivateEntity(sun);
    w.scene.world().deactivateEntity(b);
    w.update();

    ASSERT_EQ(w.lighting->pointLightCount(), 3u);
    EXPECT_EQ(w.lighting->pointLight(1).intensity, 0.0f);
    EXPECT_EQ(w.lighting->pointLight(0).intensity, 2.0f);
    Ref held = w.litMaterial();
    GenericMaterial& material = *held.get<GenericMaterial>();
    w.assign(material);
    EXPECT_EQ(valueOf(material, "lightColor0"), (Floats { 1, 0.5f, 0.25f, 0 }));
    EXPECT_EQ(valueOf(material, "pointLightColor1"), (Floats { 2, 0.5f, 0.25f, 0 }));

    // Destroyed, the record goes and the others keep their order.
    w.scene.world().destroyEntities(&b, 1);
    w.scene.world().destroyEntities(&sun, 1);
    ASSERT_EQ(w.lighting->pointLightCount(), 2u);
    EXPECT_EQ(w.lighting->pointLight(0).entity, a.value);
    EXPECT_EQ(w.lighting->pointLight(1).entity, c.value);
    EXPECT_EQ(w.lighting->directionalCount(), 0u);
}

TEST_F(LightingSystemTest, ALightMovedSinceCreationIsWrittenWhereItIsNow)
{
    LightingWorld w;
    const EntityHandle parent = w.scene.add("arm", { "Transform" });
    const EntityHandle light = w.addPointLight(1, 9, 1);
    w.scene.setParent(light, parent);
    w.scene.start();
    w.scene.get<Transform>(parent).position = { 0, 5, 0 };
    w.scene.get<Light>(light).intensity = 4;
    w.update();
    Ref held = w.litMaterial();
    GenericMaterial& material = *held.get<GenericMaterial>();
    w.assign(material);
    EXPECT_EQ(valueOf(material, "pointLight0"), (Floats { 1, 5, 0, 9 }));
    EXPECT_EQ(valueOf(material, "pointLightColor0"), (Floats { 1, 0.5f, 0.25f, 4 }));
}

TEST_F(LightingSystemTest, WithLightingOffMaterialsGetOnlyAWhiteAmbientAndNoUpdates)
{
    struct Case {
        bool enabled, lightingEnabled;
    };
    for (const Case c : { Case { true, false }, Case { false, true } }) {
        SCOPED_TRACE(c.enabled ? "lighting off" : "renderer off");
        Settings::resetToDefaults();
        LightingWorld w;
        Ref before = w.litMaterial();
        Settings::Renderer.enabled = c.enabled;
        Settings::Renderer.lightingEnabled = c.lightingEnabled;
        Settings::Renderer.renderShadows = true;
        w.addDirectionalLight({}, 1, true);
        w.addPointLight(1, 9, 1);
        w.scene.start();
        w.update();
        EXPECT_EQ(w.lighting->directionalCount(), 0u);
        EXPECT_EQ(w.lighting->pointLightCount(), 0u);
        EXPECT_TRUE(w.lighting->shadowLight().isNull());

        Ref held = w.litMaterial();
        const GenericMaterial& material = *held.get<GenericMaterial>();
        EXPECT_EQ(propertyNames(material), std::vector<std::string> { "ambientColor" });
        EXPECT_EQ(valueOf(material, "ambientColor"), (Floats { 1, 1, 1, 1 }));

        // A material set up while lighting was on is not touched: its empty
        // slots keep the set-up's zero colour.
        GenericMaterial& lit = *before.get<GenericMaterial>();
        w.assign(lit);
        EXPECT_EQ(valueOf(lit, "pointLightColor0"), (Floats { 0, 0, 0, 0 }));
    }
}

TEST_F(LightingSystemTest, ValuesAreWrittenOnlyWhenTheyChange)
{
    LightingWorld w;
    const EntityHandle light = w.addPointLight(1, 9, 1);
    w.scene.start();
    Ref held = w.litMaterial();
    GenericMaterial& material = *held.get<GenericMaterial>();
    w.assign(material);
    material.getShader();
    ASSERT_FALSE(material.isDirty());
    // A mark in the pass's uniforms that only a write would replace.
    auto* colour = const_cast<quern::graphics::Uniform*>(passUniform(material, "pointLightColor0"));
    auto* unlit = const_cast<quern::graphics::Uniform*>(passUniform(material, "pointLightColor1"));
    ASSERT_TRUE(colour && unlit);
    colour->storage()[0] = -7;
    unlit->storage()[0] = -7;

    w.update();
    w.assign(material);
    EXPECT_EQ(colour->storage()[0], -7.0f);
    EXPECT_EQ(unlit->storage()[0], -7.0f);

    w.scene.get<Light>(light).colour[1] = 0.75f;
    w.update();
    w.assign(material);
    EXPECT_FALSE(material.isDirty());
    EXPECT_EQ(Floats(colour->storage(), colour->storage() + 4), (Floats { 1, 0.75f, 0.25f, 2 }));
    EXPECT_EQ(unlit->storage()[0], -7.0f);
}

TEST_F(LightingSystemTest, ALightThatWasNotANumberIsWrittenOnceItRecovers)
{
    LightingWorld w;
    const EntityHandle light = w.addPointLight(1, 9, 1);
    w.scene.get<Light>(light).intensity = std::numeric_limits<f32>::quiet_NaN();
    w.scene.start();
    Ref held = w.litMaterial();
    GenericMaterial& material = *held.get<GenericMaterial>();
    w.assign(material);
    ASSERT_TRUE(std::isnan(valueOf(material, "pointLightColor0")[3]));
    w.scene.get<Light>(light).intensity = 2;
    w.update();
    w.assign(material);
    EXPECT_EQ(valueOf(material, "pointLightColor0"), (Floats { 1, 0.5f, 0.25f, 2 }));
}

TEST_F(LightingSystemTest, MaterialsWithoutTheLightPropertiesAreLeftAlone)
{
    LightingWorld w;
    for (f32 x = 1; x <= 3; ++x)
        w.addPointLight(x, 9, x);
    w.scene.start();

    // Too few properties to be lit.
    Ref plain(new GenericMaterial);
    GenericMaterial& unlit = *plain.get<GenericMaterial>();
    unlit.addProperty("pointLightColor0", MaterialPropertyType::Vector);
    w.assign(unlit);
    EXPECT_EQ(valueOf(unlit, "pointLightColor0"), (Floats { 0, 0, 0, 0 }));

    // A lit material that lacks "pointLight1": slot 0 is written, then the
    // update of this material stops, before the empty slots are reset.
    Ref held(new GenericMaterial);
    GenericMaterial& material = *held.get<GenericMaterial>();
    for (const char* name :
        { "ambientColor", "lightDirection0", "lightColor0", "lightDirection1", "lightColor1", "pointLight0",
            "pointLightColor0", "pointLightColor1", "pointLight2", "pointLightColor2", "pointLightColor5" })
        material.addProperty(name, MaterialPropertyType::Vector);
    w.assign(material);
    EXPECT_EQ(valueOf(material, "pointLightColor0"), (Floats { 1, 0.5f, 0.25f, 2 }));
    EXPECT_EQ(valueOf(material, "pointLight2"), (Floats { 0, 0, 0, 0 }));
    EXPECT_EQ(valueOf(material, "pointLightColor5"), (Floats { 0, 0, 0, 0 }));
}

// A shadow-map pass with a light node, owned by a pass list, as the pipeline
// gives the world's context.
struct ShadowPassFixture {
    ShadowPassFixture()
    {
        pass().caster().setLight(new quern::scene::Light);
        pass().setOwner(&list);
        pass().enabled = 0;
        list.compiled = 1;
    }
    ~ShadowPassFixture() { pass().setOwner(nullptr); }
    quern::fx::ShadowMapRenderPass& pass() { return *held.get<quern::fx::ShadowMapRenderPass>(); }
    quern::scene::Light& node() { return *pass().caster().light(); }

    quern::render::PassList list;
    Ref held { new quern::fx::ShadowMapRenderPass };
};

void expectRotation(const Quaternion& actual, const Quaternion& expected)
{
    EXPECT_NEAR(actual.x, expected.x, 1e-6f);
    EXPECT_NEAR(actual.y, expected.y, 1e-6f);
    EXPECT_NEAR(actual.z, expected.z, 1e-6f);
    EXPECT_NEAR(actual.w, expected.w, 1e-6f);
}

TEST_F(LightingSystemTest, TheShadowLightGivesTheLightNodeItsPositionAndInverseRotation)
{
    const f32 s = std::sqrt(0.5f);
    const Quaternion quarterY = Quaternion::fromAxisAngle(kHalfPi, { 0, 1, 0 });
    struct Case {
        const char* name;
        Quaternion parent, own, expected;
    };
    const Case cases[] = {
        { "identity", {}, {}, {} },
        { "quarter turn about y", {}, quarterY, { 0, -s, 0, s } },
        { "turned by its parent", quarterY, {}, { 0, -s, 0, s } },
        { "not of unit length", {}, { 0, 2 * s, 0, 2 * s }, { 0, -s / 2, 0, s / 2 } },
    };
    Settings::Renderer.renderShadows = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LightingWorld w;
        ShadowPassFixture shadow;
        w.context.shadowPass = &shadow.pass();
        const EntityHandle parent = w.scene.add("arm", { "Transform" });
        w.scene.get<Transform>(parent).position = { 0, 10, 0 };
        w.scene.get<Transform>(parent).rotation = c.parent;
        w.addDirectionalLight({}, 1);
        const EntityHandle sun = w.addDirectionalLight(c.own, 2, true);
        w.scene.setParent(sun, parent);
        w.scene.start();
        w.update();

        expectRotation(shadow.node().rotation(), c.expected);
        EXPECT_EQ(shadow.node().translation().y, 10.0f);
        EXPECT_EQ(shadow.node().width, 100.0f);
        EXPECT_EQ(shadow.node().height, 100.0f);
        EXPECT_EQ(shadow.node().range, 10000.0f);
        EXPECT_EQ(shadow.node().kind, quern::scene::Light::kOrthographicKind);
        EXPECT_EQ(shadow.pass().enabled, 1u);
        EXPECT_EQ(shadow.list.compiled, 0u);
        // No render system, no camera: the matrix stays as it was.
        const f32* matrix = w.lighting->shadowMatrix()->storage();
        const quern::math::Matrix4 identity;
        EXPECT_EQ(Floats(matrix, matrix + 16), Floats(identity.m, identity.m + 16));
    }
}

TEST_F(LightingSystemTest, TheShadowNeedsTheSettingAPassAndAnActiveLight)
{
    enum Missing { Setting, Pass, ActiveLight };
    for (const Missing missing : { Setting, Pass, ActiveLight }) {
        SCOPED_TRACE(missing);
        Settings::Renderer.renderShadows = missing != Setting;
        LightingWorld w;
        ShadowPassFixture shadow;
        w.context.shadowPass = missing == Pass ? nullptr : &shadow.pass();
        const EntityHandle sun = w.addDirectionalLight(Quaternion::fromAxisAngle(1, { 1, 0, 0 }), 1, true);
        w.scene.get<Transform>(sun).position = { 4, 5, 6 };
        w.scene.start();
        if (missing == ActiveLight)
            w.scene.world().deactivateEntity(sun);
        w.update();
        EXPECT_EQ(shadow.node().translation().x, 0.0f);
        expectRotation(shadow.node().rotation(), {});
        EXPECT_EQ(shadow.pass().enabled, 0u);
    }
}

Ref textureOf(const quern::graphics::PixelFormat& format)
{
    auto* image = new quern::graphics::NullPixelBuffer;
    image->create(quern::graphics::PixelBufferFormat::create2D(16, 16, format), 0);
    return Ref(new quern::graphics::Texture(image));
}

quern::i32 addTexture(GenericMaterial& material, const char* name, quern::i32 unit)
{
    const quern::i32 index = material.addProperty(name, MaterialPropertyType::Texture);
    material.property(index).unit = unit;
    return index;
}

TEST_F(LightingSystemTest, WithShadowsMaterialsTakeTheShadowMapOnTheNextUnitAndShareOneShadowMatrix)
{
    Settings::Renderer.renderShadows = true;
    LightingWorld w;
    w.scene.start();
    Ref heldA(new GenericMaterial);
    Ref heldB(new GenericMaterial);
    GenericMaterial& a = *heldA.get<GenericMaterial>();
    GenericMaterial& b = *heldB.get<GenericMaterial>();
    addTexture(a, "_MainTex", 0);
    addTexture(a, "_Detail", 2);
    w.lighting->setUpMaterial(a);
    w.lighting->setUpMaterial(b);

    for (GenericMaterial* material : { &a, &b }) {
        const quern::i32 map = material->findProperty("shadowMap");
        const quern::i32 matrix = material->findProperty("shadowMatrix");
        ASSERT_TRUE(map != 0 && matrix != 0);
        EXPECT_EQ(material->property(map).type, static_cast<u32>(MaterialPropertyType::Texture));
        EXPECT_EQ(material->property(map).texture, nullptr);
        EXPECT_EQ(material->property(matrix).type, static_cast<u32>(MaterialPropertyType::Uniform));
        EXPECT_EQ(material->property(matrix).uniform, w.lighting->shadowMatrix());
    }
    EXPECT_EQ(a.property(a.findProperty("shadowMap")).unit, 3);
    EXPECT_EQ(b.property(b.findProperty("shadowMap")).unit, 0);
    EXPECT_EQ(w.lighting->shadowMatrix()->name(), "shadowMatrix");
}

// There is no unit 8: a pass built with it would end in the fatal path.
TEST_F(LightingSystemTest, AMaterialWithEveryTextureUnitTakenGetsNoShadowMap)
{
    Settings::Renderer.renderShadows = true;
    LightingWorld w;
    w.scene.start();
    Ref held(new GenericMaterial);
    GenericMaterial& material = *held.get<GenericMaterial>();
    addTexture(material, "_Last", 7);
    w.lighting->setUpMaterial(material);
    EXPECT_EQ(material.findProperty("shadowMap"), 0);
    EXPECT_NE(material.findProperty("shadowMatrix"), 0);
    EXPECT_NE(material.getShader(), nullptr);
}

TEST_F(LightingSystemTest, TheShadowMapIsTheShadowPassDepthTextureOrNone)
{
    using quern::graphics::Texture;
    using quern::graphics::TextureRenderTarget;
    Settings::Renderer.renderShadows = true;
    LightingWorld w;
    ShadowPassFixture shadow;
    const Ref target(new TextureRenderTarget);
    const Ref colour = textureOf(quern::graphics::PixelFormat::B8G8R8);
    const quern::graphics::Channel depthChannel { quern::graphics::ChannelContent::D,
        quern::graphics::ChannelType::Unsigned, 24, 0, 0 };
    const Ref depth = textureOf(quern::graphics::PixelFormat::fromOneChannel(depthChannel, 0));
    target.get<TextureRenderTarget>()->addTexture(colour.get<Texture>());
    target.get<TextureRenderTarget>()->addTexture(depth.get<Texture>());
    shadow.pass().setOutput(target.get<TextureRenderTarget>());
    w.context.shadowPass = &shadow.pass();
    w.scene.start();
    Ref held = w.litMaterial();
    GenericMaterial& material = *held.get<GenericMaterial>();
    const quern::i32 map = material.findProperty("shadowMap");

    w.assign(material);
    EXPECT_EQ(material.property(map).texture, depth.get<Texture>());
    material.getShader();
    EXPECT_EQ(material.textureState()->texture(0), depth.get<Texture>());

    // With the pass gone the material lets go of its map rather than keep a
    // texture that may be freed with the pass.
    w.context.shadowPass = nullptr;
    w.assign(material);
    EXPECT_EQ(material.property(map).texture, nullptr);
    EXPECT_EQ(material.textureState()->texture(0), nullptr);
}

} // namespace
