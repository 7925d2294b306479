#pragma once
// Level-list images written byte by byte, apart from the content tool, with the
// file offset of every part a test may want to spoil.

#include "quern/Types.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace harmonize::test {

using quern::i32;
using quern::u32;
using quern::u64;
using quern::u8;

struct LevelSpec {
    i32 worldEntry = 0;
    i32 levelId = 0;
    std::string name;
    i32 chapter = 0;
    u64 sound = 0;
};

struct ReferenceSpec {
    i32 level = 0;
    u64 sound = 0;
};

struct LevelListSpec {
    std::vector<std::pair<i32, i32>> worldEntries;
    std::optional<std::vector<u64>> globalIds; // the ten ids, by slot
    std::vector<LevelSpec> levels;
    std::optional<ReferenceSpec> title;
    std::optional<ReferenceSpec> menu;
    std::optional<ReferenceSpec> final;
    std::optional<ReferenceSpec> start;
    std::vector<u64> startTextures; // at most ten
    std::vector<ReferenceSpec> extras;
};

struct LevelListImage {
    std::vector<u8> bytes;
    std::map<std::string, size_t> at; // part -> file offset

    void put(size_t offset, u64 value, int size)
    {
        for (int i = 0; i < size; ++i)
            bytes[offset + i] = static_cast<u8>(value >> (8 * i));
    }
    size_t append(size_t size)
    {
        const size_t offset = bytes.size();
        bytes.resize(offset + size, 0);
        return offset;
    }
    void appendU32(const std::string& part, u64 value) { put(at[part] = append(4), value, 4); }
    // Alignment counts from the data block, which starts at file offset 4.
    void align()
    {
        while ((bytes.size() - 4) % 4 != 0)
            bytes.push_back(0);
    }
    // Presence byte, then the aligned part when present; the part's offset.
    size_t optional(const std::string& part, bool present, size_t size)
    {
        at[part + ".presence"] = bytes.size();
        bytes.push_back(present ? 1 : 0);
        if (!present)
            return 0;
        align();
        return at[part] = append(size);
    }
    void reference(const std::string& part, const std::optional<ReferenceSpec>& spec, size_t size)
    {
        const size_t offset = optional(part, spec.has_value(), size);
        if (spec) {
            put(offset, static_cast<u32>(spec->level), 4);
            put(offset + 4, spec->sound, 8);
        }
    }
    // The byte count from what follows it.
    void seal() { put(0, bytes.size() - 4, 4); }
};

inline LevelListImage writeLevelListImage(const LevelListSpec& spec)
{
    LevelListImage image;
    image.appendU32("count", 0);
    image.appendU32("worldEntryCount", spec.worldEntries.size());
    for (const auto& [a, b] : spec.worldEntries) {
        const size_t offset = image.append(8);
        image.put(offset, static_cast<u32>(a), 4);
        image.put(offset + 4, static_cast<u32>(b), 4);
    }
    const size_t global = image.optional("global", spec.globalIds.has_value(), 84);
    for (size_t i = 0; spec.globalIds && i < spec.globalIds->size(); ++i)
        image.put(global + 4 + 8 * i, (*spec.globalIds)[i], 8);
    image.align();
    image.appendU32("levelCount", spec.levels.size());
    for (size_t i = 0; i < spec.levels.size(); ++i) {
        const LevelSpec& level = spec.levels[i];
        const size_t offset = image.at["level" + std::to_string(i)] = image.append(364);
        image.put(offset, static_cast<u32>(level.worldEntry), 4);
        image.put(offset + 68, level.sound, 8);
        image.put(offset + 80, static_cast<u32>(level.levelId), 4);
        for (size_t c = 0; c < level.name.size(); ++c)
            image.bytes[offset + 116 + c] = static_cast<u8>(level.name[c]);
        image.put(offset + 328, static_cast<u32>(level.chapter), 4);
    }
    image.reference("title", spec.title, 12);
    image.reference("menu", spec.menu, 12);
    image.reference("final", spec.final, 12);
    image.reference("start", spec.start, 92);
    for (size_t i = 0; spec.start && i < spec.startTextures.size(); ++i)
        image.put(image.at["start"] + 12 + 8 * i, spec.startTextures[i], 8);
    image.align();
    image.appendU32("extraCount", spec.extras.size());
    for (size_t i = 0; i < spec.extras.size(); ++i) {
        const size_t offset = image.at["extra" + std::to_string(i)] = image.append(144);
        image.put(offset, static_cast<u32>(spec.extras[i].level), 4);
        image.put(offset + 72, spec.extras[i].sound, 8);
    }
    image.seal();
    return image;
}

// Every part present: three world entries (the last equal to the first), a
// global record, two levels, the four references with sounds, a start record
// with two textures, two extras.
inline LevelListSpec fullLevelListSpec()
{
    LevelListSpec spec;
    spec.worldEntries = { { 1, 2 }, { 3, -4 }, { 1, 2 } };
    spec.globalIds
        = std::vector<u64> { 0x0401, 0x0c01, 0x1401, 0x1c01, 0x2401, 0x2c01, 0x3401, 0x3c01, 0x4401, 0x4c01 };
    spec.levels = { { 1, 0x101, "Second entry", 2, 0xAAAA000000000001ull }, { 0, 0x102, "First entry", -1, 0 } };
    spec.title = ReferenceSpec { 2, 0x7171 };
    spec.menu = ReferenceSpec { 0, 0x7272 };
    spec.final = ReferenceSpec { 1, 0x7373 };
    spec.start = ReferenceSpec { 2, 0x7474 };
    spec.startTextures = { 0x5151, 0x5252 };
    spec.extras = { { 1, 0x6161 }, { 2, 0 } };
    return spec;
}

} // namespace harmonize::test
