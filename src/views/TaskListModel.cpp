#include "TaskListModel.h"

#include "TaskNamesModel.h"

#include <algorithm>

namespace {

// UTF-16 orders supplementary characters (surrogates) below U+E000..U+FFFF; shifting those two
// ranges past each other gives code point order.
char16_t inCodePointOrder(char16_t unit)
{
    if (unit >= 0xE000)
        return static_cast<char16_t>(unit - 0x800);
    if (unit >= 0xD800)
        return static_cast<char16_t>(unit + 0x2000);
    return unit;
}

bool codePointLess(QStringView a, QStringView b)
{
    const qsizetype shorter = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < shorter; ++i) {
        if (a[i] != b[i])
            return inCodePointOrder(a[i].unicode()) < inCodePointOrder(b[i].unicode());
    }
    return a.size() < b.size();
}

} // namespace

TaskListModel::TaskListModel(TaskPtr referenceTask, bool isSucc, QObject *parent)
    : TaskRowsModel(parent)
    , m_referenceTask(std::move(referenceTask))
    , m_isSucc(isSucc)
{
    m_rows = sortedNeighbours();
    for (const TaskPtr &task : std::as_const(m_rows)) {
        m_names.append(task->name());
        connect(task.get(), &Task::nameChanged, this, &TaskListModel::refresh);
    }
    connect(m_referenceTask.get(), isSucc ? &Task::successorsChanged : &Task::predecessorsChanged, this,
        &TaskListModel::refresh);
}

bool TaskListModel::nameLess(const QString &a, const QString &b)
{
    return codePointLess(a.normalized(QString::NormalizationForm_C), b.normalized(QString::NormalizationForm_C));
}

TaskList TaskListModel::sortedNeighbours() const
{
    const TaskSet &neighbours = m_isSucc ? m_referenceTask->successors() : m_referenceTask->predecessors();
    struct Keyed {
        QString key;
        TaskPtr task;
    };
    QList<Keyed> keyed;
    keyed.reserve(neighbours.size());
    for (const TaskPtr &task : neighbours)
        keyed.append({ task->name().normalized(QString::NormalizationForm_C), task });
    std::stable_sort(
        keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) { return codePointLess(a.key, b.key); });
    TaskList sorted;
    sorted.reserve(keyed.size());
    for (const Keyed &entry : std::as_const(keyed))
        sorted.append(entry.task);
    return sorted;
}

Qt::ItemFlags TaskListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void TaskListModel::refresh()
{
    const TaskList now = sortedNeighbours();
    const RowChange change = RowChange::between(m_rows, now);
    const auto follow = [this](const TaskList &tasks) {
        for (const TaskPtr &task : std::as_const(m_rows))
            disconnect(task.get(), nullptr, this, nullptr);
        m_rows = tasks;
        m_names.clear();
        for (const TaskPtr &task : std::as_const(m_rows)) {
            m_names.append(task->name());
            connect(task.get(), &Task::nameChanged, this, &TaskListModel::refresh);
        }
    };
    switch (change.kind) {
    case RowChange::None:
        // Same tasks in the same order; a rename may still have changed what a row shows.
        for (qsizetype row = 0; row < m_rows.size(); ++row) {
            if (m_names[row] != m_rows[row]->name()) {
                m_names[row] = m_rows[row]->name();
                const QModelIndex changed = index(static_cast<int>(row));
                Q_EMIT dataChanged(changed, changed, { Qt::DisplayRole, Qt::ToolTipRole, TaskNameRole });
            }
        }
        break;
    case RowChange::Insert:
        beginInsertRows(QModelIndex(), static_cast<int>(change.first), static_cast<int>(change.last));
        follow(now);
        endInsertRows();
        break;
    case RowChange::Remove:
        beginRemoveRows(QModelIndex(), static_cast<int>(change.first), static_cast<int>(change.last));
        follow(now);
        endRemoveRows();
        break;
    case RowChange::Move:
    case RowChange::Reset:
        // These lists are short: a reset is as good as a move here.
        beginResetModel();
        follow(now);
        endResetModel();
        break;
    }
}
