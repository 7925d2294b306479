#include "LevelSource.h"

#include "harmonize/components/Components.h"

#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace quern;
using namespace quern::assetbuild;

namespace {

template <class Record> Record read(const WorldEntity& entity)
{
    for (const WorldComponent& component : entity.components)
        if (component.type == Record::kType) {
            Record record;
            std::memcpy(static_cast<void*>(&record), component.bytes.data(), sizeof record);
            return record;
        }
    ADD_FAILURE() << entity.name << " has no component " << static_cast<int>(Record::kType);
    return Record {};
}

TEST(LevelSource, RefusesBadSourcesNamingTheLine)
{
    struct Case {
        const char* source;
        const char* message;
    };
    const Case cases[] = {
        { "Transform.position 1 2 3", "level line 1: component Transform.position before any entity" },
        { "entity a\n\nShadow", "level line 3: no component type Shadow" },
        { "entity a\nTransform.size 1", "level line 2: Transform has no field size" },
        { "entity a\nTransform.position 1 2 3 4", "level line 2: Transform.position takes 1 to 3 values, not 4" },
        { "entity a\nTransform.position", "level line 2: Transform.position takes 1 to 3 values, not 0" },
        { "entity a\nTransform 1", "level line 2: values need a field" },
        { "entity a\nTransform.position 1 x", "level line 2: \"x\" is not a number" },
        { "entity a\nTransform.position nan", "level line 2: \"nan\" is not a number" },
        { "entity a\nCollisionLayer.layer -1", "level line 2: \"-1\" is negative" },
        { "entity a\nCollider.trigger 256", "level line 2: \"256\" does not fit the field" },
        { "entity a\nRace.value 1.5", "level line 2: \"1.5\" is not a 32-bit integer" },
        { "entity a\nentity a", "level line 2: entity a is declared twice" },
        { "entity", "level line 1: entity needs a name" },
        { "entity a child b", "level line 1: expected \"parent <name>\"" },
        { "entity a parent", "level line 1: expected \"parent <name>\"" },
        { "entity a\nentity b parent ghost", "level line 2: parent ghost of b is no entity of the level" },
        { "entity a\nCameraFollow.target ghost", "level line 2: target names ghost, which is no entity of the level" },
        { "entity a\nMenuTransitionRig.background ghost", "level line 2: background names ghost, which is no entity" },
        { "entity a parent b\nentity b parent a", "level line 1: the parents of a form a cycle" },
        { "entity a\nentity b parent b", "level line 2: the parents of b form a cycle" },
        { "world", "level line 1: world takes one name" },
        { "text", "level line 1: text needs a key and its text" },
        { "text hud.hello   ", "level line 1: text hud.hello has no text" },
        { "text a A\ntext a B", "level line 2: text a is defined twice" },
        { "entity a\nSubtitleTrigger.text text:ghost", "level line 2: text:ghost names no text of the level" },
        { "entity a\nTransform.position text:a", "level line 2: \"text:a\" names a text; only 64-bit fields hold" },
        { "language 9 0x1", "level line 1: language slot \"9\" is not 0 to 8" },
        { "language -1 0x1", "level line 1: language slot \"-1\" is not 0 to 8" },
        { "language 1 0", "level line 1: \"0\" is no asset id" },
        { "language 1 strings", "level line 1: \"strings\" is no asset id" },
        { "language 1", "level line 1: language takes a slot" },
        { "language 1 0x5 0x6", "level line 1: language takes a slot" },
        { "language 1 0x5\nlanguage 1 0x6", "level line 2: language 1 is named twice" },
        { "entity a\nentity sign\nFrameAnimation.secondsPerFrame 0.1", "level line 2: the FrameAnimation of sign has no frames" },
        { "entity sign\nFrameAnimation.frameCount 4", "level line 1: the FrameAnimation of sign needs secondsPerFrame above 0" },
        { "entity sign\nFrameAnimation.frameCount 4\nFrameAnimation.secondsPerFrame -1", "needs secondsPerFrame above 0" },
        { "entity a\nRenderer disabled 1", "level line 2: values need a field" },
        { "entity a\nentity bolt\nLightningBolt.jitter 1", "level line 2: the LightningBolt of bolt needs at least 1 point, not 0" },
        { "entity bolt\nLightningBolt.pointCount -3", "needs at least 1 point, not -3" },
        { "entity a\nentity pad\nPushPad.pushSpeed 10", "level line 2: the PushPad of pad needs airSpeedDivisor above 0" },
        { "entity pad\nPushPad.airSpeedDivisor -1", "the PushPad of pad needs airSpeedDivisor above 0" },
        { "entity sign\nLanguageFilter.mode 2", "level line 1: the LanguageFilter of sign has mode 2" },
        { "entity sign\nLanguageFilter.mode 0xffffffff", "has mode 4294967295" },
        { "entity a\nentity rocket\nMissile.mode 2", "level line 2: the Missile of rocket has mode 2" },
        { "entity rocket\nMissile.mode -1", "the Missile of rocket has mode -1" },
        { "entity a\nentity bat\nFlyingEnemy.speed 2", "level line 2: the FlyingEnemy of bat needs pathLength above 0" },
        { "entity bat\nFlyingEnemy.pathLength -4", "the FlyingEnemy of bat needs pathLength above 0" },
        { "entity a\nentity rain\nParticleSettings.oneShot 1", "level line 2: the ParticleSettings of rain has 0 colour keys" },
        { "entity rain\nParticleSettings.colourKeyCount 9", "the ParticleSettings of rain has 9 colour keys; it holds 1 to 8" },
    };
    for (const Case& c : cases) {
        WorldDocument document;
        std::string error;
        EXPECT_FALSE(readLevelSource(c.source, "test", document, error)) << c.source;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.source << "\n  gave: " << error;
    }
}

TEST(LevelSource, FillsRecordsFromDefaultsNamesAndNumbers)
{
    const char* source = "world sample # the name\n"
                         "entity root\n"
                         "Transform.position 1 2\n"
                         "SoundEmitter.sound 0x8000000000000001\n"
                         "Race.value -1\n"
                         "prefab template parent root\n"
                         "Collider\n"
                         "entity child parent template\n"
                         "SnapboxCluster.boxes root child\n"
                         "entity loose\n";
    WorldDocument document;
    std::string error;
    ASSERT_TRUE(readLevelSource(source, "fallback", document, error)) << error;
    EXPECT_STREQ(document.model.name, "sample");
    ASSERT_EQ(document.model.typeCount(), harmonize::kComponentTypeCount);
    ASSERT_EQ(document.entities.size(), 4u);

    const harmonize::Transform root = read<harmonize::Transform>(document.entities[0]);
    EXPECT_EQ(root.position.x, 1.0f);
    EXPECT_EQ(root.position.y, 2.0f);
    EXPECT_EQ(root.position.z, 0.0f);
    EXPECT_EQ(root.rotation, math::Quaternion(0, 0, 0, 1));
    EXPECT_EQ(root.scale.y, 1.0f);
    const u64 sound = read<harmonize::SoundEmitter>(document.entities[0]).sound;
    EXPECT_EQ(sound, 0x8000000000000001ull);
    EXPECT_EQ(read<harmonize::Race>(document.entities[0]).value, -1);

    // Parents and handles name slots in declaration order, first generation.
    EXPECT_EQ(read<harmonize::Transform>(document.entities[1]).parent, entity::EntityHandle::make(0, 1));
    EXPECT_EQ(read<harmonize::Transform>(document.entities[2]).parent, entity::EntityHandle::make(1, 1));
    const harmonize::SnapboxCluster cluster = read<harmonize::SnapboxCluster>(document.entities[2]);
    EXPECT_EQ(cluster.boxes[0], entity::EntityHandle::make(0, 1));
    EXPECT_EQ(cluster.boxes[1], entity::EntityHandle::make(2, 1));
    EXPECT_EQ(cluster.boxes[2].value, 0u);

    // A prefab and everything below it start with nothing enabled.
    EXPECT_NE(document.entities[0].enabledMask[0] | document.entities[0].enabledMask[1], 0u);
    for (int dormant : { 1, 2 })
        EXPECT_EQ(document.entities[dormant].enabledMask[0] | document.entities[dormant].enabledMask[1], 0u);
    // An entity with no statements has no components.
    EXPECT_TRUE(document.entities[3].components.empty());
}

// The rules' records pass at the smallest values the game survives.
TEST(LevelSource, AcceptsTheSmallestValuesOfTheRulesRecords)
{
    WorldDocument document;
    std::string error;
    EXPECT_TRUE(readLevelSource("entity bolt\nLightningBolt.pointCount 1\nentity pad\nPushPad.airSpeedDivisor 0.001\n"
                                "entity sign\nLanguageFilter.mode 1\nentity other\nLanguageFilter.mode 0\n"
                                "entity rocket\nMissile.mode 1\nentity bat\nFlyingEnemy.pathLength 0.01\n"
                                "entity rain\nParticleSettings.colourKeyCount 1\nentity sparks\nParticleSettings.colourKeyCount 8\n",
        "rules", document, error))
        << error;
}

// A component named "disabled" is in the record and in the component list,
// with its enabled bit off; the entity's other components stay enabled.
TEST(LevelSource, ADisabledComponentStartsWithItsEnabledBitOff)
{
    WorldDocument document;
    std::string error;
    ASSERT_TRUE(readLevelSource("entity sign\nRenderer disabled\nShowOnStart\nRenderer.material 7\n", "flags", document,
        error))
        << error;
    ASSERT_EQ(document.entities.size(), 1u);
    const auto& entity = document.entities[0];
    const auto enabled = [&](u32 type) { return (entity.enabledMask[type / 64] >> (type % 64)) & 1; };
    EXPECT_EQ(enabled(harmonize::Renderer::kType), 0u);
    EXPECT_EQ(enabled(harmonize::ShowOnStart::kType), 1u);
    EXPECT_EQ(entity.components.size(), 2u);
}

// Labels and triggers name their texts by key; the texts and the catalogues
// that translate them travel in the world.
TEST(LevelSource, StoresTheLevelsTextsUnderTheKeysTheFieldsName)
{
    WorldDocument document;
    std::string error;
    ASSERT_TRUE(readLevelSource("entity sign\nTextLabel.textKey text:prompt.suit\n"
                                "text prompt.suit   Press [[controls.game.suit]]  \n"
                                "entity line\nSubtitleTrigger.text text:line.one\ntext line.one Hello\n"
                                "language 1 0x1234\nlanguage 8 77",
        "texts", document, error))
        << error;
    const u64 suitKey = strings::murmurHash64A("prompt.suit", 11, strings::kInternerSeed);
    EXPECT_EQ(read<harmonize::TextLabel>(document.entities[0]).textKey, suitKey);
    const i64 at = document.texts.find(suitKey);
    ASSERT_GE(at, 0);
    EXPECT_STREQ(document.texts.text(static_cast<u64>(at)), "Press [[controls.game.suit]]");
    const u64 lineKey = read<harmonize::SubtitleTrigger>(document.entities[1]).text;
    ASSERT_GE(document.texts.find(lineKey), 0);
    EXPECT_STREQ(document.texts.text(static_cast<u64>(document.texts.find(lineKey))), "Hello");
    const u64 expected[9] = { 0, 0x1234, 0, 0, 0, 0, 0, 0, 77 };
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(document.localizationAssetIds[i], expected[i]) << "slot " << i;
}

// Menu records name their buttons, pages and backdrop by entity; the rig's
// backdrop is a slot index, the rest are handles.
TEST(LevelSource, FillsMenuRecordsByFieldName)
{
    const char* source = "entity page\n"
                         "MenuPage.pageId 5\nMenuPage.worldIndex -1\nMenuPage.buttons play volume\n"
                         "entity play parent page\n"
                         "MenuButton.neighbourDown volume\nMenuButton.neighbourUp volume\n"
                         "MenuButton.selectedClip 0x1122334455667788\nMenuButton.targets play backdrop\n"
                         "MenuButton.transaction 1\nMenuButton.levelNumber -1\nMenuButton.verticalOnly 1\n"
                         "entity volume parent page\n"
                         "MenuButton.neighbourUp play\nMenuButton.hasValueArrows 1\nMenuButton.levelNumber 3\n"
                         "MenuOptionRow.optionType 6\n"
                         "MenuOption.action 4\nMenuOption.optionType 6\n"
                         "entity rig\n"
                         "MenuTransitionRig.background backdrop\nMenuTransitionRig.animated page rig\n"
                         "MenuTransitionRig.closingClip 9\n"
                         "entity backdrop\n";
    WorldDocument document;
    std::string error;
    ASSERT_TRUE(readLevelSource(source, "menu", document, error)) << error;
    ASSERT_EQ(document.entities.size(), 5u);
    const auto handle = [](u16 index) { return entity::EntityHandle::make(index, 1); };

    const harmonize::MenuPage page = read<harmonize::MenuPage>(document.entities[0]);
    EXPECT_EQ(page.pageId, 5);
    EXPECT_EQ(page.worldIndex, -1);
    EXPECT_EQ(page.buttons[0], handle(1));
    EXPECT_EQ(page.buttons[1], handle(2));
    EXPECT_EQ(page.buttons[2].value, 0u);

    const harmonize::MenuButton play = read<harmonize::MenuButton>(document.entities[1]);
    EXPECT_EQ(play.neighbourDown, handle(2));
    EXPECT_EQ(play.neighbourUp, handle(2));
    EXPECT_EQ(play.neighbourLeft.value, 0u);
    const u64 selectedClip = play.selectedClip;
    EXPECT_EQ(selectedClip, 0x1122334455667788ull);
    EXPECT_EQ(play.targets[0], handle(1));
    EXPECT_EQ(play.targets[1], handle(4));
    EXPECT_EQ(play.transaction, 1);
    EXPECT_EQ(play.levelNumber, -1);
    EXPECT_EQ(play.verticalOnly, 1);
    EXPECT_EQ(play.hasValueArrows, 0);

    const harmonize::MenuButton volume = read<harmonize::MenuButton>(document.entities[2]);
    EXPECT_EQ(volume.neighbourUp, handle(1));
    EXPECT_EQ(volume.hasValueArrows, 1);
    EXPECT_EQ(volume.levelNumber, 3);
    EXPECT_EQ(read<harmonize::MenuOptionRow>(document.entities[2]).optionType, 6);
    const harmonize::MenuOption option = read<harmonize::MenuOption>(document.entities[2]);
    EXPECT_EQ(option.action, 4);
    EXPECT_EQ(option.optionType, 6);

    const harmonize::MenuTransitionRig rig = read<harmonize::MenuTransitionRig>(document.entities[3]);
    EXPECT_EQ(rig.background, 4u);
    EXPECT_EQ(rig.unused2[0], 0u);
    EXPECT_EQ(rig.unused2[1], 0u);
    EXPECT_EQ(rig.animated[0], handle(0));
    EXPECT_EQ(rig.animated[1], handle(3));
    const u64 closingClip = rig.closingClip;
    EXPECT_EQ(closingClip, 9u);
}

TEST(LevelSource, ReadsCarriageReturnLineEnds)
{
    WorldDocument document;
    std::string error;
    ASSERT_TRUE(readLevelSource("entity a\r\nRace.value 2\r\nentity b parent a\r\n", "crlf", document, error)) << error;
    ASSERT_EQ(document.entities.size(), 2u);
    EXPECT_EQ(read<harmonize::Race>(document.entities[0]).value, 2);
    EXPECT_EQ(read<harmonize::Transform>(document.entities[1]).parent, entity::EntityHandle::make(0, 1));
}

} // namespace
