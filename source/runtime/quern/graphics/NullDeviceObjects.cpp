#include "quern/graphics/DisplayObjects.h"
#include "quern/graphics/NullGraphicsBackEnd.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/TextureRenderTarget.h"

namespace quern::graphics {

// Every in-memory image is a render-target image: there is no device to
// tell the kinds apart.
PixelBuffer* NullGraphicsBackEnd::createPixelBuffer(u32) { return new NullPixelBuffer(); }

TextureRenderTarget* NullGraphicsBackEnd::createRenderTarget() { return new TextureRenderTarget(); }

void destroyRenderTarget(TextureRenderTarget* target) { delete target; }

} // namespace quern::graphics
