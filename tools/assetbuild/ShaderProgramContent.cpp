#include "ShaderProgramContent.h"

#include "quern/assets/ResourceCache.h"
#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/strings/PackedName.h"

#include <algorithm>
#include <cstring>

namespace quern::assetbuild {
namespace {

constexpr char kVersionLine[] = "#version 140";
constexpr u64 kVersionLength = sizeof kVersionLine - 1;
// "//", eight digits, a blank, the stage digit and a line feed.
constexpr u64 kHeaderLength = 13;
constexpr u64 kCountDigits = 8;
// The loaders hand the whole text to glShaderSource with a signed 32-bit length.
constexpr u64 kMaxProgramLength = 0x7fffffff;

char stageDigit(graphics::ShaderProgramType stage) { return static_cast<char>('0' + static_cast<u32>(stage)); }

// The first line is "#version 140", ended by a line feed (a carriage return
// before it is the compiler's business and allowed).
bool startsWithVersionLine(const u8* text, u64 size)
{
    if (size < kVersionLength || std::memcmp(text, kVersionLine, kVersionLength) != 0)
        return false;
    u64 at = kVersionLength;
    if (at < size && text[at] == '\r')
        ++at;
    return at < size && text[at] == '\n';
}

int hexValue(u8 c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool parseProgramStage(const std::string& word, graphics::ShaderProgramType& stage)
{
    if (word == "vertex")
        stage = graphics::ShaderProgramType::Vertex;
    else if (word == "fragment")
        stage = graphics::ShaderProgramType::Fragment;
    else
        return false;
    return true;
}

bool writeShaderProgram(const std::vector<u8>& source, graphics::ShaderProgramType stage, std::vector<u8>& program,
    std::string& reason)
{
    if (!startsWithVersionLine(source.data(), source.size())) {
        reason = "does not start with the line #version 140";
        return false;
    }
    if (std::find(source.begin(), source.end(), u8 { 0 }) != source.end()) {
        reason = "holds a zero byte";
        return false;
    }
    if (source.size() > kMaxProgramLength - kHeaderLength) {
        reason = "is too long for a program text";
        return false;
    }
    static const char kDigits[] = "0123456789abcdef";
    program.clear();
    program.reserve(kHeaderLength + source.size());
    program.push_back('/');
    program.push_back('/');
    for (u64 i = 0; i < kCountDigits; ++i)
        program.push_back(static_cast<u8>(kDigits[(source.size() >> ((kCountDigits - 1 - i) * 4)) & 0xf]));
    program.push_back(' ');
    program.push_back(static_cast<u8>(stageDigit(stage)));
    program.push_back('\n');
    program.insert(program.end(), source.begin(), source.end());
    return true;
}

bool checkShaderProgram(const u8* bytes, u64 size, graphics::ShaderProgramType stage, std::string& reason)
{
    // The loaders refuse a text that ends before the stage digit, then take
    // that digit minus '0' as the program's type.
    if (size <= graphics::kEmbeddedStageOffset) {
        reason = "is too short to name its stage";
        return false;
    }
    const u32 read = static_cast<u32>(static_cast<u8>(bytes[graphics::kEmbeddedStageOffset] - u8 { '0' }));
    if (read != static_cast<u32>(stage)) {
        reason = std::string("names stage digit ") + static_cast<char>(bytes[graphics::kEmbeddedStageOffset])
            + " where " + stageDigit(stage) + " was wanted";
        return false;
    }
    u64 count = 0;
    bool digits = size >= kHeaderLength;
    for (u64 i = 0; digits && i < kCountDigits; ++i) {
        const int value = hexValue(bytes[2 + i]);
        digits = value >= 0;
        count = count * 16 + static_cast<u64>(value < 0 ? 0 : value);
    }
    if (!digits || bytes[0] != '/' || bytes[1] != '/' || bytes[10] != ' ' || bytes[12] != '\n') {
        reason = "has no header line \"//<8 hexadecimal digits> <stage>\"";
        return false;
    }
    if (count != size - kHeaderLength) {
        reason = "has a header whose count differs from the length of its text";
        return false;
    }
    if (size > kMaxProgramLength || !startsWithVersionLine(bytes + kHeaderLength, size - kHeaderLength)) {
        reason = "does not go on with the line #version 140";
        return false;
    }
    return true;
}

bool convertShaderProgramContent(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error)
{
    const std::string where = "line " + std::to_string(asset.line) + ": ";
    // Type words name the same type in either case.
    if (packName(asset.type.c_str()) != assets::ResourceType::ShaderProgram) {
        if (asset.stage.empty())
            return true;
        error = where + asset.name + ": stage= is only for shader programs";
        return false;
    }
    graphics::ShaderProgramType stage {};
    if (!parseProgramStage(asset.stage, stage)) {
        error = where + "shader program " + asset.name + " needs stage=vertex or stage=fragment";
        return false;
    }
    std::vector<u8> program;
    std::string reason;
    if (!writeShaderProgram(bytes, stage, program, reason)
        || !checkShaderProgram(program.data(), program.size(), stage, reason)) {
        error = where + "shader program " + asset.name + " " + reason;
        return false;
    }
    bytes = std::move(program);
    return true;
}

} // namespace quern::assetbuild
