#include "quern/animate/KeyframeAnimationHandler.h"

#include "quern/animate/KeyframeAnimation.h"
#include "quern/assets/AssetLoaderContext.h"
#include "quern/platform/ErrorReporting.h"

namespace quern::animate {

void KeyframeAnimationHandler::load(ByteSource& source, assets::AssetLoaderContext& context)
{
    assets::ResourceRecord record;
    bool created = false;
    // The clip is built only in memory the cache made for it just now; an
    // existing clip is never constructed over.
    KeyframeAnimation* clip
        = context.createResourceObject<KeyframeAnimation>(kKeyframeAnimationTypeId, 0, record, created);
    if (!clip)
        QUERN_FATAL("Can't create keyframe animation resource");
    if (!created)
        return;
    readKeyframeAnimation(source, context.podToken(source), *clip);
}

void KeyframeAnimationHandler::describe(assets::AssetHandlerInfo& info)
{
    info.format = assets::kNativeAssetFormat;
    info.typeId = kKeyframeAnimationTypeId;
}

} // namespace quern::animate
