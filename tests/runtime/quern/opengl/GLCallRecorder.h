#pragma once
// Records GL calls without a context: QUERN_RECORD_GL(recorder, glFoo) puts a
// recording function into the entry-point slot, and the recorder puts every
// replaced slot back when it goes. Each call is kept as text, "glFoo(a, b)",
// integers in decimal, floats with %g and pointers as "p".

#include "quern/opengl/GLFunctions.h"
#include <cstdio>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

namespace quern::opengl::testing {

inline std::vector<std::string>& recordedGLCalls()
{
    static std::vector<std::string> calls;
    return calls;
}

template <typename T> std::string formatGLArgument(T value)
{
    char text[32];
    if constexpr (std::is_pointer_v<T>)
        return "p";
    else if constexpr (std::is_floating_point_v<T>)
        std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    else if constexpr (std::is_signed_v<T>)
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    else
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    return text;
}

template <typename... A> std::string glCall(const char* name, A... arguments)
{
    std::string text = std::string(name) + "(";
    bool first = true;
    ((text += (first ? "" : ", ") + formatGLArgument(arguments), first = false), ...);
    return text + ")";
}

template <typename... A> void recordGLCall(const char* name, A... arguments)
{
    recordedGLCalls().push_back(glCall(name, arguments...));
}

class GLCallRecorder {
public:
    GLCallRecorder() { recordedGLCalls().clear(); }
    ~GLCallRecorder()
    {
        for (auto it = m_restore.rbegin(); it != m_restore.rend(); ++it)
            (*it)();
        recordedGLCalls().clear();
    }
    GLCallRecorder(const GLCallRecorder&) = delete;
    GLCallRecorder& operator=(const GLCallRecorder&) = delete;

    template <typename Pointer> void save(Pointer& slot)
    {
        Pointer old = slot;
        m_restore.push_back([&slot, old] { slot = old; });
    }
    const std::vector<std::string>& calls() const { return recordedGLCalls(); }
    void clear() { recordedGLCalls().clear(); }

private:
    std::vector<std::function<void()>> m_restore;
};

} // namespace quern::opengl::testing

#define QUERN_RECORD_GL(recorder, function)                                                                            \
    do {                                                                                                               \
        (recorder).save(::quern::opengl::function);                                                                    \
        ::quern::opengl::function                                                                                      \
            = [](auto... arguments) { ::quern::opengl::testing::recordGLCall(#function, arguments...); };              \
    } while (0)

// A slot that answers with a fixed value and records nothing.
#define QUERN_ANSWER_GL(recorder, function, value)                                                                     \
    do {                                                                                                               \
        (recorder).save(::quern::opengl::function);                                                                    \
        ::quern::opengl::function = [](auto...) { return value; };                                                     \
    } while (0)
