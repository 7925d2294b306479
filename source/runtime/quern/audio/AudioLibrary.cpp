#include "quern/audio/AudioLibrary.h"

#include "quern/memory/Allocator.h"
#include "quern/platform/ErrorReporting.h"

#include <cstdio>

namespace quern::audio {
namespace {

constexpr u64 kCountSize = 8; // u32 count and 4 unread bytes

[[noreturn]] void failBlob(const char* what, u64 index = 0, i64 value = 0)
{
    char message[192];
    std::snprintf(message, sizeof message, "Bad sound library blob: %s (record %llu, value %lld)", what,
        static_cast<unsigned long long>(index), static_cast<long long>(value));
    QUERN_FATAL(message);
}

// The count at `offset` and where its table starts; fatal when the count or
// the table does not fit the blob.
u64 readTable(const u8* blob, u64 size, u64& offset, u64 recordSize, const char* what)
{
    if (size < kCountSize || offset > size - kCountSize)
        failBlob(what);
    const u64 count = readLittleEndian32(blob + offset);
    offset += kCountSize;
    if (count * recordSize > size - offset)
        failBlob(what, count);
    return count;
}

} // namespace

f32 SoundGroup::attenuation(f32 distance, f32 audibleDistance) const
{
    if (distance >= audibleDistance)
        return 0.0f;
    const f32 x = distance / audibleDistance;
    const u32 n = curvePointCount() < kMaxCurvePoints ? curvePointCount() : kMaxCurvePoints;
    u32 k = 0;
    while (k < n && !(x <= curvePosition(k)))
        ++k;
    if (k == 0)
        return 1.0f;
    if (k == n)
        return 0.0f;
    const f32 p0 = curvePosition(k - 1);
    const f32 t = (x - p0) / (curvePosition(k) - p0);
    return (1.0f - t) * curveGain(k - 1) + t * curveGain(k);
}

AudioLibrary::~AudioLibrary() { clear(); }

void AudioLibrary::setData(void* blob, u64 size, memory::Allocator* owner)
{
    if (m_blob && m_blob != blob)
        clear();
    const u8* bytes = static_cast<const u8*>(blob);
    u64 offset = 0;
    const u64 soundCount = readTable(bytes, size, offset, Sound::kRecordSize, "sound table does not fit");
    const Sound* sounds = reinterpret_cast<const Sound*>(bytes + offset);
    offset += soundCount * Sound::kRecordSize;
    const u64 componentCount
        = readTable(bytes, size, offset, SoundComponent::kRecordSize, "component table does not fit");
    const SoundComponent* components = reinterpret_cast<const SoundComponent*>(bytes + offset);
    offset += componentCount * SoundComponent::kRecordSize;
    const u64 groupCount = readTable(bytes, size, offset, SoundGroup::kRecordSize, "group table does not fit");
    const SoundGroup* groups = reinterpret_cast<const SoundGroup*>(bytes + offset);

    for (u64 i = 0; i < soundCount; ++i) {
        const Sound& sound = sounds[i];
        if (sound.groupIndex() < -1 || sound.groupIndex() >= static_cast<i64>(groupCount))
            failBlob("group index out of range", i, sound.groupIndex());
        if (sound.componentCount() != 0 && sound.firstComponent() >= componentCount)
            failBlob("first component outside the component table", i, sound.firstComponent());
    }
    for (u64 i = 0; i < componentCount; ++i) {
        const i32 owner = components[i].soundIndex();
        if (owner < 0 || static_cast<u64>(owner) >= soundCount)
            failBlob("component owner is no sound", i, owner);
    }
    for (u64 i = 0; i < groupCount; ++i) {
        if (groups[i].curvePointCount() > SoundGroup::kMaxCurvePoints)
            failBlob("curve has more than 16 points", i, groups[i].curvePointCount());
    }

    m_owner = owner;
    m_blob = blob;
    m_blobSize = size;
    m_sounds = soundCount ? sounds : nullptr;
    m_soundCount = soundCount;
    m_components = componentCount ? components : nullptr;
    m_componentCount = componentCount;
    m_groups = groupCount ? groups : nullptr;
    m_groupCount = groupCount;
}

void AudioLibrary::clear()
{
    if (!m_blob)
        return;
    if (m_owner)
        m_owner->free(m_blob);
    m_blob = nullptr;
    m_blobSize = 0;
    m_sounds = nullptr;
    m_soundCount = 0;
    m_components = nullptr;
    m_componentCount = 0;
    m_groups = nullptr;
    m_groupCount = 0;
}

const SoundComponent* AudioLibrary::nthComponent(u64 soundIndex, const Sound& sound, u32 n) const
{
    u32 found = 0;
    for (u64 i = sound.firstComponent(); i < m_componentCount; ++i) {
        if (m_components[i].soundIndex() != static_cast<i64>(soundIndex))
            continue;
        if (found == n)
            return &m_components[i];
        ++found;
    }
    QUERN_FATAL("AudioLibrary state is inconsistent");
}

const SoundComponent* AudioLibrary::pickComponent(u64 soundIndex, PickState& state) const
{
    if (soundIndex >= m_soundCount)
        QUERN_FATAL("AudioLibrary sound index out of range");
    const Sound& sound = m_sounds[soundIndex];
    const u32 count = sound.componentCount();
    if (count == 0)
        return nullptr;
    u32 n = 0;
    switch (static_cast<Sound::ComponentPickMode>(sound.pickMode())) {
    case Sound::ComponentPickMode::First:
        return &m_components[sound.firstComponent()];
    case Sound::ComponentPickMode::Random:
        if (count == 1)
            return &m_components[sound.firstComponent()];
        state.randomState = state.randomState * 4561 + 51349;
        n = static_cast<u32>(state.randomState % count);
        if (n == state.lastPicked[soundIndex])
            n = (n + 1) % count;
        state.lastPicked[soundIndex] = n;
        return nthComponent(soundIndex, sound, n);
    case Sound::ComponentPickMode::Cycle:
        if (count == 1)
            return &m_components[sound.firstComponent()];
        n = state.lastPicked[soundIndex] + 1;
        if (n >= count)
            n = 0;
        state.lastPicked[soundIndex] = n;
        return nthComponent(soundIndex, sound, n);
    }
    QUERN_FATAL_INVALID_ENUM("Sound::ComponentPickMode");
}

f32 AudioLibrary::getGain(const SoundComponent& component) const
{
    const Sound& sound = m_sounds[component.soundIndex()];
    f32 gain = m_libraryGain * component.gain() * sound.gain();
    if (sound.groupIndex() >= 0)
        gain *= m_groups[sound.groupIndex()].gain();
    return gain;
}

} // namespace quern::audio
