#include "GanttView.h"
#include "IntPublisher.h"
#include "Project.h"
#include "UndoStackAdapter.h"

#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>
#include <QUndoStack>
#include <QWheelEvent>

namespace {

struct TaskSeed {
    const char *name;
    double start;
    double duration;
    const char *group = nullptr;
};

// Counts the paints of a widget, to tell whether a change reached the screen.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// A shown chart over a project whose undo steps land on a real QUndoStack. Members are
// declared so that the view goes first, before the project and the selection it uses.
struct Chart {
    QUndoStack stack;
    UndoStackAdapter adapter { &stack };
    IntPublisher selection;
    std::unique_ptr<Project> project;
    std::unique_ptr<GanttView> view;

    Chart(const QList<TaskSeed> &tasks, const QList<IntPair> &dependencies = {}, QSize size = { 632, 400 })
    {
        TaskList list;
        qint64 id = 1;
        for (const TaskSeed &seed : tasks)
            list.append(
                Task::create(id++, nullptr, QString::fromUtf8(seed.name), seed.duration, seed.start + seed.duration,
                    seed.group ? ExclusionGroup(QString::fromUtf8(seed.group)) : ExclusionGroup()));
        project = Project::load(QStringLiteral("Chart"), list, dependencies);
        project->setUndoManager(&adapter);
        view = std::make_unique<GanttView>(project.get(), &selection);
        view->resize(size);
        view->show();
    }

    [[nodiscard]] QWidget *viewport() const { return view->viewport(); }
    [[nodiscard]] TaskPtr task(const char *name) const
    {
        for (const TaskPtr &task : project->tasks())
            if (task->name() == QLatin1String(name))
                return task;
        return {};
    }
    [[nodiscard]] QPoint centre(qsizetype row) const { return view->boxRect(row).center().toPoint(); }
    [[nodiscard]] Qt::CursorShape cursor() const { return viewport()->cursor().shape(); }

    // QTest::mouseMove carries no buttons, so moves of a drag are sent by hand.
    void move(QPoint position, Qt::MouseButtons buttons = Qt::LeftButton, Qt::KeyboardModifiers keys = {}) const
    {
        QMouseEvent event(QEvent::MouseMove, QPointF(position), viewport()->mapToGlobal(QPointF(position)),
            Qt::NoButton, buttons, keys);
        QCoreApplication::sendEvent(viewport(), &event);
    }
    void press(QPoint position, Qt::KeyboardModifiers keys = {}) const
    {
        QTest::mousePress(viewport(), Qt::LeftButton, keys, position);
    }
    void release(QPoint position, Qt::KeyboardModifiers keys = {}) const
    {
        QTest::mouseRelease(viewport(), Qt::LeftButton, keys, position);
    }
    void drag(QPoint from, QPoint to, Qt::KeyboardModifiers keys = {}) const
    {
        press(from, keys);
        move((from + to) / 2, Qt::LeftButton, keys);
        move(to, Qt::LeftButton, keys);
        release(to, keys);
    }
};

// 0 to 6000 s across 600 points: ten seconds a point. "mover" depends on "pre", "post" on
// "mover"; group G holds "mover" and one task on either side of it.
const QList<TaskSeed> planTasks = {
    { "lead", 0, 1000 },
    { "pre", 1000, 1000 },
    { "mover", 3000, 1000, "G" },
    { "post", 5000, 500 },
    { "g-before", 2000, 500, "G" },
    { "g-after", 4500, 500, "G" },
    { "tail", 5500, 500 },
    { "free", 1000, 500 },
};
const QList<IntPair> planDependencies = { { 2, 3 }, { 3, 4 } };

constexpr double secondsPerPoint = 10.0;

} // namespace

class TestGanttView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dragMovesWithinItsLimits_data()
    {
        QTest::addColumn<QString>("task");
        QTest::addColumn<int>("dx");
        QTest::addColumn<Qt::KeyboardModifiers>("keys");
        QTest::addColumn<double>("expectedStart");
        const Qt::KeyboardModifiers none;
        const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
        const Qt::KeyboardModifiers alt = Qt::AltModifier;
        const Qt::KeyboardModifiers both = Qt::ShiftModifier | Qt::AltModifier;
        // Window managers commonly take Alt+drag to move windows; Ctrl stands in for Alt.
        const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
        const Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
        QTest::newRow("free move") << "mover" << -30 << none << 2700.0;
        QTest::newRow("group member stops left") << "mover" << -200 << none << 2500.0;
        QTest::newRow("group member stops right") << "mover" << 200 << none << 3500.0;
        QTest::newRow("shift: predecessor stops left") << "mover" << -200 << shift << 2000.0;
        QTest::newRow("shift: successor stops right") << "mover" << 200 << shift << 4000.0;
        QTest::newRow("alt keeps the group limit") << "mover" << -200 << alt << 2500.0;
        QTest::newRow("shift and alt: predecessor still stops") << "mover" << -200 << both << 2000.0;
        QTest::newRow("project start stops") << "free" << -200 << none << 0.0;
        QTest::newRow("alt lifts the project start") << "free" << -200 << alt << -1000.0;
        QTest::newRow("earliest task cannot go left") << "lead" << -50 << none << 0.0;
        QTest::newRow("earliest task with alt") << "lead" << -50 << alt << -500.0;
        QTest::newRow("ctrl lifts the project start") << "free" << -200 << ctrl << -1000.0;
        QTest::newRow("earliest task with ctrl") << "lead" << -50 << ctrl << -500.0;
        QTest::newRow("ctrl keeps the group limit") << "g-after" << -480 << ctrl << 4000.0;
        QTest::newRow("shift keeps the project start") << "g-after" << -480 << shift << 0.0;
        QTest::newRow("shift and alt lift both") << "g-after" << -480 << both << -300.0;
        QTest::newRow("shift and ctrl lift both") << "g-after" << -480 << ctrlShift << -300.0;
        QTest::newRow("nothing limits to the right") << "tail" << 300 << none << 8500.0;
        QTest::newRow("back where it started") << "mover" << 0 << none << 3000.0;
    }
    void dragMovesWithinItsLimits()
    {
        QFETCH(QString, task);
        QFETCH(int, dx);
        QFETCH(Qt::KeyboardModifiers, keys);
        QFETCH(double, expectedStart);
        Chart chart(planTasks, planDependencies);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        QCOMPARE(chart.view->totalWidth(), 600.0);
        const TaskPtr moved = chart.task(task.toUtf8().constData());
        const qsizetype row = chart.project->tasks().indexOf(moved);
        const double startBefore = moved->start();
        const QPoint from = chart.centre(row);
        // Out and back, so that also a drag ending where it began is a drag.
        const QPoint to = from + QPoint(dx, 0);

        chart.press(from, keys);
        chart.move(from + QPoint(0, 40), Qt::LeftButton, keys);
        chart.move(to, Qt::LeftButton, keys);
        QVERIFY(chart.view->isDragging());
        // Only the box follows the pointer while the drag runs.
        QCOMPARE(moved->start(), startBefore);
        QVERIFY(chart.stack.count() == 0);
        const double boxLeft = chart.view->boxRect(row).left() - GanttView::rowInset;
        QVERIFY2(qAbs(boxLeft - expectedStart / secondsPerPoint) < 1e-9, qPrintable(QString::number(boxLeft)));
        chart.release(to, keys);

        QVERIFY(!chart.view->isDragging());
        QVERIFY2(qAbs(moved->start() - expectedStart) < 1e-6, qPrintable(QString::number(moved->start())));
        QCOMPARE(chart.stack.count(), 1);
        QCOMPARE(chart.stack.undoText(), QStringLiteral("Move Task"));
        QCOMPARE(chart.selection.ref(), std::nullopt);
        chart.stack.undo();
        QCOMPARE(moved->start(), startBefore);
    }

    void clickSelectsDragDoesNot_data()
    {
        QTest::addColumn<QPoint>("travel");
        QTest::addColumn<bool>("selects");
        QTest::newRow("still") << QPoint(0, 0) << true;
        QTest::newRow("nine points") << QPoint(9, 0) << true;
        QTest::newRow("diagonal under ten") << QPoint(-6, 7) << true;
        QTest::newRow("ten points") << QPoint(10, 0) << false;
        QTest::newRow("vertical ten points") << QPoint(0, -10) << false;
    }
    void clickSelectsDragDoesNot()
    {
        QFETCH(QPoint, travel);
        QFETCH(bool, selects);
        Chart chart(planTasks, planDependencies);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        const TaskPtr mover = chart.task("mover");
        const QPoint from = chart.centre(2);
        chart.press(from);
        chart.move(from + travel);
        chart.release(from + travel);
        QCOMPARE(chart.selection.ref(), selects ? std::optional(mover->id()) : std::nullopt);
        // A click changes nothing; a drag is one step even when it moves nothing in time.
        QCOMPARE(chart.stack.count(), selects ? 0 : 1);
        QCOMPARE(mover->start(), selects ? 3000.0 : 3000.0 + travel.x() * secondsPerPoint);
    }

    void tooltipNamesTheDragModifiers()
    {
        Chart chart(planTasks, planDependencies);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        const QPoint box = chart.centre(2);
        QHelpEvent help(QEvent::ToolTip, box, chart.viewport()->mapToGlobal(box));
        QCoreApplication::sendEvent(chart.viewport(), &help);
        QVERIFY(QToolTip::isVisible());
        const QString text = QToolTip::text();
        QToolTip::hideText();
        QVERIFY2(text.contains(QLatin1String("Shift")), qPrintable(text));
        QVERIFY2(text.contains(QLatin1String("Ctrl or Alt")), qPrintable(text));
    }

    // A drag stopped by a successor says so while it is held there, and how to push the chain;
    // one stopped by its group, or not stopped, says nothing.
    void dragHeldBySuccessorSaysWhy()
    {
        Chart chart(planTasks, planDependencies);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        QToolTip::hideText();
        const QPoint from = chart.centre(2);
        // Shift passes the group: "post", at 5000 s, holds "mover" 100 points on.
        chart.press(from, Qt::ShiftModifier);
        chart.move(from + QPoint(50, 0), Qt::LeftButton, Qt::ShiftModifier);
        QVERIFY(!QToolTip::isVisible());
        chart.move(from + QPoint(250, 0), Qt::LeftButton, Qt::ShiftModifier);
        QVERIFY(QToolTip::isVisible());
        const QString text = QToolTip::text();
        QVERIFY2(text.contains(QStringLiteral("\u201cpost\u201d")) && text.contains(QStringLiteral("Move Right")),
            qPrintable(text));
        // A tooltip fades out rather than vanishing at once.
        chart.move(from + QPoint(60, 0), Qt::LeftButton, Qt::ShiftModifier);
        QTRY_VERIFY(!QToolTip::isVisible());
        chart.move(from + QPoint(250, 0), Qt::LeftButton, Qt::ShiftModifier);
        QVERIFY(QToolTip::isVisible());
        chart.release(from + QPoint(250, 0), Qt::ShiftModifier);
        QTRY_VERIFY(!QToolTip::isVisible());
        QCOMPARE(chart.task("mover")->end(), 5000.0);

        // Without Shift "g-after", of its group, holds it first.
        chart.stack.undo();
        chart.press(from);
        chart.move(from + QPoint(250, 0));
        QVERIFY(!QToolTip::isVisible());
        chart.release(from + QPoint(250, 0));
        QCOMPARE(chart.task("mover")->end(), 4500.0);
    }

    // 0 to 6000 s over 600 points: a task without duration, and one of 20 s, 2 points wide. Both
    // are drawn in sight, labelled beside the box, and taken hold of within 8 points of the centre.
    void thinBoxesAreHitAboutTheirCentre_data()
    {
        QTest::addColumn<QString>("task");
        QTest::addColumn<int>("offset");
        QTest::addColumn<bool>("hit");
        QTest::newRow("milestone, centre") << "milestone" << 0 << true;
        QTest::newRow("milestone, right") << "milestone" << 7 << true;
        QTest::newRow("milestone, beside") << "milestone" << -9 << false;
        QTest::newRow("thin, left") << "thin" << -7 << true;
        QTest::newRow("thin, beside") << "thin" << 10 << false;
    }
    void thinBoxesAreHitAboutTheirCentre()
    {
        QFETCH(QString, task);
        QFETCH(int, offset);
        QFETCH(bool, hit);
        Chart chart({ { "span", 0, 6000 }, { "milestone", 3000, 0 }, { "thin", 1000, 20 } });
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        const TaskPtr target = chart.task(task.toUtf8().constData());
        const QPoint centre = chart.centre(chart.project->tasks().indexOf(target));
        const QImage image = chart.viewport()->grab().toImage();
        QCOMPARE(image.pixelColor(centre), TaskBox::borderColor(chart.view->palette()));
        bool labelled = false;
        for (int x = centre.x() + 9; x < centre.x() + 40; ++x)
            labelled |= image.pixelColor(x, centre.y()) != chart.view->palette().color(QPalette::Base);
        QVERIFY(labelled);

        const QPoint at = centre + QPoint(offset, 0);
        const double start = target->start();
        chart.move(at, Qt::NoButton);
        QCOMPARE(chart.cursor(), hit ? Qt::OpenHandCursor : Qt::ArrowCursor);
        QTest::mouseClick(chart.viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(chart.selection.ref(), hit ? std::optional(target->id()) : std::nullopt);
        chart.drag(at, at + QPoint(40, 0));
        QCOMPARE(target->start(), hit ? start + 40 * secondsPerPoint : start);
    }

    // A drag beside the boxes moves nothing and keeps the selection; a click there lets it go.
    void pressBesideBoxesMovesNothing()
    {
        Chart chart(planTasks, planDependencies);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        chart.selection.setRef(4);
        const QPoint empty(550, 65);
        QVERIFY(!chart.view->rowAt(empty));
        chart.drag(empty, empty + QPoint(-100, 0));
        QCOMPARE(chart.selection.ref(), std::optional<qint64>(4));
        QTest::mouseClick(chart.viewport(), Qt::LeftButton, {}, empty);
        QCOMPARE(chart.selection.ref(), std::nullopt);
        QCOMPARE(chart.stack.count(), 0);
    }

    void oneTaskCannotBeDragged()
    {
        Chart chart({ { "only", 0, 600 } });
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        const QPoint from = chart.centre(0);
        chart.drag(from, from + QPoint(100, 0));
        QVERIFY(!chart.view->isDragging());
        QCOMPARE(chart.stack.count(), 0);
        QCOMPARE(chart.project->tasks().first()->start(), 0.0);
        QCOMPARE(chart.cursor(), Qt::OpenHandCursor);
        QCOMPARE(chart.selection.ref(), std::nullopt);
        QTest::mouseClick(chart.viewport(), Qt::LeftButton, {}, from);
        QCOMPARE(chart.selection.ref(), std::optional<qint64>(1));
    }

    // Without a span no translation converts into time: the drag is one step that moves nothing.
    void spanlessProjectDragsMoveNothing_data()
    {
        QTest::addColumn<QList<double>>("durations");
        QTest::addColumn<double>("projectDuration");
        QTest::newRow("zero") << QList<double> { 0.0, 0.0 } << 0.0;
        QTest::newRow("negative") << QList<double> { -600.0, -300.0 } << -300.0;
    }
    void spanlessProjectDragsMoveNothing()
    {
        QFETCH(QList<double>, durations);
        QFETCH(double, projectDuration);
        Chart chart({ { "a", 0, durations.at(0) }, { "b", 0, durations.at(1) } });
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        QCOMPARE(chart.project->duration(), projectDuration);
        QCOMPARE(chart.view->boxRect(1), QRectF(GanttView::rowInset, 26.0, 1.0, 28.0));
        const QPoint from(int(GanttView::rowInset), 40);
        QCOMPARE(chart.view->rowAt(from), std::optional<qsizetype>(1));
        chart.press(from);
        chart.move(from + QPoint(150, 0));
        QVERIFY(chart.view->isDragging());
        QCOMPARE(chart.view->boxRect(1).left(), GanttView::rowInset);
        chart.release(from + QPoint(150, 0));
        QCOMPARE(chart.stack.count(), 1);
        QCOMPARE(chart.stack.undoText(), QStringLiteral("Move Task"));
        for (const TaskPtr &task : chart.project->tasks())
            QCOMPARE(task->start(), 0.0);
    }

    void cursorsFollowHoverAndDrag()
    {
        Chart chart(planTasks, planDependencies);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        const QPoint box = chart.centre(2);
        const QPoint empty(590, 380);
        chart.move(box, Qt::NoButton);
        QCOMPARE(chart.cursor(), Qt::OpenHandCursor);
        chart.move(empty, Qt::NoButton);
        QCOMPARE(chart.cursor(), Qt::ArrowCursor);
        chart.move(box, Qt::NoButton);
        chart.press(box);
        chart.move(box + QPoint(5, 0));
        QCOMPARE(chart.cursor(), Qt::OpenHandCursor);
        chart.move(box + QPoint(20, 0));
        QCOMPARE(chart.cursor(), Qt::ClosedHandCursor);
        // Hover changes do not touch the cursor of a drag.
        chart.move(empty);
        QCOMPARE(chart.cursor(), Qt::ClosedHandCursor);
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(chart.viewport(), &leave);
        QCOMPARE(chart.cursor(), Qt::ClosedHandCursor);
        chart.release(empty);
        QCOMPARE(chart.cursor(), Qt::OpenHandCursor);
        chart.move(empty, Qt::NoButton);
        QCOMPARE(chart.cursor(), Qt::ArrowCursor);
        chart.move(chart.centre(0), Qt::NoButton);
        QCOMPARE(chart.cursor(), Qt::OpenHandCursor);
        QCoreApplication::sendEvent(chart.viewport(), &leave);
        QCOMPARE(chart.cursor(), Qt::ArrowCursor);
    }

    // The drag keeps hold of its task when rows shift; a task that goes ends the drag unmoved.
    void tasksChangeDuringDrag_data()
    {
        QTest::addColumn<QString>("deleted");
        QTest::addColumn<double>("expectedStart");
        QTest::addColumn<QString>("lastStep");
        // Without "lead" the span is 1000 to 6000 over 600 points: 30 points are 250 s.
        QTest::newRow("row above deleted") << "lead" << 2750.0 << "Move Task";
        QTest::newRow("dragged task deleted") << "mover" << 3000.0 << "Delete Task";
    }
    void tasksChangeDuringDrag()
    {
        QFETCH(QString, deleted);
        QFETCH(double, expectedStart);
        QFETCH(QString, lastStep);
        Chart chart(planTasks, planDependencies);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        const TaskPtr mover = chart.task("mover");
        const QPoint from = chart.centre(2);
        chart.press(from);
        chart.move(from + QPoint(-30, 0));
        QVERIFY(chart.view->isDragging());
        chart.project->deleteTask(chart.task(deleted.toUtf8().constData()));
        QCoreApplication::processEvents();
        chart.move(from + QPoint(-30, 0));
        chart.release(from + QPoint(-30, 0));
        QVERIFY(!chart.view->isDragging());
        QVERIFY2(qAbs(mover->start() - expectedStart) < 1e-6, qPrintable(QString::number(mover->start())));
        QCOMPARE(chart.stack.undoText(), lastStep);
        QCOMPARE(chart.selection.ref(), std::nullopt);
    }

    void clickAfterScrollingSelectsTheRowShown()
    {
        QList<TaskSeed> many;
        for (int i = 0; i < 200; ++i)
            many.append({ "t", i * 60.0, 60.0 });
        Chart chart(many);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        QCOMPARE(chart.view->verticalScrollBar()->maximum(), 200 * 25 + 4 - chart.viewport()->height());
        chart.view->verticalScrollBar()->setValue(100 * 25);
        QCOMPARE(chart.view->boxRect(100).center().y(), 15.0);
        QTest::mouseClick(chart.viewport(), Qt::LeftButton, {}, chart.centre(100));
        QCOMPARE(chart.selection.ref(), std::optional(chart.project->tasks().at(100)->id()));
        // A box reaching into the row below is hit there unless the lower row's box covers the point.
        const QRectF upper = chart.view->boxRect(104);
        QCOMPARE(chart.view->rowAt(QPointF(upper.right() - 0.5, upper.bottom() - 1.0)), std::optional<qsizetype>(104));
        QCOMPARE(chart.view->rowAt(QPointF(chart.view->boxRect(105).left() + 0.5, upper.bottom() - 1.0)),
            std::optional<qsizetype>(105));
    }

    // Box 300 to 400 wide, rows 2 (grouped) and 1 (not): the border sits inside the edge.
    void drawsBoxBorderAndLabels_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("grouped");
        QTest::newRow("grouped") << 2 << true;
        QTest::newRow("ungrouped") << 1 << false;
    }
    void drawsBoxBorderAndLabels()
    {
        QFETCH(int, row);
        QFETCH(bool, grouped);
        Chart chart(planTasks, planDependencies);
        // The arrows would reach the box's left edge.
        chart.view->setShowDependencies(false);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        const QImage image = chart.viewport()->grab().toImage();
        const QRect box = chart.view->boxRect(row).toRect();
        QCOMPARE(box.size(), QSize(100, 28));
        const QColor green = TaskBox::borderColor(chart.view->palette());
        const QColor base = chart.view->palette().color(QPalette::Base);
        const int middle = box.top() + 14;
        QCOMPARE(image.pixelColor(box.left(), middle), green);
        QCOMPARE(image.pixelColor(box.left() + 1, middle), green);
        QCOMPARE(image.pixelColor(box.left() + 2, middle), base);
        QCOMPARE(image.pixelColor(box.left() - 1, middle), base);
        QCOMPARE(image.pixelColor(box.left() + box.width() - 1, middle), green);
        QCOMPARE(image.pixelColor(box.left() + 50, box.top() + 1), green);
        QCOMPARE(image.pixelColor(box.left() + 50, box.top() + 2), base);

        const auto inked = [&](QRect area) {
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    if (image.pixelColor(x, y) != base)
                        return true;
            return false;
        };
        QVERIFY(inked(QRect(box.center() - QPoint(10, 5), QSize(20, 10))));
        QCOMPARE(inked(QRect(box.topLeft() + QPoint(6, 13), QSize(8, 9))), grouped);
    }

    void narrowBoxIsAllBorder()
    {
        Chart chart({ { "a", 0, 0 }, { "b", 0, 0 } });
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        const QImage image = chart.viewport()->grab().toImage();
        QCOMPARE(image.pixelColor(int(GanttView::rowInset), 15), TaskBox::borderColor(chart.view->palette()));
    }

    // Only the tasks on screen are listened to; scrolling listens to the new ones.
    void repaintsOnChangesOfVisibleRows_data()
    {
        QTest::addColumn<int>("scrollToRow");
        QTest::addColumn<int>("changedRow");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("repaints");
        QTest::newRow("start") << 0 << 3 << "start" << true;
        QTest::newRow("duration") << 0 << 3 << "duration" << true;
        QTest::newRow("end") << 0 << 3 << "end" << true;
        QTest::newRow("group") << 0 << 3 << "group" << true;
        QTest::newRow("row partly below") << 0 << 14 << "group" << true;
        QTest::newRow("off screen") << 0 << 80 << "group" << false;
        QTest::newRow("after scrolling") << 80 << 85 << "group" << true;
        QTest::newRow("scrolled away") << 80 << 3 << "start" << false;
        QTest::newRow("project tasks") << 80 << 3 << "reorder" << true;
    }
    void repaintsOnChangesOfVisibleRows()
    {
        QFETCH(int, scrollToRow);
        QFETCH(int, changedRow);
        QFETCH(QString, change);
        QFETCH(bool, repaints);
        QList<TaskSeed> many;
        for (int i = 0; i < 100; ++i)
            many.append({ "t", i * 60.0, 60.0 });
        Chart chart(many);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        PaintCounter paints(chart.viewport());
        chart.view->verticalScrollBar()->setValue(scrollToRow * 25);
        if (scrollToRow > 0)
            QTRY_VERIFY(paints.count > 0);
        QTest::qWait(20);
        const int before = paints.count;
        Task &task = *chart.project->tasks().at(changedRow);
        if (change == QLatin1String("start"))
            task.setStart(task.start());
        else if (change == QLatin1String("duration"))
            task.setDurationOnly(task.duration());
        else if (change == QLatin1String("end"))
            task.setEnd(task.end());
        else if (change == QLatin1String("group"))
            task.setExclusionGroup(QStringLiteral("X"));
        else
            chart.project->reorderTask(changedRow, changedRow + 1);
        if (repaints) {
            QTRY_VERIFY(paints.count > before);
        } else {
            QTest::qWait(50);
            QCOMPARE(paints.count, before);
        }
    }
    // Ctrl+wheel zooms about the pointer: the time under it stays under it, and the chart
    // scrolls sideways; fit is the unzoomed geometry exactly.
    void wheelZoomKeepsThePointUnderThePointer_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<QList<int>>("notches");
        QTest::addColumn<double>("zoom");
        QTest::newRow("one notch in") << 300 << QList<int> { 1 } << GanttView::zoomStep;
        QTest::newRow("four notches in at the left") << 40 << QList<int> { 4 } << 4.0;
        QTest::newRow("in, then further in elsewhere") << 500 << QList<int> { 2, 2 } << 4.0;
        QTest::newRow("in and out again") << 200 << QList<int> { 3, -3 } << 1.0;
        QTest::newRow("never out beyond fit") << 200 << QList<int> { -2 } << 1.0;
    }
    void wheelZoomKeepsThePointUnderThePointer()
    {
        QFETCH(int, x);
        QFETCH(QList<int>, notches);
        QFETCH(double, zoom);
        Chart chart(planTasks, planDependencies);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        const QRectF fitted = chart.view->boxRect(2);
        const auto timeAt = [&](double viewportX) {
            const double left = chart.view->horizontalScrollBar()->value();
            return (viewportX + left - GanttView::rowInset) / chart.view->totalWidth() * 6000.0;
        };
        for (const int n : notches) {
            const double before = timeAt(x);
            QWheelEvent wheel(QPointF(x, 100), chart.viewport()->mapToGlobal(QPointF(x, 100)), {}, QPoint(0, 120 * n),
                Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(chart.viewport(), &wheel);
            if (chart.view->zoom() > 1.0 && chart.view->horizontalScrollBar()->value() > 0)
                QVERIFY2(qAbs(timeAt(x) - before) <= 10.0 * 2, qPrintable(QString::number(timeAt(x) - before)));
        }
        QVERIFY(qAbs(chart.view->zoom() - zoom) < 1e-9);
        QCOMPARE(chart.view->totalWidth(), 600.0 * zoom);
        // Shift+wheel scrolls sideways, and zooms nothing.
        QScrollBar *sideways = chart.view->horizontalScrollBar();
        const int left = sideways->value();
        QWheelEvent shifted(QPointF(x, 100), chart.viewport()->mapToGlobal(QPointF(x, 100)), {}, QPoint(0, -120),
            Qt::NoButton, Qt::ShiftModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(chart.viewport(), &shifted);
        QCOMPARE(sideways->value(), std::min(sideways->maximum(), left + 3 * sideways->singleStep()));
        QVERIFY(qAbs(chart.view->zoom() - zoom) < 1e-9);
        QCOMPARE(chart.view->horizontalScrollBar()->maximum() > 0, zoom > 1.0);
        chart.view->fitWholeProject();
        QCOMPARE(chart.view->boxRect(2), fitted);
        QCOMPARE(chart.view->horizontalScrollBar()->maximum(), 0);
    }

    // Zoomed and scrolled sideways, a drag follows the pointer point for point and keeps its
    // limits, and a click selects the box shown under it.
    void dragsAndClicksWorkZoomedIn_data()
    {
        QTest::addColumn<QString>("task");
        QTest::addColumn<int>("notches");
        QTest::addColumn<int>("scroll");
        QTest::addColumn<int>("dx");
        QTest::addColumn<Qt::KeyboardModifiers>("keys");
        QTest::addColumn<double>("expectedStart");
        QTest::newRow("free move at 2x") << "mover" << 2 << 300 << -60 << Qt::KeyboardModifiers() << 2700.0;
        QTest::newRow("group stops at 4x") << "mover" << 4 << 1000 << -400 << Qt::KeyboardModifiers() << 2500.0;
        QTest::newRow("shift passes the group at 4x")
            << "mover" << 4 << 1000 << -400 << Qt::KeyboardModifiers(Qt::ShiftModifier) << 2000.0;
        QTest::newRow("ctrl passes the start at 8x")
            << "lead" << 6 << 0 << -200 << Qt::KeyboardModifiers(Qt::ControlModifier) << -250.0;
    }
    void dragsAndClicksWorkZoomedIn()
    {
        QFETCH(QString, task);
        QFETCH(int, notches);
        QFETCH(int, scroll);
        QFETCH(int, dx);
        QFETCH(Qt::KeyboardModifiers, keys);
        QFETCH(double, expectedStart);
        Chart chart(planTasks, planDependencies);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        QWheelEvent wheel(QPointF(0, 100), chart.viewport()->mapToGlobal(QPointF(0, 100)), {}, QPoint(0, 120 * notches),
            Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(chart.viewport(), &wheel);
        chart.view->horizontalScrollBar()->setValue(scroll);
        const double pointsPerSecond = chart.view->totalWidth() / 6000.0;
        const TaskPtr moved = chart.task(task.toUtf8().constData());
        const qsizetype row = chart.project->tasks().indexOf(moved);
        const QPoint from = chart.centre(row);
        QVERIFY2(chart.viewport()->rect().contains(from), "the box is in sight");
        QTest::mouseClick(chart.viewport(), Qt::LeftButton, {}, from);
        QCOMPARE(chart.selection.ref(), std::optional(moved->id()));
        chart.drag(from, from + QPoint(dx, 0), keys);
        QVERIFY2(
            qAbs(moved->start() - expectedStart) < 0.5 / pointsPerSecond, qPrintable(QString::number(moved->start())));
    }

    // Up, Down, Home and End select through the chart; the selection is brought into sight.
    void keysSelectTasks_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("expected");
        QTest::newRow("down from nothing") << -1 << int(Qt::Key_Down) << 0;
        QTest::newRow("up from nothing") << -1 << int(Qt::Key_Up) << 99;
        QTest::newRow("down") << 5 << int(Qt::Key_Down) << 6;
        QTest::newRow("up") << 5 << int(Qt::Key_Up) << 4;
        QTest::newRow("up at the first") << 0 << int(Qt::Key_Up) << 0;
        QTest::newRow("down at the last") << 99 << int(Qt::Key_Down) << 99;
        QTest::newRow("end") << 3 << int(Qt::Key_End) << 99;
        QTest::newRow("home") << 60 << int(Qt::Key_Home) << 0;
    }
    void keysSelectTasks()
    {
        QFETCH(int, from);
        QFETCH(int, key);
        QFETCH(int, expected);
        QList<TaskSeed> many;
        for (int i = 0; i < 100; ++i)
            many.append({ "t", i * 60.0, 60.0 });
        Chart chart(many);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        if (from >= 0)
            chart.selection.setRef(chart.project->tasks().at(from)->id());
        chart.view->setFocus();
        QTest::keyClick(chart.view.get(), Qt::Key(key));
        QCOMPARE(chart.selection.ref(), std::optional(chart.project->tasks().at(expected)->id()));
        QVERIFY(chart.viewport()->rect().contains(chart.view->boxRect(expected).toRect()));
    }

    // Left and Right move the selected task one minor tick, within a drag's limits under the
    // same modifiers, one undo step each; Ctrl+Right is left to the window.
    void keysMoveTheSelectedTask_data()
    {
        QTest::addColumn<QString>("task");
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("keys");
        QTest::addColumn<double>("ticks");
        QTest::addColumn<double>("limitedTo");
        const double none = qQNaN();
        QTest::newRow("right") << "y" << int(Qt::Key_Right) << Qt::KeyboardModifiers() << 1.0 << none;
        QTest::newRow("left stops at the group")
            << "y" << int(Qt::Key_Left) << Qt::KeyboardModifiers() << -1.0 << 2000.0;
        QTest::newRow("shift passes the group")
            << "y" << int(Qt::Key_Left) << Qt::KeyboardModifiers(Qt::ShiftModifier) << -1.0 << none;
        QTest::newRow("left stops at the project start")
            << "lead" << int(Qt::Key_Left) << Qt::KeyboardModifiers() << -1.0 << 0.0;
        QTest::newRow("alt passes the project start")
            << "lead" << int(Qt::Key_Left) << Qt::KeyboardModifiers(Qt::AltModifier) << -1.0 << none;
        QTest::newRow("ctrl passes the project start")
            << "lead" << int(Qt::Key_Left) << Qt::KeyboardModifiers(Qt::ControlModifier) << -1.0 << none;
    }
    void keysMoveTheSelectedTask()
    {
        QFETCH(QString, task);
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, keys);
        QFETCH(double, ticks);
        QFETCH(double, limitedTo);
        Chart chart({ { "lead", 0, 1000 }, { "x", 1000, 1000, "G" }, { "y", 2030, 500, "G" }, { "tail", 3000, 600 } },
            { { 3, 4 } });
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        const TaskPtr moved = chart.task(task.toUtf8().constData());
        const double before = moved->start();
        const double step = chart.view->minorStep();
        QVERIFY(step >= 60.0);
        chart.selection.setRef(moved->id());
        chart.view->setFocus();
        QTest::keyClick(chart.view.get(), Qt::Key(key), keys);
        const double expected = qIsNaN(limitedTo) ? before + ticks * step : limitedTo;
        QCOMPARE(moved->start(), expected);
        QCOMPARE(chart.stack.count(), expected == before ? 0 : 1);
        if (expected != before) {
            QCOMPARE(chart.stack.undoText(), QStringLiteral("Move Task"));
            chart.stack.undo();
            QCOMPARE(moved->start(), before);
        }
    }

    // A task selected elsewhere (the names list, a menu) is brought into sight, sideways too.
    void selectionFromElsewhereIsScrolledIntoView_data()
    {
        QTest::addColumn<int>("notches");
        QTest::addColumn<int>("row");
        QTest::newRow("far down at fit") << 0 << 90;
        QTest::newRow("far right zoomed in") << 8 << 95;
        QTest::newRow("back at the start zoomed in") << 8 << 2;
    }
    void selectionFromElsewhereIsScrolledIntoView()
    {
        QFETCH(int, notches);
        QFETCH(int, row);
        QList<TaskSeed> many;
        for (int i = 0; i < 100; ++i)
            many.append({ "t", i * 60.0, 60.0 });
        Chart chart(many);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        QWheelEvent wheel(QPointF(300, 100), chart.viewport()->mapToGlobal(QPointF(300, 100)), {},
            QPoint(0, 120 * notches), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(chart.viewport(), &wheel);
        chart.selection.setRef(chart.project->tasks().at(row)->id());
        QVERIFY(chart.viewport()->rect().intersects(chart.view->boxRect(row).toRect()));
        QVERIFY(chart.viewport()->rect().contains(chart.view->boxRect(row).toRect().adjusted(0, 0, 0, -4)));
    }

    // a decides the end through b; c and d have time to spare. Critical boxes and the arrows between
    // them turn red; a selected task's arrows take the highlight and the others fade.
    void criticalPathAndSelectedLinks()
    {
        Chart chart(
            { { "a", 0, 1000 }, { "b", 1000, 1000 }, { "c", 0, 500 }, { "d", 0, 300 } }, { { 1, 2 }, { 3, 2 } });
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        const QPalette palette = chart.view->palette();
        const auto near = [](QColor a, QColor b) {
            return std::abs(a.red() - b.red()) < 60 && std::abs(a.green() - b.green()) < 60
                && std::abs(a.blue() - b.blue()) < 60;
        };
        const auto border = [&](const QImage &image, qsizetype row) {
            const QRectF box = chart.view->boxRect(row);
            return image.pixelColor(int(box.left()), int(box.center().y()));
        };
        const QRectF a = chart.view->boxRect(0);
        const QRectF b = chart.view->boxRect(1);
        const QPoint intoTop(int(a.right()) + 6, 18);
        const QPoint fromC(int(b.left()) - 20, int(b.center().y()));

        QImage image = chart.viewport()->grab().toImage();
        for (qsizetype row = 0; row < 4; ++row)
            QCOMPARE(border(image, row), TaskBox::borderColor(palette));
        const QColor plain = image.pixelColor(intoTop);
        QVERIFY(!near(plain, palette.color(QPalette::Base)));

        chart.view->setHighlightCritical(true);
        image = chart.viewport()->grab().toImage();
        const QColor red = TaskBox::criticalColor(palette);
        QCOMPARE(border(image, 0), red);
        QCOMPARE(border(image, 1), red);
        QCOMPARE(border(image, 2), TaskBox::borderColor(palette));
        QCOMPARE(border(image, 3), TaskBox::borderColor(palette));
        QVERIFY(near(image.pixelColor(intoTop), red));
        QVERIFY(!near(image.pixelColor(fromC), red));

        // A move of c that takes its time to spare makes it critical, and an undo takes that back.
        chart.project->moveTask(chart.task("c"), 500.0);
        QTRY_COMPARE(border(chart.viewport()->grab().toImage(), 2), red);
        chart.stack.undo();
        QTRY_COMPARE(border(chart.viewport()->grab().toImage(), 2), TaskBox::borderColor(palette));

        chart.view->setHighlightCritical(false);
        chart.selection.setRef(chart.task("c")->id());
        image = chart.viewport()->grab().toImage();
        QVERIFY(near(image.pixelColor(fromC), palette.color(QPalette::Highlight)));
        QVERIFY(image.pixelColor(intoTop).lightness() > plain.lightness());
    }

    // Arrows run from a predecessor's end to its successor's start, under the boxes, and the
    // selected box is filled with the highlight.
    void drawsDependenciesAndSelection()
    {
        Chart chart({ { "a", 0, 1000 }, { "b", 2000, 1000 }, { "c", 4000, 2000 } }, { { 1, 2 } });
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        const QColor base = chart.view->palette().color(QPalette::Base);
        const QRectF from = chart.view->boxRect(0);
        const QRectF to = chart.view->boxRect(1);
        // The bend right of a's end, half way down, and the leg into b.
        const QPoint bend(int(from.right()) + 6, int((from.center().y() + to.center().y()) / 2));
        const QPoint into(int(to.left()) - 2, int(to.center().y()));
        QImage image = chart.viewport()->grab().toImage();
        QVERIFY(image.pixelColor(bend) != base);
        QVERIFY(image.pixelColor(into) != base);
        chart.view->setShowDependencies(false);
        image = chart.viewport()->grab().toImage();
        QCOMPARE(image.pixelColor(bend), base);
        QCOMPARE(image.pixelColor(into), base);

        const QPoint inside = chart.view->boxRect(2).center().toPoint() + QPoint(-40, -8);
        QCOMPARE(image.pixelColor(inside), base);
        QTest::mouseClick(chart.viewport(), Qt::LeftButton, {}, inside);
        image = chart.viewport()->grab().toImage();
        QCOMPARE(image.pixelColor(inside), chart.view->palette().color(QPalette::Highlight));
    }
    // An edge to a far row is seen as the part of its route on screen: a leg down from the
    // predecessor at the top, a leg in to the successor at the bottom, nothing between.
    void farDependenciesShowTheirPartOnScreen_data()
    {
        QTest::addColumn<int>("scrollToRow");
        QTest::addColumn<int>("legRow");
        QTest::addColumn<bool>("drawn");
        QTest::newRow("predecessor on screen") << 0 << 0 << true;
        QTest::newRow("both ends off screen") << 40 << -1 << false;
        QTest::newRow("successor on screen") << 80 << 90 << true;
    }
    void farDependenciesShowTheirPartOnScreen()
    {
        QFETCH(int, scrollToRow);
        QFETCH(int, legRow);
        QFETCH(bool, drawn);
        QList<TaskSeed> many;
        for (int i = 0; i < 100; ++i)
            many.append({ "t", i == 90 ? 3000.0 : 0.0, 1000.0 });
        // Many edges from row 0 to rows below the screen, all seen as one leg.
        QList<IntPair> edges { { 1, 91 } };
        for (int i = 60; i < 90; ++i)
            edges.append({ 1, i + 1 });
        Chart chart(many, edges);
        QVERIFY(QTest::qWaitForWindowExposed(chart.view.get()));
        chart.view->verticalScrollBar()->setValue(scrollToRow * 25);
        const QColor base = chart.view->palette().color(QPalette::Base);
        const double turnX = chart.view->boxRect(0).right() + 6;
        const QImage image = chart.viewport()->grab().toImage();
        // Between the rows on screen, left of every box but the predecessor's end.
        int inked = 0;
        const int top = legRow == 90 ? int(chart.view->boxRect(90).top()) - 40 : 60;
        for (int y = top; y < top + 30; ++y)
            inked += image.pixelColor(int(turnX), y) != base ? 1 : 0;
        QCOMPARE(inked > 20, drawn);
    }
};

QTEST_MAIN(TestGanttView)
#include "tst_ganttview.moc"
