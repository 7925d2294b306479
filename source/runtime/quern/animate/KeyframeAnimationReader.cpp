#include "quern/animate/KeyframeAnimation.h"

#include "quern/io/ByteSource.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/PODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/strings/Format.h"
#include "quern/strings/Hashes.h"

#include <cstring>

namespace quern::animate {

namespace {

constexpr u64 kNameCapacity = 512;

[[noreturn]] void rejectClip(const char* reason)
{
    QUERN_FATAL(strings::format<256>("Invalid keyframe animation: %s", reason));
}

// Indices the clip's users follow must stay inside the clip.
void checkIndices(const KeyframeAnimation& clip)
{
    for (u64 i = 0; i < clip.tracks.count(); ++i) {
        const i32 info = clip.tracks.at<KeyframeTrack>(i).trackInfoIndex;
        if (info < -1 || (info >= 0 && static_cast<u64>(info) >= clip.trackInfo.count()))
            rejectClip(strings::format<128>("track %llu names track record %d of %llu",
                                            static_cast<unsigned long long>(i), info,
                                            static_cast<unsigned long long>(clip.trackInfo.count())));
    }
    for (u64 i = 0; i < clip.events.count(); ++i) {
        const u32 nameIndex = clip.events.at<KeyframeEvent>(i).nameIndex;
        if (nameIndex >= clip.strings.count())
            rejectClip(strings::format<128>("event %llu names string %u of %llu", static_cast<unsigned long long>(i),
                                            nameIndex, static_cast<unsigned long long>(clip.strings.count())));
    }
}

} // namespace

void readKeyframeAnimation(ByteSource& source, serialize::PODToken& token, KeyframeAnimation& clip)
{
    const u32 start = serialize::expectChunk(source, token, kKeyframeAnimationTypeId);
    char name[kNameCapacity] = {};
    const u32 nameLength = token.readString(source, name, kNameCapacity);
    token.readPOD(source, &clip.duration, 1, &serialize::kF32Descriptor);
    token.readPOD(source, &clip.wrapMode, 1, &serialize::kU32Descriptor);
    serialize::readCountedArray(source, token, clip.keys, kKeyframeKeyDescriptor, "keys", "keyframe animation");
    serialize::readCountedArray(source, token, clip.tracks, kKeyframeTrackDescriptor, "tracks", "keyframe animation");
    serialize::readCountedArray(
        source, token, clip.trackInfo, kKeyframeTrackInfoDescriptor, "track records", "keyframe animation");
    serialize::readCountedArray(source, token, clip.events, kKeyframeEventDescriptor, "events", "keyframe animation");
    clip.name = "";
    serialize::readStringInterner(source, token, clip.strings);
    clip.name = clip.strings.intern(name, nameLength, strings::murmurHash64A(name, nameLength, clip.strings.seed()));
    token.endReadChunk(source, start);
    checkIndices(clip);
}

} // namespace quern::animate
