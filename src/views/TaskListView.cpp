#include "TaskListView.h"

#include "Beep.h"
#include "Linking.h"
#include "Project.h"
#include "TaskListModel.h"

#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QVBoxLayout>

namespace {

// Two of these stand side by side in a panel at most 300 wide.
class CompactListView final : public QListView {
public:
    using QListView::QListView;
    [[nodiscard]] QSize sizeHint() const override { return { 120, 150 }; }

protected:
    // The row the keys land on is the one Delete removes: a focus ring on a row nobody selected
    // would leave Delete doing nothing.
    void keyPressEvent(QKeyEvent *event) override
    {
        const bool moving = event->matches(QKeySequence::MoveToNextLine)
            || event->matches(QKeySequence::MoveToPreviousLine) || event->matches(QKeySequence::MoveToStartOfDocument)
            || event->matches(QKeySequence::MoveToEndOfDocument) || event->matches(QKeySequence::MoveToNextPage)
            || event->matches(QKeySequence::MoveToPreviousPage) || event->key() == Qt::Key_Home
            || event->key() == Qt::Key_End;
        const bool stepping
            = event->matches(QKeySequence::MoveToNextLine) || event->matches(QKeySequence::MoveToPreviousLine);
        const QModelIndex before = currentIndex();
        if (stepping && before.isValid() && !selectionModel()->isSelected(before)) {
            // The first key only takes the row the ring is on.
            selectionModel()->select(before, QItemSelectionModel::ClearAndSelect);
            return event->accept();
        }
        QListView::keyPressEvent(event);
        const QModelIndex now = currentIndex();
        if (moving && now.isValid() && !selectionModel()->isSelected(now))
            selectionModel()->select(now, QItemSelectionModel::ClearAndSelect);
    }
};

bool isDeleteKey(const QKeyEvent *event)
{
    return event->key() == Qt::Key_Delete && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

} // namespace

TaskListView::TaskListView(Project *project, TaskPtr referenceTask, bool isSucc, QWidget *parent)
    : QWidget(parent)
    , m_project(project)
    , m_referenceTask(std::move(referenceTask))
    , m_isSucc(isSucc)
    , m_title(new QLabel(isSucc ? tr("Successors") : tr("Predecessors"), this))
    , m_list(new CompactListView(this))
    , m_model(new TaskListModel(m_referenceTask, isSucc, this))
{
    QFont titleFont = m_title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 0.85);
    m_title->setFont(titleFont);
    m_title->setAlignment(Qt::AlignHCenter);

    m_list->setAccessibleName(m_title->text());
    m_list->setModel(m_model);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setUniformItemSizes(true);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Long names end in an ellipsis within the list's width, as everywhere else.
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setTextElideMode(Qt::ElideRight);
    m_list->installEventFilter(this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_title);
    layout->addSpacing(6);
    layout->addWidget(m_list, 1);

    // Drops are taken by the whole view, title included, not by the list alone.
    setAcceptDrops(true);

    connect(
        m_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_selectionBeforeReset = selectedTaskId(); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { setSelectedTaskId(m_selectionBeforeReset); });
}

std::optional<qint64> TaskListView::selectedTaskId() const
{
    const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return std::nullopt;
    return selected.constFirst().data(TaskListModel::TaskIdRole).toLongLong();
}

void TaskListView::setSelectedTaskId(std::optional<qint64> id)
{
    const int row = m_model->rowOfId(id);
    if (row < 0) {
        m_list->selectionModel()->clear();
        return;
    }
    m_list->selectionModel()->setCurrentIndex(m_model->index(row), QItemSelectionModel::ClearAndSelect);
}

void TaskListView::deleteSelectedDependency()
{
    if (!m_project)
        return;
    const TaskPtr selected = m_project->taskWithId(selectedTaskId());
    if (!selected)
        return;
    if (m_isSucc)
        m_project->deleteDependency(m_referenceTask, selected);
    else
        m_project->deleteDependency(selected, m_referenceTask);
    m_list->selectionModel()->clear();
}

bool TaskListView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list) {
        // Claiming the key ahead of the window's shortcuts keeps Delete on the list it was typed in.
        if (event->type() == QEvent::ShortcutOverride && isDeleteKey(static_cast<QKeyEvent *>(event))) {
            event->accept();
            return true;
        }
        if (event->type() == QEvent::KeyPress && isDeleteKey(static_cast<QKeyEvent *>(event))) {
            deleteSelectedDependency();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TaskListView::dragEnterEvent(QDragEnterEvent *event)
{
    dragMoveEvent(event);
}

void TaskListView::dragMoveEvent(QDragMoveEvent *event)
{
    if (!event->mimeData() || !event->mimeData()->hasText()) {
        event->ignore();
        return;
    }
    // Making a dependency takes nothing away from where the name came from.
    if (event->possibleActions() & Qt::CopyAction) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->acceptProposedAction();
    }
}

void TaskListView::dropEvent(QDropEvent *event)
{
    if (!event->mimeData() || !event->mimeData()->hasText()) {
        event->ignore();
        return;
    }
    const QString name = event->mimeData()->text();
    if (event->possibleActions() & Qt::CopyAction)
        event->setDropAction(Qt::CopyAction);
    event->accept();
    // Settled after the drag has ended: an alert must not open inside the drag's own event loop.
    QMetaObject::invokeMethod(
        this, [this, name] { makeDependency(name); }, Qt::QueuedConnection);
}

void TaskListView::makeDependency(const QString &name)
{
    if (!m_project)
        return;
    const TaskList &tasks = m_project->tasks();
    const auto found
        = std::find_if(tasks.cbegin(), tasks.cend(), [&name](const TaskPtr &task) { return task->name() == name; });
    if (found == tasks.cend()) {
        beep();
        return;
    }
    Linking::makeDependency(*m_project, m_referenceTask, *found, m_isSucc, window());
}
