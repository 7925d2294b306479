#pragma once
// Collects the messages of soft assertions while it lives, in place of the
// process's hook; the messages of all recorders go to one list.

#include "quern/platform/ErrorReporting.h"

#include <string>
#include <vector>

namespace quern::testing {

class SoftAssertRecorder {
public:
    SoftAssertRecorder()
        : m_previous(debug::getSoftAssertCallback())
    {
        messages.clear();
        debug::setSoftAssertCallback(&record);
    }
    ~SoftAssertRecorder() { debug::setSoftAssertCallback(m_previous); }
    SoftAssertRecorder(const SoftAssertRecorder&) = delete;
    SoftAssertRecorder& operator=(const SoftAssertRecorder&) = delete;

    static inline std::vector<std::string> messages;

private:
    static bool record(const char* message, const char*, const char*, u32)
    {
        messages.emplace_back(message);
        return false;
    }

    debug::SoftAssertCallback m_previous;
};

} // namespace quern::testing
