#include "Presenter.h"
#include "ProjectAttributesView.h"
#include "ProjectView.h"
#include "PropertiesView.h"
#include "ShownText.h"
#include "TaskAttributesView.h"
#include "TaskListView.h"
#include "TaskNamesModel.h"
#include "TaskNamesView.h"
#include "ViewTestSupport.h"

#include <QListView>
#include <QTest>

using namespace ViewTest;
using corvane::ShownText::nameLimit;

namespace {

// Long enough that laying it out whole would take minutes and gigabytes.
const QString hugeName = QString(50 * 1024 * 1024, u'N') + QStringLiteral("!");

template<typename Panel> Panel *shownPanel(ProjectView &view)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return view.propertiesView()->findChild<Panel *>();
}

QString shownRow(const QAbstractItemView *list, int row)
{
    return list->model()->index(row, 0).data(Qt::DisplayRole).toString();
}

} // namespace

class TestLongNames : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void hugeTaskNameIsShownCutEverywhere();
    void hugeProjectNameIsShownCut();
};

// "first" comes before the task with the huge name.
void TestLongNames::hugeTaskNameIsShownCutEverywhere()
{
    corvane::RecordingPresenter presenter;
    corvane::ScopedPresenter scoped(presenter);
    Plan plan({ { "first", 0, 600 }, { "huge", 600, 600 } }, { { 1, 2 } });
    const TaskPtr huge = plan.task("huge");
    const TaskPtr first = plan.task("first");
    huge->setName(hugeName);

    ProjectView view(plan.project.get());
    view.resize(900, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    const TaskNamesView *names = view.taskNamesView();
    const QString row = shownRow(names, 1);
    QVERIFY(row.size() <= nameLimit);
    QVERIFY(hugeName.startsWith(row.chopped(1)));
    QCOMPARE(names->model()->index(1, 0).data(TaskNamesModel::TaskNameRole).toString(), hugeName);
    // A name dragged out must still find its task when dropped.
    std::unique_ptr<QMimeData> dragged(names->model()->mimeData({ names->model()->index(1, 0) }));
    QCOMPARE(dragged->text(), hugeName);
    QVERIFY(!view.grab().isNull());

    view.selectedTaskIdHolder()->setRef(huge->id());
    auto *panel = shownPanel<TaskAttributesView>(view);
    QVERIFY(panel);
    QCOMPARE(panel->task(), huge);
    QLineEdit *title = panel->titleField();
    QVERIFY(title->text().size() <= nameLimit);
    QVERIFY(!view.grab().isNull());
    // Passing through the field as shown leaves the name whole.
    title->setFocus();
    QTest::keyClick(title, Qt::Key_End);
    QTest::keyClick(title, Qt::Key_Return);
    panel->durationField()->setFocus();
    QCOMPARE(huge->name(), hugeName);

    view.selectedTaskIdHolder()->setRef(first->id());
    auto *firstPanel = shownPanel<TaskAttributesView>(view);
    QVERIFY(firstPanel);
    QCOMPARE(firstPanel->task(), first);
    const auto *successors = firstPanel->successorsView()->findChild<QListView *>();
    QVERIFY(successors);
    QVERIFY(shownRow(successors, 0).size() <= nameLimit);
    QVERIFY(!view.grab().isNull());

    // The refusal names the task; the alert shows what can be read of it and the end of the reason.
    QWidget *predecessors = firstPanel->predecessorsView();
    std::unique_ptr<QMimeData> drop(plainText(hugeName));
    QVERIFY(dropOn(predecessors, predecessors->rect().center(), drop.get()));
    QCoreApplication::processEvents();
    QCOMPARE(presenter.alerts().size(), 1);
    const QString reason = presenter.alerts().constFirst().informativeText;
    QVERIFY(reason.size() <= corvane::ShownText::alertLineLimit);
    QVERIFY(reason.startsWith(QStringLiteral("Task ")));
    QVERIFY(reason.endsWith(QStringLiteral("maybe implicitly!")));
    QCOMPARE(huge->name(), hugeName);

    // An edit of the shown text renames the task as typed.
    view.selectedTaskIdHolder()->setRef(huge->id());
    panel = shownPanel<TaskAttributesView>(view);
    QVERIFY(panel);
    typeInto(panel->titleField(), QStringLiteral("Trimmed"));
    QCOMPARE(huge->name(), QStringLiteral("Trimmed"));
    QCOMPARE(shownRow(names, 1), QStringLiteral("Trimmed"));
}

void TestLongNames::hugeProjectNameIsShownCut()
{
    Plan plan({ { "only", 0, 600 } });
    plan.project->setName(hugeName);
    ProjectView view(plan.project.get());
    view.resize(900, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    auto *panel = shownPanel<ProjectAttributesView>(view);
    QVERIFY(panel);
    QLineEdit *title = panel->titleField();
    QVERIFY(title->text().size() <= nameLimit);
    QVERIFY(!view.grab().isNull());
    title->setFocus();
    QTest::keyClick(title, Qt::Key_Return);
    view.taskNamesView()->setFocus();
    QCOMPARE(plan.project->name(), hugeName);

    typeInto(title, QStringLiteral("Plan B"));
    QCOMPARE(plan.project->name(), QStringLiteral("Plan B"));
    QCOMPARE(title->text(), QStringLiteral("Plan B"));
}

QTEST_MAIN(TestLongNames)
#include "tst_longnames.moc"
