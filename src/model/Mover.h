#pragma once

// What the recursion (Scheduling.cpp) and the sweep (Sweep.cpp) share: moves counted against the
// bound of one edit, and the worklists of tasks waiting in topological order.

#include "Logging.h"
#include "Project.h"

#include <algorithm>
#include <limits>
#include <vector>

class Project::Mover {
public:
    explicit Mover(Project &project)
        : m_project(project)
        , m_operation(nextStamp())
    {
        project.ensureLevels();
    }

protected:
    struct Entry {
        int level;
        quint64 sequence;
        Task *task;
    };

    // Moves the task; counts the move, and stops everything once one task moved too often.
    bool moveTo(Task &task, double start)
    {
        if (m_stopped)
            return false;
        prepare(task);
        if (++task.m_moveCount > maxMovesPerTask) {
            stop(task);
            return false;
        }
        task.setStart(start);
        return true;
    }

    // The task's scratch space, fresh for each edit.
    void prepare(Task &task) const
    {
        if (task.m_moveStamp == m_operation)
            return;
        task.m_moveStamp = m_operation;
        task.m_moveCount = 0;
        task.m_pushPending = false;
        task.m_pullPending = false;
        task.m_requiredStart = -std::numeric_limits<double>::infinity();
        task.m_requiredEnd = std::numeric_limits<double>::infinity();
    }

    // Pushes lowest level first, pulls highest; ties first come, first served.
    void queuePush(Task &task)
    {
        prepare(task);
        if (task.m_pushPending)
            return;
        task.m_pushPending = true;
        m_push.push_back({ task.m_level, m_sequence++, &task });
        std::push_heap(m_push.begin(), m_push.end(), laterPush);
    }
    void queuePull(Task &task)
    {
        prepare(task);
        if (task.m_pullPending)
            return;
        task.m_pullPending = true;
        m_pull.push_back({ task.m_level, m_sequence++, &task });
        std::push_heap(m_pull.begin(), m_pull.end(), laterPull);
    }
    Task &takePush()
    {
        std::pop_heap(m_push.begin(), m_push.end(), laterPush);
        Task &task = *m_push.back().task;
        m_push.pop_back();
        task.m_pushPending = false;
        return task;
    }
    Task &takePull()
    {
        std::pop_heap(m_pull.begin(), m_pull.end(), laterPull);
        Task &task = *m_pull.back().task;
        m_pull.pop_back();
        task.m_pullPending = false;
        return task;
    }

    void stop(const Task &task)
    {
        m_stopped = true;
        m_push.clear();
        m_pull.clear();
        const bool negative = std::any_of(
            m_project.m_tasks.cbegin(), m_project.m_tasks.cend(), [](const TaskPtr &t) { return t->duration() < 0; });
        if (negative)
            qCCritical(lcQuillfern,
                "scheduling stopped: task # %lld was moved more than %u times by one edit; tasks with negative "
                "durations can make a push and a pull chase each other, so some dependencies or group overlaps "
                "may remain",
                static_cast<long long>(task.id()), maxMovesPerTask);
        else
            qCCritical(lcQuillfern,
                "scheduling stopped: task # %lld was moved more than %u times by one edit; a task of no length "
                "and a group member can push and pull each other for ever, so some dependencies or group "
                "overlaps may remain",
                static_cast<long long>(task.id()), maxMovesPerTask);
    }

    Project &m_project;
    const quint64 m_operation;
    std::vector<Entry> m_push;
    std::vector<Entry> m_pull;
    quint64 m_sequence = 0;
    bool m_stopped = false;

private:
    static bool laterPush(const Entry &a, const Entry &b)
    {
        return a.level != b.level ? a.level > b.level : a.sequence > b.sequence;
    }
    static bool laterPull(const Entry &a, const Entry &b)
    {
        return a.level != b.level ? a.level < b.level : a.sequence > b.sequence;
    }
};

// Stable, and without the buffer std::stable_sort allocates: most tasks have one or two
// neighbours, and a long chain would pay one allocation per task.
template<typename Iterator, typename Less> void sortStably(Iterator begin, Iterator end, Less less)
{
    if (end - begin > 32) {
        std::stable_sort(begin, end, less);
        return;
    }
    for (Iterator i = begin; i != end; ++i) {
        auto task = *i;
        Iterator j = i;
        for (; j != begin && less(task, *(j - 1)); --j)
            *j = *(j - 1);
        *j = task;
    }
}
