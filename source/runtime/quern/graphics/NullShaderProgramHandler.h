#pragma once
// Loads "native" shader programs for the null graphics device: the program's
// stage comes from the text's first line, and nothing is compiled.

#include "quern/assets/AssetHandler.h"

namespace quern::graphics {

class NullShaderProgramHandler : public assets::AssetHandler {
public:
    // Program texts start "//" + eight hexadecimal digits + " " + the stage
    // digit; a text too short to hold the digit is fatal.
    void load(ByteSource& source, assets::AssetLoaderContext& context) override;
    void describe(assets::AssetHandlerInfo& info) override;
};

} // namespace quern::graphics
