#include "harmonize/render/RenderPipeline.h"

namespace harmonize {

RenderPipeline& renderPipeline()
{
    static RenderPipeline pipeline;
    return pipeline;
}

} // namespace harmonize
