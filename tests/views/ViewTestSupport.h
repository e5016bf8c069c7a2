#pragma once

#include "Project.h"
#include "UndoStackAdapter.h"

#include <QApplication>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QUndoStack>
#include <QWidget>

#include <algorithm>
#include <initializer_list>
#include <memory>

namespace ViewTest {

struct TaskSeed {
    const char *name;
    double start;
    double duration;
    const char *group = nullptr;
};

// A project, as loaded from a file, whose undo steps land on a real QUndoStack. Task ids count
// from 1 in the order given.
struct Plan {
    QUndoStack stack;
    UndoStackAdapter adapter { &stack };
    std::unique_ptr<Project> project;

    explicit Plan(const QList<TaskSeed> &tasks, const QList<IntPair> &dependencies = {})
    {
        TaskList list;
        qint64 id = 1;
        for (const TaskSeed &seed : tasks)
            list.append(
                Task::create(id++, nullptr, QString::fromUtf8(seed.name), seed.duration, seed.start + seed.duration,
                    seed.group ? ExclusionGroup(QString::fromUtf8(seed.group)) : ExclusionGroup()));
        project = Project::load(QStringLiteral("Plan"), list, dependencies);
        project->setUndoManager(&adapter);
    }

    // The first task of that name.
    [[nodiscard]] TaskPtr task(const char *name) const
    {
        for (const TaskPtr &task : project->tasks())
            if (task->name() == QString::fromUtf8(name))
                return task;
        return {};
    }
    [[nodiscard]] QStringList names() const
    {
        QStringList names;
        for (const TaskPtr &task : project->tasks())
            names.append(task->name());
        return names;
    }
};

// A list of texts written as UTF-8 literals.
[[nodiscard]] inline QStringList strings(std::initializer_list<const char *> texts)
{
    QStringList list;
    for (const char *text : texts)
        list.append(QString::fromUtf8(text));
    return list;
}

[[nodiscard]] inline QStringList namesOf(const TaskSet &tasks)
{
    QStringList names;
    for (const TaskPtr &task : tasks)
        names.append(task->name());
    return names;
}

[[nodiscard]] inline QMimeData *plainText(const QString &text)
{
    auto *data = new QMimeData;
    data->setText(text);
    return data;
}

// Replaces the text of a field as a person does: select all, clear, type, and Return unless told
// otherwise. Text beyond Latin-1 arrives as an input method's commit, as from a compose key.
inline void typeInto(QLineEdit *field, const QString &text, bool pressReturn = true)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    const bool latin1 = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (latin1) {
        QTest::keyClicks(field, text);
    } else {
        QInputMethodEvent event;
        event.setCommitString(text);
        QApplication::sendEvent(field, &event);
    }
    if (pressReturn)
        QTest::keyClick(field, Qt::Key_Return);
}

// Sends enter, move and drop straight to one widget, as a drag over it would: the drop only when
// enter and move were accepted. Returns whether the drop was taken.
inline bool dropOn(
    QWidget *target, QPoint local, const QMimeData *data, Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction)
{
    QDragEnterEvent enter(local, actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDragMoveEvent move(local, actions, data, Qt::LeftButton, Qt::NoModifier);
    move.setDropAction(enter.dropAction());
    QApplication::sendEvent(target, &move);
    if (!move.isAccepted())
        return false;
    QDropEvent drop(QPointF(local), actions, data, Qt::NoButton, Qt::NoModifier);
    drop.setDropAction(move.dropAction());
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

// A drop at a point of a window, delivered as the windowing system's drag delivers it: to the
// widget under the point, or the nearest of its ancestors that accepts drops.
inline bool dropAt(
    QWidget *window, QPoint position, const QMimeData *data, Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction)
{
    QWidget *target = window->childAt(position);
    if (!target)
        target = window;
    while (target && !target->isWindow() && !target->acceptDrops())
        target = target->parentWidget();
    if (!target || !target->acceptDrops())
        return false;
    return dropOn(target, target->mapFrom(window, position), data, actions);
}

} // namespace ViewTest
