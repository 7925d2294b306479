#include "LevelListWriter.h"

#include "quern/LittleEndian.h"

#include "SourceText.h"

#include "harmonize/levels/LevelList.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <limits>

namespace quern::assetbuild {
namespace {

using harmonize::LevelList;

constexpr u64 kMaxNameLength = LevelList::kRecordNameCapacity - 1;
constexpr u64 kCountSize = 4;

// Decimal (with an optional '-') or 0x-hex of at most eight digits, taken as
// the 32-bit pattern.
bool parseInt32(const std::string& word, i32& value)
{
    const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    if (hex) {
        const std::string digits = word.substr(2);
        if (digits.size() > 8 || !std::all_of(digits.begin(), digits.end(), ::isxdigit))
            return false;
        value = static_cast<i32>(static_cast<u32>(std::stoul(digits, nullptr, 16)));
        return true;
    }
    const size_t first = word.size() > 1 && word[0] == '-' ? 1 : 0;
    const std::string digits = word.substr(first);
    if (digits.empty() || digits.size() > 10 || !std::all_of(digits.begin(), digits.end(), ::isdigit))
        return false;
    const i64 parsed = std::stoll(word);
    if (parsed < std::numeric_limits<i32>::min() || parsed > std::numeric_limits<i32>::max())
        return false;
    value = static_cast<i32>(parsed);
    return true;
}

// The text after the first `words` words of a line, without surrounding blanks.
std::string restOfLine(const std::string& text, size_t words)
{
    size_t at = 0;
    for (size_t i = 0; i < words; ++i) {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
            ++at;
        while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at])))
            ++at;
    }
    const size_t begin = text.find_first_not_of(" \t\r\n\v\f", at);
    if (begin == std::string::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(" \t\r\n\v\f") + 1 - begin);
}

class LevelListParser {
public:
    LevelListParser(const std::map<std::string, u64>& assetIds, LevelListSource& list)
        : m_assetIds(assetIds)
        , m_list(list)
    {
    }

    bool statement(const SourceLine& line, std::string& error)
    {
        const std::string& keyword = line.words[0];
        if (keyword == "world")
            return world(line.words, error);
        if (keyword == "global")
            return global(line.words, error);
        if (keyword == "level")
            return level(line, error);
        if (keyword == "extra") {
            m_list.extras.emplace_back();
            return extra(line, m_list.extras.back(), error);
        }
        LevelReferenceSource* const single = keyword == "title" ? &m_list.title
            : keyword == "menu"                                 ? &m_list.menu
            : keyword == "final"                                ? &m_list.final
            : keyword == "start"                                ? &m_list.start
                                                                : nullptr;
        if (!single) {
            error = "unknown statement " + keyword;
            return false;
        }
        if (single->present) {
            error = "the " + keyword + " level is given twice";
            return false;
        }
        single->present = true;
        return reference(line, *single, single == &m_list.start ? m_list.startTextures : nullptr, error);
    }

    // Indices name world entries, which may be listed after them.
    bool checkIndices(std::string& error) const
    {
        const i32 count = static_cast<i32>(m_list.worldEntries.size());
        for (const IndexUse& use : m_indices) {
            if (use.index < 0 || use.index >= count) {
                error = "line " + std::to_string(use.line) + ": " + use.what + " " + std::to_string(use.index)
                    + " is outside the " + std::to_string(count) + " world entries";
                return false;
            }
        }
        return true;
    }

private:
    struct IndexUse {
        u32 line;
        i32 index;
        const char* what;
    };

    bool asset(const std::string& name, u64& id, std::string& error) const
    {
        const auto found = m_assetIds.find(name);
        if (found == m_assetIds.end()) {
            error = "asset " + name + " is not in the manifest";
            return false;
        }
        id = found->second;
        return true;
    }

    bool index(const SourceLine& line, const char* what, i32& value, std::string& error)
    {
        if (line.words.size() < 2 || !parseInt32(line.words[1], value)) {
            error = line.words[0] + " needs a " + what;
            return false;
        }
        m_indices.push_back({ line.number, value, what });
        return true;
    }

    bool world(const std::vector<std::string>& w, std::string& error)
    {
        std::pair<i32, i32> entry;
        if (w.size() != 3 || !parseInt32(w[1], entry.first) || !parseInt32(w[2], entry.second)) {
            error = "world takes two numbers";
            return false;
        }
        m_list.worldEntries.push_back(entry);
        return true;
    }

    bool global(const std::vector<std::string>& w, std::string& error)
    {
        i32 offset = 0;
        if (w.size() != 3 || !parseInt32(w[1], offset)) {
            error = "global takes an offset and an asset";
            return false;
        }
        const u64* const slots = LevelList::kGlobalAssetOffsets;
        const u64* const end = slots + std::size(LevelList::kGlobalAssetOffsets);
        const u64* const slot = std::find(slots, end, static_cast<u64>(offset));
        if (offset < 0 || slot == end) {
            error = "global offset " + w[1] + " is not one of 4, 12, 20, 28, 36, 44, 52, 60, 68, 76";
            return false;
        }
        u64& id = m_list.globalIds[slot - slots];
        if (id != 0) {
            error = "global offset " + w[1] + " is given twice";
            return false;
        }
        m_list.hasGlobal = true;
        return asset(w[2], id, error);
    }

    bool level(const SourceLine& line, std::string& error)
    {
        const std::vector<std::string>& w = line.words;
        LevelRecordSource record;
        if (!index(line, "world entry", record.worldEntry, error))
            return false;
        bool hasId = false, hasChapter = false, hasSound = false, hasName = false, hasMusic = false,
             hasAmbience = false, hasLeaderboard = false;
        for (size_t i = 2; i < w.size(); i += 2) {
            if (w[i] == "name") {
                record.name = restOfLine(line.text, i + 1);
                hasName = true;
                break;
            }
            if (w[i] == "reverb") {
                if (!reverb(w, i, record, error))
                    return false;
                i += LevelList::kReverbValueCount - 1;
                continue;
            }
            if ((w[i] == "music" || w[i] == "ambience") && i + 1 < w.size()) {
                const bool music = w[i] == "music";
                if (!wordField(w[i], w[i + 1], music ? hasMusic : hasAmbience,
                        music ? LevelList::kRecordMusicCapacity : LevelList::kRecordAmbienceCapacity,
                        music ? record.music : record.ambience, error))
                    return false;
                continue;
            }
            if (w[i] == "leaderboard" && i + 1 < w.size()) {
                if (!wordField(w[i], w[i + 1], hasLeaderboard, LevelList::kRecordLeaderboardCapacity,
                        record.leaderboard, error))
                    return false;
                continue;
            }
            bool* const given = w[i] == "id" ? &hasId
                : w[i] == "chapter"          ? &hasChapter
                : w[i] == "sound"            ? &hasSound
                                             : nullptr;
            if (!given || i + 1 >= w.size()) {
                error = "level takes id, chapter, sound, music, ambience, leaderboard, reverb and then name, not "
                    + w[i];
                return false;
            }
            if (*given) {
                error = w[i] + " is given twice";
                return false;
            }
            *given = true;
            const bool ok = w[i] == "sound" ? asset(w[i + 1], record.soundLibrary, error)
                : w[i] == "id"              ? parseInt32(w[i + 1], record.levelId)
                                            : parseInt32(w[i + 1], record.chapter);
            if (!ok) {
                if (error.empty())
                    error = w[i] + " takes a number, not " + w[i + 1];
                return false;
            }
        }
        return checkRecord(record, hasId, hasName, error);
    }

    bool checkRecord(LevelRecordSource& record, bool hasId, bool hasName, std::string& error)
    {
        if (!hasId || record.levelId == 0) {
            error = "a level needs an id other than 0";
            return false;
        }
        if (std::any_of(m_list.levels.begin(), m_list.levels.end(),
                [&](const LevelRecordSource& other) { return other.levelId == record.levelId; })) {
            error = "level id " + std::to_string(record.levelId) + " is given twice";
            return false;
        }
        if (!hasName || record.name.empty()) {
            error = "a level needs a name, last on its line";
            return false;
        }
        if (record.name.size() > kMaxNameLength) {
            error = "the name has " + std::to_string(record.name.size()) + " bytes; the record holds "
                + std::to_string(kMaxNameLength);
            return false;
        }
        m_list.levels.push_back(std::move(record));
        return true;
    }

    // A music, ambience or leaderboard name: one word that fits its field with
    // its terminator.
    static bool wordField(const std::string& keyword, const std::string& word, bool& given, u64 capacity,
        std::string& name, std::string& error)
    {
        if (given) {
            error = keyword + " is given twice";
            return false;
        }
        if (word.size() >= capacity) {
            error = keyword + " " + word + " is longer than " + std::to_string(capacity - 1) + " bytes";
            return false;
        }
        given = true;
        name = word;
        return true;
    }

    // "reverb" and its 27 values from w[at + 1] on.
    static bool reverb(const std::vector<std::string>& w, size_t at, LevelRecordSource& record, std::string& error)
    {
        if (record.reverb) {
            error = "reverb is given twice";
            return false;
        }
        const u64 n = LevelList::kReverbValueCount;
        for (u64 k = 0; k < n; ++k) {
            if (at + 1 + k >= w.size() || !parseFloat(w[at + 1 + k], record.reverbValues[k])) {
                error = "reverb takes " + std::to_string(n) + " numbers";
                return false;
            }
        }
        record.reverb = true;
        return true;
    }

    bool extra(const SourceLine& line, LevelReferenceSource& target, std::string& error)
    {
        const std::vector<std::string>& w = line.words;
        if (!index(line, "level index", target.level, error))
            return false;
        bool hasSound = false, hasMusic = false, hasAmbience = false;
        for (size_t i = 2; i < w.size(); i += 2) {
            if (i + 1 >= w.size() || (w[i] != "sound" && w[i] != "music" && w[i] != "ambience")) {
                error = "extra takes sound, music and ambience, not " + w[i];
                return false;
            }
            if (w[i] == "sound") {
                if (hasSound) {
                    error = "sound is given twice";
                    return false;
                }
                hasSound = true;
                if (!asset(w[i + 1], target.soundLibrary, error))
                    return false;
                continue;
            }
            const bool music = w[i] == "music";
            if (!wordField(w[i], w[i + 1], music ? hasMusic : hasAmbience, LevelList::kExtraNameCapacity,
                    music ? target.music : target.ambience, error))
                return false;
        }
        target.present = true;
        return true;
    }

    // title, menu, final and (with `textures`) start.
    bool reference(const SourceLine& line, LevelReferenceSource& target, u64* textures, std::string& error)
    {
        const std::vector<std::string>& w = line.words;
        if (!index(line, "level index", target.level, error))
            return false;
        bool hasSound = false;
        size_t textureCount = 0;
        for (size_t i = 2; i < w.size(); i += 2) {
            const bool isTexture = textures && w[i] == "texture";
            if ((w[i] != "sound" && !isTexture) || i + 1 >= w.size()) {
                error = w[0] + (textures ? " takes sound and texture" : " takes sound") + ", not " + w[i];
                return false;
            }
            if (isTexture && textureCount == std::size(LevelListSource {}.startTextures)) {
                error = "the start level holds at most ten textures";
                return false;
            }
            if (!isTexture && hasSound) {
                error = "sound is given twice";
                return false;
            }
            hasSound = hasSound || !isTexture;
            if (!asset(w[i + 1], isTexture ? textures[textureCount++] : target.soundLibrary, error))
                return false;
        }
        target.present = true;
        return true;
    }

    const std::map<std::string, u64>& m_assetIds;
    LevelListSource& m_list;
    std::vector<IndexUse> m_indices;
};

void put(std::vector<u8>& out, u64 offset, u64 value, u32 bytes) { writeLittleEndian(out.data() + offset, value, bytes); }

// Zero bytes up to the next multiple of four counted from the data block.
void align(std::vector<u8>& out)
{
    while ((out.size() - kCountSize) % 4 != 0)
        out.push_back(0);
}

// Room for `size` zero bytes; their offset.
u64 reserve(std::vector<u8>& out, u64 size)
{
    const u64 at = out.size();
    out.resize(at + size, 0);
    return at;
}

// The presence byte, then (aligned) the zeroed part when present; its offset.
u64 optionalPart(std::vector<u8>& out, bool present, u64 size)
{
    out.push_back(present ? 1 : 0);
    if (!present)
        return 0;
    align(out);
    return reserve(out, size);
}

void writeReference(std::vector<u8>& out, const LevelReferenceSource& reference, u64 size)
{
    const u64 at = optionalPart(out, reference.present, size);
    if (!reference.present)
        return;
    put(out, at, static_cast<u32>(reference.level), 4);
    put(out, at + LevelList::kReferenceSoundOffset, reference.soundLibrary, 8);
}

void writeText(std::vector<u8>& out, u64 at, const std::string& text)
{
    std::copy(text.begin(), text.end(), out.begin() + static_cast<i64>(at));
}

void writeLevelRecords(std::vector<u8>& out, const std::vector<LevelRecordSource>& levels)
{
    align(out);
    put(out, reserve(out, 4), levels.size(), 4);
    for (const LevelRecordSource& level : levels) {
        const u64 at = reserve(out, LevelList::kLevelRecordSize);
        put(out, at, static_cast<u32>(level.worldEntry), 4);
        put(out, at + LevelList::kRecordSoundOffset, level.soundLibrary, 8);
        put(out, at + LevelList::kRecordLevelIdOffset, static_cast<u32>(level.levelId), 4);
        writeText(out, at + LevelList::kRecordNameOffset, level.name);
        put(out, at + LevelList::kRecordChapterOffset, static_cast<u32>(level.chapter), 4);
        writeText(out, at + LevelList::kRecordMusicOffset, level.music);
        writeText(out, at + LevelList::kRecordAmbienceOffset, level.ambience);
        writeText(out, at + LevelList::kRecordLeaderboardOffset, level.leaderboard);
        out[at + LevelList::kRecordReverbFlagOffset] = level.reverb ? 1 : 0;
        for (u64 k = 0; level.reverb && k < LevelList::kReverbValueCount; ++k)
            put(out, at + LevelList::kRecordReverbOffset + 4 * k, std::bit_cast<u32>(level.reverbValues[k]), 4);
    }
}

} // namespace

bool parseLevelList(
    const std::vector<u8>& text, const std::map<std::string, u64>& assetIds, LevelListSource& list, std::string& error)
{
    LevelListParser parser(assetIds, list);
    for (const SourceLine& line : splitLines(text)) {
        std::string detail;
        if (!parser.statement(line, detail)) {
            error = "line " + std::to_string(line.number) + ": " + detail;
            return false;
        }
    }
    return parser.checkIndices(error);
}

std::vector<u8> writeLevelList(const LevelListSource& list)
{
    std::vector<u8> out(kCountSize, 0);
    put(out, reserve(out, 4), list.worldEntries.size(), 4);
    for (const auto& [first, second] : list.worldEntries) {
        const u64 at = reserve(out, 8);
        put(out, at, static_cast<u32>(first), 4);
        put(out, at + 4, static_cast<u32>(second), 4);
    }
    const u64 global = optionalPart(out, list.hasGlobal, LevelList::kGlobalRecordSize);
    for (size_t i = 0; list.hasGlobal && i < std::size(list.globalIds); ++i)
        put(out, global + LevelList::kGlobalAssetOffsets[i], list.globalIds[i], 8);
    writeLevelRecords(out, list.levels);
    writeReference(out, list.title, LevelList::kLevelReferenceSize);
    writeReference(out, list.menu, LevelList::kLevelReferenceSize);
    writeReference(out, list.final, LevelList::kLevelReferenceSize);
    writeReference(out, list.start, LevelList::kStartRecordSize);
    if (list.start.present) {
        const u64 start = out.size() - LevelList::kStartRecordSize;
        for (size_t i = 0; i < std::size(list.startTextures); ++i)
            put(out, start + LevelList::kStartTexturesOffset + 8 * i, list.startTextures[i], 8);
    }
    align(out);
    put(out, reserve(out, 4), list.extras.size(), 4);
    for (const LevelReferenceSource& extra : list.extras) {
        const u64 at = reserve(out, LevelList::kExtraEntrySize);
        put(out, at, static_cast<u32>(extra.level), 4);
        put(out, at + LevelList::kExtraSoundOffset, extra.soundLibrary, 8);
        writeText(out, at + LevelList::kExtraMusicOffset, extra.music);
        writeText(out, at + LevelList::kExtraAmbienceOffset, extra.ambience);
    }
    put(out, 0, out.size() - kCountSize, 4);
    return out;
}

bool buildLevelList(
    const std::string& text, const std::map<std::string, u64>& assetIds, std::vector<u8>& out, std::string& error)
{
    LevelListSource list;
    if (!parseLevelList(std::vector<u8>(text.begin(), text.end()), assetIds, list, error))
        return false;
    out = writeLevelList(list);
    return true;
}

i32 levelListWorldEntryCount(const std::vector<u8>& image)
{
    if (image.size() < 2 * kCountSize)
        return 0;
    return static_cast<i32>(image[4] | image[5] << 8 | image[6] << 16 | static_cast<u32>(image[7]) << 24);
}

bool convertLevelListContent(
    const ManifestAsset& asset, const std::map<std::string, u64>& assetIds, std::vector<u8>& bytes, std::string& error)
{
    if (asset.type != "levellist")
        return true;
    std::vector<u8> image;
    if (!buildLevelList(std::string(bytes.begin(), bytes.end()), assetIds, image, error)) {
        error = asset.name + ": " + error;
        return false;
    }
    bytes = std::move(image);
    return true;
}

} // namespace quern::assetbuild
