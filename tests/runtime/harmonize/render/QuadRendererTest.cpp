#include "harmonize/render/QuadRenderer.h"

#include "support/RecordingGraphicsBackEnd.h"

#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/materials/SpriteMaterial.h"
#include "quern/render/RenderQueue.h"
#include "quern/visuals/MeshVisual.h"

#include <algorithm>
#include <string>

namespace harmonize {
namespace {

using quern::graphics::GenericMaterial;
using quern::graphics::MaterialPropertyType;
using quern::graphics::PixelBufferFormat;
using quern::graphics::PixelFormat;
using quern::graphics::Texture;
using quern::graphics::TextureRenderTarget;
using quern::test::RecordingTarget;

class QuadRendererTest : public quern::test::RecordingDisplayTest {
protected:
    void SetUp() override
    {
        RecordingDisplayTest::SetUp();
        quads.init(quern::render::RenderQueue::create(), *display);
        device.forget();
    }
    void TearDown() override
    {
        quads.release();
        held.clear();
        RecordingDisplayTest::TearDown();
    }

    template <class T> T* hold(T* object)
    {
        held.emplace_back(object);
        return object;
    }
    RecordingTarget* target(const char* name, quern::i32 width, quern::i32 height)
    {
        RecordingTarget* made = hold(new RecordingTarget(device, name));
        made->setSize(width, height);
        return made;
    }
    Texture* texture(const PixelFormat& format)
    {
        Texture* made = hold(new Texture());
        made->pixelBuffer()->setBufferFormat(PixelBufferFormat::create2D(8, 8, format));
        return made;
    }
    // Where a line first appears in the device's log (the log's size when never).
    quern::u64 position(const std::string& line) const
    {
        return static_cast<quern::u64>(std::find(device.log.begin(), device.log.end(), line) - device.log.begin());
    }

    QuadRenderer quads;
    std::vector<quern::Ref> held;
};

TEST_F(QuadRendererTest, InitBuildsAFourVertexStripWithOneSubMesh)
{
    quern::visuals::MeshVisual* quad = quads.visual();
    ASSERT_NE(quad, nullptr);
    ASSERT_NE(quad->vertexBuffer(), nullptr);
    EXPECT_EQ(quad->vertexBuffer()->elementCount(), 4u);
    EXPECT_EQ(quad->vertexBuffer()->usage(), 5u);
    EXPECT_EQ(quad->subMeshCount(), 1u);
    EXPECT_EQ(quads.display(), display);

    quads.release();
    EXPECT_EQ(quads.queue(), nullptr);
    EXPECT_EQ(quads.display(), nullptr);
    EXPECT_EQ(quads.visual(), nullptr);
}

TEST_F(QuadRendererTest, DrawQuadCoversTheTargetsViewportBetweenItsBindAndUnbind)
{
    RecordingTarget* scratch = target("scratch", 200, 100);
    scratch->setViewport(3, 4, 200, 100);
    auto* material = hold(new quern::graphics::SpriteMaterial());
    quads.drawQuad(*scratch, *material);

    ASSERT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(device.draws[0].count, 4u);
    EXPECT_LT(position("viewport 3 4 200 100"), position("bind scratch"));
    EXPECT_LT(position("bind scratch"), position("draw 0 4"));
    EXPECT_LT(position("draw 0 4"), position("unbind scratch"));
    EXPECT_LT(position("unbind scratch"), device.log.size());
    const quern::i32* current = display->context().viewport;
    EXPECT_EQ(std::vector<quern::i32>(current, current + 4), (std::vector<quern::i32> { 3, 4, 200, 100 }));
    // The quad is already in clip space: only depth is mirrored.
    quern::math::Matrix4 expected;
    expected.m[10] = -1.0f;
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(device.draws[0].worldViewProjection.m[i], expected.m[i]) << i;
    // The quad lets the material go again.
    EXPECT_EQ(quads.visual()->material(), nullptr);
    EXPECT_EQ(material->refCount(), 1);
}

TEST_F(QuadRendererTest, BlitSamplesTheSourcesFirstColourAttachment)
{
    auto* material = hold(new GenericMaterial());
    material->addProperty("_Tint", MaterialPropertyType::Color);
    const quern::i32 mainTex = material->addProperty("_MainTex", MaterialPropertyType::Texture);
    RecordingTarget* source = target("source", 8, 8);
    Texture* depth = texture(PixelFormat::D24S8);
    Texture* colour = texture(PixelFormat::B8G8R8);
    source->addTexture(depth);
    source->addTexture(colour);
    EXPECT_EQ(colourTexture(source), colour);

    quads.blit(source, *target("destination", 8, 8), *material);
    EXPECT_EQ(material->property(mainTex).texture, colour);
    ASSERT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(device.draws[0].textures[0], colour->pixelBuffer());
    EXPECT_LT(position("bind destination"), position("draw 0 4"));

    // A source without a colour image binds nothing.
    RecordingTarget* depthOnly = target("depth only", 8, 8);
    depthOnly->addTexture(depth);
    EXPECT_EQ(colourTexture(depthOnly), nullptr);
    quads.blit(depthOnly, *target("again", 8, 8), *material);
    EXPECT_EQ(material->property(mainTex).texture, nullptr);
    EXPECT_EQ(colourTexture(nullptr), nullptr);
}

TEST_F(QuadRendererTest, BlitWithAMaterialWithoutMainTexStillDraws)
{
    auto* material = hold(new GenericMaterial());
    material->addProperty("_Tint", MaterialPropertyType::Color);
    RecordingTarget* source = target("source", 8, 8);
    source->addTexture(texture(PixelFormat::B8G8R8));
    quads.blit(source, *target("destination", 8, 8), *material);
    EXPECT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(material->propertyCount(), 1u);
}

} // namespace
} // namespace harmonize
