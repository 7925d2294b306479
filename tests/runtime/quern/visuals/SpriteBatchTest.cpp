#include "support/RecordingGraphicsBackEnd.h"

#include "support/BufferContents.h"

#include "GraphicsContent.h"

#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/TextureAtlas.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/visuals/MeshVisual.h"
#include "quern/visuals/SpriteBatch.h"
#include "quern/visuals/SubMesh.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quern::test {
namespace {

using graphics::BatchVertex;
using graphics::Texture;
using visuals::SpriteBatch;
using visuals::SpriteDescription;
using Lock = containers::BufferBase::Lock;

SpriteDescription plainSprite(f32 x, f32 y, f32 w, f32 h, f32 rotation = 0)
{
    return { x, y, w, h, 0, 1, 1, 0, 1, 1, 1, 1, rotation };
}

struct SpriteBatchTest : RecordingDisplayTest {
    void SetUp() override
    {
        RecordingDisplayTest::SetUp();
        batch.reserveStorage();
    }
    void TearDown() override
    {
        batch.freeStorage();
        textures.clear();
        visualHold.reset();
        RecordingDisplayTest::TearDown();
    }
    Texture* newTexture()
    {
        textures.emplace_back(new Texture());
        return textures.back().get<Texture>();
    }
    visuals::MeshVisual& visual() { return *visualHold.get<visuals::MeshVisual>(); }

    SpriteBatch batch;
    std::vector<Ref> textures;
    Ref visualHold { new visuals::MeshVisual() };
};

TEST_F(SpriteBatchTest, QuadsAreGroupedByTextureInFirstUseOrder)
{
    Texture* a = newTexture();
    Texture* b = newTexture();
    batch.addQuad(plainSprite(1, 0, 1, 1), a);
    batch.addQuad(plainSprite(2, 0, 1, 1), b);
    batch.addQuad(plainSprite(3, 0, 1, 1), a);
    ASSERT_EQ(batch.textureCount(), 2u);
    EXPECT_EQ(batch.textureEntry(0).texture, a);
    EXPECT_EQ(batch.textureEntry(0).quads, 2);
    EXPECT_EQ(batch.textureEntry(1).quads, 1);
    EXPECT_EQ(batch.quadTexture(1), 1);
    EXPECT_EQ(batch.quadTexture(2), 0);

    batch.writeVertices(visual());
    graphics::VertexBuffer& vb = *visual().vertexBuffer();
    ASSERT_EQ(vb.vertexCount(), 12u);
    std::vector<BatchVertex> written(12);
    std::memcpy(written.data(), vb.lockVertices(Lock::Read, 0, 12), 12 * sizeof(BatchVertex));
    vb.unlockVertices();
    EXPECT_EQ(written[0].x, 1.0f);
    EXPECT_EQ(written[4].x, 3.0f);
    EXPECT_EQ(written[8].x, 2.0f);

    ASSERT_EQ(visual().subMeshCount(), 2u);
    graphics::IndexBuffer& first = *visual().subMesh(0)->indexBuffer();
    graphics::IndexBuffer& second = *visual().subMesh(1)->indexBuffer();
    EXPECT_EQ(first.count(), 12);
    EXPECT_EQ(second.count(), 6);
    EXPECT_EQ(indicesOf(second), (std::vector<u32> { 8, 9, 10, 8, 10, 11 }));
    EXPECT_EQ(visual().subMesh(0)->textureOverrides[0], a->pixelBuffer());
    EXPECT_EQ(visual().subMesh(1)->textureOverrides[0], b->pixelBuffer());
    EXPECT_EQ(visual().subMesh(0)->material(), nullptr);

    // The next frame with nothing in it leaves no sub-mesh to draw.
    batch.clear();
    batch.writeVertices(visual());
    EXPECT_EQ(visual().subMeshCount(), 0u);
}

TEST_F(SpriteBatchTest, CornersTurnBeforeScalingSoTurnedSpritesShear)
{
    struct Case {
        f32 rotation;
        f32 corners[4][2];
    };
    const Case cases[] = {
        { 0.0f, { { 10, 20 }, { 10, 18 }, { 14, 18 }, { 14, 20 } } },
        // A quarter turn of a 4 x 2 sprite: x still spans 4, y spans 2.
        { 1.5707964f, { { 10, 20 }, { 14, 20 }, { 14, 22 }, { 10, 22 } } },
    };
    Texture* t = newTexture();
    for (const Case& c : cases) {
        batch.clear();
        SpriteDescription sprite = plainSprite(10, 20, 4, 2, c.rotation);
        sprite.r = 0.5f;
        batch.addQuad(sprite, t);
        for (int k = 0; k < 4; ++k) {
            EXPECT_NEAR(batch.quad(0)[k].x, c.corners[k][0], 1e-5f) << c.rotation << " corner " << k;
            EXPECT_NEAR(batch.quad(0)[k].y, c.corners[k][1], 1e-5f) << c.rotation << " corner " << k;
            EXPECT_EQ(batch.quad(0)[k].colour[0], 128);
        }
        EXPECT_EQ(batch.quad(0)[1].v, 0.0f);
        EXPECT_EQ(batch.quad(0)[2].u, 1.0f);
    }
}

TEST_F(SpriteBatchTest, AtlasRegionsBecomeTextureRectanglesAndUnknownNamesAddNothing)
{
    const std::vector<assetbuild::AtlasRegionSource> regions
        = { { "icon", 0, 0, 32, 32, {} }, { "bar", 64, 16, 64, 16, {} } };
    const std::vector<u8> file = assetbuild::buildAtlasFile(5, regions);
    const u64 size = file.size() - 16;
    void* block = memory::getDefaultAllocator()->allocate(size, 8);
    std::memcpy(block, file.data() + 16, size);
    graphics::TextureAtlas atlas;
    atlas.setData(block, size, memory::getDefaultAllocator());
    atlas.texture = newTexture();
    const std::vector<u8> pixels(128 * 64 * 4);
    atlas.texture->pixelBuffer()->setImage2D(pixels.data(), 128, 64);

    EXPECT_TRUE(batch.addSprite(0, 0, 32, 32, atlas, "icon"));
    EXPECT_FALSE(batch.addSprite(0, 0, 32, 32, atlas, "missing"));
    ASSERT_EQ(batch.quadCount(), 1u);
    const BatchVertex* q = batch.quad(0);
    EXPECT_EQ(q[0].u, 0.0f);
    EXPECT_EQ(q[0].v, 1.0f);
    EXPECT_EQ(q[2].u, 0.25f);
    EXPECT_EQ(q[2].v, 0.5f);
    EXPECT_EQ(q[0].colour[3], 255);

    // A texture that knows its own size measures by it, not by its image.
    atlas.texture->extension() = { 256, 32, 0, 0, 0, 1 };
    EXPECT_TRUE(batch.addSprite(0, 0, 1, 1, atlas, "bar"));
    EXPECT_EQ(batch.quad(1)[0].u, 0.25f);
    EXPECT_EQ(batch.quad(1)[2].u, 0.5f);
    EXPECT_EQ(batch.quad(1)[0].v, 0.5f);
    EXPECT_EQ(batch.quad(1)[2].v, 0.0f);
    atlas.texture = nullptr;
}

TEST_F(SpriteBatchTest, OffsetMovesEveryVertexAndNothingElse)
{
    batch.addQuad(plainSprite(1, 2, 1, 1), newTexture());
    batch.writeVerticesWithOffset(visual(), 10, 20, 30);
    graphics::VertexBuffer& vb = *visual().vertexBuffer();
    BatchVertex v[4];
    std::memcpy(v, vb.lockVertices(Lock::Read, 0, 4), sizeof v);
    vb.unlockVertices();
    EXPECT_EQ(v[0].x, 11.0f);
    EXPECT_EQ(v[0].y, 22.0f);
    EXPECT_EQ(v[0].z, 30.0f);
    EXPECT_EQ(v[2].u, 1.0f);
    EXPECT_EQ(v[2].colour[1], 255);
}

} // namespace
} // namespace quern::test
