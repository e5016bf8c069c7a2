#include "TaskNamesView.h"

#include "Beep.h"
#include "ChartGeometry.h"

#include "IntPublisher.h"
#include "Project.h"
#include "Slack.h"
#include "TaskNameField.h"
#include "TaskNamesModel.h"

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace {

// The names' heading, level with the chart's time scale.
class NamesHeading final : public QWidget {
public:
    explicit NamesHeading(QWidget *parent)
        : QWidget(parent)
    { }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Window));
        QColor line = palette().color(QPalette::WindowText);
        line.setAlphaF(0.45f);
        painter.setPen(line);
        painter.drawLine(0, height() - 1, width(), height() - 1);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect().adjusted(6, 0, -4, -4), Qt::AlignLeft | Qt::AlignVCenter, TaskNamesView::tr("Task"));
    }
};

} // namespace

TaskNamesView::TaskNamesView(Project *project, IntPublisher *selection, QWidget *parent)
    : QListView(parent)
    , m_selection(selection)
    , m_project(project)
    , m_model(new TaskNamesModel(project, this))
    , m_heading(new NamesHeading(this))
{
    // While rows vanish or move, the view and its selection model adjust the highlight on their
    // own; that must not read as the user choosing another task. So the guard goes up before
    // setModel() connects them and comes down after they have run.
    const auto changing = [this] { m_modelChanging = true; };
    const auto changed = [this] {
        m_modelChanging = false;
        showSelection();
    };
    connect(m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this, changing);
    connect(m_model, &QAbstractItemModel::rowsAboutToBeMoved, this, changing);
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, changing);

    setItemDelegate(new TaskNameField(this));
    setModel(m_model);

    connect(m_model, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(m_model, &QAbstractItemModel::rowsMoved, this, changed);
    connect(m_model, &QAbstractItemModel::modelReset, this, changed);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &TaskNamesView::showSelection);
    setAccessibleName(tr("Tasks"));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDragDropOverwriteMode(false);
    setDefaultDropAction(Qt::MoveAction);
    setDropIndicatorShown(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The chart beside it owns the one vertical scroll bar; the list follows it pixel for
    // pixel. The chart's last box reaches a little below its row, and the list keeps the same
    // room so that both can scroll equally far.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setRowAreaMargins(0, int(std::ceil(std::max(0.0, ChartGeometry::overhang))));

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &TaskNamesView::takeSelection);
    connect(selection, &IntPublisher::refChanged, this, &TaskNamesView::showSelection);
    showSelection();
}

QSize TaskNamesView::sizeHint() const
{
    return { 100, QListView::sizeHint().height() };
}

void TaskNamesView::setHighlightCritical(bool highlight)
{
    auto *field = qobject_cast<TaskNameField *>(itemDelegate());
    if (!field || !m_project)
        return;
    SlackTracker *tracker = SlackTracker::of(m_project);
    field->setCritical(highlight ? tracker : nullptr);
    disconnect(tracker, &SlackTracker::changed, viewport(), nullptr);
    if (highlight)
        connect(tracker, &SlackTracker::changed, viewport(), qOverload<>(&QWidget::update));
    viewport()->update();
}

void TaskNamesView::setRowAreaMargins(int top, int bottom)
{
    const QMargins before = viewportMargins();
    if (before.top() != top || before.bottom() != bottom)
        setViewportMargins(0, top, 0, bottom);
    m_heading->setVisible(top > 0);
    m_heading->setGeometry(viewport()->x(), viewport()->y() - top, viewport()->width(), top);
}

void TaskNamesView::resizeEvent(QResizeEvent *event)
{
    QListView::resizeEvent(event);
    const int top = viewportMargins().top();
    m_heading->setGeometry(viewport()->x(), viewport()->y() - top, viewport()->width(), top);
}

void TaskNamesView::keyPressEvent(QKeyEvent *event)
{
    // Sideways keys move the selected task, which the window does for the list and the chart alike.
    if ((event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) && state() != EditingState) {
        event->ignore();
        return;
    }
    // Alt+Up and Alt+Down move the selected name as a drag of it would.
    if ((event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier && state() != EditingState) {
        event->accept();
        const QModelIndexList selected = selectionModel()->selectedIndexes();
        const int row = selected.isEmpty() ? -1 : selected.constFirst().row();
        const bool up = event->key() == Qt::Key_Up;
        // The model names the row the moved one goes before.
        if (row < 0 || !m_model->moveRows(QModelIndex(), row, 1, QModelIndex(), up ? row - 1 : row + 2))
            beep();
        else
            scrollTo(currentIndex());
        return;
    }
    QListView::keyPressEvent(event);
}

void TaskNamesView::showSelection()
{
    if (!m_selection)
        return;
    const int row = m_model->rowOfId(m_selection->ref());
    const QModelIndex current = row < 0 ? QModelIndex() : m_model->index(row);
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.size() == (current.isValid() ? 1 : 0) && (!current.isValid() || selected.constFirst() == current))
        return;
    m_syncing = true;
    if (current.isValid()) {
        selectionModel()->setCurrentIndex(current, QItemSelectionModel::ClearAndSelect);
        scrollTo(current);
    } else {
        selectionModel()->clearSelection();
    }
    m_syncing = false;
}

void TaskNamesView::takeSelection()
{
    if (m_syncing || m_modelChanging || !m_selection)
        return;
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    const std::optional<qint64> id = selected.isEmpty()
        ? std::nullopt
        : std::optional<qint64>(selected.constFirst().data(TaskNamesModel::TaskIdRole).toLongLong());
    if (id != m_selection->ref())
        m_selection->setRef(id);
}

void TaskNamesView::mousePressEvent(QMouseEvent *event)
{
    // A list selects on the press. Here that would make the task being dragged the window's
    // selection, so its panel would take the place of the one the name is to be dropped on.
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || !index.isValid()) {
        m_pressTaken = false;
        m_pressedIndex = QPersistentModelIndex();
        QListView::mousePressEvent(event);
        return;
    }
    m_pressTaken = true;
    m_pressedIndex = index;
    m_pressPosition = event->position().toPoint();
    event->accept();
}

void TaskNamesView::mouseMoveEvent(QMouseEvent *event)
{
    // A drag's release goes to where the name was dropped, not back here.
    if (m_pressTaken && !(event->buttons() & Qt::LeftButton)) {
        m_pressTaken = false;
        m_pressedIndex = QPersistentModelIndex();
    }
    if (!m_pressTaken) {
        QListView::mouseMoveEvent(event);
        return;
    }
    event->accept();
    if (!m_pressedIndex.isValid())
        return;
    const QPoint at = event->position().toPoint();
    if ((at - m_pressPosition).manhattanLength() <= QApplication::startDragDistance())
        return;
    const QModelIndex index = m_pressedIndex;
    m_pressedIndex = QPersistentModelIndex();
    dragRow(index, m_pressPosition, m_model->supportedDragActions());
}

void TaskNamesView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_pressTaken || event->button() != Qt::LeftButton) {
        QListView::mouseReleaseEvent(event);
        return;
    }
    m_pressTaken = false;
    event->accept();
    const QModelIndex index = m_pressedIndex;
    m_pressedIndex = QPersistentModelIndex();
    if (!index.isValid())
        return;
    // As a single-selection list takes a click: Ctrl on the selected row lets it go.
    if ((event->modifiers() & Qt::ControlModifier) && selectionModel()->isSelected(index))
        selectionModel()->clearSelection();
    else
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    Q_EMIT clicked(index);
}

void TaskNamesView::startDrag(Qt::DropActions supportedActions)
{
    // Reached only for drags the list starts itself, from a row it has selected.
    QModelIndex index = currentIndex();
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (!selected.isEmpty())
        index = selected.constFirst();
    if (index.isValid())
        dragRow(index, viewport()->mapFromGlobal(QCursor::pos()), supportedActions);
}

void TaskNamesView::dragRow(const QModelIndex &index, QPoint hotSpot, Qt::DropActions actions)
{
    // The base class would take a moved row out of the model after the drop; here a move has
    // already happened through the model, and a name dropped elsewhere leaves the task alone.
    QMimeData *data = m_model->mimeData({ index });
    if (!data)
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(data);
    const QRect rect = visualRect(index);
    drag->setPixmap(viewport()->grab(rect));
    drag->setHotSpot(hotSpot - rect.topLeft());
    drag->exec(actions, Qt::MoveAction);
}

void TaskNamesView::dropEvent(QDropEvent *event)
{
    // Only the list's own rows land here (the model refuses the rest), and for them the plain
    // item view drop is the right one: it hands the row and its new place to the model.
    if (!event->mimeData() || !event->mimeData()->hasFormat(TaskNamesModel::rowMimeType())) {
        event->ignore();
        return;
    }
    QAbstractItemView::dropEvent(event);
}
