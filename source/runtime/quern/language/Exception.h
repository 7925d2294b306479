#pragma once
// Failure descriptions for input/output, parse and device errors. They are never
// thrown: the failing code raises one with QUERN_RAISE, which builds it (it logs
// itself with the raising site), takes its description, destroys it and ends
// the process through the fatal-error path with that text.
//
//   QUERN_RAISE(quern::FileNotFoundException, "File not found", path);

#include "quern/Types.h"
#include "quern/debug/StackTrace.h"

#include <memory>
#include <string>
#include <utility>

namespace quern {

class Exception {
public:
    // A raising site: frame 0 of the stack trace is (function, file, line).
    Exception(const char* message, const char* file, i32 line, const char* function);
    // No site: the stack is captured from the caller on.
    explicit Exception(const char* message);
    virtual ~Exception();
    Exception(const Exception&) = delete;
    Exception& operator=(const Exception&) = delete;

    // Builds the description, keeps it in this object and returns its text.
    const char* what();

    const std::string& message() const { return m_message; }
    const debug::StackTrace& stackTrace() const { return *m_stackTrace; }

protected:
    virtual std::string describe() const { return m_message; }

private:
    std::string m_message;
    std::string m_description;
    std::unique_ptr<debug::StackTrace> m_stackTrace;
};

class IOException : public Exception {
public:
    IOException(const char* message, const char* path, const char* file, i32 line, const char* function);
    const std::string& path() const { return m_path; }

protected:
    std::string describe() const override;

private:
    std::string m_path;
};

class FileNotFoundException : public IOException {
public:
    FileNotFoundException(const char* message, const char* path, const char* file, i32 line, const char* function);

protected:
    std::string describe() const override;
};

class FileReadException : public IOException {
public:
    static constexpr const char* kMessage = "Error reading from file";

    // "Error reading from file", no path, no offset.
    FileReadException(const char* file, i32 line, const char* function);
    FileReadException(const char* path, const char* file, i32 line, const char* function);
    FileReadException(const char* path, u64 offset, const char* file, i32 line, const char* function);
    // A message of the caller's own, with a path and optionally an offset.
    FileReadException(const char* message, const char* path, bool hasOffset, u64 offset, const char* file, i32 line,
                      const char* function);

    bool hasOffset() const { return m_hasOffset; }
    u64 offset() const { return m_offset; }

protected:
    std::string describe() const override;

private:
    bool m_hasOffset = false;
    u64 m_offset = 0;
};

class ParseException : public IOException {
public:
    ParseException(const char* message, const char* path, i32 parseLine, const char* file, i32 line,
                    const char* function);
    i32 parseLine() const { return m_parseLine; }

protected:
    std::string describe() const override;

private:
    i32 m_parseLine = 0;
};

// The longest description the fatal path receives (the rest is cut).
constexpr u64 kRaisedTextSize = 512;

// Copies an exception's description into a fixed field of kRaisedTextSize
// bytes: at most 511 characters, always terminated.
void copyRaisedText(Exception& exception, char (&text)[kRaisedTextSize]);

// Ends the process through the fatal-error path with the text.
[[noreturn]] void raiseText(const char* text, const char* file, i32 line);

// Builds the exception for the site (file, line, the compiler's signature of
// the raising function), takes its description, destroys it, and ends the
// process through the fatal-error path. Never returns.
template <typename ExceptionType, typename... Arguments>
[[noreturn]] void raiseException(const char* file, i32 line, const char* signature, Arguments&&... arguments)
{
    char function[sizeof(debug::StackFrame::function)];
    debug::qualifiedFunctionName(signature, function, sizeof function);
    char text[kRaisedTextSize];
    {
        ExceptionType exception(std::forward<Arguments>(arguments)..., file, line, function);
        copyRaisedText(exception, text);
    }
    raiseText(text, file, line);
}

} // namespace quern

#define QUERN_RAISE(ExceptionType, ...) \
    ::quern::raiseException<ExceptionType>(__FILE__, __LINE__, __PRETTY_FUNCTION__ __VA_OPT__(, ) __VA_ARGS__)
