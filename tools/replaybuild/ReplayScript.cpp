#include "ReplayScript.h"

#include "SourceText.h"

#include "harmonize/input/InputActions.h"
#include "quern/containers/Array.h"
#include "quern/input/InputReplay.h"
#include "quern/io/StringSink.h"
#include "quern/serialize/BinaryPODToken.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quern::replaybuild {
namespace {

// The game context's arrays as far as a script writes them: the harmonize
// action, the five held states and the stick, whose axes the game binds as 1
// (x) and 2 (y).
constexpr u64 kActionCount = harmonize::kActionHarmonize + 1;
constexpr u64 kHeldCount = harmonize::kHeldJump + 1;
constexpr u64 kStickX = 1;
constexpr u64 kStickY = 2;
constexpr u64 kAxisCount = kStickY + 1;
constexpr f32 kStickScale = 32767.0f;

struct StateWord {
    const char* word;
    i32 state;
};
constexpr StateWord kStateWords[] = { { "left", harmonize::kHeldLeft }, { "right", harmonize::kHeldRight },
    { "up", harmonize::kHeldUp }, { "down", harmonize::kHeldDown }, { "jump", harmonize::kHeldJump } };

// One line's input, as the context's three arrays hold it in its first tick.
class ContextArrays {
public:
    ContextArrays()
    {
        std::memset(m_actions.expand(kActionCount), 0, kActionCount * sizeof(i32));
        std::memset(m_held.expand(kHeldCount), 0, kHeldCount * sizeof(i8));
        std::memset(m_axes.expand(kAxisCount), 0, kAxisCount * sizeof(i32));
    }

    void clear()
    {
        std::memset(m_actions.data(), 0, kActionCount * sizeof(i32));
        std::memset(m_held.data(), 0, kHeldCount * sizeof(i8));
        std::memset(m_axes.data(), 0, kAxisCount * sizeof(i32));
    }
    i32& action(u64 index) { return m_actions.at<i32>(index); }
    i8& held(u64 index) { return m_held.at<i8>(index); }
    i32& axis(u64 index) { return m_axes.at<i32>(index); }
    input::InputArrays arrays() { return { &m_actions, &m_held, &m_axes }; }

private:
    containers::Array m_actions { sizeof(i32), alignof(i32) };
    containers::Array m_held { sizeof(i8), alignof(i8) };
    containers::Array m_axes { sizeof(i32), alignof(i32) };
};

class ScriptReader {
public:
    explicit ScriptReader(input::InputReplay& replay)
        : m_replay(replay)
    {
    }

    bool line(const assetbuild::SourceLine& source)
    {
        lineNumber = source.number;
        i64 ticks = 0;
        if (!parseTicks(source.words[0], ticks))
            return false;
        if (m_totalTicks + ticks > kMaxScriptTicks)
            return fail("the script runs longer than " + std::to_string(kMaxScriptTicks) + " ticks");
        m_inputs.clear();
        bool harmonized = false;
        bool stick = false;
        for (u64 w = 1; w < source.words.size(); ++w) {
            const std::string& word = source.words[w];
            if (word == "harmonize") {
                if (harmonized)
                    return fail("harmonize is named twice");
                harmonized = true;
                m_inputs.action(harmonize::kActionHarmonize) = 1;
            } else if (word == "stick") {
                if (stick)
                    return fail("stick is named twice");
                stick = true;
                if (!parseStick(source.words, w))
                    return false;
            } else if (!holdState(word)) {
                return false;
            }
        }
        record(ticks);
        return true;
    }

    // The replay ends with nothing held, whatever the last line held.
    void finish()
    {
        m_inputs.clear();
        m_recorder.recordFrame(m_replay, m_inputs.arrays());
    }

    std::string error;
    u32 lineNumber = 0;

private:
    bool fail(const std::string& message)
    {
        error = "line " + std::to_string(lineNumber) + ": " + message;
        return false;
    }

    bool parseTicks(const std::string& word, i64& ticks)
    {
        u32 count = 0;
        if (!assetbuild::parseNumber(word, ~u32 { 0 }, count))
            return fail("a line starts with its tick count (1 to " + std::to_string(kMaxTicksPerLine) + "), not \""
                + word + "\"");
        if (count < 1 || count > kMaxTicksPerLine)
            return fail("a line holds 1 to " + std::to_string(kMaxTicksPerLine) + " ticks, not " + word);
        ticks = count;
        return true;
    }

    // Reads the two numbers after the word at `w`, leaving `w` on the last.
    bool parseStick(const std::vector<std::string>& words, u64& w)
    {
        const u64 axes[] = { kStickX, kStickY };
        for (u64 axis : axes) {
            if (++w >= words.size())
                return fail("stick takes two numbers from -1 to 1");
            f32 value = 0.0f;
            if (!assetbuild::parseFloat(words[w], value) || value < -1.0f || value > 1.0f)
                return fail("stick takes two numbers from -1 to 1, not \"" + words[w] + "\"");
            m_inputs.axis(axis) = static_cast<i32>(std::lround(value * kStickScale));
        }
        return true;
    }

    bool holdState(const std::string& word)
    {
        for (const StateWord& state : kStateWords) {
            if (word != state.word)
                continue;
            i8& held = m_inputs.held(static_cast<u64>(state.state));
            if (held != 0)
                return fail(word + " is named twice");
            held = 1;
            return true;
        }
        return fail("unknown word \"" + word + "\" (left, right, up, down, jump, harmonize or stick <x> <y>)");
    }

    // The first tick of a stretch records what changed; the others repeat it
    // and would record nothing (an action counts in one tick only), so the
    // recorder's frame counter passes over them.
    void record(i64 ticks)
    {
        m_recorder.recordFrame(m_replay, m_inputs.arrays());
        m_recorder.frameCounter += static_cast<u32>(ticks - 1);
        m_totalTicks += ticks;
    }

    input::InputReplay& m_replay;
    input::InputReplayRecorder m_recorder;
    ContextArrays m_inputs;
    i64 m_totalTicks = 0;
};

} // namespace

bool readReplayScript(const std::string& text, input::InputReplay& replay, std::string& error)
{
    ScriptReader reader(replay);
    for (const assetbuild::SourceLine& line : assetbuild::splitLines(std::vector<u8>(text.begin(), text.end()))) {
        if (!reader.line(line)) {
            error = reader.error;
            return false;
        }
    }
    reader.finish();
    return true;
}

bool buildReplayFile(const std::string& scriptPath, const std::string& outPath, std::string& error)
{
    std::ifstream in(scriptPath, std::ios::binary);
    if (!in) {
        error = scriptPath + ": cannot be read";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    input::InputReplay replay;
    if (!readReplayScript(text.str(), replay, error)) {
        error = scriptPath + ": " + error;
        return false;
    }
    StringSink sink;
    serialize::BinaryPODToken token;
    replay.write(sink, token);

    const std::filesystem::path out(outPath);
    std::error_code ignored;
    if (out.has_parent_path())
        std::filesystem::create_directories(out.parent_path(), ignored);
    std::ofstream file(outPath, std::ios::binary | std::ios::trunc);
    file.write(sink.text.data(), static_cast<std::streamsize>(sink.text.size()));
    file.close();
    if (!file) {
        error = outPath + ": cannot be written";
        return false;
    }
    return true;
}

} // namespace quern::replaybuild
