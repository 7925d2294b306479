#pragma once
// A sound library: the sounds of a level as one little-endian blob, viewed in
// place. Each sound has a gain, a group, limits on how often and how many times
// it plays, an audible distance and components (the audio assets), one of which
// is picked for each start. Groups carry a gain and a distance-attenuation curve.
//
// Blob layout: u32 sound count, 4 bytes, the 40-byte sound records; u32
// component count, 4 bytes, the 32-byte component records; u32 group count, 4
// bytes, the 144-byte group records. Every field is read byte by byte.

#include "quern/LittleEndian.h"
#include "quern/Types.h"

#include <bit>

namespace quern::memory {
class Allocator;
}

namespace quern::audio {

namespace detail {
inline f32 readFloat(const u8* bytes) { return std::bit_cast<f32>(readLittleEndian32(bytes)); }
} // namespace detail

struct Sound {
    enum class ComponentPickMode : u8 { First = 0, Random = 1, Cycle = 2 };
    static constexpr u64 kRecordSize = 40;

    u8 bytes[kRecordSize];

    u64 id() const { return readLittleEndian64(bytes); }
    f32 gain() const { return detail::readFloat(bytes + 8); }
    i32 groupIndex() const { return static_cast<i32>(readLittleEndian32(bytes + 12)); } // -1 none
    f32 minimumInterval() const { return detail::readFloat(bytes + 16); } // seconds, 0 no limit
    u32 maximumInstances() const { return readLittleEndian32(bytes + 20); } // 0 no limit
    f32 audibleDistance() const { return detail::readFloat(bytes + 28); }
    u16 componentCount() const { return readLittleEndian16(bytes + 32); }
    u16 firstComponent() const { return readLittleEndian16(bytes + 34); }
    bool isLooping() const { return bytes[36] != 0; }
    u8 pickMode() const { return bytes[37]; }
};

struct SoundComponent {
    static constexpr u64 kRecordSize = 32;

    u8 bytes[kRecordSize];

    f32 gain() const { return detail::readFloat(bytes); }
    i32 soundIndex() const { return static_cast<i32>(readLittleEndian32(bytes + 4)); }
    u64 audioAssetId() const { return readLittleEndian64(bytes + 8); } // 0 none
    f32 fadeInTime() const { return detail::readFloat(bytes + 16); }
    f32 fadeOutTime() const { return detail::readFloat(bytes + 20); }
};

struct SoundGroup {
    static constexpr u64 kRecordSize = 144;
    static constexpr u32 kMaxCurvePoints = 16;

    u8 bytes[kRecordSize];

    u64 id() const { return readLittleEndian64(bytes); }
    f32 gain() const { return detail::readFloat(bytes + 8); }
    u32 curvePointCount() const { return readLittleEndian32(bytes + 12); }
    f32 curvePosition(u32 k) const { return detail::readFloat(bytes + 16 + 8 * k); }
    f32 curveGain(u32 k) const { return detail::readFloat(bytes + 20 + 8 * k); }

    // The gain factor at a distance for a sound audible up to audibleDistance:
    // 0 at or beyond it, 1 up to the first point, 0 past the last, linear between.
    f32 attenuation(f32 distance, f32 audibleDistance) const;
};

static_assert(sizeof(Sound) == 40 && sizeof(SoundComponent) == 32 && sizeof(SoundGroup) == 144);

// What a caller keeps per library to pick components: the random state and
// one last-picked index per sound.
struct PickState {
    u64 randomState = 42;
    u32* lastPicked = nullptr;
};

class AudioLibrary {
public:
    AudioLibrary() = default;
    // Frees a held blob.
    ~AudioLibrary();
    AudioLibrary(const AudioLibrary&) = delete;
    AudioLibrary& operator=(const AudioLibrary&) = delete;

    // Takes the blob (freed later through the owner) and sets the table views.
    // The blob is checked first: tables inside the size, group indices -1 or in
    // range, first-component indices inside the component table, owners among
    // the sounds and curves of at most 16 points. A bad blob is fatal with a
    // message saying what is wrong.
    void setData(void* blob, u64 size, memory::Allocator* owner);
    // Frees the blob through its owner and empties the view; the gain stays.
    void clear();

    // The component to play for a start of the sound, by its pick mode, or null
    // when it has none.
    const SoundComponent* pickComponent(u64 soundIndex, PickState& state) const;
    // library gain x component gain x its sound's gain x its group's gain.
    f32 getGain(const SoundComponent& component) const;

    u64 soundCount() const { return m_soundCount; }
    u64 componentCount() const { return m_componentCount; }
    u64 groupCount() const { return m_groupCount; }
    const Sound* sounds() const { return m_sounds; }
    const SoundComponent* components() const { return m_components; }
    const SoundGroup* groups() const { return m_groups; }
    const void* blob() const { return m_blob; }
    u64 blobSize() const { return m_blobSize; }
    f32 libraryGain() const { return m_libraryGain; }
    void setLibraryGain(f32 gain) { m_libraryGain = gain; }

private:
    const SoundComponent* nthComponent(u64 soundIndex, const Sound& sound, u32 n) const;

    memory::Allocator* m_owner = nullptr;
    void* m_blob = nullptr;
    u64 m_blobSize = 0;
    const Sound* m_sounds = nullptr;
    u64 m_soundCount = 0;
    const SoundComponent* m_components = nullptr;
    u64 m_componentCount = 0;
    const SoundGroup* m_groups = nullptr;
    u64 m_groupCount = 0;
    f32 m_libraryGain = 1.0f;
};

} // namespace quern::audio
