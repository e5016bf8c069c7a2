#include "ChartAccessibility.h"

#include "CalendarScale.h"

#include "GanttView.h"
#include "IntPublisher.h"
#include "Project.h"
#include "ShownText.h"
#include "TaskAttributesView.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <QSet>

#include <algorithm>
#include <utility>

namespace {

qsizetype itemCount = 0;

class ChartItem;

// The items of one chart that readers asked for, keyed by task, so that an item keeps its task
// while rows come and go above it. A child of the chart.
class ChartItems final : public QObject {
    Q_OBJECT

public:
    explicit ChartItems(GanttView *chart);
    ~ChartItems() override;

    // The chart's own, made on first use.
    [[nodiscard]] static ChartItems *of(GanttView *chart);

    [[nodiscard]] GanttView *chart() const { return static_cast<GanttView *>(parent()); }
    [[nodiscard]] Project *project() const { return chart()->project(); }
    [[nodiscard]] IntPublisher *selection() const { return m_selection; }
    void setSelection(IntPublisher *selection);
    [[nodiscard]] bool isSelected(const Task &task) const;

    // The item of a row, made when there is none; none past the last row.
    [[nodiscard]] ChartItem *item(qsizetype row);
    // The item of the selected task, made when there is none; none while nothing is selected.
    [[nodiscard]] ChartItem *selectedItem();

private:
    struct Entry {
        QAccessible::Id id;
        QList<QMetaObject::Connection> connections;
    };

    [[nodiscard]] ChartItem *existing(const Task *task) const;
    void withdraw(const Task *task);
    void tasksChanged();
    void selectionChanged();
    void notifyEach(QAccessible::Event type) const;

    QHash<const Task *, Entry> m_items;
    QPointer<IntPublisher> m_selection;
    QMetaObject::Connection m_selectionConnection;
    std::optional<qint64> m_shownSelection;
};

// One task's row. The reader may hold it longer than the task stays in the project; from then on
// it reports itself invalid until the chart withdraws it.
class ChartItem final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    ChartItem(ChartItems *items, Task *task, qsizetype row)
        : m_items(items)
        , m_task(task)
        , m_row(row)
    {
        ++itemCount;
    }
    ~ChartItem() override { --itemCount; }

    [[nodiscard]] Task *task() const { return m_task; }
    void setRow(qsizetype row) { m_row = row; }
    // Whether the row last seen still holds the task; it moves when rows above it come or go.
    [[nodiscard]] bool rowIsCurrent() const
    {
        if (!m_items || !m_task || !m_items->project())
            return false;
        const TaskList &tasks = m_items->project()->tasks();
        return m_row >= 0 && m_row < tasks.size() && tasks.at(m_row).get() == m_task;
    }
    // The task's row now, -1 once it has left the project.
    [[nodiscard]] qsizetype row() const
    {
        if (rowIsCurrent())
            return m_row;
        if (!m_items || !m_task || !m_items->project())
            return -1;
        const TaskList &tasks = m_items->project()->tasks();
        const auto found
            = std::find_if(tasks.cbegin(), tasks.cend(), [this](const TaskPtr &task) { return task.get() == m_task; });
        m_row = found == tasks.cend() ? -1 : found - tasks.cbegin();
        return m_row;
    }

    bool isValid() const override { return row() >= 0; }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override
    {
        const QWidget *window = m_items ? m_items->chart()->window() : nullptr;
        return window ? window->windowHandle() : nullptr;
    }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override
    {
        return m_items ? QAccessible::queryAccessibleInterface(m_items->chart()) : nullptr;
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QString text(QAccessible::Text type) const override
    {
        if (!isValid())
            return {};
        switch (type) {
        case QAccessible::Name:
            return corvane::ShownText::cut(m_task->name());
        case QAccessible::Description:
            return description();
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString &) override { }

    QRect rect() const override
    {
        const qsizetype at = row();
        if (at < 0)
            return {};
        const QWidget *viewport = m_items->chart()->viewport();
        // A milestone's box has no width; it is drawn, and pressed, as wide as the hit area.
        return ChartGeometry::hitRect(m_items->chart()->boxRect(at).normalized())
            .toAlignedRect()
            .translated(viewport->mapToGlobal(QPoint()));
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        const qsizetype at = row();
        if (at < 0) {
            state.invalid = true;
            return state;
        }
        state.selectable = true;
        state.focusable = true;
        const GanttView *chart = m_items->chart();
        if (m_items->isSelected(*m_task)) {
            state.selected = true;
            state.focused = chart->hasFocus();
        }
        if (!ChartGeometry::hitRect(chart->boxRect(at).normalized()).intersects(QRectF(chart->viewport()->rect())))
            state.offscreen = true;
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface *>(this);
        return nullptr;
    }
    QStringList actionNames() const override
    {
        if (!isValid() || !m_items->selection())
            return {};
        return { pressAction() };
    }
    // Selects the task, as a click on its box does.
    void doAction(const QString &name) override
    {
        if (name == pressAction() && isValid() && m_items->selection())
            m_items->selection()->setRef(m_task->id());
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    // Minutes as the task panel writes them; the start counts from the project's start, where
    // the chart's time axis begins, and says so: the panel's "Start at" counts from its end.
    [[nodiscard]] QString description() const
    {
        const Project &project = *m_items->project();
        const QString duration = MinuteText::wholeMinutes(m_task->duration());
        const std::optional<QDateTime> starts = project.dateTimeAt(m_task->start());
        const std::optional<QDateTime> ends = project.dateTimeAt(m_task->end());
        if (starts && ends) {
            QString text = QCoreApplication::translate("ChartAccessibility", "starts %1, ends %2, lasts %3 min")
                               .arg(CalendarText::dateTime(*starts), CalendarText::dateTime(*ends), duration);
            if (const ExclusionGroup &group = m_task->exclusionGroup())
                text += QCoreApplication::translate("ChartAccessibility", ", group %1")
                            .arg(corvane::ShownText::cut(*group));
            return text;
        }
        const QString start = MinuteText::wholeMinutes(m_task->start() - project.start());
        if (const ExclusionGroup &group = m_task->exclusionGroup())
            return QCoreApplication::translate(
                "ChartAccessibility", "starts %1 min after the plan's start, lasts %2 min, group %3")
                .arg(start, duration, corvane::ShownText::cut(*group));
        return QCoreApplication::translate("ChartAccessibility", "starts %1 min after the plan's start, lasts %2 min")
            .arg(start, duration);
    }

    QPointer<ChartItems> m_items;
    QPointer<Task> m_task;
    mutable qsizetype m_row;
};

class ChartAccessible final : public QAccessibleWidget {
public:
    explicit ChartAccessible(GanttView *chart)
        : QAccessibleWidget(chart, QAccessible::List)
    { }

    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Name && widget()->accessibleName().isEmpty())
            return QCoreApplication::translate("ChartAccessibility", "Chart");
        return QAccessibleWidget::text(type);
    }

    int childCount() const override
    {
        const Project *project = chart()->project();
        return project ? int(project->tasks().size()) : 0;
    }
    QAccessibleInterface *child(int index) const override { return items()->item(index); }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const auto *item = dynamic_cast<const ChartItem *>(child);
        if (!item || item->parent() != this)
            return -1;
        return int(item->row());
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QWidget *viewport = chart()->viewport();
        const QPoint local = viewport->mapFromGlobal(QPoint(x, y));
        if (!viewport->rect().contains(local))
            return nullptr;
        const std::optional<qsizetype> row = chart()->rowAt(QPointF(local));
        return row ? items()->item(*row) : nullptr;
    }
    QAccessibleInterface *focusChild() const override
    {
        return chart()->hasFocus() ? items()->selectedItem() : nullptr;
    }

private:
    [[nodiscard]] GanttView *chart() const { return static_cast<GanttView *>(widget()); }
    [[nodiscard]] ChartItems *items() const { return ChartItems::of(chart()); }
};

ChartItems::ChartItems(GanttView *chart)
    : QObject(chart)
{
    if (Project *project = chart->project()) {
        connect(project, &Project::tasksChanged, this, &ChartItems::tasksChanged);
        // Every start is told from the project's.
        connect(project, &Project::startChanged, this, [this] { notifyEach(QAccessible::DescriptionChanged); });
    }
}

ChartItems::~ChartItems()
{
    for (const Entry &entry : std::as_const(m_items))
        QAccessible::deleteAccessibleInterface(entry.id);
}

ChartItems *ChartItems::of(GanttView *chart)
{
    if (auto *items = chart->findChild<ChartItems *>(QString(), Qt::FindDirectChildrenOnly))
        return items;
    return new ChartItems(chart);
}

void ChartItems::setSelection(IntPublisher *selection)
{
    disconnect(m_selectionConnection);
    m_selection = selection;
    m_shownSelection = selection ? selection->ref() : std::nullopt;
    if (selection)
        m_selectionConnection = connect(selection, &IntPublisher::refChanged, this, &ChartItems::selectionChanged);
}

bool ChartItems::isSelected(const Task &task) const
{
    return m_selection && m_selection->ref() == task.id();
}

ChartItem *ChartItems::existing(const Task *task) const
{
    const auto found = m_items.constFind(task);
    if (found == m_items.cend())
        return nullptr;
    auto *item = static_cast<ChartItem *>(QAccessible::accessibleInterface(found->id));
    return item && item->task() == task ? item : nullptr;
}

ChartItem *ChartItems::item(qsizetype row)
{
    const Project *project = this->project();
    if (!project || row < 0 || row >= project->tasks().size())
        return nullptr;
    Task *task = project->tasks().at(row).get();
    if (ChartItem *item = existing(task)) {
        item->setRow(row);
        return item;
    }
    // A task at the address of one gone unnoticed must not inherit its item.
    withdraw(task);

    auto *item = new ChartItem(this, task, row);
    Entry entry { QAccessible::registerAccessibleInterface(item), {} };
    const QAccessible::Id id = entry.id;
    const auto notify = [id](QAccessible::Event type) {
        if (QAccessibleInterface *item = QAccessible::accessibleInterface(id)) {
            QAccessibleEvent event(item, type);
            QAccessible::updateAccessibility(&event);
        }
    };
    const auto described = [notify] { notify(QAccessible::DescriptionChanged); };
    entry.connections = {
        connect(task, &Task::nameChanged, this, [notify] { notify(QAccessible::NameChanged); }),
        connect(task, &Task::startChanged, this, described),
        connect(task, &Task::durationChanged, this, described),
        connect(task, &Task::exclusionGroupChanged, this, described),
    };
    m_items.insert(task, std::move(entry));
    return item;
}

ChartItem *ChartItems::selectedItem()
{
    const Project *project = this->project();
    if (!project || !m_selection)
        return nullptr;
    const TaskPtr task = project->taskWithId(m_selection->ref());
    if (!task)
        return nullptr;
    if (ChartItem *item = existing(task.get()))
        return item->isValid() ? item : nullptr;
    const qsizetype row = project->tasks().indexOf(task);
    return row >= 0 ? item(row) : nullptr;
}

void ChartItems::withdraw(const Task *task)
{
    const auto found = m_items.find(task);
    if (found == m_items.end())
        return;
    for (const QMetaObject::Connection &connection : std::as_const(found->connections))
        disconnect(connection);
    const QAccessible::Id id = found->id;
    m_items.erase(found);
    QAccessible::deleteAccessibleInterface(id);
}

void ChartItems::tasksChanged()
{
    // An item keeps its task: those whose rows moved find them again in one pass over the tasks,
    // those whose tasks left are withdrawn. Readers hold few items, so mostly nothing is looked up.
    QSet<const Task *> moved;
    for (auto entry = m_items.cbegin(); entry != m_items.cend(); ++entry) {
        const ChartItem *item = existing(entry.key());
        if (!item || !item->rowIsCurrent())
            moved.insert(entry.key());
    }
    if (!moved.isEmpty()) {
        const TaskList &tasks = project()->tasks();
        for (qsizetype row = 0; row < tasks.size() && !moved.isEmpty(); ++row) {
            const Task *task = tasks.at(row).get();
            if (moved.remove(task)) {
                if (ChartItem *item = existing(task))
                    item->setRow(row);
                else
                    withdraw(task);
            }
        }
        for (const Task *task : std::as_const(moved))
            withdraw(task);
    }
    QAccessibleTableModelChangeEvent event(chart(), QAccessibleTableModelChangeEvent::ModelReset);
    QAccessible::updateAccessibility(&event);
}

void ChartItems::selectionChanged()
{
    // The selection notifies also when it stays the same.
    const std::optional<qint64> now = m_selection ? m_selection->ref() : std::nullopt;
    if (now == m_shownSelection)
        return;
    const std::optional<qint64> before = std::exchange(m_shownSelection, now);
    if (!QAccessible::isActive())
        return;
    QAccessible::State changed;
    changed.selected = true;
    // Only a reader that holds the item of the task left can care that it is no longer selected.
    if (const TaskPtr left = project() ? project()->taskWithId(before) : TaskPtr()) {
        if (ChartItem *item = existing(left.get()); item && item->isValid()) {
            QAccessibleStateChangeEvent state(item, changed);
            QAccessible::updateAccessibility(&state);
            QAccessibleEvent removed(item, QAccessible::SelectionRemove);
            QAccessible::updateAccessibility(&removed);
        }
    }
    if (ChartItem *item = selectedItem()) {
        QAccessibleStateChangeEvent state(item, changed);
        QAccessible::updateAccessibility(&state);
        QAccessibleEvent added(item, QAccessible::SelectionAdd);
        QAccessible::updateAccessibility(&added);
        if (chart()->hasFocus()) {
            QAccessibleEvent focus(item, QAccessible::Focus);
            QAccessible::updateAccessibility(&focus);
        }
    }
}

void ChartItems::notifyEach(QAccessible::Event type) const
{
    for (const Entry &entry : m_items) {
        if (QAccessibleInterface *item = QAccessible::accessibleInterface(entry.id)) {
            QAccessibleEvent event(item, type);
            QAccessible::updateAccessibility(&event);
        }
    }
}

QAccessibleInterface *chartFactory(const QString &key, QObject *object)
{
    if (key == QLatin1StringView(GanttView::staticMetaObject.className())) {
        if (auto *chart = qobject_cast<GanttView *>(object))
            return new ChartAccessible(chart);
    }
    return nullptr;
}

// A chart's interface is made once, on the first question about it, which may come while the
// chart is still being built; the factory must be there before any chart is.
void installChartFactory()
{
    QAccessible::installFactory(chartFactory);
}
Q_CONSTRUCTOR_FUNCTION(installChartFactory)

} // namespace

void attachChartAccessibility(GanttView *chart, IntPublisher *selection)
{
    ChartItems::of(chart)->setSelection(selection);
}

qsizetype chartAccessibleItemCount()
{
    return itemCount;
}

#include "ChartAccessibility.moc"
