#include "WorldFileTestSupport.h"

#include "ContentBuilder.h"

#include "quern/assets/FileSystemDepot.h"
#include "quern/entity/World.h"
#include "quern/entity/WorldFile.h"
#include "quern/entity/WorldLocalization.h"
#include "quern/serialize/PODUtility.h"
#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace quern;
using namespace quern::entity;
using namespace quern::entity::testing;

namespace {

namespace fs = std::filesystem;

u64 textKey(const char* text) { return strings::murmurHash64A(text, std::strlen(text), strings::kInternerSeed); }
u64 assetId(const char* name) { return strings::murmurHash64A(name, std::strlen(name), 0); }

const char* const kPoHeader = "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n\n";

// A level whose slot 0 names a German catalogue, slot 3 a French one and
// slot 5 a file that is no catalogue; the catalogues are made by msgfmt and
// served by a file-system depot built with the content tool.
class LocalizedLevel : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fs::path(QUERN_TEST_BINARY_DIR)
            / ("localized-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root);
        fs::create_directories(root / "source/l10n");
        catalogue("de",
            "msgid \"Hello\"\nmsgstr \"Hallo\"\n\nmsgid \"Open the door\"\nmsgstr \"Tür öffnen\"\n\n"
            "msgid \"Zebra\"\nmsgstr \"Zebra (de)\"\n\nmsgid \"Apple\"\nmsgstr \"Apfel\"\n");
        catalogue("fr", "msgid \"Hello\"\nmsgstr \"Bonjour\"\n");
        std::ofstream(root / "source/l10n/broken.mo") << std::string(64, 'x'); // long enough for a header, wrong magic
        // The content tool refuses a catalogue the engine cannot import; the
        // broken one goes in as plain bytes, for the engine's own check.
        std::ofstream(root / "manifest.txt")
            << "l10n/de.mo catalogue\nl10n/fr.mo catalogue\nl10n/broken.mo rawbytes\n";
        assetbuild::BuildOptions options;
        options.manifestPath = (root / "manifest.txt").string();
        options.sourceDirectory = (root / "source").string();
        options.outDirectory = (root / "out").string();
        options.depotKind = "files";
        std::string error;
        ASSERT_TRUE(assetbuild::buildContent(options, error)) << error;
        depot = std::make_unique<assets::FileSystemDepot>((root / "out").string().c_str());
    }

    void catalogue(const std::string& language, const std::string& messages)
    {
        const fs::path po = root / (language + ".po");
        std::ofstream(po) << kPoHeader << messages;
        const std::string command
            = "msgfmt -o '" + (root / "source/l10n" / (language + ".mo")).string() + "' '" + po.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    // Loads a level with the texts "Hello" and "Open the door" and the given catalogue slots.
    void loadLevel(World& world, std::initializer_list<std::pair<u32, const char*>> slots)
    {
        assetbuild::WorldDocument document;
        addType(document, "Tag", {});
        for (const char* text : { "Hello", "Open the door" })
            document.texts.intern(text, std::strlen(text), textKey(text));
        for (const auto& [slot, name] : slots)
            document.localizationAssetIds[slot] = assetId(name);
        const std::string file = writeDocument(document, false);
        StringSource source(file.data(), file.size());
        loadWorld(source, serialize::selectPODToken(source), world, 0, nullptr, "localized");
    }

    fs::path root;
    std::unique_ptr<assets::FileSystemDepot> depot;
};

} // namespace

TEST_F(LocalizedLevel, TextsComeInTheLanguageOfEachSlot)
{
    World world;
    loadLevel(world, { { 0, "l10n/de.mo" }, { 3, "l10n/fr.mo" } });
    loadLocalization(world, *depot);

    struct Case {
        const char* key;
        i32 language;
        const char* text;
        bool found;
    };
    const Case cases[] = {
        { "Hello", 0, "Hallo", true },
        { "Hello", 3, "Bonjour", true },
        { "Open the door", 0, "Tür öffnen", true },
        { "Open the door", 3, "Open the door", false }, // no French text: the key's own text
        { "Hello", -1, "Hello", false }, // untranslated
        { "Hello", 1, "Hello", false }, // a slot without a catalogue
        { "Nowhere", 0, nullptr, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " in " + std::to_string(c.language));
        bool found = !c.found;
        const char* text = getLocalizedText(world, textKey(c.key), c.language, &found);
        if (c.text)
            EXPECT_STREQ(text, c.text);
        else
            EXPECT_EQ(text, nullptr);
        EXPECT_EQ(found, c.found);
        EXPECT_EQ(getLocalizedText(world, textKey(c.key), c.language, nullptr), text);
    }
    EXPECT_EQ(translateKey(world, textKey("Hello"), 0), textKey("Hallo"));
    EXPECT_EQ(translateKey(world, textKey("Open the door"), 3), 0u);
    EXPECT_EQ(translateKey(world, textKey("Hello"), -1), 0u);
}

TEST_F(LocalizedLevel, TablesAreSortedByKeyAndEmptyForSlotsWithoutCatalogue)
{
    World world;
    loadLevel(world, { { 0, "l10n/de.mo" } });
    loadLocalization(world, *depot);
    const containers::Array& german = world.languageTables[0];
    EXPECT_EQ(german.count(), 5u); // the header entry and four messages
    for (u64 i = 1; i < german.count(); ++i)
        EXPECT_LT(german.at<LanguageEntry>(i - 1).key, german.at<LanguageEntry>(i).key);
    for (u32 slot = 1; slot < World::kLanguageCount; ++slot)
        EXPECT_EQ(world.languageTables[slot].count(), 0u) << "slot " << slot;

    // Loading again replaces the table instead of adding a second copy.
    loadLocalization(world, *depot);
    EXPECT_EQ(german.count(), 5u);
    EXPECT_STREQ(getLocalizedText(world, textKey("Apple"), 0, nullptr), "Apfel");
}

TEST_F(LocalizedLevel, CatalogueThatCannotBeImportedIsFatal)
{
    EXPECT_DEATH(
        {
            World world;
            loadLevel(world, { { 5, "l10n/broken.mo" } });
            loadLocalization(world, *depot);
        },
        "Failed to load localization asset");
}

TEST(WorldLocalizationDeathTest, LanguageIndexOutsideTheSlotsIsFatal)
{
    World world;
    for (i32 language : { 9, -2, 1000 }) {
        SCOPED_TRACE(language);
        EXPECT_DEATH(getLocalizedText(world, 1, language, nullptr),
            "getLocalizedText: invalid language index " + std::to_string(language));
        EXPECT_DEATH(
            translateKey(world, 1, language), "translateKey: invalid language index " + std::to_string(language));
    }
}
