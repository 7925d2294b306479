#include "WorldWriter.h"

#include "quern/entity/World.h"
#include "quern/io/StringSource.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/PODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/Format.h"

#include <cstring>
#include <sstream>

namespace quern::assetbuild {
namespace {

using entity::ComponentAttribute;
using entity::ComponentTypeDescription;
using serialize::PODComponent;
using serialize::PODKind;

using serialize::kU8Descriptor;
constexpr u32 kLanguageCount = entity::World::kLanguageCount;

u8 readByte(ByteSource& source, serialize::PODToken& token)
{
    u8 value = 0;
    token.readPOD(source, &value, 1, &kU8Descriptor);
    return value;
}

void writeByte(std::ostream& out, serialize::PODToken& token, u8 value, const char* name)
{
    token.writePOD(out, &value, 1, &kU8Descriptor, name);
}

void writeU32(std::ostream& out, serialize::PODToken& token, u32 value, const char* name)
{
    token.writePOD(out, &value, 1, &serialize::kU32Descriptor, name);
}

bool knownType(ComponentAttribute::Type type) { return static_cast<u8>(type) <= 5; }

bool isLevelType(const std::string& typeWord)
{
    return typeWord == "level" || typeWord == "leveltext" || typeWord == "world" || typeWord == "worldtext";
}

bool checkText(const char* text, const char* what, std::string& error)
{
    if (std::strlen(text) < entity::kWorldFileTextCapacity)
        return true;
    error = std::string(what) + " \"" + std::string(text, 40) + "...\" is longer than 1023 bytes";
    return false;
}

bool checkModel(const entity::WorldModel& model, std::string& error)
{
    if (model.typeCount() > entity::kMaxComponentTypes) {
        error = "a world has at most 128 component types";
        return false;
    }
    if (!checkText(model.name, "world name", error))
        return false;
    for (u64 t = 0; t < model.typeCount(); ++t) {
        const ComponentTypeDescription& type = model.type(t);
        if (!checkText(type.name, "component name", error) || !checkText(type.texts[0], "component text", error)
            || !checkText(type.texts[1], "component text", error))
            return false;
        if (type.attributeCount > entity::kMaxComponentAttributes) {
            error = std::string("component ") + type.name + " has more than 255 attributes";
            return false;
        }
        for (u32 a = 0; a < type.attributeCount; ++a)
            if (!checkText(type.attributes[a].name, "attribute name", error))
                return false;
    }
    return true;
}

bool checkEntity(const WorldDocument& document, const WorldEntity& entity, std::string& error)
{
    if (!checkText(entity.name.c_str(), "entity name", error))
        return false;
    for (const WorldComponent& component : entity.components) {
        const std::string where = "entity \"" + entity.name + "\": component type " + std::to_string(component.type);
        if (component.type >= document.model.typeCount()) {
            error = where + " is not in the model";
            return false;
        }
        const ComponentTypeDescription& type = document.model.type(component.type);
        for (u32 a = 0; a < type.attributeCount; ++a)
            if (!knownType(type.attributes[a].type)) {
                error = where + " has an attribute of unknown value type";
                return false;
            }
        const u64 expected = type.attributeCount == 0 ? 0 : entity::componentByteSize(type);
        if (component.bytes.size() != expected) {
            error = where + " holds " + std::to_string(component.bytes.size()) + " bytes, the model gives "
                + std::to_string(expected);
            return false;
        }
    }
    return true;
}

void writeModel(std::ostream& out, serialize::PODToken& token, const entity::WorldModel& model)
{
    const u32 start = token.beginWriteChunk(out, entity::kWorldModelChunkId);
    token.writeString(out, model.name, "name");
    writeU32(out, token, static_cast<u32>(model.typeCount()), "componentTypes");
    for (u64 t = 0; t < model.typeCount(); ++t) {
        const ComponentTypeDescription& type = model.type(t);
        token.writeString(out, type.name, "component");
        token.writeString(out, type.texts[0], "text1");
        token.writeString(out, type.texts[1], "text2");
        writeByte(out, token, static_cast<u8>(type.attributeCount), "attributes");
        for (u32 a = 0; a < type.attributeCount; ++a) {
            const ComponentAttribute& attribute = type.attributes[a];
            token.writeString(out, attribute.name, "attribute");
            writeByte(out, token, static_cast<u8>(attribute.type), "type");
            writeU32(out, token, attribute.elementCount, "count");
            writeByte(out, token, attribute.flags[0] ? 1 : 0, "flag1");
            writeByte(out, token, attribute.flags[1] ? 1 : 0, "flag2");
        }
    }
    token.endWriteChunk(out, start);
}

} // namespace

void readWorldDocument(ByteSource& source, WorldDocument& document)
{
    serialize::PODToken& token = serialize::selectPODToken(source);
    const u32 outer = serialize::expectChunk(source, token, 0);
    entity::readWorldModel(source, token, document.model);
    u32 entityCount = 0;
    token.readPOD(source, &entityCount, 1, &serialize::kU32Descriptor);
    entity::ComponentDescriptor descriptor;
    for (u32 e = 0; e < entityCount; ++e) {
        u64 id = 0;
        const u32 start = token.beginReadChunk(source, &id);
        if (id == entity::kEntityChunkId) {
            WorldEntity entity;
            char name[entity::kWorldFileTextCapacity];
            token.readString(source, name, sizeof name);
            entity.name = name;
            token.readPOD(source, entity.enabledMask, 2, &serialize::kU64Descriptor);
            u32 componentCount = 0;
            token.readPOD(source, &componentCount, 1, &serialize::kU32Descriptor);
            for (u32 c = 0; c < componentCount; ++c) {
                WorldComponent component;
                component.type = readByte(source, token);
                if (component.type >= document.model.typeCount())
                    QUERN_FATAL(strings::format<1280>("World entity %s has a component of type %u; the model has %llu",
                        name, component.type, static_cast<unsigned long long>(document.model.typeCount())));
                const ComponentTypeDescription& type = document.model.type(component.type);
                if (type.attributeCount > 0) {
                    entity::buildComponentDescriptor(type, descriptor);
                    component.bytes.assign(entity::componentByteSize(type), 0);
                    token.readPOD(source, component.bytes.data(), 1, &descriptor.descriptor);
                }
                entity.components.push_back(std::move(component));
            }
            document.entities.push_back(std::move(entity));
        }
        token.endReadChunk(source, start);
    }
    serialize::readStringInterner(source, token, document.texts);
    token.readPOD(source, document.localizationAssetIds, kLanguageCount, &serialize::kU64Descriptor);
    token.endReadChunk(source, outer);
}

bool writeWorldFile(std::ostream& out, serialize::PODToken& token, const WorldDocument& document, std::string& error)
{
    if (!checkModel(document.model, error))
        return false;
    for (const WorldEntity& entity : document.entities)
        if (!checkEntity(document, entity, error))
            return false;

    const u32 outer = token.beginWriteChunk(out, 0);
    writeModel(out, token, document.model);
    writeU32(out, token, static_cast<u32>(document.entities.size()), "entities");
    entity::ComponentDescriptor descriptor;
    for (const WorldEntity& entity : document.entities) {
        const u32 start = token.beginWriteChunk(out, entity::kEntityChunkId);
        token.writeString(out, entity.name.c_str(), "name");
        token.writePOD(out, entity.enabledMask, 2, &serialize::kU64Descriptor, "enabled");
        writeU32(out, token, static_cast<u32>(entity.components.size()), "components");
        for (const WorldComponent& component : entity.components) {
            writeByte(out, token, component.type, "type");
            const ComponentTypeDescription& type = document.model.type(component.type);
            if (type.attributeCount > 0) {
                entity::buildComponentDescriptor(type, descriptor);
                token.writePOD(out, component.bytes.data(), 1, &descriptor.descriptor, type.name);
            }
        }
        token.endWriteChunk(out, start);
    }
    serialize::writeStringInterner(out, token, document.texts);
    token.writePOD(out, document.localizationAssetIds, kLanguageCount, &serialize::kU64Descriptor, "localization");
    token.endWriteChunk(out, outer);
    if (!out) {
        error = "cannot write the world";
        return false;
    }
    return true;
}

bool buildWorldScript(const std::string& text, const std::map<std::string, u64>& assetIds,
    const WorldScriptAssets& known, std::vector<u8>& out, std::string& error)
{
    std::vector<u64> ids;
    std::string levelList;
    u32 levelListLine = 0;
    std::istringstream lines(text);
    std::string line;
    for (u32 number = 1; std::getline(lines, line); ++number) {
        const size_t comment = line.find('#');
        if (comment != std::string::npos)
            line.resize(comment);
        std::istringstream words(line);
        std::string name;
        if (!(words >> name))
            continue;
        const std::string where = "world script line " + std::to_string(number) + ": ";
        std::string more;
        if (words >> more) {
            error = where + "one asset name a line";
            return false;
        }
        const auto found = assetIds.find(name);
        if (found == assetIds.end()) {
            error = where + "level " + name + " is not in the manifest";
            return false;
        }
        if (!levelList.empty()) {
            error = where + name + " follows the level list " + levelList + ", which ends the script";
            return false;
        }
        const auto type = known.typeWords.find(name);
        const std::string typeWord = type == known.typeWords.end() ? "" : type->second;
        if (typeWord == "levellist") {
            levelList = name;
            levelListLine = number;
        } else if (!isLevelType(typeWord)) {
            error = where + name + " is of type " + typeWord + ", neither a level nor a level list";
            return false;
        }
        ids.push_back(found->second);
    }
    if (ids.size() == (levelList.empty() ? 0u : 1u)) {
        error = "the world script names no level";
        return false;
    }
    if (levelList.empty()) {
        error = "the world script does not end with a level list";
        return false;
    }
    const auto entries = known.levelListEntries.find(levelList);
    const i32 entryCount = entries == known.levelListEntries.end() ? 0 : entries->second;
    if (static_cast<u64>(entryCount) != ids.size() - 1) {
        error = "world script line " + std::to_string(levelListLine) + ": the level list " + levelList + " has "
            + std::to_string(entryCount) + " world entries for the script's " + std::to_string(ids.size() - 1)
            + " levels";
        return false;
    }
    out.clear();
    const u32 count = static_cast<u32>(ids.size());
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<u8>(count >> (i * 8)));
    for (u64 id : ids)
        for (int i = 0; i < 8; ++i)
            out.push_back(static_cast<u8>(id >> (i * 8)));
    return true;
}

bool convertWorldContent(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error)
{
    if (asset.type != "world" && asset.type != "worldtext")
        return true;
    const std::string where = "line " + std::to_string(asset.line) + ": ";
    if (bytes.empty()) {
        error = where + "world " + asset.name + " is empty";
        return false;
    }
    WorldDocument document;
    StringSource source(bytes.data(), bytes.size());
    readWorldDocument(source, document);
    serialize::BinaryPODToken binary;
    serialize::TextPODToken text;
    std::ostringstream out;
    if (!writeWorldFile(
            out, asset.type == "world" ? static_cast<serialize::PODToken&>(binary) : text, document, error)) {
        error = where + "world " + asset.name + ": " + error;
        return false;
    }
    const std::string written = out.str();
    bytes.assign(written.begin(), written.end());
    return true;
}

bool convertWorldScriptContent(const ManifestAsset& asset, const std::map<std::string, u64>& assetIds,
    const WorldScriptAssets& known, std::vector<u8>& bytes, std::string& error)
{
    if (asset.type != "worldscript")
        return true;
    if (!buildWorldScript(std::string(bytes.begin(), bytes.end()), assetIds, known, bytes, error)) {
        error = "line " + std::to_string(asset.line) + ": " + error;
        return false;
    }
    return true;
}

} // namespace quern::assetbuild
