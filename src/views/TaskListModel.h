#pragma once

#include "TaskRowsModel.h"

#include <QAbstractListModel>

// The predecessors or the successors of one task, sorted by name, as rows of a list: the task's
// name to show and, under TaskIdRole, its id. Follows the task's dependencies and the listed
// tasks' names.
class TaskListModel final : public TaskRowsModel {
    Q_OBJECT

public:
    TaskListModel(TaskPtr referenceTask, bool isSucc, QObject *parent = nullptr);

    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex &index) const override;

    // The order of the lists: names compared by code point after canonical composition, so
    // that canonically equivalent names are equal.
    [[nodiscard]] static bool nameLess(const QString &a, const QString &b);

private:
    void refresh();
    [[nodiscard]] TaskList sortedNeighbours() const;

    TaskPtr m_referenceTask;
    bool m_isSucc;
    // The names the rows showed when last announced, to tell which rows a rename touched.
    QStringList m_names;
};
