#pragma once
// Loads AudioStream assets (Ogg Vorbis files). Small sounds are decoded once,
// at load, into a sample buffer that plays from memory; larger ones stay
// compressed and are decoded by an Ogg Vorbis stream while they play.

#include "quern/Types.h"
#include "quern/assets/AssetHandler.h"

namespace quern::oggvorbis {

class AudioStreamHandler : public assets::AssetHandler {
public:
    // Sounds of more Ogg bytes than this stream while they play.
    static constexpr u64 kStreamingThreshold = 102400;

    // Logs the library's version once per process, then creates the stream or
    // the buffer; a sound the cache already holds is left alone. Data that is
    // not Ogg Vorbis is fatal "Unrecognized sample stream!".
    void load(ByteSource& source, assets::AssetLoaderContext& context) override;
    void describe(assets::AssetHandlerInfo& info) override;

    u64 streamingThreshold() const { return m_streamingThreshold; }

private:
    u64 m_streamingThreshold = kStreamingThreshold;
};

} // namespace quern::oggvorbis
