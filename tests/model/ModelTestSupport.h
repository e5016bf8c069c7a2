#pragma once

#include "Project.h"

#include <QStringList>

// Builds tasks with explicit times for model tests.
inline TaskPtr makeTask(Project &project, qint64 id, const QString &name, double start, double duration,
    ExclusionGroup group = std::nullopt)
{
    return Task::create(id, &project, name, duration, start + duration, std::move(group));
}

// A project holding the given tasks and dependencies (by index), built as a loaded file would be.
inline std::unique_ptr<Project> makeProject(const QList<std::tuple<QString, double, double, QString>> &tasks,
    const QList<std::pair<int, int>> &dependencies = {})
{
    TaskList list;
    qint64 id = 1;
    for (const auto &[name, start, duration, group] : tasks)
        list.append(Task::create(id++, nullptr, name, duration, start + duration,
            group.isEmpty() ? ExclusionGroup() : ExclusionGroup(group)));
    QList<IntPair> pairs;
    for (const auto &[a, b] : dependencies)
        pairs.append({ a + 1, b + 1 });
    return Project::load(QStringLiteral("Test"), list, pairs);
}

// "name start end" of every task, in list order: a compact picture of a schedule.
inline QString schedule(const Project &project)
{
    QStringList rows;
    for (const TaskPtr &task : project.tasks())
        rows.append(task->name() + QLatin1Char(' ') + QString::number(task->start()) + QLatin1Char(' ')
            + QString::number(task->end()));
    return rows.join(QLatin1String(", "));
}
