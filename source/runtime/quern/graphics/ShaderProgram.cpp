#include "quern/graphics/ShaderProgram.h"

#include "quern/debug/Log.h"
#include "quern/graphics/Display.h"

#include <atomic>
#include <ostream>

namespace quern::graphics {

namespace {

constexpr u32 kDescriberSlots = 8;

std::atomic<ShaderProgramDescriber*> g_describers[kDescriberSlots];

ShaderProgramDescriber* describerFor(ShaderLanguage language)
{
    const u32 index = static_cast<u32>(language);
    return index < kDescriberSlots ? g_describers[index].load(std::memory_order_acquire) : nullptr;
}

const char* typeLine(ShaderProgramType type)
{
    switch (type) {
    case ShaderProgramType::Vertex: return "Vertex program";
    case ShaderProgramType::Fragment: return "Fragment program";
    case ShaderProgramType::Geometry: return "Geometry program";
    case ShaderProgramType::Undefined: return "Undefined shader program type";
    }
    return nullptr;
}

} // namespace

// Lets the program's device data go when the display closes; the display
// detaches it when it goes away first.
class ShaderProgram::DisplayListener final : public graphics::DisplayListener {
public:
    explicit DisplayListener(ShaderProgram* program) : m_program(program) {}

    void onDisplayEvent(const DisplayEvent& event) override
    {
        if (event.type == DisplayEvent::Closing && m_program && m_program->state() == Loaded)
            m_program->suspend();
    }
    void detach() override { m_program = nullptr; }

    bool attached() const { return m_program != nullptr; }

private:
    ShaderProgram* m_program;
};

ShaderProgram::ShaderProgram(ShaderLanguage language, ShaderProgramType type)
    : m_type(type), m_language(language), m_entryPoint("main"), m_listener(new DisplayListener(nullptr))
{
    if (Display* display = Display::current()) {
        delete m_listener;
        m_listener = new DisplayListener(this);
        display->addListener(m_listener);
    }
}

ShaderProgram::~ShaderProgram()
{
    // A detached listener means the display has gone: it must not be touched.
    if (m_listener->attached()) {
        if (Display* display = Display::current())
            display->removeListener(m_listener);
    }
    delete m_listener;
}

bool ShaderProgram::isListening() const { return m_listener->attached(); }

void ShaderProgram::onLoaded(bool success)
{
    if (success)
        QUERN_LOG(4) << "Shader program '" << getName() << "' loaded" << std::endl;
}

void ShaderProgram::describe(std::ostream& out) const
{
    if (const char* line = typeLine(m_type))
        out << line << '\n';
    out << getName() << '\n';
    out << text() << '\n';
    if (ShaderProgramDescriber* describer = describerFor(m_language)) {
        if (describer->describe(*this, out))
            out << '\n';
    }
}

void ShaderProgram::setDescriber(ShaderLanguage language, ShaderProgramDescriber* describer)
{
    const u32 index = static_cast<u32>(language);
    if (index < kDescriberSlots)
        g_describers[index].store(describer, std::memory_order_release);
}

} // namespace quern::graphics
