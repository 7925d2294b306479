#pragma once
// Level files for the world-file tests: worlds built in code through the
// content tool's document, and raw binary files for the damaged cases the
// tool refuses to write.

#include "WorldWriter.h"

#include "quern/io/StringSink.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/StringInterner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace quern::entity::testing {

using AttributeType = ComponentAttribute::Type;

struct AttributeSpec {
    AttributeType type;
    u32 count;
};

inline void addType(assetbuild::WorldDocument& document, const char* name, std::vector<AttributeSpec> attributes)
{
    ComponentTypeDescription& type = document.model.addType(name, "", "", static_cast<u32>(attributes.size()));
    for (u32 a = 0; a < attributes.size(); ++a)
        document.model.setAttribute(type, a, attributes[a].type, attributes[a].count, false, false, "value");
}

template <class T> void put(std::vector<u8>& bytes, u64 offset, T value)
{
    if (bytes.size() < offset + sizeof value)
        bytes.resize(offset + sizeof value, 0);
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

inline std::string writeDocument(const assetbuild::WorldDocument& document, bool text)
{
    serialize::BinaryPODToken binary;
    serialize::TextPODToken textToken;
    std::ostringstream out;
    std::string error;
    const bool written = assetbuild::writeWorldFile(
        out, text ? static_cast<serialize::PODToken&>(textToken) : binary, document, error);
    EXPECT_TRUE(written) << error;
    return out.str();
}

// Writes binary world files item by item, with whatever counts and indices
// the test asks for.
class RawWorldWriter {
public:
    RawWorldWriter() { m_outer = m_token.beginWriteChunk(m_sink, 0); }

    // The model header; `declaredTypes` is the count written, which may differ
    // from the types that follow.
    void model(const std::vector<std::vector<std::pair<u8, u32>>>& types, u32 declaredTypes)
    {
        const u32 start = m_token.beginWriteChunk(m_sink, kWorldModelChunkId);
        m_token.writeString(m_sink, "Raw", nullptr);
        u32Value(declaredTypes);
        for (const auto& attributes : types) {
            m_token.writeString(m_sink, "Type", nullptr);
            m_token.writeString(m_sink, "", nullptr);
            m_token.writeString(m_sink, "", nullptr);
            byteValue(static_cast<u8>(attributes.size()));
            for (const auto& [type, count] : attributes) {
                m_token.writeString(m_sink, "value", nullptr);
                byteValue(type);
                u32Value(count);
                byteValue(0);
                byteValue(0);
            }
        }
        m_token.endWriteChunk(m_sink, start);
    }
    void u32Value(u32 value) { m_token.writePOD(m_sink, &value, 1, &serialize::kU32Descriptor, nullptr); }
    void byteValue(u8 value)
    {
        m_token.writePOD(m_sink, &value, 1, &serialize::kU8Descriptor, nullptr);
    }
    void bytes(const std::vector<u8>& data) { m_sink.write(data.data(), data.size()); }
    // An entity chunk whose components are (type, raw value bytes).
    void entity(const char* name, const std::vector<std::pair<u8, std::vector<u8>>>& components)
    {
        const u32 start = m_token.beginWriteChunk(m_sink, kEntityChunkId);
        m_token.writeString(m_sink, name, nullptr);
        const u64 mask[2] = { 0, 0 };
        m_token.writePOD(m_sink, mask, 2, &serialize::kU64Descriptor, nullptr);
        u32Value(static_cast<u32>(components.size()));
        for (const auto& [type, value] : components) {
            byteValue(type);
            bytes(value);
        }
        m_token.endWriteChunk(m_sink, start);
    }
    std::string finish()
    {
        strings::StringInterner texts;
        serialize::writeStringInterner(m_sink, m_token, texts);
        const u64 ids[9] = {};
        m_token.writePOD(m_sink, ids, 9, &serialize::kU64Descriptor, nullptr);
        m_token.endWriteChunk(m_sink, m_outer);
        return m_sink.text;
    }

private:
    StringSink m_sink;
    serialize::BinaryPODToken m_token;
    u32 m_outer;
};

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace quern::entity::testing
