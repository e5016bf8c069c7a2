#include "Beep.h"
#include "IntPublisher.h"
#include "ProjectAttributesView.h"
#include "PropertiesView.h"
#include "TaskAttributesView.h"
#include "ViewTestSupport.h"

#include <QAction>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

#include <clocale>

using namespace ViewTest;

namespace {

// The project runs from 0 to 6000 s, that is 100 minutes; "edited" starts 45 minutes before the
// end and lasts 5 minutes; "last" ends the project after 10 minutes.
const QList<TaskSeed> planTasks = {
    { "first", 0, 600 },
    { "edited", 3300, 300 },
    { "last", 5400, 600 },
    { "grouped", 0, 600, "G" },
};

// A shown panel for one task.
struct TaskPanel {
    Plan plan;
    std::unique_ptr<TaskAttributesView> view;

    explicit TaskPanel(const char *task = "edited", const QList<TaskSeed> &tasks = planTasks)
        : plan(tasks)
    {
        view = std::make_unique<TaskAttributesView>(plan.project.get(), plan.task(task));
        view->resize(280, 400);
        view->show();
        view->activateWindow();
    }
    [[nodiscard]] const TaskPtr &task() const { return view->task(); }
};

} // namespace

class TestAttributePanels : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void durationField_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("expected");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("refused");
        QTest::newRow("whole minutes") << 300.0 << "90" << 5400.0 << "90" << false;
        QTest::newRow("the value shown") << 300.0 << "5" << 300.0 << "5" << false;
        QTest::newRow("half a minute up") << 300.0 << "1.5" << 90.0 << "2" << false;
        QTest::newRow("half a minute down") << 300.0 << "-2.5" << -150.0 << "-3" << false;
        QTest::newRow("shown rounded, typed exact") << 150.0 << "3" << 180.0 << "3" << false;
        QTest::newRow("signed exponent") << 300.0 << "+1e1" << 600.0 << "10" << false;
        QTest::newRow("beyond whole minutes") << 300.0 << "1e300" << 6e301 << "1e+300" << false;
        QTest::newRow("leading blank") << 300.0 << " 90" << 300.0 << "5" << true;
        QTest::newRow("trailing blank") << 300.0 << "90 " << 300.0 << "5" << true;
        QTest::newRow("trailing letters") << 300.0 << "5 min" << 300.0 << "5" << true;
        QTest::newRow("empty") << 300.0 << "" << 300.0 << "5" << true;
        QTest::newRow("decimal comma") << 300.0 << "1,5" << 300.0 << "5" << true;
        QTest::newRow("inf") << 300.0 << "inf" << 300.0 << "5" << true;
        QTest::newRow("negative infinity") << 300.0 << "-infinity" << 300.0 << "5" << true;
        QTest::newRow("nan") << 300.0 << "nan" << 300.0 << "5" << true;
        QTest::newRow("too large to read") << 300.0 << "1e400" << 300.0 << "5" << true;
        QTest::newRow("too large in seconds") << 300.0 << "1e307" << 300.0 << "5" << true;
    }
    void durationField()
    {
        QFETCH(double, seconds);
        QFETCH(QString, typed);
        QFETCH(double, expected);
        QFETCH(QString, shown);
        QFETCH(bool, refused);
        TaskPanel panel("edited", { { "edited", 0, seconds } });
        QVERIFY(QTest::qWaitForWindowActive(panel.view.get()));
        const int beeps = beepCount();
        typeInto(panel.view->durationField(), typed);
        QCOMPARE(panel.task()->duration(), expected);
        QCOMPARE(panel.view->durationField()->text(), shown);
        QCOMPARE(beepCount(), beeps + (refused ? 1 : 0));
        const bool changed = expected != seconds;
        QCOMPARE(panel.plan.stack.count(), changed ? 1 : 0);
        if (changed) {
            QCOMPARE(panel.plan.stack.undoText(), QStringLiteral("Change Task Duration"));
            QCOMPARE(panel.task()->end(), panel.task()->start() + expected);
        }
        // Return again on what the field shows now edits nothing.
        QTest::keyClick(panel.view->durationField(), Qt::Key_Return);
        QCOMPARE(panel.plan.stack.count(), changed ? 1 : 0);
    }

    // Each time finite, the plan's length not: refused with the beep, nothing changed or recorded.
    void durationThatWouldOverflowTheSpanIsRefused()
    {
        TaskPanel panel("edited", { { "early", -1.7e308, 60 }, { "edited", 0, 300 }, { "after", 300, 60 } });
        panel.plan.project->addDependency(panel.plan.task("edited"), panel.plan.task("after"));
        panel.plan.stack.clear();
        panel.plan.project->setDirty(false);
        QVERIFY(QTest::qWaitForWindowActive(panel.view.get()));
        const int beeps = beepCount();
        typeInto(panel.view->durationField(), QStringLiteral("1e306"));
        QCOMPARE(beepCount(), beeps + 1);
        QCOMPARE(panel.task()->duration(), 300.0);
        QCOMPARE(panel.plan.task("after")->start(), 300.0);
        QVERIFY(std::isfinite(panel.plan.project->duration()));
        QCOMPARE(panel.plan.stack.count(), 0);
        QVERIFY(!panel.plan.project->isDirty());
    }

    // Durations are read the same whatever the locale writes decimals with.
    void durationIgnoresTheLocale()
    {
        const QByteArray savedNumeric(std::setlocale(LC_NUMERIC, nullptr));
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
            std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
        const QLocale savedLocale;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const auto restore = qScopeGuard([&] {
            std::setlocale(LC_NUMERIC, savedNumeric.constData());
            QLocale::setDefault(savedLocale);
        });
        TaskPanel panel;
        QVERIFY(QTest::qWaitForWindowActive(panel.view.get()));
        typeInto(panel.view->durationField(), QStringLiteral("1.5"));
        QCOMPARE(panel.task()->duration(), 90.0);
        typeInto(panel.view->durationField(), QStringLiteral("2,5"));
        QCOMPARE(panel.task()->duration(), 90.0);
    }

    void exclusionGroupField_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("changed");
        QTest::newRow("a letter") << ""
                                  << "x"
                                  << "x" << true;
        QTest::newRow("cleared") << "G"
                                 << ""
                                 << "" << true;
        QTest::newRow("leading space") << "G"
                                       << " x"
                                       << "" << true;
        QTest::newRow("first letter only") << ""
                                           << "AB"
                                           << "A" << true;
        QTest::newRow("the same letter") << "G"
                                         << "G"
                                         << "G" << false;
        QTest::newRow("same first letter") << "G"
                                           << "Gx"
                                           << "G" << false;
        QTest::newRow("space on none") << ""
                                       << " "
                                       << "" << false;
        QTest::newRow("combining mark") << ""
                                        << "e\u0301x"
                                        << "e\u0301" << true;
        QTest::newRow("beyond the basic plane") << "G"
                                                << "\U0001F600y"
                                                << "\U0001F600" << true;
        QTest::newRow("ideographic space") << "G"
                                           << "\u3000x"
                                           << "" << true;
    }
    void exclusionGroupField()
    {
        QFETCH(QString, group);
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        QFETCH(bool, changed);
        const QByteArray groupUtf8 = group.toUtf8();
        TaskPanel panel("edited", { { "edited", 0, 300, group.isEmpty() ? nullptr : groupUtf8.constData() } });
        QVERIFY(QTest::qWaitForWindowActive(panel.view.get()));
        typeInto(panel.view->groupField(), typed);
        QCOMPARE(panel.task()->exclusionGroup(), expected.isEmpty() ? ExclusionGroup() : ExclusionGroup(expected));
        QCOMPARE(panel.view->groupField()->text(), expected);
        QCOMPARE(panel.plan.stack.count(), changed ? 1 : 0);
        if (changed)
            QCOMPARE(panel.plan.stack.undoText(), QStringLiteral("Change Exclusion Group"));
    }

    // x sets the group, clearing the field removes it again: two steps, undone one by one.
    void exclusionGroupStepsUndo()
    {
        TaskPanel panel;
        QVERIFY(QTest::qWaitForWindowActive(panel.view.get()));
        typeInto(panel.view->groupField(), QStringLiteral("x"));
        typeInto(panel.view->groupField(), QString());
        QCOMPARE(panel.plan.stack.count(), 2);
        QCOMPARE(panel.task()->exclusionGroup(), std::nullopt);
        panel.plan.stack.undo();
        QCOMPARE(panel.view->groupField()->text(), QStringLiteral("x"));
        panel.plan.stack.undo();
        QCOMPARE(panel.view->groupField()->text(), QString());
    }

    void taskTitleField_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("refused");
        QTest::newRow("renamed") << "Survey"
                                 << "Survey" << false;
        QTest::newRow("blanks kept") << " Survey "
                                     << " Survey " << false;
        QTest::newRow("empty") << ""
                               << "edited" << true;
        QTest::newRow("unchanged") << "edited"
                                   << "edited" << false;
    }
    void taskTitleField()
    {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        QFETCH(bool, refused);
        TaskPanel panel;
        QVERIFY(QTest::qWaitForWindowActive(panel.view.get()));
        const int beeps = beepCount();
        typeInto(panel.view->titleField(), typed);
        QCOMPARE(panel.task()->name(), expected);
        QCOMPARE(panel.view->titleField()->text(), expected);
        QCOMPARE(beepCount(), beeps + (refused ? 1 : 0));
        QCOMPARE(panel.plan.project->isDirty(), expected != QLatin1String("edited"));
        // Renaming is no undoable step.
        QCOMPARE(panel.plan.stack.count(), 0);
    }

    void startAt_data()
    {
        QTest::addColumn<QString>("task");
        QTest::addColumn<QString>("shown");
        QTest::newRow("45 minutes before the end") << "edited"
                                                   << "Start at: -45";
        QTest::newRow("the last, 10 minutes long") << "last"
                                                   << "Start at: -10";
        QTest::newRow("the first") << "first"
                                   << "Start at: -100";
        QTest::newRow("half a minute, away from zero") << "half"
                                                       << "Start at: -3";
        QTest::newRow("after the end") << "negative"
                                       << "Start at: 1";
    }
    void startAt()
    {
        QFETCH(QString, task);
        QFETCH(QString, shown);
        QList<TaskSeed> tasks = planTasks;
        tasks.append({ "half", 5850, 60 });
        // A negative duration puts the start past the project's end.
        tasks.append({ "negative", 6060, -600 });
        TaskPanel panel(task.toUtf8().constData(), tasks);
        QCOMPARE(panel.view->startLabel()->text(), shown);
    }

    // The panel shows the model as it is now, after a move in the chart or an undo, unless the
    // user is typing in the field.
    void taskPanelShowsLiveValues()
    {
        TaskPanel panel;
        QVERIFY(QTest::qWaitForWindowActive(panel.view.get()));
        panel.plan.project->moveTask(panel.task(), 600.0);
        QCOMPARE(panel.view->startLabel()->text(), QStringLiteral("Start at: -35"));
        panel.plan.project->moveTask(panel.plan.task("last"), 1200.0);
        QCOMPARE(panel.view->startLabel()->text(), QStringLiteral("Start at: -55"));
        panel.plan.stack.undo();
        panel.plan.stack.undo();
        QCOMPARE(panel.view->startLabel()->text(), QStringLiteral("Start at: -45"));

        typeInto(panel.view->durationField(), QStringLiteral("20"));
        QCOMPARE(panel.view->durationField()->text(), QStringLiteral("20"));
        panel.plan.stack.undo();
        QCOMPARE(panel.view->durationField()->text(), QStringLiteral("5"));
        panel.plan.stack.redo();
        QCOMPARE(panel.view->durationField()->text(), QStringLiteral("20"));

        panel.plan.project->changeExclusionGroup(panel.task(), QStringLiteral("K"));
        QCOMPARE(panel.view->groupField()->text(), QStringLiteral("K"));
        panel.task()->setName(QStringLiteral("renamed"));
        QCOMPARE(panel.view->titleField()->text(), QStringLiteral("renamed"));

        typeInto(panel.view->durationField(), QStringLiteral("7"), false);
        panel.plan.project->moveTask(panel.plan.task("first"), 60.0);
        QCOMPARE(panel.view->durationField()->text(), QStringLiteral("7"));
        QTest::keyClick(panel.view->durationField(), Qt::Key_Return);
        QCOMPARE(panel.task()->duration(), 420.0);
    }

    void projectPanel_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("dirty");
        QTest::newRow("renamed") << "Harvest"
                                 << "Harvest" << true;
        QTest::newRow("empty accepted") << ""
                                        << "" << true;
        QTest::newRow("unchanged") << "Plan"
                                   << "Plan" << false;
    }
    void projectPanel()
    {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        QFETCH(bool, dirty);
        const int beeps = beepCount();
        Plan plan(planTasks);
        ProjectAttributesView view(plan.project.get());
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QCOMPARE(view.titleField()->text(), QStringLiteral("Plan"));
        typeInto(view.titleField(), typed);
        QCOMPARE(plan.project->name(), expected);
        QCOMPARE(plan.project->isDirty(), dirty);
        QCOMPARE(plan.stack.count(), 0);
        QCOMPARE(beepCount(), beeps);
    }

    void projectDuration_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("shown");
        QTest::newRow("100 minutes") << 6000.0 << "Duration: 100";
        QTest::newRow("half up") << 90.0 << "Duration: 2";
        QTest::newRow("just under half") << 89.0 << "Duration: 1";
        QTest::newRow("empty project") << 0.0 << "Duration: 0";
    }
    void projectDuration()
    {
        QFETCH(double, seconds);
        QFETCH(QString, shown);
        Plan plan(seconds > 0 ? QList<TaskSeed> { { "only", 0, seconds } } : QList<TaskSeed> {});
        ProjectAttributesView view(plan.project.get());
        QCOMPARE(view.durationLabel()->text(), shown);
    }

    void projectPanelShowsLiveValues()
    {
        Plan plan(planTasks);
        ProjectAttributesView view(plan.project.get());
        plan.project->moveTask(plan.task("last"), 600.0);
        QCOMPARE(view.durationLabel()->text(), QStringLiteral("Duration: 110"));
        plan.stack.undo();
        QCOMPARE(view.durationLabel()->text(), QStringLiteral("Duration: 100"));
        plan.project->setName(QStringLiteral("Renamed"));
        QCOMPARE(view.titleField()->text(), QStringLiteral("Renamed"));
    }

    // Slack follows every edit and undo; a start date adds the dates and counts slack in hours.
    void datesAndSlack()
    {
        QLocale::setDefault(QLocale(QStringLiteral("en_GB")));
        const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
        TaskPanel panel("edited");
        QVERIFY(!panel.view->startsLabel()->isVisibleTo(panel.view.get()));
        // It ends at 3600, the plan at 6000.
        QCOMPARE(panel.view->slackLabel()->text(), QStringLiteral("Slack: 40"));
        panel.plan.project->moveTask(panel.task(), 600.0);
        QTRY_COMPARE(panel.view->slackLabel()->text(), QStringLiteral("Slack: 30"));
        panel.plan.stack.undo();
        QTRY_COMPARE(panel.view->slackLabel()->text(), QStringLiteral("Slack: 40"));
        panel.plan.project->changeOrigin(QDateTime(QDate(2026, 12, 14), QTime(8, 0), Qt::LocalTime));
        QVERIFY(panel.view->startsLabel()->isVisibleTo(panel.view.get()));
        QCOMPARE(panel.view->startsLabel()->text(), QStringLiteral("Starts: Mon 14 Dec 2026 08:55"));
        QCOMPARE(panel.view->endsLabel()->text(), QStringLiteral("Ends: Mon 14 Dec 2026 09:00"));
        QTRY_COMPARE(panel.view->slackLabel()->text(), QStringLiteral("Slack: 40 min"));
        // 72.5 hours.
        panel.plan.project->changeDuration(panel.plan.task("last"), 3.0 * 86400.0);
        QTRY_COMPARE(panel.view->slackLabel()->text(), QStringLiteral("Slack: 3 d 1 h"));
        QCOMPARE(panel.view->startLabel()->text(), QStringLiteral("Start at: -4355"));
    }

    // Today's button, typing a date and the clear button: each one step, each undone.
    void projectStartDate()
    {
        Plan plan(planTasks);
        ProjectAttributesView view(plan.project.get());
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QDateTimeEdit *field = view.originField();
        QCOMPARE(field->text(), QStringLiteral(" "));
        QVERIFY(!view.clearDateButton()->isEnabled());
        QTest::mouseClick(view.todayButton(), Qt::LeftButton);
        const QDateTime today(QDate::currentDate(), QTime(8, 0), Qt::LocalTime);
        QCOMPARE(plan.project->origin(), today);
        QCOMPARE(plan.stack.undoText(), QStringLiteral("Change Project Start Date"));
        QVERIFY(plan.project->isDirty());
        QCOMPARE(field->dateTime(), today);

        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, QStringLiteral("2026-12-14 09:30"));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(plan.project->origin(), QDateTime(QDate(2026, 12, 14), QTime(9, 30), Qt::LocalTime));
        QCOMPARE(plan.stack.count(), 2);
        // Leaving the field as it shows is no edit.
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(plan.stack.count(), 2);

        QTest::mouseClick(view.clearDateButton(), Qt::LeftButton);
        QCOMPARE(plan.project->origin(), std::nullopt);
        QCOMPARE(field->text(), QStringLiteral(" "));
        plan.stack.undo();
        QCOMPARE(field->dateTime(), QDateTime(QDate(2026, 12, 14), QTime(9, 30), Qt::LocalTime));
        plan.stack.undo();
        plan.stack.undo();
        QCOMPARE(plan.project->origin(), std::nullopt);
        QCOMPARE(field->text(), QStringLiteral(" "));
    }

    // The left pane shows the selected task, or the project when the selection names none.
    void propertiesFollowTheSelection()
    {
        Plan plan(planTasks);
        IntPublisher selection;
        PropertiesView properties(plan.project.get(), &selection);
        QVERIFY(qobject_cast<ProjectAttributesView *>(properties.panel()));
        selection.setRef(plan.task("edited")->id());
        auto *taskPanel = qobject_cast<TaskAttributesView *>(properties.panel());
        QVERIFY(taskPanel);
        QCOMPARE(taskPanel->task(), plan.task("edited"));
        QCOMPARE(taskPanel->titleField()->text(), QStringLiteral("edited"));
        selection.setRef(plan.task("edited")->id());
        QCOMPARE(properties.panel(), taskPanel);
        selection.setRef(999);
        QVERIFY(qobject_cast<ProjectAttributesView *>(properties.panel()));

        // A deleted task leaves the panel to the project; its undo brings the task back.
        selection.setRef(plan.task("last")->id());
        const qint64 last = plan.task("last")->id();
        plan.project->deleteTask(plan.task("last"));
        QVERIFY(qobject_cast<ProjectAttributesView *>(properties.panel()));
        plan.stack.undo();
        taskPanel = qobject_cast<TaskAttributesView *>(properties.panel());
        QVERIFY(taskPanel);
        QCOMPARE(taskPanel->task()->id(), last);
        QCOMPARE(taskPanel->task(), plan.task("last"));
    }

    // Ctrl+Z and Ctrl+Shift+Z in a field step through the window's history, except while the field
    // has typing of its own to take back.
    void undoKeysInAField_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("typed");
        for (const char *field : { "title", "duration", "group", "project title" }) {
            QTest::addRow("%s, nothing typed", field) << field << false;
            QTest::addRow("%s, typed in", field) << field << true;
        }
    }
    void undoKeysInAField()
    {
        QFETCH(QString, field);
        QFETCH(bool, typed);
        Plan plan(planTasks);
        IntPublisher selection;
        PropertiesView properties(plan.project.get(), &selection);
        QAction *undo = plan.stack.createUndoAction(&properties);
        undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
        properties.addAction(undo);
        QAction *redo = plan.stack.createRedoAction(&properties);
        redo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
        properties.addAction(redo);
        properties.show();
        properties.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&properties));
        if (field != QLatin1String("project title"))
            selection.setRef(plan.task("edited")->id());
        QLineEdit *edit = nullptr;
        if (auto *taskPanel = qobject_cast<TaskAttributesView *>(properties.panel()))
            edit = field == QLatin1String("title")   ? taskPanel->titleField()
                : field == QLatin1String("duration") ? taskPanel->durationField()
                                                     : taskPanel->groupField();
        else
            edit = qobject_cast<ProjectAttributesView *>(properties.panel())->titleField();
        plan.project->changeDuration(plan.task("first"), 1200);
        edit->setFocus();
        QCOMPARE(QApplication::focusWidget(), edit);
        const QString shown = edit->text();

        if (typed) {
            QTest::keyClick(edit, Qt::Key_End);
            QTest::keyClick(edit, Qt::Key_9);
            QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
            QCOMPARE(edit->text(), shown);
            QCOMPARE(plan.stack.index(), 1);
            QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
            QCOMPARE(edit->text(), shown + QLatin1Char('9'));
            QCOMPARE(plan.stack.index(), 1);
            QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
            QCOMPARE(edit->text(), shown);
        }
        QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(plan.stack.index(), 0);
        QCOMPARE(plan.task("first")->duration(), 600.0);
        QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(plan.stack.index(), 1);
        QCOMPARE(plan.task("first")->duration(), 1200.0);
        QCOMPARE(edit->text(), shown);
        QCOMPARE(QApplication::focusWidget(), edit);
    }

    // Choosing another task finishes the edit in progress, for the task it was typed for.
    void selectionChangeCommitsTheFieldBeingEdited()
    {
        Plan plan(planTasks);
        IntPublisher selection;
        PropertiesView properties(plan.project.get(), &selection);
        properties.show();
        properties.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&properties));
        selection.setRef(plan.task("edited")->id());
        auto *taskPanel = qobject_cast<TaskAttributesView *>(properties.panel());
        QVERIFY(taskPanel);
        typeInto(taskPanel->durationField(), QStringLiteral("20"), false);
        selection.setRef(plan.task("first")->id());
        QCOMPARE(plan.task("edited")->duration(), 1200.0);
        QCOMPARE(plan.task("first")->duration(), 600.0);
        QCOMPARE(plan.stack.count(), 1);
        taskPanel = qobject_cast<TaskAttributesView *>(properties.panel());
        QVERIFY(taskPanel);
        QCOMPARE(taskPanel->task(), plan.task("first"));
        QCOMPARE(taskPanel->durationField()->text(), QStringLiteral("10"));
    }
};

QTEST_MAIN(TestAttributePanels)
#include "tst_attributepanels.moc"
