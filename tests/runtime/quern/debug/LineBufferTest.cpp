#include "quern/debug/LineBuffer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

class PieceBuffer final : public quern::debug::LineBuffer {
public:
    explicit PieceBuffer(std::size_t size)
        : LineBuffer(m_area, size)
    {
    }
    std::vector<std::string> pieces;

protected:
    void writeLine(const char* text, std::size_t length) override { pieces.emplace_back(text, length); }

private:
    char m_area[8];
};

TEST(LineBuffer, FullAreaIsHandedOnBeforeTheNextCharacterAndFlushSendsTheRest)
{
    PieceBuffer buffer(4);
    std::ostream stream(&buffer);
    stream << "abcdefghij" << std::flush;
    EXPECT_EQ(buffer.pieces, (std::vector<std::string> { "abcd", "efgh", "ij" }));
}

TEST(LineBuffer, FlushOfAnEmptyAreaSendsNothing)
{
    PieceBuffer buffer(4);
    std::ostream stream(&buffer);
    stream << "abcd" << std::flush << std::flush;
    EXPECT_EQ(buffer.pieces, (std::vector<std::string> { "abcd" }));
}

TEST(LineBuffer, AreaOfSizeZeroSendsEachCharacterAlone)
{
    PieceBuffer buffer(0);
    std::ostream stream(&buffer);
    stream << "xyz" << std::flush;
    EXPECT_EQ(buffer.pieces, (std::vector<std::string> { "x", "y", "z" }));
}

} // namespace
