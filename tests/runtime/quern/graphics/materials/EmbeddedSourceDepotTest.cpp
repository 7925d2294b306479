#include "quern/graphics/EmbeddedSourceDepot.h"

#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace quern::graphics {
namespace {

constexpr char kAlpha[] = "0123456789";
constexpr char kBeta[] = "beta text";

struct DepotWithTwoTexts : ::testing::Test {
    DepotWithTwoTexts()
    {
        depot.add(kAlpha, sizeof kAlpha - 1, "alpha");
        depot.add(kBeta, sizeof kBeta - 1, "beta");
    }

    std::string readAll(u32 handle, u64 piece)
    {
        std::string text;
        char buffer[64];
        while (const u64 n = depot.read(handle, piece, buffer))
            text.append(buffer, n);
        return text;
    }

    EmbeddedSourceDepot depot;
};

TEST_F(DepotWithTwoTexts, OpensEntriesByTheHashOfTheirName)
{
    const u32 handle = depot.open(EmbeddedSourceDepot::keyOf("beta"));
    ASSERT_NE(handle, EmbeddedSourceDepot::kInvalidHandle);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(depot.size(handle), sizeof kBeta - 1);
    EXPECT_EQ(readAll(handle, 4), kBeta);
    depot.close(handle);
    EXPECT_EQ(depot.openCount(), 0u);
}

TEST_F(DepotWithTwoTexts, ReadPastTheEndReturnsWhatRemainsThenNothing)
{
    const u32 handle = depot.open(EmbeddedSourceDepot::keyOf("alpha"));
    char buffer[16] = {};
    EXPECT_EQ(depot.read(handle, 7, buffer), 7u);
    EXPECT_EQ(depot.read(handle, 7, buffer), 3u);
    EXPECT_EQ(std::string(buffer, 3), "789");
    EXPECT_EQ(depot.read(handle, 7, buffer), 0u);

    depot.seek(handle, 0);
    EXPECT_EQ(readAll(handle, 3), kAlpha);
    // A position beyond the end is kept and reads nothing.
    depot.seek(handle, 100);
    EXPECT_EQ(depot.read(handle, 4, buffer), 0u);
    depot.close(handle);
}

TEST_F(DepotWithTwoTexts, HandlesOnOneEntryKeepTheirOwnPositions)
{
    const u32 first = depot.open(EmbeddedSourceDepot::keyOf("alpha"));
    const u32 second = depot.open(EmbeddedSourceDepot::keyOf("alpha"));
    ASSERT_NE(first, second);
    char buffer[4];
    depot.read(first, 4, buffer);
    EXPECT_EQ(readAll(second, 64), kAlpha);
    EXPECT_EQ(readAll(first, 64), "456789");
    depot.close(first);
    depot.close(second);
}

TEST_F(DepotWithTwoTexts, EntriesAddedAfterAnOpenLeaveOpenHandlesIntact)
{
    const u32 handle = depot.open(EmbeddedSourceDepot::keyOf("alpha"));
    static const std::string names[] = {"c", "d", "e", "f", "g", "h", "i", "j", "k", "l"};
    for (const std::string& name : names)
        depot.add(kBeta, sizeof kBeta - 1, name.c_str());
    EXPECT_EQ(readAll(handle, 64), kAlpha);
    depot.close(handle);
}

TEST_F(DepotWithTwoTexts, AnUnknownKeyGivesAnInvalidHandleThatReadsNothing)
{
    const u32 handle = depot.open(EmbeddedSourceDepot::keyOf("gamma"));
    EXPECT_EQ(handle, EmbeddedSourceDepot::kInvalidHandle);
    EXPECT_EQ(depot.openCount(), 0u);
    char buffer[4];
    EXPECT_EQ(depot.read(handle, 4, buffer), 0u);
    EXPECT_EQ(depot.size(handle), 0u);
    depot.seek(handle, 2);
    depot.close(handle);
    EXPECT_EQ(depot.openCount(), 0u);
}

TEST_F(DepotWithTwoTexts, AClosedHandleIsStale)
{
    const u32 handle = depot.open(EmbeddedSourceDepot::keyOf("alpha"));
    depot.close(handle);
    depot.close(handle);
    EXPECT_EQ(depot.size(handle), 0u);
    const u32 reopened = depot.open(EmbeddedSourceDepot::keyOf("beta"));
    // The stale handle does not reach the entry now in its slot.
    EXPECT_NE(reopened, handle);
    EXPECT_EQ(depot.size(handle), 0u);
    EXPECT_EQ(depot.size(reopened), sizeof kBeta - 1);
    depot.close(reopened);
}

TEST(EmbeddedProgramKeys, AreTheNameHashXorTheShaderProgramType)
{
    const u64 id = strings::murmurHash64A("unlit_glsl_v", 12, 0);
    EXPECT_EQ(embeddedProgramAssetId("unlit_glsl_v"), id);
    EXPECT_EQ(embeddedProgramResourceKey("unlit_glsl_v"), id ^ 0x2f72e60fbf21825full);
}

bool isLowerHex(const std::string& text)
{
    return text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST(EmbeddedGLSLTexts, StartWithTheLengthAndStageLineThenTheVersion)
{
    std::set<std::string> names;
    for (const EmbeddedProgramSource& source : glslProgramSources()) {
        SCOPED_TRACE(source.name);
        const std::string text(source.text, source.length);
        EXPECT_EQ(std::strlen(source.text), source.length);
        ASSERT_GT(text.size(), 26u);
        // "//" 8 lower-case hex digits, a space, the stage digit, a line break.
        EXPECT_EQ(text.substr(0, 2), "//");
        const std::string digits = text.substr(2, 8);
        EXPECT_TRUE(isLowerHex(digits)) << digits;
        EXPECT_EQ(std::stoull(digits, nullptr, 16), source.length - 13);
        EXPECT_EQ(text[10], ' ');
        EXPECT_EQ(text[12], '\n');
        EXPECT_EQ(text.substr(13, 13), "#version 140\n");
        EXPECT_EQ(text.back(), '\n');

        // "<base>_glsl_<v|p>", the letter matching the stage digit.
        const std::string name = source.name;
        ASSERT_GT(name.size(), 7u);
        const std::string suffix = name.substr(name.size() - 7);
        EXPECT_TRUE(suffix == "_glsl_v" || suffix == "_glsl_p") << name;
        EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz_"), std::string::npos) << name;
        EXPECT_EQ(text[kEmbeddedStageOffset], suffix.back() == 'v' ? '0' : '1');
        EXPECT_TRUE(names.insert(name).second) << "named twice";
    }
    EXPECT_EQ(names.size(), kEmbeddedProgramCount);
}

TEST(EmbeddedGLSLTexts, BothAdditiveParticleProgramsHaveOneText)
{
    const EmbeddedProgramSource& add = glslProgramSource(EmbeddedProgram::ParticleAddFragment);
    const EmbeddedProgramSource& addMultiply = glslProgramSource(EmbeddedProgram::ParticleAddMultiplyFragment);
    EXPECT_STREQ(add.name, "particle_add_glsl_p");
    EXPECT_STREQ(addMultiply.name, "particle_add_multiply_glsl_p");
    EXPECT_EQ(std::string(add.text, add.length), std::string(addMultiply.text, addMultiply.length));
}

} // namespace
} // namespace quern::graphics
