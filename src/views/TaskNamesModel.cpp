#include "TaskNamesModel.h"

#include "Project.h"

#include <QMimeData>

RowChange RowChange::between(const TaskList &before, const TaskList &after)
{
    const qsizetype shorter = std::min(before.size(), after.size());
    qsizetype prefix = 0;
    while (prefix < shorter && before[prefix] == after[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix && before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;

    if (before.size() == after.size()) {
        if (prefix == before.size())
            return {};
        // Exactly one row taken out of [prefix, last] and put back at the other end of it.
        const qsizetype last = before.size() - 1 - suffix;
        const auto sameShifted = [&](qsizetype beforeFrom, qsizetype afterFrom, qsizetype count) {
            for (qsizetype i = 0; i < count; ++i)
                if (before[beforeFrom + i] != after[afterFrom + i])
                    return false;
            return true;
        };
        if (before[prefix] == after[last] && sameShifted(prefix + 1, prefix, last - prefix))
            return { Move, prefix, prefix, last + 1 };
        if (before[last] == after[prefix] && sameShifted(prefix, prefix + 1, last - prefix))
            return { Move, last, last, prefix };
        return { Reset };
    }
    if (prefix + suffix != shorter)
        return { Reset };
    if (after.size() > before.size())
        return { Insert, prefix, prefix + after.size() - before.size() - 1 };
    return { Remove, prefix, prefix + before.size() - after.size() - 1 };
}

TaskNamesModel::TaskNamesModel(Project *project, QObject *parent)
    : TaskRowsModel(parent)
    , m_project(project)
{
    m_rows = project->tasks();
    for (const TaskPtr &task : std::as_const(m_rows))
        watch(task);
    connect(project, &Project::tasksChanged, this, &TaskNamesModel::followTasks);
}

Qt::ItemFlags TaskNamesModel::flags(const QModelIndex &index) const
{
    // Rows take no drops of their own, so a drop always lands between two of them.
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
}

Qt::DropActions TaskNamesModel::supportedDragActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions TaskNamesModel::supportedDropActions() const
{
    return Qt::MoveAction;
}

QString TaskNamesModel::rowMimeType()
{
    return QStringLiteral("application/x-quillfern-task-row");
}

QStringList TaskNamesModel::mimeTypes() const
{
    return { QStringLiteral("text/plain"), rowMimeType() };
}

QMimeData *TaskNamesModel::mimeData(const QModelIndexList &indexes) const
{
    if (indexes.isEmpty() || !m_project)
        return nullptr;
    const QModelIndex &index = indexes.constFirst();
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return nullptr;
    const TaskPtr &task = m_rows[index.row()];
    auto *data = new QMimeData;
    data->setText(task->name());
    data->setData(rowMimeType(),
        QByteArray::number(m_project->id()) + ' ' + QByteArray::number(index.row()) + ' '
            + QByteArray::number(task->id()));
    return data;
}

int TaskNamesModel::draggedRow(const QMimeData *data) const
{
    if (!data || !m_project || !data->hasFormat(rowMimeType()))
        return -1;
    const QList<QByteArray> parts = data->data(rowMimeType()).split(' ');
    if (parts.size() != 3)
        return -1;
    bool projectOk = false;
    bool rowOk = false;
    bool taskOk = false;
    const qint64 projectId = parts[0].toLongLong(&projectOk);
    const int row = parts[1].toInt(&rowOk);
    const qint64 taskId = parts[2].toLongLong(&taskOk);
    if (!projectOk || !rowOk || !taskOk || projectId != m_project->id())
        return -1;
    if (row >= 0 && row < m_rows.size() && m_rows[row]->id() == taskId)
        return row;
    return rowOfId(taskId);
}

bool TaskNamesModel::canDropMimeData(
    const QMimeData *data, Qt::DropAction action, int row, int column, const QModelIndex &parent) const
{
    Q_UNUSED(row)
    Q_UNUSED(column)
    Q_UNUSED(parent)
    return action == Qt::MoveAction && draggedRow(data) >= 0;
}

bool TaskNamesModel::dropMimeData(
    const QMimeData *data, Qt::DropAction action, int row, int column, const QModelIndex &parent)
{
    if (action == Qt::IgnoreAction)
        return true;
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    int destination = row;
    if (destination < 0)
        destination = parent.isValid() ? parent.row() : rowCount();
    return moveRows(QModelIndex(), draggedRow(data), 1, QModelIndex(), destination);
}

bool TaskNamesModel::moveRows(const QModelIndex &sourceParent, int sourceRow, int count,
    const QModelIndex &destinationParent, int destinationChild)
{
    const int rows = rowCount();
    if (!m_project || sourceParent.isValid() || destinationParent.isValid() || count != 1 || sourceRow < 0
        || sourceRow >= rows || destinationChild < 0 || destinationChild > rows)
        return false;
    if (destinationChild == sourceRow || destinationChild == sourceRow + 1)
        return false;
    // The project moves a row to its final index; a list model names the row it goes before.
    const int to = destinationChild > sourceRow ? destinationChild - 1 : destinationChild;
    m_project->reorderTask(sourceRow, to);
    return true;
}

void TaskNamesModel::watch(const TaskPtr &task)
{
    const Task *watched = task.get();
    connect(task.get(), &Task::nameChanged, this, [this, watched] { nameChanged(watched); });
}

void TaskNamesModel::unwatch(const TaskPtr &task)
{
    disconnect(task.get(), nullptr, this, nullptr);
}

void TaskNamesModel::nameChanged(const Task *task)
{
    if (!m_rowOfTaskValid) {
        m_rowOfTask.clear();
        m_rowOfTask.reserve(m_rows.size());
        for (qsizetype row = 0; row < m_rows.size(); ++row)
            m_rowOfTask.insert(m_rows[row].get(), static_cast<int>(row));
        m_rowOfTaskValid = true;
    }
    const int row = m_rowOfTask.value(task, -1);
    if (row < 0)
        return;
    const QModelIndex changed = index(row);
    Q_EMIT dataChanged(changed, changed, { Qt::DisplayRole, Qt::ToolTipRole, TaskNameRole });
}

void TaskNamesModel::followTasks()
{
    const TaskList &now = m_project->tasks();
    const RowChange change = RowChange::between(m_rows, now);
    if (change.kind == RowChange::None)
        return;
    m_rowOfTaskValid = false;
    const int first = static_cast<int>(change.first);
    const int last = static_cast<int>(change.last);
    switch (change.kind) {
    case RowChange::Insert:
        beginInsertRows(QModelIndex(), first, last);
        m_rows = now;
        for (qsizetype row = first; row <= last; ++row)
            watch(m_rows[row]);
        endInsertRows();
        break;
    case RowChange::Remove:
        beginRemoveRows(QModelIndex(), first, last);
        for (qsizetype row = first; row <= last; ++row)
            unwatch(m_rows[row]);
        m_rows = now;
        endRemoveRows();
        break;
    case RowChange::Move:
        beginMoveRows(QModelIndex(), first, last, QModelIndex(), static_cast<int>(change.destination));
        m_rows = now;
        endMoveRows();
        break;
    case RowChange::Reset:
        beginResetModel();
        for (const TaskPtr &task : std::as_const(m_rows))
            unwatch(task);
        m_rows = now;
        for (const TaskPtr &task : std::as_const(m_rows))
            watch(task);
        endResetModel();
        break;
    case RowChange::None:
        break;
    }
}
