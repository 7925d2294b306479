#include "quern/strings/StringRef.h"
#include "quern/strings/Utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using quern::u16;
using quern::u32;
using quern::u64;
using quern::strings::StringRef;

namespace {

std::vector<u16> toUtf16(const std::string& bytes, u64 outBytes = 256)
{
    std::vector<u16> out(outBytes / 2 + 1, 0x7777);
    const u64 written = StringRef(bytes.data(), bytes.size()).toUtf16(out.data(), outBytes);
    EXPECT_EQ(out[written], 0u) << "the output is terminated";
    out.resize(written);
    return out;
}

std::string toUtf8(const std::vector<u16>& units, u64 outBytes = 256)
{
    std::vector<u16> text = units;
    text.push_back(0);
    std::string out(outBytes, '#');
    const u64 written = quern::strings::utf16ToUtf8(text.data(), out.data(), outBytes);
    if (outBytes != 0) {
        EXPECT_EQ(out[written], '\0') << "the output is terminated";
    }
    out.resize(written);
    return out;
}

constexpr u16 R = 0xFFFD;

} // namespace

TEST(Utf8, ToUtf16ConvertsAndReplacesMalformedSequences)
{
    struct Case {
        std::string bytes;
        std::vector<u16> units;
    };
    const Case cases[] = {
        {"abc", {'a', 'b', 'c'}},
        {"\xC3\xA9", {0xE9}},
        {"\xE2\x82\xAC", {0x20AC}},
        {"\xEF\xBF\xBC", {0xFFFC}},
        {"\xC0\x80", {R, R}},              // overlong lead, then a stray continuation
        {"\xC1\xBF", {R, R}},
        {"\xF0\x9F\x98\x80", {R}},         // above the Basic Multilingual Plane
        {"a\x80" "b", {'a', R, 'b'}},
        {"\xE2\x41\x42", {R, 'A', 'B'}},   // a non-continuation ends the character and starts the next
        {"\xE2\x82\x41", {R, 'A'}},
        {"\xED\xA0\x80", {R}},             // surrogate
        {"\xEF\xBF\xBE", {R}},             // U+FFFE
        {"\xEF\xBF\xBF", {R}},             // U+FFFF
        {"\xE0\x80\x80", {R}},             // overlong three-byte form
        {"\xE0\x9F\xBF", {R}},
        {"\xF4\x90\x80\x80", {R}},         // above U+10FFFF
        {"\xF8\x88\x80\x80\x80", {R}},     // five-byte form
        {"\xFC\x84\x80\x80\x80\x80", {R}}, // six-byte form
        {"\xFE" "a\xFF", {R, 'a', R}},
        {"ab\xE2\x82", {'a', 'b'}},        // cut off by the end of the view: conversion stops
        {std::string("ab\0cd", 5), {'a', 'b'}},
        {"", {}},
    };
    for (const Case& c : cases) {
        std::string hex;
        for (unsigned char b : c.bytes)
            hex += " " + std::to_string(b);
        EXPECT_EQ(toUtf16(c.bytes), c.units) << "bytes" << hex;
    }
}

TEST(Utf8, ToUtf16StopsWhenTheOutputIsFull)
{
    EXPECT_EQ(toUtf16("abcdef", 8), (std::vector<u16>{'a', 'b', 'c'}));
    EXPECT_EQ(toUtf16("abcdef", 9), (std::vector<u16>{'a', 'b', 'c'})); // an odd byte is no unit
    EXPECT_EQ(toUtf16("abcdef", 2), (std::vector<u16>{}));

    u16 untouched = 0x7777;
    EXPECT_EQ(StringRef("abc").toUtf16(&untouched, 1), 0u);
    EXPECT_EQ(untouched, 0x7777u); // no room even for the terminator
}

TEST(Utf8, Utf16ToUtf8EncodesAndReplacesUnpairedSurrogates)
{
    struct Case {
        std::vector<u16> units;
        std::string bytes;
    };
    const Case cases[] = {
        {{'h', 'i'}, "hi"},
        {{0xE9}, "\xC3\xA9"},
        {{0x7FF, 0x800}, "\xDF\xBF\xE0\xA0\x80"},
        {{0x20AC}, "\xE2\x82\xAC"},
        {{0xD800}, "\xEF\xBF\xBD"},
        {{0xD83D, 0xDE00}, "\xEF\xBF\xBD\xEF\xBF\xBD"}, // halves are taken one by one
        {{0xFFFF}, "\xEF\xBF\xBD"},
        {{}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(toUtf8(c.units), c.bytes);
}

TEST(Utf8, Utf16ToUtf8WritesOnlyWholeCharacters)
{
    EXPECT_EQ(toUtf8({'a', 0x20AC}, 5), "a\xE2\x82\xAC");
    EXPECT_EQ(toUtf8({'a', 0x20AC}, 4), "a");
    EXPECT_EQ(toUtf8({0x20AC}, 3), "");
    EXPECT_EQ(toUtf8({'a'}, 1), "");
    const u16 text[] = {'a', 0};
    char untouched = '#';
    EXPECT_EQ(quern::strings::utf16ToUtf8(text, &untouched, 0), 0u);
    EXPECT_EQ(untouched, '#');
}

TEST(Utf8, BasicMultilingualPlaneRoundTrips)
{
    std::vector<u16> all;
    for (u32 c = 1; c < 0xFFFE; ++c)
        if (c < 0xD800 || c > 0xDFFF)
            all.push_back(static_cast<u16>(c));
    const std::string utf8 = toUtf8(all, all.size() * 3 + 1);
    EXPECT_EQ(toUtf16(utf8, all.size() * 2 + 2), all);
}

TEST(Utf8, DecodingAutomatonCompletesCodePoints)
{
    struct Case {
        std::string bytes;
        u32 codePoint; // when the last byte leaves the accept state
        bool rejected;
    };
    const Case cases[] = {
        {"A", 'A', false},
        {"\xC3\xA9", 0xE9, false},
        {"\xE2\x82\xAC", 0x20AC, false},
        {"\xF0\x9F\x98\x80", 0x1F600, false},
        {"\xC0", 0, true},
        {"\xED\xA0", 0, true}, // a surrogate is refused at its second byte
        {"\x80", 0, true},
    };
    for (const Case& c : cases) {
        quern::u32 state = quern::strings::kUtf8Accept, codePoint = 0;
        for (unsigned char b : c.bytes)
            quern::strings::utf8DecodeStep(state, codePoint, b);
        if (c.rejected) {
            EXPECT_EQ(state, quern::strings::kUtf8Reject);
        } else {
            EXPECT_EQ(state, quern::strings::kUtf8Accept);
            EXPECT_EQ(codePoint, c.codePoint);
        }
    }
}
