// The file image of the progress record: its layout, the round trip, and the
// images that are refused.

#include "harmonize/savegame/Savegame.h"

#include "quern/platform/Clock.h"

#include "SavegameTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace harmonize {
namespace {

using test::imageOf;

constexpr u64 kNow = 1'600'000'000;
constexpr u8 kKey = 0xE4;

ProgressRecord patternedRecord()
{
    ProgressRecord record {};
    record.version = 7;
    record.setSavedAt(-5);
    record.nextLevelId = -3;
    record.lastLevelId = 0x7FFFFFFF;
    record.reserved = 256;
    for (i32 i = 0; i < kLevelSlotCount; ++i) {
        record.levelIds[i] = u32(i) * 0x01000193u + 1;
        record.completions[i] = u8(i);
        record.deathScore[i] = u8(255 - i);
        record.savedNibbles[i] = u8(i * 7);
        record.collected[i] = u8(i * 13);
    }
    return record;
}

u32 plain32(const std::vector<u8>& image, size_t offset)
{
    u32 value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= u32(image[offset + i] ^ kKey) << (8 * i);
    return value;
}

void putPlain32(std::vector<u8>& image, size_t offset, u32 value)
{
    for (size_t i = 0; i < 4; ++i)
        image[offset + i] = u8(value >> (8 * i)) ^ kKey;
}

ProgressRecord resetRecord()
{
    ProgressRecord record {};
    record.version = 2;
    record.setSavedAt(i64(kNow));
    return record;
}

TEST(SavegameImage, IsTheMagicTheSizeAndTheRecordEachByteXoredWithTheKey)
{
    const ProgressRecord record = patternedRecord();
    const std::vector<u8> image = imageOf(record);
    const char magic[10] = "harmonize";
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(image[i] ^ kKey, u8(magic[i])) << i;
    EXPECT_EQ(plain32(image, 10), 2086u);
    EXPECT_EQ(plain32(image, 14), 7u);
    EXPECT_EQ(plain32(image, 18), u32(-5)); // savedAt, low half
    EXPECT_EQ(plain32(image, 22), 0xFFFFFFFFu);
    EXPECT_EQ(plain32(image, 26), u32(-3));
    EXPECT_EQ(plain32(image, 30), 0x7FFFFFFFu);
    EXPECT_EQ(plain32(image, 34), 256u);
    EXPECT_EQ(plain32(image, 38 + 4 * 255), record.levelIds[255]);
    EXPECT_EQ(image[14 + 1048 + 9] ^ kKey, record.completions[9]);
    EXPECT_EQ(image[14 + 1304 + 9] ^ kKey, record.deathScore[9]);
    EXPECT_EQ(image[14 + 1560 + 9] ^ kKey, record.savedNibbles[9]);
    EXPECT_EQ(image[2085] ^ kKey, record.collected[255]);
}

TEST(SavegameImage, RoundTripKeepsEveryFieldAndSetsVersion2)
{
    ProgressRecord expected = patternedRecord();
    ProgressRecord decoded {};
    ASSERT_TRUE(Savegame::unscrambleImage(decoded, imageOf(expected).data(), kSavegameImageSize));
    expected.version = 2;
    EXPECT_EQ(decoded.savedAt(), -5);
    EXPECT_EQ(std::memcmp(&decoded, &expected, sizeof expected), 0);
}

TEST(SavegameImage, RefusedImagesResetTheRecord)
{
    quern::platform::FixedCalendarSource calendar { kNow };
    quern::platform::ScopedCalendarSource scope { calendar };
    struct Case {
        const char* what;
        std::function<void(std::vector<u8>&)> spoil;
        u64 size;
    };
    const Case cases[] = {
        { "the first magic byte", [](std::vector<u8>& image) { image[0] ^= 1; }, kSavegameImageSize },
        { "the magic's terminator", [](std::vector<u8>& image) { image[9] ^= 0x20; }, kSavegameImageSize },
        { "a size field one short", [](std::vector<u8>& image) { putPlain32(image, 10, 2085); }, kSavegameImageSize },
        { "a size field of zero", [](std::vector<u8>& image) { putPlain32(image, 10, 0); }, kSavegameImageSize },
        { "reserved above 256", [](std::vector<u8>& image) { putPlain32(image, 34, 257); }, kSavegameImageSize },
        { "reserved all ones", [](std::vector<u8>& image) { putPlain32(image, 34, 0xFFFFFFFF); }, kSavegameImageSize },
        { "a short image", [](std::vector<u8>&) {}, kSavegameImageSize - 1 },
        { "a long image", [](std::vector<u8>& image) { image.push_back(0); }, kSavegameImageSize + 1 },
        { "an empty image", [](std::vector<u8>&) {}, 0 },
    };
    const ProgressRecord expected = resetRecord();
    for (const Case& c : cases) {
        std::vector<u8> image = imageOf(patternedRecord());
        c.spoil(image);
        ProgressRecord record = patternedRecord();
        EXPECT_FALSE(Savegame::unscrambleImage(record, image.data(), c.size)) << c.what;
        EXPECT_EQ(std::memcmp(&record, &expected, sizeof expected), 0) << c.what;
    }
}

} // namespace
} // namespace harmonize
