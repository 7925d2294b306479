#pragma once
// A GLSL vertex or fragment program compiled into one GL shader object, and the
// handler that loads such programs (assets and the built-in embedded texts)
// when the OpenGL device draws. Linking is the device's: its state objects
// attach a vertex and a fragment program's shader objects to one GL program.

#include "quern/Types.h"
#include "quern/assets/AssetHandler.h"
#include "quern/graphics/ShaderProgram.h"

namespace quern::opengl {

class GLSLShaderProgram final : public graphics::ShaderProgram {
public:
    explicit GLSLShaderProgram(graphics::ShaderProgramType type);
    ~GLSLShaderProgram() override;

    // Compiles the text (header line included: it is a GLSL comment) into a
    // new shader object of the program's kind. Any failure ends the process
    // with the compiler's log; `name` is appended when it is not empty.
    void loadCodeImpl(const char* text, u64 length, const char* name) override;
    // Deletes the shader object while the display is open; with the display
    // closed the name is kept and the next compile replaces it.
    void releaseDeviceData() override { releaseDeviceObject(); }
    // Compiles the kept text again, naming itself in any failure.
    void restoreDeviceData() override { createDeviceObject(); }
    void releaseDeviceObject();
    void createDeviceObject();

    u32 shaderName() const { return m_shader; }

private:
    u32 m_shader = 0;
};

class GLSLShaderProgramHandler final : public assets::AssetHandler {
public:
    // What the load leaves for finalize.
    struct Scratch {
        char* text;
        u64 length;
        GLSLShaderProgram* program;
    };
    static_assert(sizeof(Scratch) == 24);

    // Reads the text and finds or makes the program; the kind is the text's
    // twelfth character. A text too short to hold it is fatal.
    void load(ByteSource& source, assets::AssetLoaderContext& context) override;
    // Compiles the text into the program (main thread: it needs the context).
    void finalize(assets::AssetLoaderContext& context) override;
    void describe(assets::AssetHandlerInfo& info) override;
};

} // namespace quern::opengl
