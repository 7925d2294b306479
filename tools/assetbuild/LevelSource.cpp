#include "LevelSource.h"

#include "PlayerMovementCheck.h"
#include "SnapboxCheck.h"

#include "harmonize/components/ComponentFields.h"
#include "harmonize/components/Components.h"
#include "harmonize/components/Transform.h"

#include "quern/entity/World.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/Hashes.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

namespace quern::assetbuild {
namespace {

using harmonize::ComponentField;
using harmonize::ComponentLayout;
using harmonize::FieldKind;

struct LevelEntity {
    std::string name;
    u32 line = 0;
    bool prefab = false;
    std::string parent; // "" for a root
    u32 parentLine = 0;
    std::map<u32, std::vector<u8>> components; // by type
    std::set<u32> disabled; // types whose enabled bit starts off
};

// An entity name inside a component, resolved once every entity is known.
struct HandleReference {
    u64 entity;
    u32 type;
    const ComponentField* field;
    u32 element;
    std::string name;
    u32 line;
};

// A "text:<key>" value, checked once every text of the level is known.
struct TextReference {
    std::string key;
    u32 line;
};

struct LevelParser {
    std::vector<LevelEntity> entities;
    std::map<std::string, u64> byName;
    std::vector<HandleReference> references;
    std::map<std::string, std::string> texts; // by key
    std::vector<TextReference> textReferences;
    u64 catalogues[entity::World::kLanguageCount] = {};
    std::string worldName;
    std::string error;
    u32 line = 0;

    bool fail(const std::string& message)
    {
        error = "level line " + std::to_string(line) + ": " + message;
        return false;
    }

    std::vector<u8>& component(LevelEntity& entity, u32 type)
    {
        auto found = entity.components.find(type);
        if (found != entity.components.end())
            return found->second;
        std::vector<u8>& bytes = entity.components[type];
        const ComponentLayout& layout = harmonize::componentLayout(type);
        bytes.assign(layout.size, 0);
        harmonize::fillComponentDefaults(layout, bytes.data());
        return bytes;
    }

    bool declare(const std::string& keyword, std::istringstream& words)
    {
        LevelEntity entity;
        entity.line = line;
        entity.prefab = keyword == "prefab";
        std::string extra;
        if (!(words >> entity.name))
            return fail(keyword + " needs a name");
        if (words >> extra) {
            if (extra != "parent" || !(words >> entity.parent))
                return fail("expected \"parent <name>\" after the " + keyword + "'s name");
            entity.parentLine = line;
            if (words >> extra)
                return fail("unexpected \"" + extra + "\"");
        }
        if (byName.count(entity.name))
            return fail("entity " + entity.name + " is declared twice");
        if (entities.size() >= 0xfffe)
            return fail("a level holds at most 65534 entities");
        byName[entity.name] = entities.size();
        entities.push_back(std::move(entity));
        return true;
    }

    // The world's texts are keyed by the hash of their key names, as the
    // game hashes the names it looks texts up by.
    static u64 textKeyOf(const std::string& key)
    {
        return strings::murmurHash64A(key.data(), key.size(), strings::kInternerSeed);
    }

    bool defineText(std::istringstream& words)
    {
        std::string key;
        if (!(words >> key))
            return fail("text needs a key and its text");
        std::string rest;
        std::getline(words, rest);
        const size_t first = rest.find_first_not_of(" \t");
        if (first == std::string::npos)
            return fail("text " + key + " has no text");
        rest = rest.substr(first, rest.find_last_not_of(" \t") + 1 - first);
        if (!texts.emplace(key, rest).second)
            return fail("text " + key + " is defined twice");
        return true;
    }

    bool nameCatalogue(std::istringstream& words)
    {
        std::string slotWord, idWord, extra;
        if (!(words >> slotWord >> idWord) || words >> extra)
            return fail("language takes a slot (0 to 8) and a catalogue asset id");
        char* end = nullptr;
        errno = 0;
        const unsigned long slot = std::strtoul(slotWord.c_str(), &end, 10);
        if (*end != '\0' || slotWord.empty() || slotWord[0] == '-' || slot >= entity::World::kLanguageCount)
            return fail("language slot \"" + slotWord + "\" is not 0 to 8");
        const unsigned long long id = std::strtoull(idWord.c_str(), &end, 0);
        if (*end != '\0' || idWord.empty() || idWord[0] == '-' || errno == ERANGE || id == 0)
            return fail("\"" + idWord + "\" is no asset id");
        if (catalogues[slot] != 0)
            return fail("language " + slotWord + " is named twice");
        catalogues[slot] = id;
        return true;
    }

    bool parseNumber(const std::string& word, const ComponentField& field, void* record, u32 element)
    {
        const char* text = word.c_str();
        if (word.rfind("text:", 0) == 0) {
            if (field.kind != FieldKind::UInt64)
                return fail("\"" + word + "\" names a text; only 64-bit fields hold text keys");
            textReferences.push_back({ word.substr(5), line });
            harmonize::writeFieldInteger(field, record, element, textKeyOf(word.substr(5)));
            return true;
        }
        char* end = nullptr;
        errno = 0;
        if (field.kind == FieldKind::Float32) {
            const double value = std::strtod(text, &end);
            if (*end != '\0' || end == text || !std::isfinite(value))
                return fail("\"" + word + "\" is not a number");
            harmonize::writeFieldFloat(field, record, element, value);
            return true;
        }
        if (field.kind == FieldKind::Int32) {
            const long long value = std::strtoll(text, &end, 0);
            if (*end != '\0' || end == text || errno == ERANGE || value < INT32_MIN || value > UINT32_MAX)
                return fail("\"" + word + "\" is not a 32-bit integer");
            harmonize::writeFieldInteger(field, record, element, static_cast<u64>(value));
            return true;
        }
        if (text[0] == '-')
            return fail("\"" + word + "\" is negative; the field is unsigned");
        const unsigned long long value = std::strtoull(text, &end, 0);
        const unsigned long long limit = field.kind == FieldKind::UInt8 ? 0xffull
            : field.kind == FieldKind::UInt32                           ? 0xffffffffull
                                                                        : ~0ull;
        if (*end != '\0' || end == text || errno == ERANGE || value > limit)
            return fail("\"" + word + "\" does not fit the field");
        harmonize::writeFieldInteger(field, record, element, value);
        return true;
    }

    bool setField(const std::string& statement, std::istringstream& words)
    {
        if (entities.empty())
            return fail("component " + statement + " before any entity");
        const size_t dot = statement.find('.');
        const std::string componentName = statement.substr(0, dot);
        const i32 type = harmonize::findComponentType(componentName.c_str());
        if (type < 0)
            return fail("no component type " + componentName);
        LevelEntity& entity = entities.back();
        std::vector<u8>& record = component(entity, static_cast<u32>(type));
        if (dot == std::string::npos) {
            std::string extra;
            if (!(words >> extra))
                return true;
            // A component the game enables itself (shown at level start, by
            // language, in a flash) starts with its enabled bit off.
            if (extra == "disabled" && !(words >> extra)) {
                entity.disabled.insert(static_cast<u32>(type));
                return true;
            }
            return fail("values need a field: " + componentName + ".<field>");
        }
        const std::string fieldName = statement.substr(dot + 1);
        const ComponentField* field
            = harmonize::findComponentField(harmonize::componentLayout(static_cast<u32>(type)), fieldName.c_str());
        if (!field)
            return fail(componentName + " has no field " + fieldName);
        std::vector<std::string> values;
        for (std::string word; words >> word;)
            values.push_back(word);
        if (values.empty() || values.size() > field->count)
            return fail(statement + " takes 1 to " + std::to_string(field->count) + " values, not "
                + std::to_string(values.size()));
        for (u32 e = 0; e < values.size(); ++e) {
            if (field->kind == FieldKind::Entity || field->kind == FieldKind::EntityIndex)
                references.push_back({ entities.size() - 1, static_cast<u32>(type), field, e, values[e], line });
            else if (!parseNumber(values[e], *field, record.data(), e))
                return false;
        }
        return true;
    }

    bool statement(const std::string& text)
    {
        std::istringstream words(text);
        std::string first;
        if (!(words >> first))
            return true;
        if (first == "entity" || first == "prefab")
            return declare(first, words);
        if (first == "text")
            return defineText(words);
        if (first == "language")
            return nameCatalogue(words);
        if (first == "world") {
            std::string extra;
            if (!(words >> worldName) || words >> extra)
                return fail("world takes one name");
            return true;
        }
        return setField(first, words);
    }

    // Entity i of the level is slot i of the world it is loaded into.
    static entity::EntityHandle handleOf(u64 index) { return entity::EntityHandle::make(static_cast<u16>(index), 1); }

    bool resolve()
    {
        for (const TextReference& reference : textReferences) {
            line = reference.line;
            if (!texts.count(reference.key))
                return fail("text:" + reference.key + " names no text of the level");
        }
        for (const HandleReference& reference : references) {
            line = reference.line;
            auto found = byName.find(reference.name);
            if (found == byName.end())
                return fail(std::string(reference.field->name) + " names " + reference.name
                    + ", which is no entity of the level");
            std::vector<u8>& record = entities[reference.entity].components[reference.type];
            const u64 value
                = reference.field->kind == FieldKind::EntityIndex ? found->second : handleOf(found->second).value;
            harmonize::writeFieldInteger(*reference.field, record.data(), reference.element, value);
        }
        for (u64 i = 0; i < entities.size(); ++i) {
            LevelEntity& entity = entities[i];
            if (entity.parent.empty())
                continue;
            line = entity.parentLine;
            auto found = byName.find(entity.parent);
            if (found == byName.end())
                return fail("parent " + entity.parent + " of " + entity.name + " is no entity of the level");
            std::vector<u8>& transform = component(entity, harmonize::Transform::kType);
            const ComponentField* parent
                = harmonize::findComponentField(harmonize::componentLayout(harmonize::Transform::kType), "parent");
            harmonize::writeFieldInteger(*parent, transform.data(), 0, handleOf(found->second).value);
        }
        return checkCycles() && checkFrameAnimations() && checkPlayerMovements() && checkLevelRules();
    }

    // Records whose values the game's rules cannot survive: a bolt with no
    // points, a push pad whose air speed divisor divides by zero or flips the
    // push, a missile of a mode the game does not know, a flying enemy whose
    // path length divides by zero, a language filter of a mode the game does
    // not know (fatal there).
    bool checkLevelRules()
    {
        for (const LevelEntity& entity : entities) {
            line = entity.line;
            if (auto found = entity.components.find(harmonize::LightningBolt::kType); found != entity.components.end()) {
                harmonize::LightningBolt bolt;
                std::memcpy(&bolt, found->second.data(), sizeof bolt);
                if (bolt.pointCount < 1)
                    return fail("the LightningBolt of " + entity.name + " needs at least 1 point, not "
                        + std::to_string(bolt.pointCount));
            }
            if (auto found = entity.components.find(harmonize::PushPad::kType); found != entity.components.end()) {
                harmonize::PushPad pad;
                std::memcpy(&pad, found->second.data(), sizeof pad);
                if (!(pad.airSpeedDivisor > 0.0f))
                    return fail("the PushPad of " + entity.name + " needs airSpeedDivisor above 0 (the push is divided by "
                        "it every tick), not " + std::to_string(pad.airSpeedDivisor));
            }
            if (auto found = entity.components.find(harmonize::Missile::kType); found != entity.components.end()) {
                harmonize::Missile missile;
                std::memcpy(&missile, found->second.data(), sizeof missile);
                if (missile.mode != 0 && missile.mode != 1)
                    return fail("the Missile of " + entity.name + " has mode " + std::to_string(missile.mode)
                        + "; 0 homes in, 1 aims once");
            }
            if (auto found = entity.components.find(harmonize::FlyingEnemy::kType); found != entity.components.end()) {
                harmonize::FlyingEnemy enemy;
                std::memcpy(&enemy, found->second.data(), sizeof enemy);
                if (!(enemy.pathLength > 0.0f))
                    return fail("the FlyingEnemy of " + entity.name + " needs pathLength above 0 (its speed is divided "
                        "by it), not " + std::to_string(enemy.pathLength));
            }
            if (auto found = entity.components.find(harmonize::ParticleSettings::kType);
                found != entity.components.end()) {
                harmonize::ParticleSettings settings;
                std::memcpy(&settings, found->second.data(), sizeof settings);
                if (settings.colourKeyCount < 1 || settings.colourKeyCount > 8)
                    return fail("the ParticleSettings of " + entity.name + " has " + std::to_string(settings.colourKeyCount)
                        + " colour keys; it holds 1 to 8");
            }
            if (auto found = entity.components.find(harmonize::LanguageFilter::kType); found != entity.components.end()) {
                harmonize::LanguageFilter filter;
                std::memcpy(&filter, found->second.data(), sizeof filter);
                if (filter.mode > 1)
                    return fail("the LanguageFilter of " + entity.name + " has mode " + std::to_string(filter.mode)
                        + "; 0 shows for the listed languages, 1 hides for them");
            }
        }
        return true;
    }

    // The game would never finish stepping a frame time that is not above 0,
    // and divides by the frame count.
    bool checkFrameAnimations()
    {
        for (const LevelEntity& entity : entities) {
            auto found = entity.components.find(harmonize::FrameAnimation::kType);
            if (found == entity.components.end())
                continue;
            harmonize::FrameAnimation frames;
            std::memcpy(&frames, found->second.data(), sizeof frames);
            line = entity.line;
            if (frames.frameCount < 1)
                return fail("the FrameAnimation of " + entity.name + " has no frames");
            if (!(frames.secondsPerFrame > 0.0f))
                return fail("the FrameAnimation of " + entity.name + " needs secondsPerFrame above 0");
        }
        return true;
    }

    bool checkPlayerMovements()
    {
        for (const LevelEntity& entity : entities) {
            auto found = entity.components.find(harmonize::PlayerMovement::kType);
            if (found == entity.components.end())
                continue;
            line = entity.line;
            std::string message;
            if (!checkPlayerMovement(worldName, entity.name, found->second.data(), message))
                return fail(message);
        }
        return true;
    }

    // A parent chain longer than the level can only come back on itself.
    bool checkCycles()
    {
        for (const LevelEntity& start : entities) {
            const LevelEntity* current = &start;
            for (u64 steps = 0; !current->parent.empty(); ++steps) {
                if (steps > entities.size()) {
                    line = start.parentLine;
                    return fail("the parents of " + start.name + " form a cycle");
                }
                current = &entities[byName[current->parent]];
            }
        }
        return true;
    }

    bool isDormant(const LevelEntity& entity)
    {
        for (const LevelEntity* current = &entity;; current = &entities[byName[current->parent]]) {
            if (current->prefab)
                return true;
            if (current->parent.empty())
                return false;
        }
    }

    void write(WorldDocument& document)
    {
        harmonize::describeComponentModel(document.model, worldName.c_str());
        for (const auto& [key, text] : texts)
            document.texts.intern(text.c_str(), text.size(), textKeyOf(key));
        std::memcpy(document.localizationAssetIds, catalogues, sizeof catalogues);
        for (const LevelEntity& entity : entities) {
            WorldEntity out;
            out.name = entity.name;
            const bool dormant = isDormant(entity);
            for (const auto& [type, bytes] : entity.components) {
                if (!dormant && !entity.disabled.count(type))
                    out.enabledMask[type / 64] |= u64 { 1 } << (type % 64);
                out.components.push_back({ static_cast<u8>(type), bytes });
            }
            document.entities.push_back(std::move(out));
        }
    }
};

} // namespace

bool readLevelSource(const std::string& text, const std::string& worldName, WorldDocument& document, std::string& error)
{
    LevelParser parser;
    parser.worldName = worldName;
    std::istringstream lines(text);
    std::string content;
    while (std::getline(lines, content)) {
        ++parser.line;
        const size_t comment = content.find('#');
        if (comment != std::string::npos)
            content.resize(comment);
        // Sources saved with CR LF line ends read the same.
        for (char& c : content)
            if (c == '\r')
                c = ' ';
        if (!parser.statement(content)) {
            error = parser.error;
            return false;
        }
    }
    if (!parser.resolve()) {
        error = parser.error;
        return false;
    }
    parser.write(document);
    return true;
}

bool convertLevelContent(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error)
{
    if (asset.type != "level" && asset.type != "leveltext")
        return true;
    const std::string where = "line " + std::to_string(asset.line) + ": " + asset.name + ": ";
    WorldDocument document;
    std::string name = asset.name;
    const size_t slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    name = name.substr(0, name.find('.'));
    if (!readLevelSource(std::string(bytes.begin(), bytes.end()), name, document, error)) {
        error = where + error;
        return false;
    }
    serialize::BinaryPODToken binary;
    serialize::TextPODToken text;
    std::ostringstream out;
    if (!writeWorldFile(
            out, asset.type == "level" ? static_cast<serialize::PODToken&>(binary) : text, document, error)) {
        error = where + error;
        return false;
    }
    const std::string written = out.str();
    bytes.assign(written.begin(), written.end());
    if (!checkSnapboxClusters(bytes, name, error)) {
        error = where + error;
        return false;
    }
    return true;
}

} // namespace quern::assetbuild
