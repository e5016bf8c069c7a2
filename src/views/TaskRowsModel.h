#pragma once

#include "Task.h"

#include <QAbstractListModel>

// Tasks as rows of a list: the task's name to show, cut to a length a row can show, the whole name
// under TaskNameRole and, under TaskIdRole, its id. Subclasses decide which tasks are listed and
// keep m_rows up to date.
class TaskRowsModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role { TaskIdRole = Qt::UserRole + 1, TaskNameRole };

    using QAbstractListModel::QAbstractListModel;

    [[nodiscard]] int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    [[nodiscard]] TaskPtr taskAt(int row) const;
    // The row of the task with this id; -1 when it is not listed.
    [[nodiscard]] int rowOfId(std::optional<qint64> id) const;

protected:
    TaskList m_rows;
};
