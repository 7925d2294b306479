#pragma once
// Device objects that the display layer makes and destroys without knowing
// their classes.

namespace quern::graphics {

class TextureRenderTarget;

// Deletes the target; null is ignored.
void destroyRenderTarget(TextureRenderTarget* target);

} // namespace quern::graphics
