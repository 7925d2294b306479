#include "MaterialWriter.h"
#include "ShaderProgramContent.h"

#include "quern/assets/ResourceCache.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/PODTypeDescriptor.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/Hashes.h"
#include "quern/strings/PackedName.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace quern::assetbuild {
namespace {

constexpr u64 kMaterialChunkId = 0x20338faac60a9e37ull;
constexpr u64 kPropertyChunkId = 0x28bc139b61bbb53dull;
constexpr u64 kMaxPropertyName = 19;

using serialize::PODComponent;
using serialize::PODKind;
using serialize::PODTypeDescriptor;

using serialize::kF32x2Descriptor;
using serialize::kF32x4Descriptor;
using serialize::kU8Descriptor;

u64 nameId(const std::string& name) { return strings::murmurHash64A(name.data(), name.size(), 0); }

class LineReader {
public:
    explicit LineReader(std::istringstream& words) : m_words(words) {}

    bool word(std::string& out) { return static_cast<bool>(m_words >> out); }
    bool number(f32& out)
    {
        std::string text;
        if (!word(text))
            return false;
        char* end = nullptr;
        out = std::strtof(text.c_str(), &end);
        return end && *end == 0 && end != text.c_str();
    }
    bool integer(u32 last, u32& out)
    {
        std::string text;
        if (!word(text))
            return false;
        char* end = nullptr;
        const unsigned long value = std::strtoul(text.c_str(), &end, 10);
        if (!end || *end != 0 || end == text.c_str() || value > last)
            return false;
        out = static_cast<u32>(value);
        return true;
    }
    bool small(u32 last, u8& out)
    {
        u32 value = 0;
        if (!integer(last, value))
            return false;
        out = static_cast<u8>(value);
        return true;
    }
    bool done()
    {
        std::string rest;
        return !(m_words >> rest);
    }

private:
    std::istringstream& m_words;
};

bool parseTextureOptions(LineReader& in, MaterialSourceProperty& property)
{
    std::string option;
    while (in.word(option)) {
        bool ok = false;
        if (option == "unit")
            ok = in.integer(7, property.unit);
        else if (option == "wrap")
            ok = in.integer(255, property.wrap);
        else if (option == "offset")
            ok = in.number(property.offset[0]) && in.number(property.offset[1]);
        else if (option == "scale")
            ok = in.number(property.scale[0]) && in.number(property.scale[1]);
        if (!ok)
            return false;
    }
    return true;
}

// One property line after its keyword; false with the problem in `error`.
bool parseProperty(const std::string& keyword, LineReader& in, const std::map<std::string, u64>& assetIds,
                   MaterialSourceProperty& property, std::string& error)
{
    if (!in.word(property.name)) {
        error = keyword + " needs a name";
        return false;
    }
    if (property.name.size() > kMaxPropertyName) {
        error = "property name " + property.name + " is longer than 19 characters";
        return false;
    }
    bool ok = true;
    if (keyword == "color" || keyword == "vector") {
        property.type = keyword == "color" ? 1 : 2;
        for (f32& value : property.value)
            ok = ok && in.number(value);
    } else if (keyword == "float") {
        property.type = 3;
        ok = in.number(property.value[0]);
    } else if (keyword == "uniform") {
        property.type = 5;
    } else {
        property.type = 4;
        std::string texture;
        if (!in.word(texture)) {
            error = "texture " + property.name + " names no texture asset";
            return false;
        }
        // "-": no texture of its own; game code binds one.
        if (texture != "-") {
            const auto found = assetIds.find(texture);
            if (found == assetIds.end()) {
                error = "texture " + texture + " is not an asset";
                return false;
            }
            property.textureId = found->second;
        }
        ok = parseTextureOptions(in, property);
    }
    if (!ok || !in.done())
        error = "bad values for " + keyword + " " + property.name;
    return ok && error.empty();
}

bool parseLine(const std::string& line, const std::map<std::string, u64>& assetIds, MaterialSource& out,
               std::string& error)
{
    std::istringstream words(line.substr(0, line.find('#')));
    LineReader in(words);
    std::string keyword;
    if (!in.word(keyword))
        return true;
    bool ok = true;
    std::string name;
    if (keyword == "name") {
        ok = in.word(out.name);
    } else if (keyword == "vertex" || keyword == "fragment") {
        ok = in.word(name);
        (keyword == "vertex" ? out.vertexProgram : out.fragmentProgram) = nameId(name);
        (keyword == "vertex" ? out.vertexProgramName : out.fragmentProgramName) = name;
    } else if (keyword == "blend") {
        ok = in.small(14, out.sourceFactor) && in.small(14, out.destinationFactor);
    } else if (keyword == "cull") {
        ok = in.small(2, out.cullMode);
    } else if (keyword == "format") {
        ok = in.word(name) && (name == "binary" || name == "text");
        out.textForm = name == "text";
    } else if (keyword == "depth") {
        ok = in.small(7, out.depthComparison);
    } else if (keyword == "color" || keyword == "vector" || keyword == "float" || keyword == "texture" ||
               keyword == "uniform") {
        MaterialSourceProperty property;
        if (!parseProperty(keyword, in, assetIds, property, error))
            return false;
        out.properties.push_back(property);
        return true;
    } else {
        error = "unknown material keyword " + keyword;
        return false;
    }
    if (!ok || !in.done())
        error = "bad value for " + keyword;
    return ok && error.empty();
}

void writeU8(std::ostream& out, serialize::PODToken& token, u8 value, const char* name)
{
    token.writePOD(out, &value, 1, &kU8Descriptor, name);
}

// A program the manifest lists must be a shader program of the stage it is
// named for, and a dependency of the material: materials find their programs
// among the resources loaded before they link.
bool checkProgram(const ManifestAsset& material, const std::string& name, graphics::ShaderProgramType stage,
    const std::map<std::string, const ManifestAsset*>& manifestAssets, std::string& error)
{
    const auto found = manifestAssets.find(name);
    if (name.empty() || found == manifestAssets.end())
        return true;
    const char* const wanted = stage == graphics::ShaderProgramType::Vertex ? "vertex" : "fragment";
    const ManifestAsset& program = *found->second;
    graphics::ShaderProgramType listed {};
    if (packName(program.type.c_str()) != assets::ResourceType::ShaderProgram
        || !parseProgramStage(program.stage, listed)) {
        error = "its " + std::string(wanted) + " program " + name + " is not a shader program";
        return false;
    }
    if (listed != stage) {
        error = "its " + std::string(wanted) + " program " + name + " is a " + program.stage + " program";
        return false;
    }
    const std::vector<std::string>& dependencies = material.dependencies;
    if (std::find(dependencies.begin(), dependencies.end(), name) == dependencies.end()) {
        error = "its program " + name + " must be listed as a dependency of the material";
        return false;
    }
    return true;
}

} // namespace

bool parseMaterialSource(const std::string& text, const std::map<std::string, u64>& assetIds, MaterialSource& out,
                         std::string& error)
{
    std::istringstream lines(text);
    std::string line;
    for (u32 number = 1; std::getline(lines, line); ++number) {
        if (!parseLine(line, assetIds, out, error)) {
            error = "material line " + std::to_string(number) + ": " + error;
            return false;
        }
    }
    return true;
}

void writeMaterial(std::ostream& out, serialize::PODToken& token, const MaterialSource& material)
{
    const u32 start = token.beginWriteChunk(out, kMaterialChunkId);
    token.writeString(out, material.name.c_str(), "name");
    token.writePOD(out, &material.vertexProgram, 1, &serialize::kU64Descriptor, "vertexProgram");
    token.writePOD(out, &material.fragmentProgram, 1, &serialize::kU64Descriptor, "fragmentProgram");
    writeU8(out, token, material.sourceFactor, "sourceFactor");
    writeU8(out, token, material.destinationFactor, "destinationFactor");
    writeU8(out, token, material.cullMode, "cullMode");
    writeU8(out, token, material.depthComparison, "depthComparison");
    const u32 count = static_cast<u32>(material.properties.size());
    token.writePOD(out, &count, 1, &serialize::kU32Descriptor, "propertyCount");
    for (const MaterialSourceProperty& property : material.properties) {
        const u32 propertyStart = token.beginWriteChunk(out, kPropertyChunkId);
        token.writeString(out, property.name.c_str(), "name");
        writeU8(out, token, property.type, "type");
        switch (property.type) {
        case 1:
        case 2:
            token.writePOD(out, property.value, 1, &kF32x4Descriptor, "value");
            break;
        case 3:
            token.writePOD(out, property.value, 1, &serialize::kF32Descriptor, "value");
            break;
        case 4:
            token.writePOD(out, &property.textureId, 1, &serialize::kU64Descriptor, "texture");
            token.writePOD(out, property.offset, 1, &kF32x2Descriptor, "offset");
            token.writePOD(out, property.scale, 1, &kF32x2Descriptor, "scale");
            token.writePOD(out, &property.wrap, 1, &serialize::kU32Descriptor, "wrap");
            token.writePOD(out, &property.unit, 1, &serialize::kU32Descriptor, "unit");
            break;
        default:
            break;
        }
        token.endWriteChunk(out, propertyStart);
    }
    token.endWriteChunk(out, start);
}

bool convertMaterialContent(const ManifestAsset& asset, const std::map<std::string, u64>& assetIds,
    const std::map<std::string, const ManifestAsset*>& manifestAssets, std::vector<u8>& bytes, std::string& error)
{
    if (asset.type != "material")
        return true;
    MaterialSource material;
    material.name = asset.name;
    if (!parseMaterialSource(std::string(bytes.begin(), bytes.end()), assetIds, material, error)
        || !checkProgram(asset, material.vertexProgramName, graphics::ShaderProgramType::Vertex, manifestAssets, error)
        || !checkProgram(
            asset, material.fragmentProgramName, graphics::ShaderProgramType::Fragment, manifestAssets, error)) {
        error = "line " + std::to_string(asset.line) + ": " + asset.name + ": " + error;
        return false;
    }
    serialize::BinaryPODToken binary;
    serialize::TextPODToken text;
    std::ostringstream out;
    writeMaterial(out, material.textForm ? static_cast<serialize::PODToken&>(text) : binary, material);
    const std::string written = out.str();
    bytes.assign(written.begin(), written.end());
    return true;
}

} // namespace quern::assetbuild
