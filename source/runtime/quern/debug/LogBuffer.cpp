#include "quern/debug/Logger.h"

#include <algorithm>

namespace quern::debug {
namespace {
bool validLevel(i32 level) { return level >= 0 && level < LogBuffer::kLevelCount; }
} // namespace

bool LogBuffer::addSink(std::streambuf* sink, i32 level)
{
    if (!sink || !validLevel(level))
        return false;
    MutexLock lock(m_sinkLock);
    if (m_counts[level] == kMaxSinksPerLevel)
        return false;
    m_sinks[level][m_counts[level]++] = sink;
    return true;
}

void LogBuffer::removeSink(std::streambuf* sink, i32 level)
{
    if (!validLevel(level))
        return;
    MutexLock lock(m_sinkLock);
    std::streambuf** first = m_sinks[level];
    std::streambuf** last = std::remove(first, first + m_counts[level], sink);
    std::fill(last, first + kMaxSinksPerLevel, nullptr);
    m_counts[level] = static_cast<u32>(last - first);
}

bool LogBuffer::hasSink(std::streambuf* sink)
{
    MutexLock lock(m_sinkLock);
    for (i32 level = 0; level < kLevelCount; ++level)
        for (u32 i = 0; i < m_counts[level]; ++i)
            if (m_sinks[level][i] == sink)
                return true;
    return false;
}

u32 LogBuffer::sinkCount(i32 level)
{
    if (!validLevel(level))
        return 0;
    MutexLock lock(m_sinkLock);
    return m_counts[level];
}

void LogBuffer::writePieces(i32 level, const char* text, const std::size_t* pieceLengths, std::size_t pieceCount)
{
    if (!m_enabled || !validLevel(level))
        return;
    MutexLock lock(m_sinkLock);
    for (std::size_t piece = 0; piece < pieceCount; ++piece) {
        const std::streamsize length = static_cast<std::streamsize>(pieceLengths[piece]);
        for (u32 i = 0; i < m_counts[level]; ++i) {
            m_sinks[level][i]->sputn(text, length);
            m_sinks[level][i]->pubsync();
        }
        text += length;
    }
}

} // namespace quern::debug
