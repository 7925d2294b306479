#pragma once
// Clips for the animation tests, built in memory or written in the stored form
// through a POD token.

#include "quern/animate/KeyframeAnimation.h"
#include "quern/io/StringSink.h"
#include "quern/serialize/PODToken.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/strings/Hashes.h"

#include <cstring>
#include <string>
#include <vector>

namespace quern::animate::testing {

inline KeyframeKey key(i16 track, f32 time, f32 value, i16 flags = 0, f32 inTangent = 0.0f, f32 outTangent = 0.0f)
{
    return { time, value, inTangent, outTangent, flags, track };
}

// Flags with both interpolation modes of a key.
inline i16 modes(u32 in, u32 out)
{
    return static_cast<i16>(in << 1 | out << 3);
}

inline KeyframeEvent event(f32 time, u32 value, u32 nameIndex = 0)
{
    KeyframeEvent e {};
    e.time = time;
    e.value = value;
    e.nameIndex = nameIndex;
    return e;
}

struct ClipContent {
    std::string name = "clip";
    f32 duration = 2.0f;
    u32 wrapMode = 0;
    std::vector<KeyframeKey> keys;
    u32 trackCount = 1;
    std::vector<KeyframeTrackInfo> trackInfo;
    std::vector<KeyframeEvent> events;
    std::vector<std::string> strings = { "Footstep" };
};

inline std::vector<KeyframeTrack> tracksOf(const ClipContent& content)
{
    std::vector<KeyframeTrack> tracks;
    for (u32 i = 0; i < content.trackCount; ++i)
        tracks.push_back({ 0x1000u + i, 0x2000u + i, 1, -1 });
    return tracks;
}

template <class T> void fill(containers::Array& array, const std::vector<T>& items)
{
    array.clear();
    for (const T& item : items)
        array.append(item);
}

// Fills an existing clip as a load would.
inline void build(KeyframeAnimation& clip, const ClipContent& content)
{
    clip.duration = content.duration;
    clip.wrapMode = content.wrapMode;
    fill(clip.keys, content.keys);
    fill(clip.tracks, tracksOf(content));
    fill(clip.trackInfo, content.trackInfo);
    fill(clip.events, content.events);
}

// The stored form of a clip, through `token`.
inline std::string write(const ClipContent& content, serialize::PODToken& token)
{
    StringSink sink;
    const u32 start = token.beginWriteChunk(sink, kKeyframeAnimationTypeId);
    token.writeString(sink, content.name.c_str(), "name");
    token.writePOD(sink, &content.duration, 1, &serialize::kF32Descriptor, "duration");
    token.writePOD(sink, &content.wrapMode, 1, &serialize::kU32Descriptor, "wrapMode");
    const auto counted = [&](const void* data, u32 count, const serialize::PODTypeDescriptor& descriptor,
                             const char* name) {
        token.writePOD(sink, &count, 1, &serialize::kU32Descriptor, "count");
        token.writePOD(sink, data, count, &descriptor, name);
    };
    const std::vector<KeyframeTrack> tracks = tracksOf(content);
    counted(content.keys.data(), static_cast<u32>(content.keys.size()), kKeyframeKeyDescriptor, "keys");
    counted(tracks.data(), static_cast<u32>(tracks.size()), kKeyframeTrackDescriptor, "tracks");
    counted(content.trackInfo.data(), static_cast<u32>(content.trackInfo.size()), kKeyframeTrackInfoDescriptor,
            "trackInfo");
    counted(content.events.data(), static_cast<u32>(content.events.size()), kKeyframeEventDescriptor, "events");
    strings::StringInterner interner;
    for (const std::string& text : content.strings)
        interner.internIndex(text.c_str(), text.size());
    serialize::writeStringInterner(sink, token, interner);
    token.endWriteChunk(sink, start);
    return sink.text;
}

inline std::vector<KeyframeCursor> cursorsFor(const KeyframeAnimation& clip)
{
    return std::vector<KeyframeCursor>(clip.tracks.count(), KeyframeCursor::empty());
}

} // namespace quern::animate::testing
