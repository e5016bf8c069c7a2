#include "Beep.h"
#include "ChartGeometry.h"
#include "GanttView.h"
#include "Presenter.h"
#include "ProjectAttributesView.h"
#include "ProjectView.h"
#include "PropertiesView.h"
#include "TaskAttributesView.h"
#include "TaskListModel.h"
#include "TaskListView.h"
#include "TaskNamesModel.h"
#include "TaskNamesView.h"
#include "ViewTestSupport.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QDrag>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <QWheelEvent>

using namespace ViewTest;

namespace {

// Rows 0 to 4; "c" depends on "b".
const QList<TaskSeed> planTasks = {
    { "a", 0, 600 },
    { "b", 600, 600 },
    { "c", 1200, 600 },
    { "d", 1800, 600 },
    { "e", 2400, 600 },
};
const QList<IntPair> planDependencies = { { 2, 3 } };

// A mouse move with the left button held, which QTest::mouseMove cannot send. origin is where
// the widget's top left corner was on the screen at the press.
void moveHeld(QWidget *widget, QPoint origin, QPoint at)
{
    QMouseEvent move(
        QEvent::MouseMove, QPointF(at), QPointF(origin + at), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

// A project window's content, with the window's Delete command wired as the controller wires it.
struct Window {
    Plan plan;
    std::unique_ptr<ProjectView> view;
    QAction deleteAction { QStringLiteral("Delete") };

    explicit Window(const QList<TaskSeed> &tasks = planTasks, const QList<IntPair> &dependencies = planDependencies,
        QSize size = { 900, 400 })
        : plan(tasks, dependencies)
    {
        view = std::make_unique<ProjectView>(plan.project.get());
        deleteAction.setShortcut(QKeySequence(Qt::Key_Delete));
        deleteAction.setShortcutContext(Qt::WindowShortcut);
        QObject::connect(&deleteAction, &QAction::triggered, view.get(), [this] { view->deleteCommand(); });
        view->addAction(&deleteAction);
        view->resize(size);
        view->show();
        view->activateWindow();
    }

    [[nodiscard]] IntPublisher &selection() const { return *view->selectedTaskIdHolder(); }
    [[nodiscard]] TaskNamesView *names() const { return view->taskNamesView(); }
    [[nodiscard]] GanttView *chart() const { return view->ganttView(); }
    [[nodiscard]] QWidget *panel() const { return view->propertiesView()->panel(); }
    [[nodiscard]] TaskAttributesView *taskPanel() const { return qobject_cast<TaskAttributesView *>(panel()); }
    [[nodiscard]] QPoint nameRow(int row) const
    {
        return names()->visualRect(names()->namesModel()->index(row)).center();
    }
    void clickName(int row) const { QTest::mouseClick(names()->viewport(), Qt::LeftButton, {}, nameRow(row)); }
    void clickBox(int row) const
    {
        QTest::mouseClick(chart()->viewport(), Qt::LeftButton, {}, chart()->boxRect(row).center().toPoint());
    }
    [[nodiscard]] QStringList rowNames() const
    {
        QStringList rows;
        for (int row = 0; row < names()->model()->rowCount(); ++row)
            rows.append(names()->model()->index(row, 0).data().toString());
        return rows;
    }
    [[nodiscard]] QList<int> selectedNameRows() const
    {
        QList<int> rows;
        for (const QModelIndex &index : names()->selectionModel()->selectedIndexes())
            rows.append(index.row());
        return rows;
    }
    // Drags row `from` of the names list and drops it in the upper or lower half of row `onto`.
    bool dragName(int from, int onto, bool lowerHalf) const
    {
        const std::unique_ptr<QMimeData> data(names()->namesModel()->mimeData({ names()->namesModel()->index(from) }));
        const QRect target = names()->visualRect(names()->namesModel()->index(onto));
        const QPoint at(target.center().x(), lowerHalf ? target.bottom() - 2 : target.top() + 2);
        return dropOn(names()->viewport(), at, data.get(), Qt::MoveAction);
    }
    // Presses on a name and moves sideways, first by less than the drag distance and then by more,
    // leaving the button down. Returns a copy of what the drag that started carries, or nothing.
    // The offscreen platform ends a drag at once, so the drop is the caller's to deliver.
    [[nodiscard]] std::unique_ptr<QMimeData> pressAndDragName(int row) const
    {
        QWidget *viewport = names()->viewport();
        const QPoint origin = viewport->mapToGlobal(QPoint(0, 0));
        const QPoint from = nameRow(row);
        const int distance = QApplication::startDragDistance();
        const QList<QDrag *> before = names()->findChildren<QDrag *>();
        QTest::mousePress(viewport, Qt::LeftButton, {}, from);
        moveHeld(viewport, origin, from - QPoint(distance / 2, 0));
        if (!names()->findChildren<QDrag *>().isEmpty())
            return {};
        moveHeld(viewport, origin, from - QPoint(distance + 2, 0));
        // The drag is deleted once the event loop runs again.
        for (QDrag *drag : names()->findChildren<QDrag *>()) {
            if (before.contains(drag) || !drag->mimeData())
                continue;
            auto copy = std::make_unique<QMimeData>();
            for (const QString &format : drag->mimeData()->formats())
                copy->setData(format, drag->mimeData()->data(format));
            return copy;
        }
        return {};
    }
};

// Positions are taken where the widget was at the press, since a splitter handle moves along.
void dragWithMouse(QWidget *widget, QPoint from, QPoint to)
{
    const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    QTest::mousePress(widget, Qt::LeftButton, {}, from);
    for (const QPoint &at : { (from + to) / 2, to })
        moveHeld(widget, origin, at);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, to);
}

} // namespace

class TestProjectView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void namesModelIsAConsistentListModel()
    {
        Plan plan(planTasks, planDependencies);
        TaskNamesModel model(plan.project.get());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        plan.project->reorderTask(0, 3);
        plan.project->reorderTask(4, 1);
        plan.task("b")->setName(QStringLiteral("bee"));
        plan.project->deleteTask(plan.task("c"));
        plan.stack.undo();
        plan.project->addTask(Task::create(99, plan.project.get(), QStringLiteral("new"), 60, 60));
        QVERIFY(model.moveRows({}, 0, 1, {}, 3));
        QCOMPARE(model.rowCount(), 6);
    }

    // One selection for the window: the names list and the chart write it, and the list and the
    // panel show it.
    void selectionFlowsThroughTheWindow()
    {
        Window window;
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        QVERIFY(qobject_cast<ProjectAttributesView *>(window.panel()));
        // Name rows are as high as chart rows, so that a name stands beside its box.
        const QRect secondName = window.names()->visualRect(window.names()->model()->index(1, 0));
        QCOMPARE(secondName.top(), 25);
        QCOMPARE(secondName.height(), 25);
        window.clickName(1);
        QCOMPARE(window.selection().ref(), std::optional(window.plan.task("b")->id()));
        QVERIFY(window.taskPanel());
        QCOMPARE(window.taskPanel()->task(), window.plan.task("b"));

        window.clickBox(3);
        QCOMPARE(window.selection().ref(), std::optional(window.plan.task("d")->id()));
        QCOMPARE(window.selectedNameRows(), QList<int> { 3 });
        QCOMPARE(window.taskPanel()->task(), window.plan.task("d"));

        window.selection().setRef(std::nullopt);
        QVERIFY(window.selectedNameRows().isEmpty());
        QVERIFY(qobject_cast<ProjectAttributesView *>(window.panel()));
    }

    // The Delete key in the names list or the chart deletes the selected task and clears the
    // selection; with nothing selected it deletes nothing.
    void deleteKeyDeletesTheSelectedTask_data()
    {
        QTest::addColumn<bool>("fromChart");
        QTest::addColumn<int>("selectedRow");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("names list") << false << 2 << strings({ "a", "b", "d", "e" });
        QTest::newRow("chart") << true << 1 << strings({ "a", "c", "d", "e" });
        QTest::newRow("nothing selected") << false << -1 << strings({ "a", "b", "c", "d", "e" });
    }
    void deleteKeyDeletesTheSelectedTask()
    {
        QFETCH(bool, fromChart);
        QFETCH(int, selectedRow);
        QFETCH(QStringList, after);
        Window window;
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        QWidget *focused = fromChart ? static_cast<QWidget *>(window.chart()) : window.names();
        focused->setFocus();
        if (selectedRow >= 0) {
            if (fromChart)
                window.clickBox(selectedRow);
            else
                window.clickName(selectedRow);
            QVERIFY(window.taskPanel());
        }
        QCOMPARE(QApplication::focusWidget(), focused);

        QTest::keyClick(focused, Qt::Key_Delete);
        QCOMPARE(window.plan.names(), after);
        QCOMPARE(window.rowNames(), after);
        QCOMPARE(window.selection().ref(), std::nullopt);
        QVERIFY(window.selectedNameRows().isEmpty());
        QVERIFY(qobject_cast<ProjectAttributesView *>(window.panel()));
        QCOMPARE(window.plan.stack.count(), selectedRow >= 0 ? 1 : 0);
        if (selectedRow >= 0) {
            QCOMPARE(window.plan.stack.undoText(), QStringLiteral("Delete Task"));
            QCOMPARE(window.plan.project->edges().size(), selectedRow == 1 || selectedRow == 2 ? 0 : 1);
        }
    }

    // A click in the names list or the chart takes the keyboard from wherever it was, so that
    // Delete then deletes the task just clicked.
    void clickThenDelete_data()
    {
        QTest::addColumn<bool>("inChart");
        QTest::newRow("names list") << false;
        QTest::newRow("chart") << true;
    }
    void clickThenDelete()
    {
        QFETCH(bool, inChart);
        Window window;
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        window.clickName(2);
        QTRY_VERIFY(window.panel()->isVisible());
        TaskListView *predecessors = window.taskPanel()->predecessorsView();
        predecessors->listView()->setFocus();
        QTest::mouseClick(predecessors->listView()->viewport(), Qt::LeftButton, {},
            predecessors->listView()->visualRect(predecessors->listModel()->index(0)).center());
        QVERIFY(predecessors->selectedTaskId());

        if (inChart)
            window.clickBox(3);
        else
            window.clickName(3);
        QVERIFY(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
        QCOMPARE(window.plan.names(), strings({ "a", "b", "c", "e" }));
        QCOMPARE(window.plan.project->edges().size(), 1);
        QCOMPARE(window.plan.stack.undoText(), QStringLiteral("Delete Task"));
    }

    // In a dependency list the Delete key removes a dependency, in a text field a character;
    // neither deletes the selected task.
    void deleteKeyElsewhereInThePanel()
    {
        Window window;
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        window.clickName(2);
        QTRY_VERIFY(window.panel()->isVisible());
        TaskListView *predecessors = window.taskPanel()->predecessorsView();
        predecessors->listView()->setFocus();
        QTest::mouseClick(predecessors->listView()->viewport(), Qt::LeftButton, {},
            predecessors->listView()->visualRect(predecessors->listModel()->index(0)).center());
        QTest::keyClick(predecessors->listView(), Qt::Key_Delete);
        QVERIFY(window.plan.project->edges().isEmpty());
        QCOMPARE(window.plan.project->tasks().size(), 5);
        QCOMPARE(window.plan.stack.undoText(), QStringLiteral("Delete Dependency"));
        QCOMPARE(window.selection().ref(), std::optional(window.plan.task("c")->id()));

        QLineEdit *title = window.taskPanel()->titleField();
        title->setFocus();
        title->end(false);
        QTest::keyClick(title, Qt::Key_Left);
        QTest::keyClick(title, Qt::Key_Delete);
        QCOMPARE(title->text(), QString());
        QCOMPARE(window.plan.project->tasks().size(), 5);
        QCOMPARE(window.plan.stack.count(), 1);
    }

    // What was being typed for a task is handed over when a click elsewhere selects another.
    void clickElsewhereFinishesTheEdit()
    {
        Window window;
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        window.clickName(0);
        typeInto(window.taskPanel()->durationField(), QStringLiteral("30"), false);
        window.clickBox(4);
        QCOMPARE(window.plan.task("a")->duration(), 1800.0);
        QCOMPARE(window.plan.stack.undoText(), QStringLiteral("Change Task Duration"));
        QCOMPARE(window.taskPanel()->task(), window.plan.task("e"));
    }

    // A name dragged from the list onto the panel's dependency lists makes a dependency.
    void nameDraggedOntoAListMakesADependency_data()
    {
        QTest::addColumn<bool>("ontoSuccessors");
        QTest::addColumn<QList<IntPair>>("dependencies");
        QTest::newRow("predecessor") << false << QList<IntPair> { { 2, 3 }, { 1, 4 } };
        QTest::newRow("successor") << true << QList<IntPair> { { 2, 3 }, { 4, 1 } };
    }
    void nameDraggedOntoAListMakesADependency()
    {
        QFETCH(bool, ontoSuccessors);
        QFETCH(QList<IntPair>, dependencies);
        corvane::RecordingPresenter presenter;
        corvane::ScopedPresenter installed(presenter);
        Window window;
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        window.clickName(3);
        // A panel put into the shown window shows once the event loop has run.
        QTRY_VERIFY(window.panel()->isVisible());
        TaskListView *list
            = ontoSuccessors ? window.taskPanel()->successorsView() : window.taskPanel()->predecessorsView();
        const std::unique_ptr<QMimeData> data(
            window.names()->namesModel()->mimeData({ window.names()->model()->index(0, 0) }));
        QCOMPARE(data->text(), QStringLiteral("a"));
        QVERIFY(dropAt(window.view.get(), list->mapTo(window.view.get(), list->rect().center()), data.get()));
        QTRY_COMPARE(window.plan.project->dependencies(), dependencies);
        QCOMPARE(window.plan.stack.undoText(), QStringLiteral("Add Dependency"));
        QVERIFY(presenter.alerts().isEmpty());
    }

    // A person drags a name as they click it, with a press on the row; the press must leave the
    // window's selection alone, so that the panel showing the task clicked before takes the drop.
    void nameDraggedWithTheMouse_data()
    {
        QTest::addColumn<QString>("onto");
        QTest::addColumn<QList<IntPair>>("dependencies");
        QTest::addColumn<QStringList>("order");
        const QStringList unchanged = strings({ "a", "b", "c", "d", "e" });
        QTest::newRow("predecessors") << "predecessors" << QList<IntPair> { { 2, 3 }, { 1, 4 } } << unchanged;
        QTest::newRow("successors") << "successors" << QList<IntPair> { { 2, 3 }, { 4, 1 } } << unchanged;
        QTest::newRow("another place in the list")
            << "names" << planDependencies << strings({ "b", "c", "a", "d", "e" });
    }
    void nameDraggedWithTheMouse()
    {
        QFETCH(QString, onto);
        QFETCH(QList<IntPair>, dependencies);
        QFETCH(QStringList, order);
        corvane::RecordingPresenter presenter;
        corvane::ScopedPresenter installed(presenter);
        Window window;
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        window.clickName(3);
        QTRY_VERIFY(window.panel()->isVisible());
        const TaskPtr d = window.plan.task("d");
        QCOMPARE(window.taskPanel()->task(), d);
        TaskListView *list = onto == QLatin1String("successors") ? window.taskPanel()->successorsView()
                                                                 : window.taskPanel()->predecessorsView();

        const std::unique_ptr<QMimeData> data = window.pressAndDragName(0);
        QVERIFY(data);
        QCOMPARE(data->text(), QStringLiteral("a"));
        QCOMPARE(window.selection().ref(), std::optional(d->id()));
        QCOMPARE(window.selectedNameRows(), QList<int> { 3 });
        QCOMPARE(window.taskPanel()->task(), d);

        if (onto == QLatin1String("names")) {
            const QRect target = window.names()->visualRect(window.names()->namesModel()->index(2));
            QVERIFY(dropOn(window.names()->viewport(), QPoint(target.center().x(), target.bottom() - 2), data.get(),
                Qt::MoveAction));
        } else {
            QVERIFY(dropAt(window.view.get(), list->mapTo(window.view.get(), list->rect().center()), data.get()));
        }
        // The button comes up after the drop, wherever the drag had gone: no click.
        QTest::mouseRelease(window.names()->viewport(), Qt::LeftButton, {}, window.nameRow(0));
        QTRY_COMPARE(window.plan.project->dependencies(), dependencies);
        QCOMPARE(window.plan.names(), order);
        QCOMPARE(window.plan.stack.count(), dependencies == planDependencies ? 0 : 1);
        QCOMPARE(window.selection().ref(), std::optional(d->id()));
        QCOMPARE(window.taskPanel()->task(), d);
        QVERIFY(presenter.alerts().isEmpty());
    }

    // A press and release without moving is a click; a move within the drag distance still is.
    void pressSelectsOnlyOnRelease()
    {
        Window window;
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        QWidget *viewport = window.names()->viewport();
        const QPoint at = window.nameRow(1);
        QTest::mousePress(viewport, Qt::LeftButton, {}, at);
        moveHeld(viewport, viewport->mapToGlobal(QPoint(0, 0)), at + QPoint(1, 1));
        QCOMPARE(window.selection().ref(), std::nullopt);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at + QPoint(1, 1));
        QCOMPARE(window.selection().ref(), std::optional(window.plan.task("b")->id()));
        QVERIFY(window.taskPanel());
        // The keyboard moves the selection at once, as before.
        QTest::keyClick(window.names(), Qt::Key_Down);
        QCOMPARE(window.selection().ref(), std::optional(window.plan.task("c")->id()));
    }

    // The keyboard starts in the names list, where the window's shortcuts are not taken by a
    // text field.
    void keyboardStartsInTheNamesList()
    {
        Window window;
        QAction moveRight(QStringLiteral("Move Right"));
        moveRight.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Right));
        window.view->addAction(&moveRight);
        QSignalSpy moves(&moveRight, &QAction::triggered);
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        QCOMPARE(QApplication::focusWidget(), window.names());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right, Qt::ControlModifier);
        QCOMPARE(moves.count(), 1);
    }

    // Enter takes the keyboard from the names list or the chart to the Title field, Escape brings
    // it back; Left and Right move the selected task from either, as the chart's own keys do.
    void keysBetweenRowsAndPanel_data()
    {
        QTest::addColumn<bool>("fromChart");
        QTest::addColumn<bool>("taskSelected");
        QTest::newRow("names list, task") << false << true;
        QTest::newRow("chart, task") << true << true;
        QTest::newRow("names list, project") << false << false;
    }
    void keysBetweenRowsAndPanel()
    {
        QFETCH(bool, fromChart);
        QFETCH(bool, taskSelected);
        Window window;
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        const TaskPtr task = window.plan.task("c");
        if (taskSelected) {
            if (fromChart)
                window.clickBox(2);
            else
                window.clickName(2);
            QCOMPARE(window.selection().ref(), std::optional(task->id()));
        }
        QWidget *rows = fromChart ? static_cast<QWidget *>(window.chart()) : window.names();
        rows->setFocus();
        QTest::keyClick(rows, Qt::Key_Return);
        QLineEdit *title = taskSelected ? window.taskPanel()->titleField()
                                        : qobject_cast<ProjectAttributesView *>(window.panel())->titleField();
        QCOMPARE(QApplication::focusWidget(), title);
        QTest::keyClick(title, Qt::Key_Escape);
        QCOMPARE(QApplication::focusWidget(), rows);
        if (!taskSelected)
            return;
        const double before = task->start();
        QTest::keyClick(rows, Qt::Key_Right);
        QCOMPARE(task->start(), before + window.chart()->minorStep());
        QTest::keyClick(rows, Qt::Key_Left);
        QCOMPARE(task->start(), before);
    }

    // Escape in the names list or the chart, or a click beside every box, lets the selection go
    // and brings back the project's panel.
    void selectionLetGo_data()
    {
        QTest::addColumn<QString>("gesture");
        QTest::newRow("Escape in the names list") << QStringLiteral("names");
        QTest::newRow("Escape in the chart") << QStringLiteral("chart");
        QTest::newRow("click below the boxes") << QStringLiteral("below");
        QTest::newRow("click beside a box") << QStringLiteral("beside");
    }
    void selectionLetGo()
    {
        QFETCH(QString, gesture);
        Window window;
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        window.clickBox(1);
        QVERIFY(window.taskPanel());
        QWidget *chart = window.chart()->viewport();
        if (gesture == QLatin1String("names") || gesture == QLatin1String("chart")) {
            QWidget *rows = gesture == QLatin1String("names") ? static_cast<QWidget *>(window.names()) : window.chart();
            rows->setFocus();
            QTest::keyClick(rows, Qt::Key_Escape);
            // The keyboard stays where it was.
            QCOMPARE(QApplication::focusWidget(), rows);
        } else {
            const QRectF box = window.chart()->boxRect(1);
            const QPoint at = gesture == QLatin1String("below") ? QPoint(chart->width() / 2, chart->height() - 5)
                                                                : QPoint(int(box.right()) + 40, int(box.center().y()));
            QVERIFY(chart->rect().contains(at));
            QTest::mouseClick(chart, Qt::LeftButton, {}, at);
        }
        QCOMPARE(window.selection().ref(), std::nullopt);
        QVERIFY(window.selectedNameRows().isEmpty());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(qobject_cast<ProjectAttributesView *>(window.panel()));
    }

    // However the window is scrolled, each name stays beside its own box.
    void namesAndBoxesScrollTogether_data()
    {
        QTest::addColumn<int>("gesture");
        QTest::newRow("wheel over the chart") << 0;
        QTest::newRow("wheel over the names") << 1;
        QTest::newRow("End in the names list") << 2;
        QTest::newRow("click in the scroll bar's track") << 3;
        QTest::newRow("Down past the last name shown") << 4;
        QTest::newRow("selection from the chart's far rows") << 5;
        QTest::newRow("zoomed in, so the chart has a bar below") << 6;
    }

    void namesAndBoxesScrollTogether()
    {
        QFETCH(int, gesture);
        static QList<QByteArray> names;
        QList<TaskSeed> seeds;
        for (int i = 0; i < 200; ++i) {
            if (names.size() <= i)
                names.append(QByteArray("Task ") + QByteArray::number(i));
            seeds.append({ names[i].constData(), i * 60.0, 60.0 });
        }
        Window window(seeds, {});
        QVERIFY(QTest::qWaitForWindowExposed(window.view.get()));
        QVERIFY(!window.names()->verticalScrollBar()->isVisible());
        QScrollBar *bar = window.chart()->verticalScrollBar();
        const auto wheel = [](QWidget *target) {
            const QPointF at(target->width() / 2.0, target->height() / 2.0);
            QWheelEvent event(at, target->mapToGlobal(at), {}, { 0, -360 }, Qt::NoButton, {}, Qt::NoScrollPhase, false);
            QApplication::sendEvent(target, &event);
        };
        switch (gesture) {
        case 0:
            wheel(window.chart()->viewport());
            break;
        case 1:
            wheel(window.names()->viewport());
            break;
        case 2:
            window.names()->setFocus();
            QTest::keyClick(window.names(), Qt::Key_End);
            break;
        case 3:
            QTest::mouseClick(bar, Qt::LeftButton, {}, { bar->width() / 2, bar->height() - bar->width() - 4 });
            break;
        case 4:
            window.clickName(0);
            for (int i = 0; i < 30; ++i)
                QTest::keyClick(window.names(), Qt::Key_Down);
            break;
        case 5:
            window.selection().setRef(window.plan.project->tasks().at(150)->id());
            break;
        case 6:
            window.chart()->zoomIn();
            QTRY_VERIFY(window.chart()->horizontalScrollBar()->isVisible());
            bar->setValue(bar->maximum());
            break;
        }
        QVERIFY(bar->value() > 0);
        QCOMPARE(window.names()->verticalScrollBar()->value(), bar->value());
        for (const int y : { 5, window.chart()->viewport()->height() / 2, window.chart()->viewport()->height() - 8 }) {
            // Level on screen: the two lists' viewports need not start at the same height.
            const QWidget *rows = window.chart()->viewport();
            const int namesY = window.names()->viewport()->mapFromGlobal(rows->mapToGlobal(QPoint(0, y))).y();
            const QModelIndex name = window.names()->indexAt({ 5, namesY });
            QVERIFY2(name.isValid(), qPrintable(QStringLiteral("no name at y %1").arg(y)));
            const double nameCentre
                = window.names()->viewport()->mapTo(window.view.get(), window.names()->visualRect(name).center()).y();
            const double boxCentre = rows->mapTo(window.view.get(), window.chart()->boxRect(name.row()).center()).y();
            QVERIFY2(std::abs(nameCentre - boxCentre) <= ChartGeometry::rowHeight / 4,
                qPrintable(
                    QStringLiteral("row %1: name at %2, box at %3").arg(name.row()).arg(nameCentre).arg(boxCentre)));
        }
    }

    // Moving a name within the list reorders the project's tasks and the chart's rows, marks the
    // project changed and records no undo step.
    void reorderNames_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("onto");
        QTest::addColumn<bool>("lowerHalf");
        QTest::addColumn<QStringList>("after");
        // Alt+Up and Alt+Down on the selected name ("c") that many times, up when negative.
        QTest::addColumn<int>("altKeys");
        QTest::newRow("down, before a row") << 0 << 3 << false << strings({ "b", "c", "a", "d", "e" }) << 0;
        QTest::newRow("down, after a row") << 0 << 3 << true << strings({ "b", "c", "d", "a", "e" }) << 0;
        QTest::newRow("to the end") << 1 << 4 << true << strings({ "a", "c", "d", "e", "b" }) << 0;
        QTest::newRow("up") << 4 << 1 << false << strings({ "a", "e", "b", "c", "d" }) << 0;
        QTest::newRow("to the top") << 3 << 0 << false << strings({ "d", "a", "b", "c", "e" }) << 0;
        QTest::newRow("Alt+Up") << 0 << 0 << false << strings({ "a", "c", "b", "d", "e" }) << -1;
        QTest::newRow("Alt+Down twice") << 0 << 0 << false << strings({ "a", "b", "d", "e", "c" }) << 2;
        QTest::newRow("Alt+Up past the top") << 0 << 0 << false << strings({ "c", "a", "b", "d", "e" }) << -3;
        QTest::newRow("Alt+Down past the end") << 0 << 0 << false << strings({ "a", "b", "d", "e", "c" }) << 3;
    }
    void reorderNames()
    {
        QFETCH(int, from);
        QFETCH(int, onto);
        QFETCH(bool, lowerHalf);
        QFETCH(QStringList, after);
        QFETCH(int, altKeys);
        Window window;
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        window.clickName(2);
        const qint64 selected = window.plan.task("c")->id();
        window.plan.project->moveTask(window.plan.task("e"), 60.0);
        window.plan.project->setDirty(false);

        if (altKeys == 0) {
            QVERIFY(window.dragName(from, onto, lowerHalf));
        } else {
            const int beeps = beepCount();
            for (int key = 0; key < std::abs(altKeys); ++key)
                QTest::keyClick(window.names(), altKeys < 0 ? Qt::Key_Up : Qt::Key_Down, Qt::AltModifier);
            // A name already at the end has nowhere to go.
            QCOMPARE(beepCount() - beeps, std::max(0, altKeys < 0 ? -altKeys - 2 : altKeys - 2));
        }
        QCOMPARE(window.plan.names(), after);
        QCOMPARE(window.rowNames(), after);
        QVERIFY(window.plan.project->isDirty());
        QCOMPARE(window.plan.stack.count(), 1);
        // Undoing the edit before it leaves the new order alone.
        window.plan.stack.undo();
        QCOMPARE(window.plan.names(), after);
        QCOMPARE(window.plan.task("e")->start(), 2400.0);
        // The selection stays with its task, wherever that went.
        QCOMPARE(window.selection().ref(), std::optional(selected));
        QCOMPARE(window.selectedNameRows(), QList<int> { int(after.indexOf(QStringLiteral("c"))) });
        QCOMPARE(window.taskPanel()->task(), window.plan.task("c"));
        // The chart's rows follow: a click on each row's box selects the task now listed there.
        for (int row = 0; row < after.size(); ++row) {
            window.clickBox(row);
            QCOMPARE(window.selection().ref(), std::optional(window.plan.task(after[row].toUtf8().constData())->id()));
        }
    }

    // A drop onto its own place, plain text, and a row of another window's list move nothing.
    void namesListRefusesOtherDrops()
    {
        Window window;
        Window other;
        QVERIFY(QTest::qWaitForWindowExposed(window.view.get()));
        QVERIFY(!window.dragName(1, 1, false) && !window.dragName(1, 2, false));
        const std::unique_ptr<QMimeData> text(plainText(QStringLiteral("a")));
        QVERIFY(!dropOn(window.names()->viewport(), window.nameRow(3), text.get()));
        const std::unique_ptr<QMimeData> foreign(
            other.names()->namesModel()->mimeData({ other.names()->model()->index(0, 0) }));
        QVERIFY(!dropOn(window.names()->viewport(), window.nameRow(3), foreign.get()));
        QCOMPARE(window.plan.names(), strings({ "a", "b", "c", "d", "e" }));
        QVERIFY(!window.plan.project->isDirty());
    }

    // The names list can be widened by the divider up to 200; the chart takes the rest.
    void dividerWidensTheNamesListUpTo200_data()
    {
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("namesWidth");
        QTest::newRow("a little") << 50 << 150;
        QTest::newRow("far") << 300 << 200;
    }
    void dividerWidensTheNamesListUpTo200()
    {
        QFETCH(int, dx);
        QFETCH(int, namesWidth);
        Window window;
        QVERIFY(QTest::qWaitForWindowExposed(window.view.get()));
        QSplitter *splitter = window.view->splitter();
        QCOMPARE(window.names()->width(), 100);
        QWidget *handle = splitter->handle(1);
        const QPoint grip = handle->rect().center();
        dragWithMouse(handle, grip, grip + QPoint(dx, 0));
        QCOMPARE(window.names()->width(), namesWidth);
        QCOMPARE(window.chart()->width(), splitter->width() - namesWidth - handle->width());
    }

    // The panel keeps between 205 and 300 wide, 280 where there is room; in a narrower window it
    // gives way together with the split area instead of leaving the chart a sliver.
    void panelWidth_data()
    {
        QTest::addColumn<int>("windowWidth");
        QTest::addColumn<int>("panelWidth");
        QTest::newRow("wide window") << 1400 << 280;
        QTest::newRow("medium window") << 700 << 237;
        QTest::newRow("first window size") << 480 << 205;
        QTest::newRow("narrow window") << 300 << 205;
    }
    void panelWidth()
    {
        QFETCH(int, windowWidth);
        QFETCH(int, panelWidth);
        Window window(planTasks, planDependencies, { windowWidth, 400 });
        QVERIFY(QTest::qWaitForWindowExposed(window.view.get()));
        QCOMPARE(window.view->propertiesView()->width(), panelWidth);
        QCOMPARE(window.view->propertiesView()->minimumWidth(), 205);
        QCOMPARE(window.view->propertiesView()->maximumWidth(), 300);
        QVERIFY(window.names()->maximumWidth() <= 200);
    }
};

QTEST_MAIN(TestProjectView)
#include "tst_projectview.moc"
