#include "quern/graphics/DisplayObjects.h"
#include "quern/graphics/NullGraphicsBackEnd.h"

namespace quern::graphics {

PixelBuffer* NullGraphicsBackEnd::createPixelBuffer(u32) { return nullptr; }

TextureRenderTarget* NullGraphicsBackEnd::createRenderTarget() { return nullptr; }

void destroyRenderTarget(TextureRenderTarget*) {}

} // namespace quern::graphics
