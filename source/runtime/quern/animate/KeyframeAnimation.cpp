#include "quern/animate/KeyframeAnimation.h"

#include "quern/math/Quaternion.h"
#include "quern/platform/ErrorReporting.h"

#include <cmath>
#include <utility>

namespace quern::animate {

namespace {

bool yieldsNothing(f32 duration)
{
    return duration == 0.0f || std::isnan(duration);
}

const KeyframeKey& requireKey(const KeyframeKey* key)
{
    if (!key)
        QUERN_FATAL("Keyframe not found");
    return *key;
}

math::Quaternion quaternionOf(const KeyframeKey* const* keys)
{
    return { requireKey(keys[0]).value, requireKey(keys[1]).value, requireKey(keys[2]).value,
             requireKey(keys[3]).value };
}

void store(const math::Quaternion& q, f32* values)
{
    values[0] = q.x;
    values[1] = q.y;
    values[2] = q.z;
    values[3] = q.w;
}

} // namespace

KeyframeCursor KeyframeCursor::empty()
{
    KeyframeCursor cursor {};
    cursor.prev.track = -1;
    cursor.next.track = -1;
    cursor.prevIndex = -1;
    cursor.nextIndex = -1;
    return cursor;
}

f32 wrapTime(f32 t, f32 duration, u32 mode)
{
    if (mode == kWrapRepeat)
        return std::fmod(t, duration);
    if (mode == kWrapPingPong) {
        const f32 period = std::floor(t / duration);
        const f32 within = std::fmod(t, duration);
        return std::fmod(period, 2.0f) != 0.0f ? duration - within : within;
    }
    return t;
}

void interpolateScalar(f32 t, f32* values, u64 count, const KeyframeKey* const* prev, const KeyframeKey* const* next)
{
    for (u64 i = 0; i < count; ++i) {
        const KeyframeKey* p = prev[i];
        const KeyframeKey* n = next[i];
        if (!p) {
            values[i] = requireKey(n).value;
            continue;
        }
        const f32 span = n ? n->time - p->time : 0.0f;
        if (!n || !(span > 0.0f) || p->outMode() == kInterpolateConstant) {
            values[i] = p->value;
            continue;
        }
        const f32 u = (t - p->time) / span;
        if (p->outMode() == kInterpolateLinear && n->inMode() == kInterpolateLinear) {
            values[i] = (1.0f - u) * p->value + u * n->value;
            continue;
        }
        const f32 u2 = u * u;
        const f32 u3 = u2 * u;
        values[i] = (2.0f * u3 - 3.0f * u2 + 1.0f) * p->value + (u3 - 2.0f * u2 + u) * p->outTangent * span
            + (3.0f * u2 - 2.0f * u3) * n->value + (u3 - u2) * n->inTangent * span;
    }
}

void interpolateRotation(f32 t, f32* values, u64 count, const KeyframeKey* const* prev, const KeyframeKey* const* next)
{
    if (count != 4)
        QUERN_FATAL("Rotation keyframes need four tracks");
    if (!prev[0]) {
        requireKey(next[0]);
        store(quaternionOf(next), values);
        return;
    }
    if (!next[0] || !(next[0]->time - prev[0]->time > 0.0f)) {
        store(quaternionOf(prev), values);
        return;
    }
    const f32 u = (t - prev[0]->time) / (next[0]->time - prev[0]->time);
    store(math::Quaternion::nlerp(quaternionOf(prev), quaternionOf(next), u), values);
}

KeyframeAnimation::KeyframeAnimation()
    : keys(sizeof(KeyframeKey), 4)
    , tracks(sizeof(KeyframeTrack), 8)
    , trackInfo(sizeof(KeyframeTrackInfo), 1)
    , events(sizeof(KeyframeEvent), 8)
{
}

KeyframeAnimation::~KeyframeAnimation()
{
    name = "";
    strings.clear();
    keys.release();
    tracks.release();
    trackInfo.release();
    events.release();
}

i32 KeyframeAnimation::findKey(f32 t, i16 track, i32 start) const
{
    const KeyframeKey* key = keys.dataAs<KeyframeKey>();
    const i32 count = static_cast<i32>(keys.count());
    i32 found = -1;
    for (i32 i = start < 0 ? 0 : start; i < count; ++i) {
        if (key[i].track < track)
            continue;
        if (key[i].track > track)
            break;
        if (key[i].time <= t) {
            found = i;
        } else {
            if (found == -1)
                found = i;
            break;
        }
    }
    return found;
}

i32 KeyframeAnimation::findNextKey(f32 t, i16 track, i32 start) const
{
    const KeyframeKey* key = keys.dataAs<KeyframeKey>();
    const i32 count = static_cast<i32>(keys.count());
    for (i32 i = start < 0 ? 0 : start; i < count; ++i) {
        if (key[i].track < track)
            continue;
        if (key[i].track > track)
            return -1;
        if (key[i].time > t)
            return i;
    }
    return -1;
}

void KeyframeAnimation::bracketKeys(f32 t, i16 track, KeyframeCursor& cursor, const KeyframeKey*& prev,
                                    const KeyframeKey*& next) const
{
    if (cursor.prev.track != -1 && t >= cursor.prev.time && cursor.next.track != -1 && t <= cursor.next.time) {
        prev = &cursor.prev;
        next = &cursor.next;
        return;
    }
    const KeyframeKey* key = keys.dataAs<KeyframeKey>();
    const i32 count = static_cast<i32>(keys.count());
    // Indices from a cursor of another clip must not reach past these keys.
    const bool resumable = cursor.prev.track != -1 && cursor.prevIndex >= 0 && cursor.nextIndex >= 0
        && cursor.prevIndex < count && cursor.nextIndex < count;
    i32 found;
    i32 following = -1;
    if (resumable && t > key[cursor.prevIndex].time) {
        found = findKey(t, track, cursor.prevIndex);
        following = findNextKey(t, track, cursor.nextIndex);
        if (found == -1)
            found = findKey(t, track, 0);
    } else {
        found = findKey(t, track, 0);
    }
    if (following == -1)
        following = findNextKey(t, track, 0);

    if (found != -1 && following != -1) {
        cursor.prevIndex = found;
        cursor.nextIndex = following;
        cursor.prev = key[found];
        cursor.next = key[following];
        prev = &cursor.prev;
        next = &cursor.next;
        return;
    }
    if (found != -1 || following != -1)
        cursor = KeyframeCursor::empty();
    if (found != -1)
        prev = &key[found];
    if (following != -1)
        next = &key[following];
}

void KeyframeAnimation::sampleTracks(f32 time, u32 firstTrack, KeyframeOutput output, KeyframeCursor* cursors,
                                     u32 mode, KeyframeInterpolateFunction interpolate) const
{
    if (output.count > kMaxSampledTracks)
        QUERN_FATAL("Too many keyframe tracks sampled at once");
    if (yieldsNothing(duration)) {
        for (u64 i = 0; i < output.count; ++i)
            output.values[i] = 0.0f;
        return;
    }
    if (firstTrack + output.count > tracks.count())
        QUERN_FATAL("Keyframe track out of range");
    const f32 t = wrapTime(time, duration, mode);
    const KeyframeKey* prev[kMaxSampledTracks] = {};
    const KeyframeKey* next[kMaxSampledTracks] = {};
    for (u64 i = 0; i < output.count; ++i) {
        const u32 track = firstTrack + static_cast<u32>(i);
        bracketKeys(t, static_cast<i16>(track), cursors[track], prev[i], next[i]);
    }
    interpolate(t, output.values, output.count, prev, next);
}

void KeyframeAnimation::blendFloatTracks(f32 time, u32 firstTrack, f32* out, i32 n, KeyframeCursor* cursors, u32 mode,
                                         f32 weight, f32 keep) const
{
    if (n < 0 || static_cast<u64>(n) > kMaxSampledTracks)
        QUERN_FATAL("Too many keyframe tracks sampled at once");
    f32 sample[kMaxSampledTracks] = {};
    sampleTracks(time, firstTrack, { sample, static_cast<u64>(n) }, cursors, mode, &interpolateScalar);
    for (i32 i = 0; i < n; ++i)
        out[i] = sample[i] * weight + out[i] * keep;
}

void KeyframeAnimation::blendRotationTrack(f32 time, u32 firstTrack, f32 out[4], KeyframeCursor* cursors, u32 mode,
                                           f32 weight, f32 keep) const
{
    if (keep == 0.0f || std::isnan(keep)) {
        sampleTracks(time, firstTrack, { out, 4 }, cursors, mode, &interpolateRotation);
        return;
    }
    f32 sample[4] = { 0.0f, 0.0f, 0.0f, 1.0f };
    sampleTracks(time, firstTrack, { sample, 4 }, cursors, mode, &interpolateRotation);
    const math::Quaternion current { out[0], out[1], out[2], out[3] };
    const math::Quaternion target { sample[0], sample[1], sample[2], sample[3] };
    store(math::Quaternion::nlerp(current, target, weight), out);
}

namespace {

// The run of time-sorted events with from <= time <= to.
void findRun(const KeyframeEvent* event, u64 count, f32 from, f32 to, const KeyframeEvent*& first, u64& length)
{
    first = nullptr;
    length = 0;
    u64 i = 0;
    for (; i < count; ++i) {
        if (event[i].time > to)
            return;
        if (event[i].time >= from)
            break;
    }
    if (i == count)
        return;
    first = &event[i];
    length = 1;
    while (i + length < count && event[i + length].time <= to)
        ++length;
}

} // namespace

KeyframeEventRange KeyframeAnimation::findEvents(f32 from, f32 to, u32 mode) const
{
    KeyframeEventRange range;
    if (yieldsNothing(duration))
        return range;
    f32 a = wrapTime(from, duration, mode);
    f32 b = wrapTime(to, duration, mode);
    const KeyframeEvent* event = events.dataAs<KeyframeEvent>();
    const u64 count = events.count();
    if (!(a <= b)) {
        if (mode == kWrapPingPong) {
            std::swap(a, b);
        } else if (mode == kWrapRepeat) {
            // The range ran past the clip's end and started over: both pieces
            // were passed, so events near the loop point are not lost.
            findRun(event, count, a, duration, range.first, range.count);
            findRun(event, count, 0.0f, b, range.wrappedFirst, range.wrappedCount);
            if (range.count == 0) {
                range.first = range.wrappedFirst;
                range.count = range.wrappedCount;
                range.wrappedFirst = nullptr;
                range.wrappedCount = 0;
            }
            return range;
        }
    }
    findRun(event, count, a, b, range.first, range.count);
    return range;
}

} // namespace quern::animate
