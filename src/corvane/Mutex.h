#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace corvane {

enum class DebugLevel { NONE, THREAD, STACK };

// A non-recursive lock with one condition variable whose operations can trace, at debug level,
// which thread waits for, holds and releases it. Every instance is named after its constructor's
// argument and its number among all mutexes the process has created.
class Mutex {
public:
    // How much every Mutex traces. Read once per trace line; NONE costs one comparison.
    static inline std::atomic<DebugLevel> debugLevel { DebugLevel::NONE };

    explicit Mutex(const QString &name);
    Mutex(const Mutex &) = delete;
    Mutex &operator=(const Mutex &) = delete;

    [[nodiscard]] const QString &name() const { return m_name; }

    void lock();
    void unlock();
    // The caller holds the lock; it is released while waiting and held again on return.
    void wait();
    // Returns when signalled or once the deadline has passed, without telling which: the caller
    // re-checks its own condition.
    void waitUntil(std::chrono::steady_clock::time_point deadline);
    // Wakes one waiting thread, if any.
    void signal();

    void trace(const QString &action) const;

    // The name a trace gives the calling thread.
    [[nodiscard]] static QString currentThreadName();
    // One line per frame of the calling thread's stack, innermost first, each preceded by a line feed.
    [[nodiscard]] static QString callStackText();

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    QString m_name;
};

} // namespace corvane
