#include "quern/graphics/DisplayObjects.h"
#include "quern/graphics/NullGraphicsBackEnd.h"
#include "quern/graphics/NullPixelBuffer.h"

namespace quern::graphics {

// Every in-memory image is a render-target image: there is no device to
// tell the kinds apart.
PixelBuffer* NullGraphicsBackEnd::createPixelBuffer(u32) { return new NullPixelBuffer(); }

TextureRenderTarget* NullGraphicsBackEnd::createRenderTarget() { return nullptr; }

void destroyRenderTarget(TextureRenderTarget*) {}

} // namespace quern::graphics
