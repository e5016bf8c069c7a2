#pragma once

#include "TaskRowsModel.h"

#include <QAbstractListModel>
#include <QHash>
#include <QPointer>

// How one list of rows became another, when it can be told as one step of a list model.
struct RowChange {
    enum Kind { None, Insert, Remove, Move, Reset };
    Kind kind = None;
    // Insert: the new rows; Remove: the old rows; Move: the one row that moved, in the old list.
    qsizetype first = 0;
    qsizetype last = -1;
    // Move: the old row before which it went (beginMoveRows' destinationChild).
    qsizetype destination = 0;

    [[nodiscard]] static RowChange between(const TaskList &before, const TaskList &after);
};

// The project's tasks, in task order, as rows of a list: the task's name to show and, under
// TaskIdRole, its id. Rows can be dragged out as their name in plain text; dropped back on this
// model they reorder the project's tasks, which marks the project dirty but records no undo step.
class TaskNamesModel final : public TaskRowsModel {
    Q_OBJECT

public:
    // The project must outlive the model.
    explicit TaskNamesModel(Project *project, QObject *parent = nullptr);

    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex &index) const override;

    [[nodiscard]] Qt::DropActions supportedDragActions() const override;
    [[nodiscard]] Qt::DropActions supportedDropActions() const override;
    [[nodiscard]] QStringList mimeTypes() const override;
    [[nodiscard]] QMimeData *mimeData(const QModelIndexList &indexes) const override;
    [[nodiscard]] bool canDropMimeData(
        const QMimeData *data, Qt::DropAction action, int row, int column, const QModelIndex &parent) const override;
    bool dropMimeData(
        const QMimeData *data, Qt::DropAction action, int row, int column, const QModelIndex &parent) override;
    // One row at a time, to before destinationChild, as the project's reorderTask.
    bool moveRows(const QModelIndex &sourceParent, int sourceRow, int count, const QModelIndex &destinationParent,
        int destinationChild) override;

    // Carries the dragged row's project, row and task id, so that only drags out of this very
    // list reorder it.
    [[nodiscard]] static QString rowMimeType();

private:
    void followTasks();
    void nameChanged(const Task *task);
    void watch(const TaskPtr &task);
    void unwatch(const TaskPtr &task);
    // The source row a drag of ours carries; -1 when it is not ours or is stale.
    [[nodiscard]] int draggedRow(const QMimeData *data) const;

    QPointer<Project> m_project;
    // The rows as the views last heard of them; follows the project's list change by change.
    mutable QHash<const Task *, int> m_rowOfTask;
    mutable bool m_rowOfTaskValid = false;
};
