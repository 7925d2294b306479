#include "quern/graphics/VertexFormat.h"

#include "quern/strings/Hashes.h"
#include "quern/strings/PackedName.h"

#include <gtest/gtest.h>

#include <string>

namespace quern::test {
namespace {

using graphics::VertexAttribute;
using graphics::VertexFormat;
using graphics::vertexFormatFromString;

u32 hashOf(const std::string& text) { return strings::murmurHash2(text.data(), text.size()); }

std::string repeated(const char* token, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += (i ? " " : "") + std::string(token);
    return text;
}

TEST(VertexFormat, FromFlagsLaysOutRoleAttributes)
{
    struct Case {
        u32 flags;
        const char* text;
        u64 stride;
        u32 layoutFlags;
    };
    const Case cases[] = {
        { 0x105, "position(3f) color(4ub) texcoord0(2f)", 24, 0x10d },
        { 0x3, "position(3f) normal(3f)", 24, 0x3 },
        { 0x204, "color(4ub) texcoord0(2f) texcoord1(2f)", 20, 0x20c },
        { 0x0, "", 0, 0x0 },
        { 0x80f,
            "position(3f) normal(3f) color(4ub) texcoord0(2f) texcoord1(2f) texcoord2(2f) texcoord3(2f) "
            "texcoord4(2f) texcoord5(2f) texcoord6(2f) texcoord7(2f)",
            92, 0x80f },
    };
    for (const Case& c : cases) {
        const VertexFormat format = VertexFormat::fromFlags(c.flags);
        EXPECT_EQ(format.toString(), c.text) << c.flags;
        EXPECT_EQ(format.stride, c.stride) << c.flags;
        EXPECT_EQ(format.flags, c.layoutFlags) << c.flags;
        EXPECT_EQ(format.hash, hashOf(c.text)) << c.flags;
    }
}

TEST(VertexFormat, OffsetsOfRoleAttributes)
{
    const VertexFormat format = VertexFormat::fromFlags(0x105);
    EXPECT_EQ(format.positionOffset, 0);
    EXPECT_EQ(format.colourOffset, 12);
    EXPECT_EQ(format.texCoordOffsets[0], 16);
    for (u64 i = 0; i < format.count; ++i)
        EXPECT_EQ(format.attributes[i].index, i);
    EXPECT_EQ(format.attributes[2].offset, 16);

    const VertexFormat all = VertexFormat::fromFlags(0x80f);
    EXPECT_EQ(all.normalOffset, 12);
    EXPECT_EQ(all.colourOffset, 24);
    EXPECT_EQ(all.texCoordOffsets[0], 28);
    EXPECT_EQ(all.texCoordOffsets[7], 84);
    EXPECT_EQ(all.attributes[10].semanticIndex, 7);
}

TEST(VertexFormat, FromFlagsHashEqualsTheParsedTextsHash)
{
    const VertexFormat built = VertexFormat::fromFlags(0x3);
    const VertexFormat parsed = vertexFormatFromString(built.toString());
    EXPECT_EQ(parsed.hash, built.hash);
    EXPECT_EQ(parsed.stride, built.stride);
    EXPECT_EQ(parsed.flags, built.flags);
}

TEST(VertexFormat, FromFlagsRefusesMoreThanEightTextureSets)
{
    EXPECT_DEATH(VertexFormat::fromFlags(0x900), "Invalid vertex format flags");
    EXPECT_DEATH(VertexFormat::fromFlags(0xf07), "Invalid vertex format flags");
}

TEST(VertexFormat, ParsesTokensSeparatedByWhiteSpace)
{
    const VertexFormat format = vertexFormatFromString("  position\tnormal\n color texcoord0(2f) weights(4us)");
    ASSERT_EQ(format.count, 5u);
    EXPECT_EQ(format.toString(), "position(3f) normal(3f) color(4ub) texcoord0(2f) weights(4us)");
    EXPECT_EQ(format.stride, 12u + 12 + 4 + 8 + 8);
    EXPECT_EQ(format.flags, 0x10fu);
    EXPECT_EQ(format.attributes[4].offset, 36);
    EXPECT_EQ(format.hash, hashOf(format.toString()));
}

TEST(VertexFormat, TextureFlagsNameTheLastTextureAttributeInTheList)
{
    const VertexFormat format = vertexFormatFromString("texcoord2(2f) texcoord0(2f)");
    EXPECT_EQ(format.flags, 0x100u);
    EXPECT_EQ(format.texCoordOffsets[2], 0);
    EXPECT_EQ(format.texCoordOffsets[0], 8);
}

TEST(VertexFormat, EmptyTokensAreRefused)
{
    // An empty text, blanks only and trailing white space each end in an empty token.
    for (const char* text : { "", "   ", "position ", "position normal\n" })
        EXPECT_DEATH(vertexFormatFromString(text), "Invalid vertex attribute string: ") << '"' << text << '"';
}

TEST(VertexFormat, BadTokensAreRaisedByTheAttributeParser)
{
    EXPECT_DEATH(vertexFormatFromString("position uv"), "Invalid vertex attribute: uv");
    EXPECT_DEATH(vertexFormatFromString("position n(0f)"), "Invalid vertex attribute: n\\(0f\\)");
}

TEST(VertexFormat, SixteenAttributesFitASeventeenthIsRefused)
{
    const VertexFormat sixteen = vertexFormatFromString(repeated("n(1f)", 16));
    EXPECT_EQ(sixteen.count, 16u);
    EXPECT_EQ(sixteen.stride, 64u);
    EXPECT_DEATH(vertexFormatFromString(repeated("n(1f)", 17)), "Invalid vertex format string: n\\(1f\\)");

    VertexFormat format = sixteen;
    EXPECT_DEATH(format.addAttribute(VertexAttribute::position()), "at most 16 attributes");
}

TEST(VertexFormat, AttributesMustStartWithinAByteOfOffset)
{
    // 31 doubles end at byte 248: the next attribute still has a byte offset.
    const VertexFormat fits = vertexFormatFromString("a(31d) b(1f)");
    EXPECT_EQ(fits.attributes[1].offset, 248);
    // 32 doubles end at byte 256, which an offset byte cannot hold.
    EXPECT_DEATH(vertexFormatFromString("a(32d) b(1f)"), "Invalid vertex format string: a\\(32d\\) b\\(1f\\)");
    // A last attribute may reach past byte 255; only its start is kept in a byte.
    EXPECT_EQ(vertexFormatFromString("a(1f) b(255d)").stride, 4u + 2040);
}

TEST(VertexFormat, AddAttributeLaysOutAgain)
{
    VertexFormat format;
    format.addAttribute(VertexAttribute::position());
    format.addAttribute(VertexAttribute::texCoord(3));
    EXPECT_EQ(format.stride, 20u);
    EXPECT_EQ(format.flags, 0x401u);
    EXPECT_EQ(format.texCoordOffsets[3], 12);
}

TEST(VertexFormat, ATextureAttributeBeyondTheEighthSetIsFatal)
{
    // Only hand-made records can carry it; the offset table has eight places.
    VertexAttribute attribute = VertexAttribute::texCoord(7);
    attribute.semanticIndex = 8;
    VertexFormat format;
    EXPECT_DEATH(format.addAttribute(attribute), "Invalid texture-coordinate semantic index");
}

TEST(VertexFormat, GetAttributeWithIdFindsTheFirstOrRaises)
{
    const VertexFormat format = vertexFormatFromString("position n(2f) n(4f)");
    EXPECT_EQ(format.getAttributeWithID(packName("n")).count, 2);
    EXPECT_EQ(format.getAttributeWithID(VertexAttribute::kPositionID).offset, 0);
    EXPECT_DEATH(format.getAttributeWithID(VertexAttribute::indexedID(3)), "Attribute not found: texcoord3");
}

TEST(VertexFormat, SameLayoutComparesIdsCountsAndTypes)
{
    const VertexFormat a = vertexFormatFromString("position n(2f)");
    EXPECT_TRUE(a.hasSameLayout(vertexFormatFromString("POSITION N(2f)")));
    EXPECT_FALSE(a.hasSameLayout(vertexFormatFromString("position m(2f)")));
    EXPECT_FALSE(a.hasSameLayout(vertexFormatFromString("position n(2i)")));
    EXPECT_FALSE(a.hasSameLayout(vertexFormatFromString("position n(3f)")));
    EXPECT_FALSE(a.hasSameLayout(vertexFormatFromString("position")));
}

} // namespace
} // namespace quern::test
