#include "quern/oggvorbis/AudioStreamHandler.h"

#include "quern/assets/AssetLoaderContext.h"
#include "quern/assets/ResourceCache.h"
#include "quern/audio/SampleBuffer.h"
#include "quern/debug/Log.h"
#include "quern/io/ByteSource.h"
#include "quern/oggvorbis/OggVorbisStream.h"
#include "quern/platform/ErrorReporting.h"

#include <vorbis/codec.h>

#include <mutex>

namespace quern::oggvorbis {

void AudioStreamHandler::load(ByteSource& source, assets::AssetLoaderContext& context)
{
    static std::once_flag versionLogged;
    std::call_once(versionLogged, [] { QUERN_LOG(3) << vorbis_version_string() << std::endl; });

    assets::ResourceRecord record;
    bool created = false;
    if (source.size() > m_streamingThreshold) {
        auto* stream
            = context.createResourceObject<OggVorbisStream>(assets::ResourceType::AudioStream, 0, record, created);
        if (!stream)
            QUERN_FATAL("Can't create audio stream resource");
        if (created)
            stream->openStream(context.openStream().release());
        return;
    }
    // Decoded whole here, on the loader's thread, so playing costs no decoding.
    Ref decoder(new OggVorbisStream);
    decoder.get<OggVorbisStream>()->openStream(context.openStream().release());
    auto* buffer = context.createResourceObject<audio::SampleBuffer>(
        assets::ResourceType::AudioStream, 0, record, created, *decoder.get<OggVorbisStream>());
    if (!buffer)
        QUERN_FATAL("Can't create audio stream resource");
}

void AudioStreamHandler::describe(assets::AssetHandlerInfo& info)
{
    info.format = assets::kNativeAssetFormat;
    info.typeId = assets::ResourceType::AudioStream;
}

} // namespace quern::oggvorbis
