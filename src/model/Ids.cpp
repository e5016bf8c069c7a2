#include "Ids.h"

#include <QCoreApplication>
#include <limits>
#include <mutex>
#include <optional>

namespace {

// std::nullopt stands for "every id has been handed out".
struct Counter {
    std::mutex mutex;
    std::optional<qint64> next = 1;
};

Counter &taskCounter()
{
    static Counter counter;
    return counter;
}

Counter &projectCounter()
{
    static Counter counter;
    return counter;
}

qint64 take(Counter &counter, const char *what)
{
    std::lock_guard lock(counter.mutex);
    if (!counter.next)
        throw Ids::IdsExhausted(what);
    const qint64 id = *counter.next;
    if (id == std::numeric_limits<qint64>::max())
        counter.next.reset();
    else
        counter.next = id + 1;
    return id;
}

constexpr const char *taskExhausted = "No new task can be created: every task id has been used, "
                                      "because an opened file holds the largest possible id. "
                                      "Save your work, close that file and restart Quillfern.";

} // namespace

namespace Ids {

qint64 nextTaskId()
{
    Counter &counter = taskCounter();
    std::lock_guard lock(counter.mutex);
    if (!counter.next)
        throw IdsExhausted(taskExhausted);
    return *counter.next;
}

qint64 takeTaskId()
{
    return take(taskCounter(), taskExhausted);
}

void raiseTaskIdPast(qint64 id)
{
    Counter &counter = taskCounter();
    std::lock_guard lock(counter.mutex);
    if (!counter.next || id < *counter.next)
        return;
    if (id == std::numeric_limits<qint64>::max())
        counter.next.reset();
    else
        counter.next = id + 1;
}

qint64 takeProjectId()
{
    return take(projectCounter(), "No new project can be opened: every project id has been used. Restart Quillfern.");
}

void resetForTesting(qint64 nextTask, qint64 nextProject)
{
    {
        std::lock_guard lock(taskCounter().mutex);
        taskCounter().next = nextTask;
    }
    std::lock_guard lock(projectCounter().mutex);
    projectCounter().next = nextProject;
}

} // namespace Ids
