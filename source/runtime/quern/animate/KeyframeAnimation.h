#pragma once
// A loaded animation clip: scalar curves (tracks) of Hermite keyframes, a table
// of per-track records, timed events and the clip's own string table. Sampled
// every frame by the game's animation system through caller-owned cursors, so
// a loaded clip is read-only and any number of threads may sample it at once,
// each with its own cursor array.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/language/RefCounted.h"
#include "quern/serialize/PODTypeDescriptor.h"
#include "quern/strings/StringInterner.h"

namespace quern {
class ByteSource;
}
namespace quern::serialize {
class PODToken;
}

namespace quern::animate {

inline constexpr u64 kKeyframeAnimationTypeId = 0x1B8A0919C2DC674Dull;

// Wrap modes; any other value clamps.
inline constexpr u32 kWrapRepeat = 1;
inline constexpr u32 kWrapPingPong = 2;

// Interpolation modes of a key's flags (bits 1-2 arriving, bits 3-4 leaving);
// 0 and 1 are smooth (Hermite).
inline constexpr u32 kInterpolateLinear = 2;
inline constexpr u32 kInterpolateConstant = 3;

// The most consecutive tracks one sampling call takes.
inline constexpr u64 kMaxSampledTracks = 4;

struct KeyframeKey {
    f32 time;       // seconds from the clip start
    f32 value;
    f32 inTangent;  // value per second arriving at the key
    f32 outTangent; // value per second leaving the key
    i16 flags;
    i16 track;

    u32 inMode() const { return (static_cast<u32>(flags) >> 1) & 3; }
    u32 outMode() const { return (static_cast<u32>(flags) >> 3) & 3; }
};
static_assert(sizeof(KeyframeKey) == 20);

// One per track id. The keys name entries of the clip's string table: the
// animated object and its property.
struct KeyframeTrack {
    u64 targetKey;
    u64 propertyKey;
    i32 targetType;
    i32 trackInfoIndex; // -1: none
};
static_assert(sizeof(KeyframeTrack) == 24);

// Four signed bytes the animation system reads (second: component index,
// fourth: non-zero to ignore the track).
struct KeyframeTrackInfo {
    i8 bytes[4];
};
static_assert(sizeof(KeyframeTrackInfo) == 4);

struct KeyframeEvent {
    u8 data[16]; // payload, the consumer's to interpret
    u32 nameIndex; // entry of the clip's string table
    f32 time;
    u32 value;
    u8 flag;
    u8 padding[3];
};
static_assert(sizeof(KeyframeEvent) == 32);

// A caller's memory of where one track was sampled last: copies of the two
// keys around the time and their indices. Empty when either copy's track is -1.
struct KeyframeCursor {
    KeyframeKey prev;
    KeyframeKey next;
    i32 prevIndex;
    i32 nextIndex;

    static KeyframeCursor empty();
    bool isEmpty() const { return prev.track == -1 || next.track == -1; }
};

// The events a time range passed: up to two runs of the time-sorted event
// table in the order they were passed. A repeating range that wraps past the
// clip's end passes the end of the table (`first`) and then its start
// (`wrappedFirst`).
struct KeyframeEventRange {
    const KeyframeEvent* first = nullptr;
    u64 count = 0;
    const KeyframeEvent* wrappedFirst = nullptr;
    u64 wrappedCount = 0;

    u64 total() const { return count + wrappedCount; }
    const KeyframeEvent& operator[](u64 i) const { return i < count ? first[i] : wrappedFirst[i - count]; }
};

// Values written by one sampling call.
struct KeyframeOutput {
    f32* values;
    u64 count;
};

// Turns the keys around t (null where there is none) into output values.
using KeyframeInterpolateFunction = void (*)(f32 t, f32* values, u64 count, const KeyframeKey* const* prev,
                                             const KeyframeKey* const* next);

// Per track: linear between two linear keys, held after a constant key, else
// cubic Hermite; a track with no key at all is fatal "Keyframe not found".
void interpolateScalar(f32 t, f32* values, u64 count, const KeyframeKey* const* prev, const KeyframeKey* const* next);
// Four tracks x, y, z, w timed by the first: nlerp between the two keys.
void interpolateRotation(f32 t, f32* values, u64 count, const KeyframeKey* const* prev,
                         const KeyframeKey* const* next);

// Repeat: remainder with the sign of t; ping-pong: every other period runs
// backwards; any other mode leaves t as it is (the key search clamps).
f32 wrapTime(f32 t, f32 duration, u32 mode);

class KeyframeAnimation : public RefCounted {
public:
    KeyframeAnimation();
    ~KeyframeAnimation() override;

    // The last key of `track` at or before t scanning from `start`, or the
    // track's first key after t when none is; -1 when the track has no key there.
    i32 findKey(f32 t, i16 track, i32 start) const;
    // The first key of `track` after t scanning from `start`, or -1.
    i32 findNextKey(f32 t, i16 track, i32 start) const;

    // Samples `output.count` (at most 4) consecutive tracks from `firstTrack`;
    // `cursors` holds one cursor per track of the clip.
    void sampleTracks(f32 time, u32 firstTrack, KeyframeOutput output, KeyframeCursor* cursors, u32 wrapMode,
                      KeyframeInterpolateFunction interpolate) const;
    // out[i] = sample[i] * weight + out[i] * keep for the n (at most 4) tracks.
    void blendFloatTracks(f32 time, u32 firstTrack, f32* out, i32 n, KeyframeCursor* cursors, u32 wrapMode, f32 weight,
                          f32 keep) const;
    // With keep 0 the sampled rotation replaces out (x, y, z, w); otherwise out
    // turns towards it by `weight`.
    void blendRotationTrack(f32 time, u32 firstTrack, f32 out[4], KeyframeCursor* cursors, u32 wrapMode, f32 weight,
                            f32 keep) const;
    // The events between the wrapped times of `from` and `to`, both included.
    KeyframeEventRange findEvents(f32 from, f32 to, u32 wrapMode) const;

    containers::Array keys;      // KeyframeKey, by track id, then by time
    containers::Array tracks;    // KeyframeTrack, track id = index
    containers::Array trackInfo; // KeyframeTrackInfo
    containers::Array events;    // KeyframeEvent, by time
    strings::StringInterner strings;
    const char* name = "";
    f32 duration = 0.0f; // seconds; 0 yields zeros and no events
    u32 wrapMode = 0;

private:
    void bracketKeys(f32 t, i16 track, KeyframeCursor& cursor, const KeyframeKey*& prev,
                     const KeyframeKey*& next) const;
};

// Stored form: one chunk of id kKeyframeAnimationTypeId holding the name, the
// duration, the wrap mode, the counted keys, tracks, track records and events,
// and the string-table chunk. A file whose counts or indices do not fit what
// it holds is fatal "Invalid keyframe animation: " and the reason.
void readKeyframeAnimation(ByteSource& source, serialize::PODToken& token, KeyframeAnimation& clip);

inline constexpr serialize::PODComponent kKeyframeKeyComponents[] = {
    { 1, serialize::PODKind::Float, 32 }, { 1, serialize::PODKind::Float, 32 }, { 1, serialize::PODKind::Float, 32 },
    { 1, serialize::PODKind::Float, 32 }, { 1, serialize::PODKind::Signed, 16 }, { 1, serialize::PODKind::Signed, 16 },
};
inline constexpr serialize::PODTypeDescriptor kKeyframeKeyDescriptor { 6, kKeyframeKeyComponents };
inline constexpr serialize::PODComponent kKeyframeTrackComponents[] = {
    { 1, serialize::PODKind::Unsigned, 64 },
    { 1, serialize::PODKind::Unsigned, 64 },
    { 1, serialize::PODKind::Signed, 32 },
    { 1, serialize::PODKind::Signed, 32 },
};
inline constexpr serialize::PODTypeDescriptor kKeyframeTrackDescriptor { 4, kKeyframeTrackComponents };
inline constexpr serialize::PODComponent kKeyframeTrackInfoComponents[] = {
    { 1, serialize::PODKind::Signed, 8 },
    { 1, serialize::PODKind::Signed, 8 },
    { 1, serialize::PODKind::Signed, 8 },
    { 1, serialize::PODKind::Signed, 8 },
};
inline constexpr serialize::PODTypeDescriptor kKeyframeTrackInfoDescriptor { 4, kKeyframeTrackInfoComponents };
inline constexpr serialize::PODComponent kKeyframeEventComponents[] = {
    { 16, serialize::PODKind::Unsigned, 8 }, { 1, serialize::PODKind::Unsigned, 32 },
    { 1, serialize::PODKind::Float, 32 },    { 1, serialize::PODKind::Unsigned, 32 },
    { 1, serialize::PODKind::Unsigned, 8 },  { 1, serialize::PODKind::Skip, 24 },
};
inline constexpr serialize::PODTypeDescriptor kKeyframeEventDescriptor { 6, kKeyframeEventComponents };

} // namespace quern::animate
