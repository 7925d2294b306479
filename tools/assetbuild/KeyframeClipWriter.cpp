#include "KeyframeClipWriter.h"

#include "SourceText.h"

#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/strings/Hashes.h"
#include "quern/strings/StringInterner.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace quern::assetbuild {
namespace {

using animate::KeyframeEvent;
using animate::KeyframeKey;
using animate::KeyframeTrack;
using animate::KeyframeTrackInfo;

constexpr u32 kMaxTracks = 0x7fff; // track numbers are 16-bit signed
constexpr u32 kComponentTypes = 128;

u64 nameId(const std::string& text)
{
    return strings::murmurHash64A(text.data(), text.size(), strings::kInternerSeed);
}

// How many component tracks a property's keys carry, 0 for a property the
// source cannot name.
u32 componentsOf(const std::string& property)
{
    if (property == "m_LocalPosition" || property == "m_LocalScale")
        return 3;
    if (property == "m_LocalRotation")
        return 4;
    if (property.rfind("m_LocalRotation.", 0) == 0)
        return 0;
    return 1;
}

i16 interpolationFlags(const std::string& word)
{
    const auto modes = [](u32 in, u32 out) { return static_cast<i16>(in << 1 | out << 3); };
    if (word == "linear")
        return modes(animate::kInterpolateLinear, animate::kInterpolateLinear);
    if (word == "constant")
        return modes(animate::kInterpolateLinear, animate::kInterpolateConstant);
    if (word == "smooth")
        return 0;
    return -1;
}

struct TrackGroup {
    u32 firstTrack;
    u32 components;
    u32 keyCount = 0;
    f32 lastTime = 0.0f;
    u32 line;
};

struct ClipParser {
    explicit ClipParser(KeyframeClipSource& out) : clip(out) {}

    KeyframeClipSource& clip;
    std::string error;
    u32 line = 0;
    std::vector<TrackGroup> groups;
    std::vector<std::vector<KeyframeKey>> keysByTrack;
    bool hasDuration = false;
    bool hasWrap = false;

    bool fail(const std::string& message)
    {
        error = "line " + std::to_string(line) + ": " + message;
        return false;
    }

    void addString(const std::string& text)
    {
        if (std::find(clip.strings.begin(), clip.strings.end(), text) == clip.strings.end())
            clip.strings.push_back(text);
    }

    bool time(const std::string& word, f32& value)
    {
        if (!parseFloat(word, value) || value < 0.0f)
            return fail("\"" + word + "\" is not a time of zero seconds or more");
        return true;
    }

    bool statement(const std::vector<std::string>& words)
    {
        const std::string& keyword = words[0];
        if (keyword == "name") {
            if (words.size() != 2 || words[1].size() > 511)
                return fail("name takes one word of at most 511 bytes");
            clip.name = words[1];
            return true;
        }
        if (keyword == "duration") {
            if (words.size() != 2 || !parseFloat(words[1], clip.duration) || !(clip.duration > 0.0f))
                return fail("duration takes one number of seconds above 0");
            hasDuration = true;
            return true;
        }
        if (keyword == "wrap")
            return wrap(words);
        if (keyword == "track")
            return track(words);
        if (keyword == "key")
            return key(words);
        if (keyword == "event")
            return event(words);
        return fail("unknown statement \"" + keyword + "\"");
    }

    bool wrap(const std::vector<std::string>& words)
    {
        if (hasWrap)
            return fail("the wrap mode is given twice");
        static const char* const kModes[] = { "once", "loop", "pingpong" };
        for (u32 mode = 0; mode < 3; ++mode)
            if (words.size() == 2 && words[1] == kModes[mode]) {
                clip.wrapMode = mode;
                hasWrap = true;
                return true;
            }
        return fail("wrap takes once, loop or pingpong");
    }

    bool track(const std::vector<std::string>& words)
    {
        if (words.size() != 3 && words.size() != 5)
            return fail("expected \"track <path> <property> [type <n>]\"");
        if (!closeGroup())
            return false;
        const std::string path = words[1] == "-" ? "" : words[1];
        const std::string& property = words[2];
        const u32 components = componentsOf(property);
        if (components == 0)
            return fail("a rotation takes all four components: use m_LocalRotation with keys of x, y, z and w");
        i32 targetType = -1;
        if (property == "m_Enabled") {
            u32 type = 0;
            if (words.size() != 5 || words[3] != "type" || !parseNumber(words[4], kComponentTypes - 1, type))
                return fail("m_Enabled needs \"type <component type 0-127>\"");
            targetType = static_cast<i32>(type);
        } else if (words.size() != 3) {
            return fail("only m_Enabled takes a component type");
        }
        const u32 first = static_cast<u32>(clip.tracks.size());
        if (first + components > kMaxTracks)
            return fail("a clip holds at most 32767 tracks");
        addString(path);
        static const char kAxes[] = "xyzw";
        for (u32 c = 0; c < components; ++c) {
            // The first track of a vector samples the whole vector; the others
            // only hold its keys.
            const std::string name = components == 1 ? property : property + "." + kAxes[c];
            addString(name);
            const i32 info = static_cast<i32>(clip.trackInfo.size());
            clip.tracks.push_back({ nameId(path), nameId(name), targetType, info });
            const i8 count = static_cast<i8>(c == 0 ? components : 0);
            const bool vectorComponent = components == 1 && name.find('.') != std::string::npos;
            const i8 component = static_cast<i8>(vectorComponent ? componentOfName(name) : components == 1 ? 0 : c);
            clip.trackInfo.push_back({ { count, component, 0, static_cast<i8>(c == 0 ? 0 : 1) } });
            keysByTrack.emplace_back();
        }
        groups.push_back({ first, components, 0, 0.0f, line });
        return true;
    }

    static i32 componentOfName(const std::string& name)
    {
        const char last = name.empty() ? '\0' : name.back();
        const char* at = std::strchr("xyzw", last);
        return last != '\0' && at ? static_cast<i32>(at - "xyzw") : 0;
    }

    bool key(const std::vector<std::string>& words)
    {
        if (groups.empty())
            return fail("key before any track");
        TrackGroup& group = groups.back();
        u64 values = words.size() - 2;
        i16 flags = interpolationFlags("linear");
        if (words.size() > 2 && interpolationFlags(words.back()) >= 0) {
            flags = interpolationFlags(words.back());
            --values;
        }
        if (words.size() < 2 || values != group.components)
            return fail("a key of this track takes a time and " + std::to_string(group.components) + " value(s)");
        f32 at = 0.0f;
        if (!time(words[1], at))
            return false;
        if (group.keyCount > 0 && !(at > group.lastTime))
            return fail("key times of a track must ascend");
        for (u32 c = 0; c < group.components; ++c) {
            f32 value = 0.0f;
            if (!parseFloat(words[2 + c], value))
                return fail("\"" + words[2 + c] + "\" is not a number");
            const u32 trackIndex = group.firstTrack + c;
            keysByTrack[trackIndex].push_back({ at, value, 0.0f, 0.0f, flags, static_cast<i16>(trackIndex) });
        }
        group.lastTime = at;
        ++group.keyCount;
        return true;
    }

    bool event(const std::vector<std::string>& words)
    {
        if (words.size() != 3 && words.size() != 4)
            return fail("expected \"event <time> <name> [<payload>]\"");
        KeyframeEvent out {};
        if (!time(words[1], out.time))
            return false;
        addString(words[2]);
        out.nameIndex = static_cast<u32>(std::find(clip.strings.begin(), clip.strings.end(), words[2]) - clip.strings.begin());
        u64 payload = 0;
        if (words.size() == 4 && !payloadOf(words[3], payload))
            return false;
        for (u32 i = 0; i < 8; ++i)
            out.data[i] = static_cast<u8>(payload >> (8 * i));
        clip.events.push_back(out);
        return true;
    }

    bool payloadOf(const std::string& word, u64& payload)
    {
        if (word.empty() || !std::isdigit(static_cast<unsigned char>(word[0]))) {
            payload = nameId(word);
            return true;
        }
        char* end = nullptr;
        errno = 0;
        payload = std::strtoull(word.c_str(), &end, 0);
        if (*end != '\0' || errno == ERANGE)
            return fail("\"" + word + "\" is not a 64-bit number");
        return true;
    }

    bool closeGroup()
    {
        if (!groups.empty() && groups.back().keyCount == 0) {
            line = groups.back().line;
            return fail("the track has no keys");
        }
        return true;
    }

    bool finish()
    {
        if (!closeGroup())
            return false;
        if (!hasDuration)
            return fail("the clip has no duration");
        for (const KeyframeEvent& e : clip.events)
            if (e.time > clip.duration)
                return fail("an event lies after the clip's end");
        for (const std::vector<KeyframeKey>& keys : keysByTrack)
            clip.keys.insert(clip.keys.end(), keys.begin(), keys.end());
        std::stable_sort(clip.events.begin(), clip.events.end(),
            [](const KeyframeEvent& a, const KeyframeEvent& b) { return a.time < b.time; });
        return true;
    }
};

} // namespace

bool parseKeyframeClipSource(const std::vector<u8>& text, KeyframeClipSource& clip, std::string& error)
{
    ClipParser parser(clip);
    for (const SourceLine& line : splitLines(text)) {
        parser.line = line.number;
        if (!parser.statement(line.words)) {
            error = parser.error;
            return false;
        }
    }
    if (!parser.finish()) {
        error = parser.error;
        return false;
    }
    return true;
}

void writeKeyframeClip(std::ostream& out, serialize::PODToken& token, const KeyframeClipSource& clip)
{
    const u32 start = token.beginWriteChunk(out, animate::kKeyframeAnimationTypeId);
    token.writeString(out, clip.name.c_str(), "name");
    token.writePOD(out, &clip.duration, 1, &serialize::kF32Descriptor, "duration");
    token.writePOD(out, &clip.wrapMode, 1, &serialize::kU32Descriptor, "wrapMode");
    const auto counted = [&](const void* data, u64 size, const serialize::PODTypeDescriptor& descriptor,
                             const char* name) {
        const u32 count = static_cast<u32>(size);
        token.writePOD(out, &count, 1, &serialize::kU32Descriptor, "count");
        token.writePOD(out, data, count, &descriptor, name);
    };
    counted(clip.keys.data(), clip.keys.size(), animate::kKeyframeKeyDescriptor, "keys");
    counted(clip.tracks.data(), clip.tracks.size(), animate::kKeyframeTrackDescriptor, "tracks");
    counted(clip.trackInfo.data(), clip.trackInfo.size(), animate::kKeyframeTrackInfoDescriptor, "trackInfo");
    counted(clip.events.data(), clip.events.size(), animate::kKeyframeEventDescriptor, "events");
    strings::StringInterner interner;
    for (const std::string& text : clip.strings)
        interner.internIndex(text.c_str(), text.size());
    serialize::writeStringInterner(out, token, interner);
    token.endWriteChunk(out, start);
}

bool convertKeyframeClipContent(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error)
{
    if (asset.type != "keyframeanim")
        return true;
    KeyframeClipSource clip;
    std::string name = asset.name.substr(asset.name.find_last_of('/') + 1);
    clip.name = name.substr(0, name.find('.'));
    if (!parseKeyframeClipSource(bytes, clip, error)) {
        error = "line " + std::to_string(asset.line) + ": " + asset.name + ": " + error;
        return false;
    }
    serialize::BinaryPODToken binary;
    std::ostringstream out;
    writeKeyframeClip(out, binary, clip);
    const std::string written = out.str();
    bytes.assign(written.begin(), written.end());
    return true;
}

} // namespace quern::assetbuild
