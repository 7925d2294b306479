#include "quern/language/Exception.h"

#include "quern/debug/Log.h"
#include "quern/platform/ErrorReporting.h"

#include <cstdio>
#include <cstring>

namespace quern {

Exception::Exception(const char* message, const char* file, i32 line, const char* function)
    : m_message(message ? message : ""), m_stackTrace(std::make_unique<debug::StackTrace>())
{
    m_stackTrace->capture(function, file, line);
    QUERN_LOG(4) << "Exception thrown: " << m_message << " at " << m_stackTrace->frames[0] << std::endl;
}

__attribute__((noinline)) Exception::Exception(const char* message)
    : m_message(message ? message : ""), m_stackTrace(std::make_unique<debug::StackTrace>())
{
    m_stackTrace->count = debug::captureStackTrace(m_stackTrace->frames, debug::StackTrace::kMaxFrames, 1);
    QUERN_LOG(4) << "Exception thrown: " << m_message << std::endl;
}

Exception::~Exception() = default;

const char* Exception::what()
{
    m_description = describe();
    return m_description.c_str();
}

IOException::IOException(const char* message, const char* path, const char* file, i32 line, const char* function)
    : Exception(message, file, line, function), m_path(path ? path : "")
{
}

std::string IOException::describe() const
{
    if (m_path.empty())
        return message();
    return message() + " (in '" + m_path + "')";
}

FileNotFoundException::FileNotFoundException(const char* message, const char* path, const char* file, i32 line,
                                             const char* function)
    : IOException(message, path, file, line, function)
{
}

std::string FileNotFoundException::describe() const
{
    if (path().empty())
        return message();
    return message() + " ('" + path() + "')";
}

FileReadException::FileReadException(const char* file, i32 line, const char* function)
    : FileReadException(kMessage, nullptr, false, 0, file, line, function)
{
}

FileReadException::FileReadException(const char* path, const char* file, i32 line, const char* function)
    : FileReadException(kMessage, path, false, 0, file, line, function)
{
}

FileReadException::FileReadException(const char* path, u64 offset, const char* file, i32 line,
                                     const char* function)
    : FileReadException(kMessage, path, true, offset, file, line, function)
{
}

FileReadException::FileReadException(const char* message, const char* path, bool hasOffset, u64 offset,
                                     const char* file, i32 line, const char* function)
    : IOException(message, path, file, line, function), m_hasOffset(hasOffset), m_offset(offset)
{
}

std::string FileReadException::describe() const
{
    if (path().empty())
        return message();
    std::string text = message() + " (in '" + path() + "'";
    if (m_hasOffset)
        text += ", at offset " + std::to_string(m_offset);
    return text + ")";
}

ParseException::ParseException(const char* message, const char* path, i32 parseLine, const char* file, i32 line,
                               const char* function)
    : IOException(message, path, file, line, function), m_parseLine(parseLine)
{
}

std::string ParseException::describe() const
{
    char number[16];
    std::snprintf(number, sizeof number, "%d", m_parseLine);
    if (!path().empty()) {
        std::string text = message() + " (in '" + path() + "'";
        if (m_parseLine > 0)
            text += std::string(", line ") + number;
        return text + ")";
    }
    if (m_parseLine > 0)
        return message() + " (line " + number + ")";
    return message();
}

void copyRaisedText(Exception& exception, char (&text)[kRaisedTextSize])
{
    debug::copyToField(text, kRaisedTextSize, exception.what());
}

void raiseText(const char* text, const char* file, i32 line)
{
    debug::fatalError(text, file, static_cast<u32>(line));
}

} // namespace quern
