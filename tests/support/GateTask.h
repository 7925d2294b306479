#pragma once
// A task that holds its worker thread until opened, so a test can line up
// work behind it and look at the state between two queued tasks.

#include "quern/threads/Task.h"

#include <condition_variable>
#include <mutex>

namespace quern::testing {

class GateTask : public threads::Task {
public:
    GateTask()
        : Task(1)
    {
    }
    void run(threads::TaskRange) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_entered = true;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_open; });
    }
    void waitUntilEntered()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_entered; });
    }
    void open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_entered = false;
    bool m_open = false;
};

} // namespace quern::testing
