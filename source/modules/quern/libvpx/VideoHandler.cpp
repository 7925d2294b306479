#include "quern/libvpx/VideoHandler.h"

#include "quern/assets/AssetLoaderContext.h"
#include "quern/assets/ResourceCache.h"
#include "quern/libvpx/VP8Decoder.h"
#include "quern/platform/ErrorReporting.h"

namespace quern::libvpx {

void VideoHandler::load(ByteSource& source, assets::AssetLoaderContext& context)
{
    (void)source;
    assets::ResourceRecord record;
    bool created = false;
    VP8Decoder* decoder = context.createResourceObject<VP8Decoder>(assets::ResourceType::Video, 0, record, created);
    if (!decoder)
        QUERN_FATAL("Can't create video resource");
    if (created)
        decoder->open(context.openStream());
}

void VideoHandler::describe(assets::AssetHandlerInfo& info)
{
    info.format = assets::kNativeAssetFormat;
    info.typeId = assets::ResourceType::Video;
}

} // namespace quern::libvpx
