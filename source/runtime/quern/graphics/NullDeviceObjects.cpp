#include "quern/graphics/DisplayObjects.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/NullGraphicsBackEnd.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/graphics/VertexBuffer.h"

namespace quern::graphics {

// The in-memory buffers are the null device's buffers: their device
// operations do nothing and discarding one releases it.
VertexBuffer* NullGraphicsBackEnd::createVertexBuffer(u32 usage) { return new VertexBuffer(usage); }
IndexBuffer* NullGraphicsBackEnd::createIndexBuffer(u32 usage) { return new IndexBuffer(usage); }

// Every in-memory image is a render-target image: there is no device to
// tell the kinds apart.
PixelBuffer* NullGraphicsBackEnd::createPixelBuffer(u32) { return new NullPixelBuffer(); }

TextureRenderTarget* NullGraphicsBackEnd::createRenderTarget() { return new TextureRenderTarget(); }

void destroyRenderTarget(TextureRenderTarget* target) { delete target; }

} // namespace quern::graphics
