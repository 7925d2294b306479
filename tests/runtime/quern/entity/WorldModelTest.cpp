#include "WorldFileTestSupport.h"

#include "quern/entity/World.h"
#include "quern/entity/WorldFile.h"
#include "quern/entity/WorldModel.h"
#include "quern/serialize/PODUtility.h"

#include <gtest/gtest.h>

using namespace quern;
using namespace quern::entity;
using namespace quern::entity::testing;
using serialize::PODComponent;
using serialize::PODKind;

namespace {

struct LayoutCase {
    const char* what;
    std::vector<AttributeSpec> attributes;
    u16 size;
    std::vector<PODComponent> fields;
};

bool sameField(const PODComponent& a, const PODComponent& b)
{
    return a.count == b.count && a.kind == b.kind && a.bits == b.bits;
}

std::string describe(const serialize::PODTypeDescriptor& descriptor)
{
    std::ostringstream text;
    for (u16 i = 0; i < descriptor.componentCount; ++i) {
        const PODComponent& f = descriptor.components[i];
        text << '{' << f.count << ',' << static_cast<int>(f.kind) << ',' << static_cast<int>(f.bits) << '}';
    }
    return text.str();
}

} // namespace

TEST(WorldModel, ComponentLayoutsPadBytesAndAlignEverythingElseToFour)
{
    const LayoutCase cases[] = {
        { "byte then u32", { { AttributeType::UInt8, 1 }, { AttributeType::UInt32, 1 } }, 8,
            { { 1, PODKind::Unsigned, 8 }, { 1, PODKind::Skip, 24 }, { 1, PODKind::Unsigned, 32 } } },
        { "u64 then byte: 64-bit values align to 4", { { AttributeType::UInt64, 1 }, { AttributeType::UInt8, 1 } }, 12,
            { { 1, PODKind::Unsigned, 64 }, { 1, PODKind::Unsigned, 8 }, { 1, PODKind::Skip, 24 } } },
        { "float triple", { { AttributeType::Float32, 3 } }, 12, { { 3, PODKind::Float, 32 } } },
        { "no attributes", {}, 1, { { 1, PODKind::Skip, 8 } } },
        { "bytes only need no padding", { { AttributeType::UInt8, 3 } }, 3, { { 3, PODKind::Unsigned, 8 } } },
        { "byte, i32 pair, byte",
            { { AttributeType::UInt8, 1 }, { AttributeType::Int32, 2 }, { AttributeType::UInt8, 1 } }, 16,
            { { 1, PODKind::Unsigned, 8 }, { 1, PODKind::Skip, 24 }, { 2, PODKind::Signed, 32 },
                { 1, PODKind::Unsigned, 8 }, { 1, PODKind::Skip, 24 } } },
        { "id after two bytes", { { AttributeType::UInt8, 2 }, { AttributeType::Id64, 1 } }, 12,
            { { 2, PODKind::Unsigned, 8 }, { 1, PODKind::Skip, 16 }, { 1, PODKind::Unsigned, 64 } } },
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.what);
        assetbuild::WorldDocument document;
        addType(document, "T", c.attributes);
        u16 size = 0;
        computeComponentSizes(document.model, &size);
        EXPECT_EQ(size, c.size);
        ComponentDescriptor descriptor;
        buildComponentDescriptor(document.model.type(0), descriptor);
        EXPECT_EQ(descriptor.descriptor.byteSize(), c.attributes.empty() ? 1u : c.size);
        ASSERT_EQ(descriptor.descriptor.componentCount, c.fields.size()) << describe(descriptor.descriptor);
        for (u16 i = 0; i < descriptor.descriptor.componentCount; ++i)
            EXPECT_TRUE(sameField(descriptor.descriptor.components[i], c.fields[i])) << describe(descriptor.descriptor);
    }
}

TEST(WorldModel, AttributeOfUnknownTypeCountsNothingInTheSize)
{
    assetbuild::WorldDocument document;
    addType(document, "T", { { static_cast<AttributeType>(9), 4 }, { AttributeType::UInt8, 1 } });
    u16 size = 0;
    computeComponentSizes(document.model, &size);
    EXPECT_EQ(size, 1);
}

TEST(WorldModelDeathTest, DecodingAnAttributeOfUnknownTypeIsFatal)
{
    assetbuild::WorldDocument document;
    addType(document, "T", { { static_cast<AttributeType>(6), 1 } });
    ComponentDescriptor descriptor;
    EXPECT_DEATH(buildComponentDescriptor(document.model.type(0), descriptor),
        "Invalid enum value for type ComponentAttribute::Type");
}

TEST(WorldModel, ReaderKeepsNamesTextsAndFlags)
{
    assetbuild::WorldDocument document;
    document.model.setName("Cavern");
    ComponentTypeDescription& type = document.model.addType("Door", "gameplay", "Opens on a trigger", 2);
    document.model.setAttribute(type, 0, AttributeType::UInt32, 1, true, false, "target");
    document.model.setAttribute(type, 1, AttributeType::Float32, 2, false, true, "speed");
    for (bool text : { false, true }) {
        SCOPED_TRACE(text ? "text" : "binary");
        const std::string file = writeDocument(document, text);
        StringSource source(file.data(), file.size());
        serialize::PODToken& token = serialize::selectPODToken(source);
        serialize::expectChunk(source, token, 0);
        WorldModel model;
        readWorldModel(source, token, model);
        EXPECT_STREQ(model.name, "Cavern");
        ASSERT_EQ(model.typeCount(), 1u);
        const ComponentTypeDescription& read = model.type(0);
        EXPECT_STREQ(read.name, "Door");
        EXPECT_STREQ(read.texts[0], "gameplay");
        EXPECT_STREQ(read.texts[1], "Opens on a trigger");
        EXPECT_EQ(read.byteIndex, ComponentTypeDescription::kNoIndex);
        ASSERT_EQ(read.attributeCount, 2u);
        EXPECT_STREQ(read.attributes[0].name, "target");
        EXPECT_EQ(read.attributes[0].type, AttributeType::UInt32);
        EXPECT_TRUE(read.attributes[0].flags[0]);
        EXPECT_FALSE(read.attributes[0].flags[1]);
        EXPECT_EQ(read.attributes[1].elementCount, 2u);
        EXPECT_TRUE(read.attributes[1].flags[1]);
        EXPECT_EQ(model.typeLookup.count(), 0u);
    }
}

TEST(WorldModelDeathTest, ModelsTheWorldCannotHoldAreRefusedNamingTheFile)
{
    struct Case {
        const char* what;
        std::vector<std::vector<std::pair<u8, u32>>> types;
        u32 declared;
        const char* message;
    };
    const Case cases[] = {
        { "129 types", {}, 129, "World file cave.world has 129 component types; at most 128" },
        { "element count beyond 16 bits", { { { 2, 65536 } } }, 1,
            "World file cave.world: attribute value of component Type has 65536 elements" },
        { "component beyond 16 bits of bytes", { { { 3, 8192 } } }, 1,
            "World file cave.world: component Type is 65536 bytes" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawWorldWriter raw;
        raw.model(c.types, c.declared);
        raw.u32Value(0);
        const std::string file = raw.finish();
        EXPECT_DEATH(
            {
                StringSource source(file.data(), file.size());
                serialize::BinaryPODToken token;
                World world;
                loadWorld(source, token, world, 0, nullptr, "cave.world");
            },
            c.message);
    }
}
