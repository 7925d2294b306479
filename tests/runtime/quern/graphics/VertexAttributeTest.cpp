#include "quern/graphics/VertexAttribute.h"

#include "quern/strings/PackedName.h"

#include <gtest/gtest.h>

#include <string>

namespace quern::test {
namespace {

using graphics::VertexAttribute;

// The text as a pattern that matches it literally.
std::string escapeRegex(const std::string& text)
{
    std::string pattern;
    for (char c : text) {
        if (std::string("()[]{}.*+?^$|\\").find(c) != std::string::npos)
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

TEST(VertexAttribute, PredefinedIdsAreThePackedRoleNames)
{
    EXPECT_EQ(packName("position"), VertexAttribute::kPositionID);
    EXPECT_EQ(packName("normal"), VertexAttribute::kNormalID);
    EXPECT_EQ(packName("color"), VertexAttribute::kColorID);
    for (int i = 0; i < 8; ++i) {
        const std::string name = "texcoord" + std::to_string(i);
        EXPECT_EQ(packName(name.c_str()), VertexAttribute::indexedID(i)) << name;
    }
}

TEST(VertexAttribute, ParsesNameCountAndType)
{
    struct Case {
        const char* text;
        u64 id;
        u8 count;
        u8 type;
    };
    const Case cases[] = {
        { "n(3f)", packName("n"), 3, VertexAttribute::Float },
        { "n( 3 f )", packName("n"), 3, VertexAttribute::Float },
        { "n(\t2\tus)", packName("n"), 2, VertexAttribute::UnsignedShort },
        { "abcdefghijkl(2f)", packName("abcdefghijkl"), 2, VertexAttribute::Float },
        { "Weights(4ub)", packName("weights"), 4, VertexAttribute::UnsignedByte },
        { "n(255d)", packName("n"), 255, VertexAttribute::Double },
        { "n(1b)", packName("n"), 1, VertexAttribute::Byte },
        { "n(1s)", packName("n"), 1, VertexAttribute::Short },
        { "n(1i)", packName("n"), 1, VertexAttribute::Int },
        { "n(1ui)", packName("n"), 1, VertexAttribute::UnsignedInt },
        // Text after the last closing parenthesis, and after the word, is ignored.
        { "n(3f junk)tail", packName("n"), 3, VertexAttribute::Float },
        { "n(007f)", packName("n"), 7, VertexAttribute::Float },
    };
    for (const Case& c : cases) {
        const VertexAttribute a = VertexAttribute::fromString(c.text);
        EXPECT_EQ(a.id, c.id) << c.text;
        EXPECT_EQ(a.count, c.count) << c.text;
        EXPECT_EQ(a.type, c.type) << c.text;
        EXPECT_EQ(a.offset, 0) << c.text;
        EXPECT_EQ(a.index, 0) << c.text;
        EXPECT_EQ(a.flag, 0) << c.text;
    }
}

TEST(VertexAttribute, BareRoleNamesGiveThePredefinedRecords)
{
    EXPECT_EQ(VertexAttribute::fromString("position"), VertexAttribute::position());
    EXPECT_EQ(VertexAttribute::fromString("normal"), VertexAttribute::normal());
    const VertexAttribute color = VertexAttribute::fromString("COLOR");
    EXPECT_EQ(color.id, VertexAttribute::kColorID);
    EXPECT_EQ(color.count, 4);
    EXPECT_EQ(color.type, VertexAttribute::UnsignedByte);
}

TEST(VertexAttribute, EmptyTextGivesTheEmptyAttribute)
{
    EXPECT_EQ(VertexAttribute::fromString(""), VertexAttribute {});
}

TEST(VertexAttribute, SemanticIndexComesFromTheIndexedIds)
{
    EXPECT_EQ(VertexAttribute::fromString("texcoord0(2f)").semanticIndex, 0);
    EXPECT_EQ(VertexAttribute::fromString("texcoord1(2f)").semanticIndex, 1);
    EXPECT_EQ(VertexAttribute::fromString("TEXCOORD7(2f)").semanticIndex, 7);
    EXPECT_EQ(VertexAttribute::fromString("texcoord8(2f)").semanticIndex, 0);

    EXPECT_EQ(VertexAttribute::indexOfID(VertexAttribute::indexedID(0)), 0u);
    EXPECT_EQ(VertexAttribute::indexOfID(VertexAttribute::indexedID(5)), 5u);
    EXPECT_EQ(VertexAttribute::indexOfID(VertexAttribute::kPositionID), 0u);
    EXPECT_EQ(VertexAttribute::indexedID(-1), 0u);
    EXPECT_EQ(VertexAttribute::indexedID(8), 0u);
}

TEST(VertexAttribute, ToStringPrintsLowerCaseNameCountAndType)
{
    EXPECT_EQ(VertexAttribute::fromString("N(4f)").toString(), "n(4f)");
    EXPECT_EQ(VertexAttribute::fromString("BoneIndex( 4 ub )").toString(), "boneindex(4ub)");
    EXPECT_EQ(VertexAttribute::color().toString(), "color(4ub)");
    EXPECT_EQ(VertexAttribute::fromString("n(12us)").toString(), "n(12us)");
}

TEST(VertexAttribute, SizeIsCountTimesComponentSize)
{
    EXPECT_EQ(VertexAttribute::fromString("n(3f)").getSize(), 12u);
    EXPECT_EQ(VertexAttribute::fromString("n(3d)").getSize(), 24u);
    EXPECT_EQ(VertexAttribute::fromString("n(3s)").getSize(), 6u);
    EXPECT_EQ(VertexAttribute::color().getSize(), 4u);
    VertexAttribute unknown = VertexAttribute::position();
    unknown.type = 9;
    EXPECT_EQ(unknown.getSize(), 0u);
}

TEST(VertexAttribute, TypeNamesAreCaseSensitiveAndExact)
{
    EXPECT_EQ(VertexAttribute::typeFromName("ub"), VertexAttribute::UnsignedByte);
    EXPECT_EQ(VertexAttribute::typeFromName("ui"), VertexAttribute::UnsignedInt);
    EXPECT_DEATH(VertexAttribute::typeFromName("F"), "Invalid vertex attribute type");
    EXPECT_DEATH(VertexAttribute::typeFromName("ubx"), "Invalid vertex attribute type");
    EXPECT_DEATH(VertexAttribute::typeFromName(""), "Invalid vertex attribute type");
    EXPECT_DEATH(VertexAttribute::fromString("n(3F)"), "Invalid vertex attribute type");
}

TEST(VertexAttribute, ToStringOfAnUnknownTypeIsFatal)
{
    VertexAttribute attribute = VertexAttribute::position();
    attribute.type = 0;
    EXPECT_DEATH(attribute.toString(), "Invalid vertex attribute type");
}

TEST(VertexAttribute, MalformedTextIsRaisedWithTheWholeText)
{
    const char* const texts[] = {
        "abcdefghijklm(2f)", // 13 characters
        "1n(2f)", // digit first
        "n_x(2f)", // not a letter or digit
        "(3f)", // no name
        "n(3f", // no closing parenthesis
        "n)(3f", // the last ')' before the '('
        "n(0f)", // no components
        "n(3)", // no type
        "n( f)", // no count
        "n(-3f)", // no unsigned count
        "n()",
        "texcoord0", // bare names are the three role names only
        "positio",
        "pos-ition",
    };
    for (const char* text : texts)
        EXPECT_DEATH(VertexAttribute::fromString(text), "Invalid vertex attribute: " + escapeRegex(text)) << text;
}

TEST(VertexAttribute, CountAbove255IsRejectedNotCut)
{
    // 300 would have become 44 in the attribute's byte.
    EXPECT_DEATH(VertexAttribute::fromString("n(300ub)"), "Invalid vertex attribute: n\\(300ub\\)");
    EXPECT_DEATH(VertexAttribute::fromString("n(256f)"), "Invalid vertex attribute: n\\(256f\\)");
    EXPECT_DEATH(VertexAttribute::fromString("n(99999999999999999999f)"), "Invalid vertex attribute: n");
}

} // namespace
} // namespace quern::test
