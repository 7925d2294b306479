#pragma once
// Shader programs: the cached resource "ShaderProgram", the source text of one
// vertex, fragment or geometry program in one shading language. Loading hands
// the text to the device subclass to compile; the text is kept, so the program
// can be rebuilt after the display was closed and opened again.

#include "quern/Types.h"
#include "quern/assets/CodeResource.h"
#include "quern/graphics/ShaderLanguage.h"

#include <iosfwd>
#include <string>

namespace quern::graphics {

class ShaderProgram;

enum class ShaderProgramType : u32 {
    Vertex = 0,
    Fragment = 1,
    Geometry = 2,
    Undefined = 3,
};

// Adds a device's own account of a program to its description; registered by
// device modules per shading language.
class ShaderProgramDescriber {
public:
    virtual ~ShaderProgramDescriber() = default;
    // Writes its text and returns true, or writes nothing and returns false.
    virtual bool describe(const ShaderProgram& program, std::ostream& out) = 0;
};

class ShaderProgram : public assets::CodeResource {
public:
    // Registers a listener with the global display when one exists, so the
    // program lets its device data go when the display closes.
    ShaderProgram(ShaderLanguage language, ShaderProgramType type);
    ShaderProgram(const ShaderProgram&) = delete;
    ShaderProgram& operator=(const ShaderProgram&) = delete;
    ~ShaderProgram() override;

    void* getData() override { return this; }
    // Logs "Shader program '<name>' loaded" at level 4 after a successful load.
    void onLoaded(bool success) override;

    // The type's line, the resource name, the source text and what the
    // language's describer adds, each followed by a line break.
    void describe(std::ostream& out) const;

    ShaderProgramType type() const { return m_type; }
    ShaderLanguage language() const { return m_language; }
    const std::string& entryPoint() const { return m_entryPoint; }
    // Whether the program still listens to a display.
    bool isListening() const;

    // The describer of a language; null clears it. Languages outside the
    // table are ignored.
    static void setDescriber(ShaderLanguage language, ShaderProgramDescriber* describer);

private:
    class DisplayListener;

    ShaderProgramType m_type;
    ShaderLanguage m_language;
    std::string m_entryPoint;
    DisplayListener* m_listener;
};

// The program of the null device: compiling does nothing.
class NullShaderProgram final : public ShaderProgram {
public:
    explicit NullShaderProgram(ShaderProgramType type) : ShaderProgram(ShaderLanguage::Null, type) {}
    void loadCodeImpl(const char*, u64, const char*) override {}
};

} // namespace quern::graphics
