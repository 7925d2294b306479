#include "SoundLibraryWriter.h"

#include "SourceText.h"

#include "quern/LittleEndian.h"
#include "quern/strings/Hashes.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quern::assetbuild {
namespace {

constexpr u64 kSoundRecord = 40;
constexpr u64 kComponentRecord = 32;
constexpr u64 kGroupRecord = 144;
constexpr u32 kMaxCurvePoints = 16;

u64 nameKey(const std::string& name)
{
    return strings::murmurHash64A(name.data(), name.size(), strings::kInternerSeed);
}

void put(std::vector<u8>& out, u64 offset, u64 value, u32 bytes)
{
    for (u32 i = 0; i < bytes; ++i)
        out[offset + i] = static_cast<u8>(value >> (8 * i));
}

void putFloat(std::vector<u8>& out, u64 offset, f32 value) { put(out, offset, std::bit_cast<u32>(value), 4); }

bool pickModeOf(const std::string& word, u8& mode)
{
    static const char* const names[] = { "first", "random", "cycle" };
    for (u8 i = 0; i < 3; ++i) {
        if (word == names[i]) {
            mode = i;
            return true;
        }
    }
    return false;
}

bool parseSound(const std::vector<std::string>& w, SoundSource& sound)
{
    sound.name = w[1];
    for (size_t i = 2; i < w.size(); ++i) {
        const bool hasValue = i + 1 < w.size();
        bool ok = true;
        if (w[i] == "loop")
            sound.looping = true;
        else if (!hasValue)
            return false;
        else if (w[i] == "gain")
            ok = parseFloat(w[++i], sound.gain);
        else if (w[i] == "group")
            sound.group = w[++i];
        else if (w[i] == "interval")
            ok = parseFloat(w[++i], sound.interval);
        else if (w[i] == "instances")
            ok = parseNumber(w[++i], 0xFFFFFFFFu, sound.instances);
        else if (w[i] == "distance")
            ok = parseFloat(w[++i], sound.distance);
        else if (w[i] == "pick")
            ok = pickModeOf(w[++i], sound.pickMode);
        else
            return false;
        if (!ok)
            return false;
    }
    return true;
}

bool parseComponent(const std::vector<std::string>& w, SoundComponentSource& component)
{
    for (size_t i = 2; i < w.size(); i += 2) {
        if (i + 1 >= w.size())
            return false;
        f32* field = w[i] == "gain" ? &component.gain
            : w[i] == "fadein"      ? &component.fadeIn
            : w[i] == "fadeout"     ? &component.fadeOut
                                    : nullptr;
        if (!field || !parseFloat(w[i + 1], *field))
            return false;
    }
    return true;
}

bool parseGroup(const std::vector<std::string>& w, SoundGroupSource& group, std::string& error)
{
    group.name = w[1];
    size_t i = 2;
    if (i + 1 < w.size() && w[i] == "gain") {
        if (!parseFloat(w[i + 1], group.gain))
            return false;
        i += 2;
    }
    if (i == w.size())
        return true;
    if (w[i] != "curve" || (w.size() - i - 1) % 2 != 0)
        return false;
    for (++i; i < w.size(); i += 2) {
        std::pair<f32, f32> point;
        if (!parseFloat(w[i], point.first) || !parseFloat(w[i + 1], point.second))
            return false;
        if (!group.curve.empty() && point.first < group.curve.back().first) {
            error = "curve fractions must ascend";
            return false;
        }
        group.curve.push_back(point);
    }
    if (group.curve.size() > kMaxCurvePoints) {
        error = "a curve has at most 16 points";
        return false;
    }
    return true;
}

} // namespace

bool parseSoundLibrary(const std::vector<u8>& text, const std::map<std::string, u64>& assetIds,
    SoundLibrarySource& library, std::string& error)
{
    for (const SourceLine& line : splitLines(text)) {
        const std::vector<std::string>& w = line.words;
        const std::string at = "line " + std::to_string(line.number) + ": ";
        bool ok = w.size() >= 2;
        std::string detail;
        if (ok && w[0] == "sound") {
            if (std::any_of(library.sounds.begin(), library.sounds.end(),
                    [&](const SoundSource& sound) { return sound.name == w[1]; })) {
                error = at + "sound " + w[1] + " is named twice";
                return false;
            }
            library.sounds.emplace_back();
            ok = parseSound(w, library.sounds.back());
        } else if (ok && w[0] == "group") {
            if (std::any_of(library.groups.begin(), library.groups.end(),
                    [&](const SoundGroupSource& group) { return group.name == w[1]; })) {
                error = at + "group " + w[1] + " is named twice";
                return false;
            }
            library.groups.emplace_back();
            ok = parseGroup(w, library.groups.back(), detail);
        } else if (ok && w[0] == "component") {
            if (library.sounds.empty()) {
                error = at + "a component belongs to a sound line above it";
                return false;
            }
            auto found = assetIds.find(w[1]);
            if (found == assetIds.end()) {
                error = at + "audio asset " + w[1] + " is not in the manifest";
                return false;
            }
            SoundComponentSource component;
            component.audioAssetId = found->second;
            ok = parseComponent(w, component);
            library.sounds.back().components.push_back(component);
        } else {
            ok = false;
        }
        if (!ok) {
            error = at + (detail.empty() ? "expected sound, component or group with its settings" : detail);
            return false;
        }
    }
    return true;
}

bool writeSoundLibraryBlob(const SoundLibrarySource& library, std::vector<u8>& blob, std::string& error)
{
    u64 componentCount = 0;
    for (const SoundSource& sound : library.sounds) {
        if (sound.components.size() > 0xFFFF || (!sound.components.empty() && componentCount > 0xFFFF)) {
            error = "sound " + sound.name + ": too many components for 16-bit component indices";
            return false;
        }
        componentCount += sound.components.size();
    }
    const u64 ns = library.sounds.size(), ng = library.groups.size();
    const u64 componentsAt = 8 + kSoundRecord * ns + 8;
    const u64 groupsAt = componentsAt + kComponentRecord * componentCount + 8;
    blob.assign(groupsAt + kGroupRecord * ng, 0);

    put(blob, 0, ns, 4);
    put(blob, componentsAt - 8, componentCount, 4);
    put(blob, groupsAt - 8, ng, 4);
    u64 component = 0;
    for (u64 s = 0; s < ns; ++s) {
        const SoundSource& sound = library.sounds[s];
        i64 group = -1;
        for (u64 g = 0; g < ng && !sound.group.empty(); ++g) {
            if (library.groups[g].name == sound.group) {
                group = static_cast<i64>(g);
                break;
            }
        }
        if (!sound.group.empty() && group < 0) {
            error = "sound " + sound.name + ": no group is named " + sound.group;
            return false;
        }
        const u64 at = 8 + kSoundRecord * s;
        put(blob, at, nameKey(sound.name), 8);
        putFloat(blob, at + 8, sound.gain);
        put(blob, at + 12, static_cast<u64>(group), 4);
        putFloat(blob, at + 16, sound.interval);
        put(blob, at + 20, sound.instances, 4);
        putFloat(blob, at + 28, sound.distance);
        put(blob, at + 32, sound.components.size(), 2);
        put(blob, at + 34, sound.components.empty() ? 0 : component, 2);
        blob[at + 36] = sound.looping ? 1 : 0;
        blob[at + 37] = sound.pickMode;
        for (const SoundComponentSource& source : sound.components) {
            const u64 c = componentsAt + kComponentRecord * component++;
            putFloat(blob, c, source.gain);
            put(blob, c + 4, s, 4);
            put(blob, c + 8, source.audioAssetId, 8);
            putFloat(blob, c + 16, source.fadeIn);
            putFloat(blob, c + 20, source.fadeOut);
        }
    }
    for (u64 g = 0; g < ng; ++g) {
        const SoundGroupSource& group = library.groups[g];
        const u64 at = groupsAt + kGroupRecord * g;
        put(blob, at, nameKey(group.name), 8);
        putFloat(blob, at + 8, group.gain);
        put(blob, at + 12, group.curve.size(), 4);
        for (u64 k = 0; k < group.curve.size(); ++k) {
            putFloat(blob, at + 16 + 8 * k, group.curve[k].first);
            putFloat(blob, at + 20 + 8 * k, group.curve[k].second);
        }
    }
    return true;
}

bool buildSoundLibraryBlob(
    const std::string& text, const std::map<std::string, u64>& assetIds, std::vector<u8>& blob, std::string& error)
{
    SoundLibrarySource library;
    return parseSoundLibrary(std::vector<u8>(text.begin(), text.end()), assetIds, library, error)
        && writeSoundLibraryBlob(library, blob, error);
}

std::vector<u8> wrapSoundLibraryChunk(const std::vector<u8>& blob)
{
    std::vector<u8> chunk(12 + blob.size(), 0);
    writeLittleEndian(chunk.data() + 8, blob.size(), 4);
    if (!blob.empty())
        std::memcpy(chunk.data() + 12, blob.data(), blob.size());
    return chunk;
}

bool convertSoundLibraryContent(
    const ManifestAsset& asset, const std::map<std::string, u64>& assetIds, std::vector<u8>& bytes, std::string& error)
{
    if (asset.type != "soundlibrary")
        return true;
    std::vector<u8> blob;
    if (!buildSoundLibraryBlob(std::string(bytes.begin(), bytes.end()), assetIds, blob, error)) {
        error = asset.name + ": " + error;
        return false;
    }
    bytes = wrapSoundLibraryChunk(blob);
    return true;
}

} // namespace quern::assetbuild
