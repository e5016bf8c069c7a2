#include "ChartAccessibility.h"
#include "GanttView.h"
#include "ProjectView.h"
#include "PropertiesView.h"
#include "ShownText.h"
#include "TaskAttributesView.h"
#include "ViewTestSupport.h"

#include <QAccessible>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTest>
#include <functional>

#include <string>

using namespace ViewTest;

namespace {

const std::string longName(5000, 'x');

// The project starts at 10 minutes, so starts told from zero would show.
const QList<TaskSeed> planTasks = {
    { "a", 600, 600 },
    { "b", 2400, 2700, "A" },
    { "c", 1230, 90 },
    { longName.c_str(), 600, 60 },
};

struct Seen {
    QAccessible::Event type;
    QAccessibleInterface *item;
};
QList<Seen> seen;

void record(QAccessibleEvent *event)
{
    seen.append({ event->type(), event->accessibleInterface() });
}

bool wasSeen(QAccessible::Event type, const QAccessibleInterface *item)
{
    return std::any_of(seen.cbegin(), seen.cend(), [&](const Seen &s) { return s.type == type && s.item == item; });
}

struct Window {
    Plan plan;
    std::unique_ptr<ProjectView> view;

    Window()
        : plan(planTasks)
    {
        view = std::make_unique<ProjectView>(plan.project.get());
        view->resize(900, 400);
        view->show();
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
    }

    [[nodiscard]] GanttView *chart() const { return view->ganttView(); }
    [[nodiscard]] QAccessibleInterface *rows() const { return QAccessible::queryAccessibleInterface(chart()); }
    void clickBox(int row) const
    {
        QTest::mouseClick(chart()->viewport(), Qt::LeftButton, {}, chart()->boxRect(row).center().toPoint());
    }
};

enum class Change { DeleteFirst, DeleteMiddle, UndoDelete, Add, Reorder };

} // namespace

Q_DECLARE_METATYPE(Change)

class TestAccessibility : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QAccessible::installUpdateHandler(record); }
    void init() { seen.clear(); }

    void items_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        QTest::newRow("first") << 0 << "a"
                               << "starts 0 min after the plan's start, lasts 10 min";
        QTest::newRow("grouped") << 1 << "b"
                                 << "starts 30 min after the plan's start, lasts 45 min, group A";
        QTest::newRow("halves rounded away from zero") << 2 << "c"
                                                       << "starts 11 min after the plan's start, lasts 2 min";
        QTest::newRow("long name cut") << 3 << corvane::ShownText::cut(QString::fromStdString(longName))
                                       << "starts 0 min after the plan's start, lasts 1 min";
    }
    // With a start date, readers hear dates, also on the tooltip over a box.
    void datedDescriptions()
    {
        QLocale::setDefault(QLocale(QStringLiteral("en_GB")));
        const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
        const Window window;
        window.plan.project->changeOrigin(QDateTime(QDate(2026, 12, 14), QTime(8, 0), Qt::LocalTime));
        QCOMPARE(window.rows()->child(1)->text(QAccessible::Description),
            QStringLiteral("starts Mon 14 Dec 2026 08:40, ends Mon 14 Dec 2026 09:25, lasts 45 min, group A"));
        const QString summary = GanttView::taskSummary(*window.plan.project, *window.plan.project->tasks().at(1));
        QVERIFY2(summary.startsWith(QStringLiteral("b\nStarts: Mon 14 Dec 2026 08:40\nEnds: Mon 14 Dec 2026 09:25\n"
                                                   "Duration: 45 min\nSlack: ")),
            qPrintable(summary));
    }

    void items()
    {
        QFETCH(int, row);
        QFETCH(QString, name);
        QFETCH(QString, description);
        const Window window;
        QAccessibleInterface *chart = window.rows();
        QCOMPARE(chart->role(), QAccessible::List);
        QCOMPARE(chart->text(QAccessible::Name), QStringLiteral("Chart"));
        QCOMPARE(chart->childCount(), 4);

        QAccessibleInterface *item = chart->child(row);
        QVERIFY(item && item->isValid());
        QCOMPARE(item->role(), QAccessible::ListItem);
        QCOMPARE(item->text(QAccessible::Name), name);
        QCOMPARE(item->text(QAccessible::Description), description);
        QCOMPARE(item->parent(), chart);
        QCOMPARE(chart->indexOfChild(item), row);
        QVERIFY(item->state().selectable && !item->state().selected);

        // The whole pixels the box covers, on screen.
        const QPointF origin = window.chart()->viewport()->mapToGlobal(QPointF());
        const QRectF box = window.chart()->boxRect(row).translated(origin);
        QVERIFY(QRectF(item->rect()).contains(box));
        // A thin box is told as wide as a press takes hold of it.
        QVERIFY(item->rect().width() <= std::max(box.width(), ChartGeometry::minimumHitWidth) + 2
            && item->rect().height() <= box.height() + 2);
        QCOMPARE(chart->childAt(box.center().x(), box.center().y()), item);
        QCOMPARE(chart->childAt(int(origin.x()) + 5, int(origin.y()) + 350), nullptr);
    }

    // A milestone has no width but is drawn as a diamond: readers find it showing, where it is
    // drawn, and a press there selects it.
    void milestoneShows()
    {
        Plan plan({ { "start", 0, 600 }, { "gate", 300, 0 }, { "end", 600, 600 } });
        ProjectView view(plan.project.get());
        view.resize(900, 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        GanttView *chart = view.ganttView();
        QAccessibleInterface *item = QAccessible::queryAccessibleInterface(chart)->child(1);
        QVERIFY(item && item->isValid());
        QCOMPARE(item->text(QAccessible::Name), QStringLiteral("gate"));
        QVERIFY(!item->state().offscreen);
        const QRect rect = item->rect();
        QVERIFY2(rect.width() >= int(ChartGeometry::minimumHitWidth), qPrintable(QString::number(rect.width())));
        QCOMPARE(QAccessible::queryAccessibleInterface(chart)->childAt(rect.center().x(), rect.center().y()), item);
        QTest::mouseClick(chart->viewport(), Qt::LeftButton, {}, chart->viewport()->mapFromGlobal(rect.center()));
        QCOMPARE(view.selectedTaskIdHolder()->ref(), std::optional<qint64>(2));
        QVERIFY(item->state().selected);
    }

    // The panel's heading comes before its fields, for the project and for a task.
    void panelHeadingFirst()
    {
        const Window window;
        for (const QString &heading : { QStringLiteral("Project Properties"), QStringLiteral("Task Properties") }) {
            if (heading == QStringLiteral("Task Properties"))
                window.clickBox(0);
            // The new panel is shown, and the old one deleted, from the event loop.
            QCoreApplication::sendPostedEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QWidget *panel = window.view->propertiesView();
            QAccessibleInterface *root = QAccessible::queryAccessibleInterface(panel);
            QStringList order;
            // Depth first, as a reader goes through the panel.
            const std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
                for (int i = 0; i < node->childCount(); ++i) {
                    QAccessibleInterface *child = node->child(i);
                    if (!child || child->state().invisible)
                        continue;
                    if (child->role() == QAccessible::StaticText || child->role() == QAccessible::EditableText)
                        order.append(child->role() == QAccessible::EditableText ? QStringLiteral("<field>")
                                                                                : child->text(QAccessible::Name));
                    walk(child);
                }
            };
            walk(root);
            QVERIFY2(!order.isEmpty() && order.first() == heading, qPrintable(order.join(u'|')));
        }
    }

    void selectionFollowsClicksAndPress()
    {
        const Window window;
        QAccessibleInterface *chart = window.rows();
        QAccessibleInterface *first = chart->child(0);
        QAccessibleInterface *second = chart->child(1);

        window.clickBox(1);
        QVERIFY(second->state().selected);
        QVERIFY(second->state().focused);
        QVERIFY(!first->state().selected);
        QCOMPARE(chart->focusChild(), second);

        window.clickBox(0);
        QVERIFY(first->state().selected);
        QVERIFY(!second->state().selected);

        QVERIFY(second->actionInterface());
        QCOMPARE(second->actionInterface()->actionNames(), QStringList { QAccessibleActionInterface::pressAction() });
        second->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(window.view->selectedTaskIdHolder()->ref(), window.plan.task("b")->id());
        QVERIFY(second->state().selected);
    }

    void itemsFollowTasks_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<int>("size");
        QTest::newRow("delete the first") << Change::DeleteFirst << 3;
        QTest::newRow("delete the middle") << Change::DeleteMiddle << 3;
        QTest::newRow("undo a deletion") << Change::UndoDelete << 4;
        QTest::newRow("add") << Change::Add << 5;
        QTest::newRow("reorder") << Change::Reorder << 4;
    }
    void itemsFollowTasks()
    {
        QFETCH(Change, change);
        QFETCH(int, size);
        Window window;
        Project *project = window.plan.project.get();
        QAccessibleInterface *chart = window.rows();
        QHash<QString, QAccessible::Id> ids;
        for (int row = 0; row < chart->childCount(); ++row)
            ids.insert(chart->child(row)->text(QAccessible::Name), QAccessible::uniqueId(chart->child(row)));

        switch (change) {
        case Change::DeleteFirst:
            project->deleteTask(window.plan.task("a"));
            break;
        case Change::DeleteMiddle:
            project->deleteTask(window.plan.task("b"));
            break;
        case Change::UndoDelete:
            project->deleteTask(window.plan.task("a"));
            window.plan.stack.undo();
            break;
        case Change::Add:
            project->addTask(Task::createNew(project));
            break;
        case Change::Reorder:
            project->reorderTask(0, 2);
            break;
        }

        QStringList names;
        for (const QString &name : window.plan.names())
            names.append(corvane::ShownText::cut(name));
        QCOMPARE(chart->childCount(), size);
        for (int row = 0; row < size; ++row)
            QCOMPARE(chart->child(row)->text(QAccessible::Name), names.at(row));
        for (auto held = ids.cbegin(); held != ids.cend(); ++held) {
            QAccessibleInterface *item = QAccessible::accessibleInterface(held.value());
            const qsizetype row = names.indexOf(held.key());
            // A withdrawn item is gone from the registry; a kept one follows its task's row.
            if (!item) {
                QVERIFY2(row < 0 || change == Change::UndoDelete, qPrintable(held.key()));
                continue;
            }
            QVERIFY(item->isValid());
            QCOMPARE(item->text(QAccessible::Name), held.key());
            QCOMPARE(chart->indexOfChild(item), row);
        }
    }

    void readersHearOfChanges()
    {
        // Qt hands events on only while a platform bridge is active, which offscreen never is;
        // a bridge started by QT_LINUX_ACCESSIBILITY_ALWAYS_ON on a desktop session is.
        if (!QAccessible::isActive())
            QSKIP("no active accessibility bridge to deliver events");
        Window window;
        QAccessibleInterface *chart = window.rows();
        QAccessibleInterface *first = chart->child(0);
        QAccessibleInterface *second = chart->child(1);
        window.clickBox(1);
        QVERIFY(wasSeen(QAccessible::SelectionAdd, second));
        QVERIFY(wasSeen(QAccessible::Focus, second));
        window.clickBox(0);
        QVERIFY(wasSeen(QAccessible::SelectionRemove, second));
        QVERIFY(wasSeen(QAccessible::SelectionAdd, first));
        window.plan.task("a")->setName(QStringLiteral("renamed"));
        QVERIFY(wasSeen(QAccessible::NameChanged, first));
        window.plan.project->deleteTask(window.plan.task("c"));
        QVERIFY(wasSeen(QAccessible::TableModelChanged, chart));
    }

    void largeChartMakesOnlyAskedItems()
    {
        constexpr qsizetype count = 100'000;
        TaskList tasks;
        tasks.reserve(count);
        for (qsizetype i = 0; i < count; ++i)
            tasks.append(Task::create(i + 1, nullptr, QString::number(i), 60, 60.0 * double(i + 1)));
        const std::unique_ptr<Project> project = Project::load(QStringLiteral("Large"), tasks, {});
        ProjectView view(project.get());
        view.resize(900, 400);
        view.show();
        QAccessibleInterface *chart = QAccessible::queryAccessibleInterface(view.ganttView());

        const qsizetype before = chartAccessibleItemCount();
        QCOMPARE(chart->childCount(), int(count));
        QAccessibleInterface *last = chart->child(int(count - 1));
        QCOMPARE(last->text(QAccessible::Name), QStringLiteral("99999"));
        QCOMPARE(last->text(QAccessible::Description),
            QStringLiteral("starts 99999 min after the plan's start, lasts 1 min"));
        QCOMPARE(chart->child(int(count - 1)), last);
        QCOMPARE(chartAccessibleItemCount() - before, 1);

        project->deleteTask(project->tasks().constFirst());
        QCOMPARE(chart->indexOfChild(last), int(count - 2));
        QCOMPARE(chartAccessibleItemCount() - before, 1);
    }

    void tabRunsFromPanelToNamesToChart_data()
    {
        QTest::addColumn<bool>("taskSelected");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("project panel") << false << strings({ "Title", "Tasks", "Chart" });
        QTest::newRow("task panel") << true
                                    << strings({ "Title", "Duration", "Exclusion Group", "Predecessors", "Successors",
                                           "Tasks", "Chart" });
    }
    void tabRunsFromPanelToNamesToChart()
    {
        QFETCH(bool, taskSelected);
        QFETCH(QStringList, order);
        const Window window;
        if (taskSelected)
            window.clickBox(1);
        QWidget *panel = window.view->propertiesView()->panel();
        QCOMPARE(bool(qobject_cast<TaskAttributesView *>(panel)), taskSelected);
        // A rebuilt panel is shown once the event loop runs.
        QVERIFY(QTest::qWaitFor([panel] { return panel->isVisible(); }));
        QLineEdit *firstField = panel->findChild<QLineEdit *>();
        firstField->setFocus(Qt::MouseFocusReason);

        QStringList reached;
        for (qsizetype step = 0; step < order.size(); ++step) {
            QWidget *focus = QApplication::focusWidget();
            QVERIFY(focus);
            reached.append(QAccessible::queryAccessibleInterface(focus)->text(QAccessible::Name));
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        QCOMPARE(reached, order);
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
