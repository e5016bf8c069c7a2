#include "TaskRowsModel.h"

#include "ShownText.h"

int TaskRowsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant TaskRowsModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TaskPtr &task = m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return corvane::ShownText::cut(task->name());
    case TaskNameRole:
        return task->name();
    case TaskIdRole:
        return task->id();
    default:
        return {};
    }
}

TaskPtr TaskRowsModel::taskAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows[row] : TaskPtr();
}

int TaskRowsModel::rowOfId(std::optional<qint64> id) const
{
    if (!id)
        return -1;
    for (qsizetype row = 0; row < m_rows.size(); ++row)
        if (m_rows[row]->id() == *id)
            return static_cast<int>(row);
    return -1;
}
