#include "quern/strings/ImportMO.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

using quern::u64;
using quern::containers::Array;
using quern::strings::StringInterner;
using quern::strings::TranslationKeys;

namespace {

// Catalogues are made for each test by msgfmt from .po text the test writes.
std::string compileCatalogue(const std::string& name, const std::string& po, const std::string& options = "")
{
    const std::string base = std::string(QUERN_TEST_BINARY_DIR) + "/" + name;
    std::ofstream(base + ".po") << po;
    const std::string command = "msgfmt " + options + " -o '" + base + ".mo' '" + base + ".po'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream file(base + ".mo", std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

const char* const kHeaderEntry = "msgid \"\"\n"
                                 "msgstr \"\"\n"
                                 "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
                                 "\"Language: de\\n\"\n\n";

const char* const kMessages = "msgid \"Hello\"\nmsgstr \"Hallo\"\n\n"
                              "msgid \"Options\"\nmsgstr \"Einstellungen\"\n\n"
                              "msgid \"Quit\"\nmsgstr \"Beenden\"\n\n"
                              "msgid \"Caf\\303\\251\"\nmsgstr \"Kaff\\303\\251e\"\n\n";

u64 keyOf(const std::string& text)
{
    return quern::strings::murmurHash64A(text.data(), text.size(), quern::strings::kInternerSeed);
}

// The translation of `source` through the key table and interner, or null.
const char* translate(const StringInterner& interner, const Array& keys, const std::string& source)
{
    for (u64 i = 0; i < keys.count(); ++i) {
        const TranslationKeys& pair = keys.at<TranslationKeys>(i);
        if (pair.source == keyOf(source)) {
            const quern::i64 index = interner.find(pair.translation);
            return index < 0 ? nullptr : interner.text(static_cast<u64>(index));
        }
    }
    return nullptr;
}

} // namespace

TEST(ImportMO, ImportsEveryMessageOfARealCatalogue)
{
    // With and without the hash table that msgfmt writes by default.
    for (const char* options : {"", "--no-hash"}) {
        SCOPED_TRACE(options);
        std::istringstream input(compileCatalogue("messages", std::string(kHeaderEntry) + kMessages, options));
        StringInterner interner;
        Array keys(sizeof(TranslationKeys), 8);
        ASSERT_TRUE(quern::strings::importMO(input, interner, keys));
        EXPECT_EQ(keys.count(), 5u); // the header entry and four messages
        EXPECT_STREQ(translate(interner, keys, "Hello"), "Hallo");
        EXPECT_STREQ(translate(interner, keys, "Options"), "Einstellungen");
        EXPECT_STREQ(translate(interner, keys, "Quit"), "Beenden");
        EXPECT_STREQ(translate(interner, keys, "Caf\xC3\xA9"), "Kaff\xC3\xA9" "e");
        const char* header = translate(interner, keys, "");
        ASSERT_NE(header, nullptr);
        EXPECT_NE(std::string(header).find("Language: de"), std::string::npos);
    }
}

TEST(ImportMO, EmptyHeaderTextKeepsTheStreamInStep)
{
    // Every real catalogue starts with the empty source text of its header
    // entry; its zero byte must be skipped like any other.
    const std::string po = std::string(kHeaderEntry) + "msgid \"A\"\nmsgstr \"1\"\n\nmsgid \"B\"\nmsgstr \"2\"\n\n";
    std::string mo = compileCatalogue("short", po);
    std::istringstream input(mo);
    StringInterner interner;
    Array keys(sizeof(TranslationKeys), 8);
    ASSERT_TRUE(quern::strings::importMO(input, interner, keys));
    ASSERT_EQ(keys.count(), 3u);
    // The empty source text comes first; what follows must still read correctly.
    EXPECT_EQ(keys.at<TranslationKeys>(0).source, keyOf(""));
    EXPECT_STREQ(translate(interner, keys, "A"), "1");
    EXPECT_STREQ(translate(interner, keys, "B"), "2");
}

TEST(ImportMO, LongTextsAreCutAndTheRestSkipped)
{
    const std::string longText(9000, 'x');
    const std::string po = std::string(kHeaderEntry) + "msgid \"Long\"\nmsgstr \"" + longText +
                           "\"\n\nmsgid \"Short\"\nmsgstr \"Kurz\"\n\n";
    std::istringstream input(compileCatalogue("long", po));
    StringInterner interner;
    Array keys(sizeof(TranslationKeys), 8);
    ASSERT_TRUE(quern::strings::importMO(input, interner, keys));
    EXPECT_EQ(std::string(translate(interner, keys, "Long")), std::string(8191, 'x'));
    EXPECT_STREQ(translate(interner, keys, "Short"), "Kurz");
}

TEST(ImportMO, AppendsToTheKeyTable)
{
    const std::string mo = compileCatalogue("append", std::string(kHeaderEntry) + kMessages);
    StringInterner interner;
    Array keys(sizeof(TranslationKeys), 8);
    keys.append(TranslationKeys{1, 2});
    std::istringstream input(mo);
    ASSERT_TRUE(quern::strings::importMO(input, interner, keys));
    ASSERT_EQ(keys.count(), 6u);
    EXPECT_EQ(keys.at<TranslationKeys>(0).translation, 2u);
    EXPECT_STREQ(translate(interner, keys, "Quit"), "Beenden");
}

TEST(ImportMO, RefusesWhatIsNotACatalogue)
{
    std::string mo = compileCatalogue("refused", std::string(kHeaderEntry) + kMessages);
    struct Case {
        const char* what;
        size_t offset;
        std::string bytes;
    };
    const Case cases[] = {
        {"other byte order", 0, std::string("\x95\x04\x12\xde", 4)},
        {"revision 1", 4, std::string("\x01\x00\x00\x00", 4)},
        {"no magic", 0, std::string("PO\0\0", 4)},
    };
    for (const Case& c : cases) {
        std::string bad = mo;
        bad.replace(c.offset, c.bytes.size(), c.bytes);
        std::istringstream input(bad);
        StringInterner interner;
        Array keys(sizeof(TranslationKeys), 8);
        EXPECT_FALSE(quern::strings::importMO(input, interner, keys)) << c.what;
        EXPECT_EQ(keys.count(), 0u);
    }
}

TEST(ImportMODeathTest, TruncatedCatalogueIsAReadError)
{
    const std::string mo = compileCatalogue("truncated", std::string(kHeaderEntry) + kMessages);
    for (size_t size : {size_t{10}, size_t{40}, mo.size() - 20}) {
        std::istringstream input(mo.substr(0, size));
        StringInterner interner;
        Array keys(sizeof(TranslationKeys), 8);
        EXPECT_DEATH(quern::strings::importMO(input, interner, keys), "Read error") << "cut at " << size;
    }
}

TEST(ImportMODeathTest, HugeCountsMeetTheEndOfTheStream)
{
    // A string count of four billion in a 28-byte stream must end as a read
    // error, not as an attempt to allocate tables of that size.
    std::string header("\xde\x12\x04\x95\0\0\0\0\xff\xff\xff\xff\x1c\0\0\0\x1c\0\0\0\0\0\0\0\0\0\0\0", 28);
    std::istringstream input(header);
    StringInterner interner;
    Array keys(sizeof(TranslationKeys), 8);
    EXPECT_DEATH(quern::strings::importMO(input, interner, keys), "Read error");
}

TEST(ImportMODeathTest, KeyTableNeedsSixteenByteElements)
{
    std::istringstream input("");
    StringInterner interner;
    Array keys(8, 8);
    EXPECT_DEATH(quern::strings::importMO(input, interner, keys), "Translation key table needs 16-byte elements");
}
