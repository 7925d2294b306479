// The file image of the progress record: a ten-byte magic, the image size and
// the record, every byte XORed with one key so the file is not plain text.

#include "harmonize/savegame/Savegame.h"

#include "quern/LittleEndian.h"

#include <cstring>

namespace harmonize {

using quern::readLittleEndian32;
using quern::writeLittleEndian32;

namespace {

constexpr u8 kScrambleKey = 0xE4;
constexpr u8 kMagic[10] = { 'h', 'a', 'r', 'm', 'o', 'n', 'i', 'z', 'e', 0 };
constexpr u32 kSizeOffset = 10;
constexpr u32 kRecordOffset = 14;
// A larger value is left by a file this game did not write.
constexpr u32 kMaxReserved = 256;

static_assert(kRecordOffset + kProgressRecordSize == kSavegameImageSize);

void encodeRecord(const ProgressRecord& record, u8* out)
{
    writeLittleEndian32(out + offsetof(ProgressRecord, version), static_cast<u32>(record.version));
    std::memcpy(out + offsetof(ProgressRecord, savedAtBytes), record.savedAtBytes, sizeof record.savedAtBytes);
    writeLittleEndian32(out + offsetof(ProgressRecord, nextLevelId), static_cast<u32>(record.nextLevelId));
    writeLittleEndian32(out + offsetof(ProgressRecord, lastLevelId), static_cast<u32>(record.lastLevelId));
    writeLittleEndian32(out + offsetof(ProgressRecord, reserved), record.reserved);
    for (i32 slot = 0; slot < kLevelSlotCount; ++slot)
        writeLittleEndian32(out + offsetof(ProgressRecord, levelIds) + 4 * slot, record.levelIds[slot]);
    std::memcpy(out + offsetof(ProgressRecord, completions), record.completions, sizeof record.completions);
    std::memcpy(out + offsetof(ProgressRecord, deathScore), record.deathScore, sizeof record.deathScore);
    std::memcpy(out + offsetof(ProgressRecord, savedNibbles), record.savedNibbles, sizeof record.savedNibbles);
    std::memcpy(out + offsetof(ProgressRecord, collected), record.collected, sizeof record.collected);
}

void decodeRecord(const u8* in, ProgressRecord& record)
{
    record.version = static_cast<i32>(readLittleEndian32(in + offsetof(ProgressRecord, version)));
    std::memcpy(record.savedAtBytes, in + offsetof(ProgressRecord, savedAtBytes), sizeof record.savedAtBytes);
    record.nextLevelId = static_cast<i32>(readLittleEndian32(in + offsetof(ProgressRecord, nextLevelId)));
    record.lastLevelId = static_cast<i32>(readLittleEndian32(in + offsetof(ProgressRecord, lastLevelId)));
    record.reserved = readLittleEndian32(in + offsetof(ProgressRecord, reserved));
    for (i32 slot = 0; slot < kLevelSlotCount; ++slot)
        record.levelIds[slot] = readLittleEndian32(in + offsetof(ProgressRecord, levelIds) + 4 * slot);
    std::memcpy(record.completions, in + offsetof(ProgressRecord, completions), sizeof record.completions);
    std::memcpy(record.deathScore, in + offsetof(ProgressRecord, deathScore), sizeof record.deathScore);
    std::memcpy(record.savedNibbles, in + offsetof(ProgressRecord, savedNibbles), sizeof record.savedNibbles);
    std::memcpy(record.collected, in + offsetof(ProgressRecord, collected), sizeof record.collected);
}

} // namespace

void Savegame::scrambleImage(const ProgressRecord& record, u8* image)
{
    std::memcpy(image, kMagic, sizeof kMagic);
    writeLittleEndian32(image + kSizeOffset, kSavegameImageSize);
    encodeRecord(record, image + kRecordOffset);
    for (u32 i = 0; i < kSavegameImageSize; ++i)
        image[i] ^= kScrambleKey;
}

bool Savegame::unscrambleImage(ProgressRecord& record, const u8* image, u64 size)
{
    if (size != kSavegameImageSize) {
        resetProgress(record);
        return false;
    }
    u8 plain[kSavegameImageSize];
    for (u32 i = 0; i < kSavegameImageSize; ++i)
        plain[i] = image[i] ^ kScrambleKey;
    if (std::memcmp(plain, kMagic, sizeof kMagic) != 0 || readLittleEndian32(plain + kSizeOffset) != kSavegameImageSize
        || readLittleEndian32(plain + kRecordOffset + offsetof(ProgressRecord, reserved)) > kMaxReserved) {
        resetProgress(record);
        return false;
    }
    decodeRecord(plain + kRecordOffset, record);
    record.version = kProgressVersion;
    return true;
}

} // namespace harmonize
