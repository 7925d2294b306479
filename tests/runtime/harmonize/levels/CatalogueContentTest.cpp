#include "CatalogueContent.h"

#include "quern/containers/Array.h"
#include "quern/strings/ImportMO.h"
#include "quern/strings/StringInterner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

using namespace quern;
using namespace quern::assetbuild;

namespace {

std::vector<u8> bytesOf(const std::string& text) { return std::vector<u8>(text.begin(), text.end()); }

ManifestAsset catalogue(const char* name)
{
    ManifestAsset asset;
    asset.name = name;
    asset.type = "catalogue";
    asset.line = 7;
    return asset;
}

const char* kHeader = "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n\n";

// The compiled catalogue pairs each key with its translation, as the levels
// look their texts up.
TEST(CatalogueContent, CompilesAPoSourceIntoACatalogueTheEngineImports)
{
    std::vector<u8> bytes = bytesOf(std::string(kHeader)
        + "msgid \"prompt.suit\"\nmsgstr \"Appuie sur [[controls.game.suit]]\"\n\n"
          "msgid \"line.one\"\nmsgstr \"Bonjour, \xc3\xa9t\xc3\xa9\"\n");
    std::string error;
    ASSERT_TRUE(convertCatalogueContent(catalogue("strings/demo.fr.po"), bytes, error)) << error;

    strings::StringInterner interner;
    containers::Array keys(sizeof(strings::TranslationKeys), alignof(strings::TranslationKeys));
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    ASSERT_TRUE(strings::importMO(in, interner, keys));
    const auto translationOf = [&](const char* source) -> std::string {
        const u64 key = strings::murmurHash64A(source, std::strlen(source), interner.seed());
        for (u64 i = 0; i < keys.count(); ++i)
            if (keys.at<strings::TranslationKeys>(i).source == key)
                return interner.text(static_cast<u64>(interner.find(keys.at<strings::TranslationKeys>(i).translation)));
        return "<none>";
    };
    EXPECT_EQ(translationOf("prompt.suit"), "Appuie sur [[controls.game.suit]]");
    EXPECT_EQ(translationOf("line.one"), "Bonjour, \xc3\xa9t\xc3\xa9");
}

TEST(CatalogueContent, RefusesASourceMsgfmtRefuses)
{
    struct Case {
        const char* source;
    };
    const Case cases[] = {
        { "msgid \"a\"\n" }, // no msgstr
        { "msgid \"a\"\nmsgstr \"A\"\nmsgid \"a\"\nmsgstr \"B\"\n" }, // the key twice
        { "msgid \"a\nmsgstr \"A\"\n" }, // an unterminated string
        { "#, c-format\nmsgid \"%d of %d\"\nmsgstr \"%s\"\n" }, // a format the translation breaks
    };
    for (const Case& c : cases) {
        std::vector<u8> bytes = bytesOf(std::string(kHeader) + c.source);
        std::string error;
        EXPECT_FALSE(convertCatalogueContent(catalogue("strings/bad.po"), bytes, error)) << c.source;
        EXPECT_NE(error.find("line 7: catalogue strings/bad.po is not a catalogue msgfmt compiles"), std::string::npos)
            << error;
    }
}

// A catalogue msgfmt compiled already is stored as it is, once the importer
// takes it whole: a cut one would stop the game at the level that names it.
TEST(CatalogueContent, StoresACompiledCatalogueAsItIsUnlessTheEngineCouldNotReadItWhole)
{
    std::vector<u8> compiled = bytesOf(std::string(kHeader) + "msgid \"a\"\nmsgstr \"b\"\n");
    std::string error;
    ASSERT_TRUE(convertCatalogueContent(catalogue("strings/a.po"), compiled, error)) << error;
    std::vector<u8> stored = compiled;
    ASSERT_TRUE(convertCatalogueContent(catalogue("strings/a.mo"), stored, error)) << error;
    EXPECT_EQ(stored, compiled);

    for (const u64 cut : { u64 { 3 }, u64 { 27 }, u64 { 40 }, compiled.size() - 2 }) {
        std::vector<u8> bytes(compiled.begin(), compiled.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_FALSE(convertCatalogueContent(catalogue("strings/a.mo"), bytes, error)) << cut;
    }
    std::vector<u8> revised = compiled;
    revised[4] = 1; // a revision the importer does not read
    EXPECT_FALSE(convertCatalogueContent(catalogue("strings/a.mo"), revised, error));
    EXPECT_EQ(error, "line 7: catalogue strings/a.mo is a compiled catalogue the engine cannot import");
}

TEST(CatalogueContent, LeavesAssetsOfOtherTypesAsTheyAre)
{
    ManifestAsset asset = catalogue("textures/a.ppm");
    asset.type = "texture";
    std::vector<u8> bytes = bytesOf("not a catalogue");
    std::string error;
    EXPECT_TRUE(convertCatalogueContent(asset, bytes, error));
    EXPECT_EQ(bytes, bytesOf("not a catalogue"));
}

} // namespace
