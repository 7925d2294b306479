#include "quern/graphics/GraphicsBackEnd.h"

#include "quern/platform/ErrorReporting.h"

namespace quern::graphics {

ShaderLanguage shadingLanguageForVersion(GraphicsBackEndVersion version)
{
    switch (version) {
    case GraphicsBackEndVersion::Null:
        return ShaderLanguage::GLSL;
    case GraphicsBackEndVersion::OpenGL:
        return ShaderLanguage::GLSL;
    case GraphicsBackEndVersion::OpenGL2:
        return ShaderLanguage::GLSL;
    case GraphicsBackEndVersion::OpenGL3:
        return ShaderLanguage::GLSL;
    case GraphicsBackEndVersion::OpenGLFamily:
        return ShaderLanguage::GLSL;
    case GraphicsBackEndVersion::HLSL:
        return ShaderLanguage::HLSL;
    case GraphicsBackEndVersion::PSSL:
        return ShaderLanguage::PSSL;
    case GraphicsBackEndVersion::GXP:
        return ShaderLanguage::GXP;
    }
    QUERN_FATAL_INVALID_ENUM("GraphicsBackEndVersion");
}

} // namespace quern::graphics
