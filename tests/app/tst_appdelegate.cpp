#include "../update/UpdateTestSupport.h"
#include "AppTestSupport.h"

#include "AppDelegate.h"
#include "Bundle.h"
#include "Ids.h"
#include "Preferences.h"
#include "PreferencesController.h"
#include "PreferencesView.h"
#include "Presenter.h"
#include "Project.h"
#include "ProjectController.h"
#include "ProjectFile.h"
#include "QuitRequests.h"
#include "RecentDocuments.h"
#include "Updater.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QLocalSocket>
#include <QMainWindow>
#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace AppTest;
using corvane::FirstButton;
using corvane::SecondButton;
using corvane::ThirdButton;

namespace {

std::unique_ptr<Project> changedProject(const QString &name)
{
    auto project = std::make_unique<Project>();
    project->setName(name);
    project->setDirty(true);
    return project;
}

QStringList titlesOf(const QList<ProjectController *> &controllers)
{
    QStringList titles;
    for (const ProjectController *controller : controllers)
        titles.append(controller->project()->name());
    return titles;
}

// Keeps one question or panel up, as a person reading it would, while something else happens;
// the answers come from the recording presenter. Notes how deeply presentations nest.
class PausingPresenter final : public corvane::Presenter {
public:
    PausingPresenter(corvane::RecordingPresenter &answers, int pauseAt, std::function<void()> meanwhile)
        : m_answers(answers)
        , m_pauseAt(pauseAt)
        , m_meanwhile(std::move(meanwhile))
    { }
    template<typename Answer> std::invoke_result_t<Answer> present(Answer answer)
    {
        const corvane::PresentationScope presenting;
        deepest = std::max(deepest, ++m_depth);
        if (m_shown++ == m_pauseAt)
            m_meanwhile();
        auto result = answer();
        --m_depth;
        return result;
    }
    int runAlert(const corvane::Alert &alert) override
    {
        return present([&] { return m_answers.runAlert(alert); });
    }
    std::optional<QString> runOpenPanel(const corvane::FilePanel &panel) override
    {
        return present([&] { return m_answers.runOpenPanel(panel); });
    }
    std::optional<QString> runSavePanel(const corvane::FilePanel &panel) override
    {
        return present([&] { return m_answers.runSavePanel(panel); });
    }
    int deepest = 0;

private:
    corvane::RecordingPresenter &m_answers;
    int m_pauseAt;
    std::function<void()> m_meanwhile;
    int m_depth = 0;
    int m_shown = 0;
};

} // namespace

class TestAppDelegate : public QObject {
    Q_OBJECT

private:
    corvane::RecordingPresenter m_presenter;
    std::optional<corvane::ScopedPresenter> m_scoped;
    std::optional<UpdateTest::Server> m_server;
    std::optional<AppDelegate> m_delegate;
    QTemporaryDir m_dir;
    QTemporaryDir m_runtime;

    ProjectController *openWindow(std::unique_ptr<Project> project, std::optional<QString> url = std::nullopt)
    {
        ProjectController *controller
            = ProjectController::open(std::move(project), std::move(url), std::nullopt, &*m_delegate);
        controller->showWindow();
        return controller;
    }

    [[nodiscard]] QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    [[nodiscard]] qsizetype checksMade() const
    {
        qsizetype count = 0;
        for (const QByteArray &request : m_server->requests())
            count += request.startsWith("GET /Quillfern/index.html ") ? 1 : 0;
        return count;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("QuillfernTest"));
        QCoreApplication::setApplicationName(QStringLiteral("QuillfernDelegateTest"));
        QSettings().clear();
        QVERIFY(m_dir.isValid());
        m_server.emplace();
        // The release this build is: a check finds nothing newer and asks nothing.
        m_server->set(QStringLiteral("/Quillfern/index.html"),
            { 200, "<h2>New in Version " + corvane::shortVersionString().value_or(QString()).toUtf8() + "</h2>" });
        qputenv("QUILLFERN_UPDATE_SITE", m_server->baseUrl().toUtf8());
        m_scoped.emplace(m_presenter);
        m_delegate.emplace();
        QVERIFY(m_runtime.isValid());
        QVERIFY(QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        QVERIFY(corvane::listenForQuitRequests([this] { m_delegate->terminate(); }));
    }

    void cleanupTestCase()
    {
        waitForChecksToEnd();
        corvane::stopListeningForQuitRequests();
        m_delegate.reset();
        QSettings().clear();
    }

    void init()
    {
        Ids::resetForTesting(1, 1);
        m_presenter.clear();
        RecentDocuments::clear();
        QSettings().remove(QStringLiteral("check version"));
        Preferences::shared().reload();
    }

    void cleanup()
    {
        closeEveryWindow();
        QVERIFY(ProjectController::openControllers().isEmpty());
        QVERIFY(!PreferencesController::currentPreferencesController());
        QCOMPARE(m_presenter.unusedScript(), std::size_t(0));
        waitForChecksToEnd();
    }

    // Every changed project is asked about in the order its window opened; the answers decide
    // which windows close and whether the run may end.
    void quitAsksInOpeningOrder_data()
    {
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<int>("asked");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<bool>("terminates");

        QTest::newRow("No to all") << QList<int> { SecondButton, SecondButton, SecondButton } << 3 << QStringList()
                                   << true;
        QTest::newRow("No, then Cancel") << QList<int> { SecondButton, ThirdButton } << 2
                                         << QStringList { QStringLiteral("second"), QStringLiteral("third") } << false;
        QTest::newRow("Cancel first") << QList<int> { ThirdButton } << 1
                                      << QStringList { QStringLiteral("first"), QStringLiteral("second"),
                                             QStringLiteral("third") }
                                      << false;
        QTest::newRow("closing the question is Cancel")
            << QList<int> { SecondButton, SecondButton, -1 } << 3 << QStringList { QStringLiteral("third") } << false;
    }
    void quitAsksInOpeningOrder()
    {
        QFETCH(QList<int>, answers);
        QFETCH(int, asked);
        QFETCH(QStringList, left);
        QFETCH(bool, terminates);

        QList<QWidget *> windows;
        for (const char *name : { "first", "second", "third" })
            windows.append(openWindow(changedProject(QString::fromLatin1(name)))->projectWindow());
        for (int answer : answers)
            m_presenter.scriptAlertResponse(answer);
        QSignalSpy terminating(&*m_delegate, &AppDelegate::terminating);

        m_delegate->terminate();
        deliverPostedWork();

        QCOMPARE(m_presenter.alerts().size(), asked);
        for (int i = 0; i < asked; ++i) {
            const corvane::Alert &question = m_presenter.alerts().at(i);
            QCOMPARE(question.message, QStringLiteral("Do you want to save your changes?"));
            QCOMPARE(question.buttons,
                QStringList({ QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("Cancel") }));
            QCOMPARE(question.style, corvane::AlertStyle::Warning);
            QCOMPARE(question.parent, windows.at(i));
        }
        QCOMPARE(titlesOf(ProjectController::openControllers()), left);
        for (const ProjectController *controller : ProjectController::openControllers())
            QVERIFY(controller->project()->isDirty());
        QCOMPARE(terminating.size(), terminates ? 1 : 0);
    }

    // Unsaved work is never thrown away: a save that does not happen keeps its window and stops
    // the quit, also for windows after it.
    void quitStopsWhereASaveDidNotHappen_data()
    {
        QTest::addColumn<bool>("hasFile");
        QTest::addColumn<bool>("panelCancelled");
        QTest::newRow("save panel cancelled") << false << true;
        QTest::newRow("file cannot be written") << true << false;
        QTest::newRow("chosen file cannot be written") << false << false;
    }
    void quitStopsWhereASaveDidNotHappen()
    {
        QFETCH(bool, hasFile);
        QFETCH(bool, panelCancelled);

        // A regular file where a folder should be: nothing can be written below it.
        writeFile(path("blocker"), "x");
        const QString unwritable = path("blocker") + QStringLiteral("/plan.quillfern");
        openWindow(changedProject(QStringLiteral("kept")), hasFile ? std::optional(unwritable) : std::nullopt);
        openWindow(changedProject(QStringLiteral("after")));
        m_presenter.scriptAlertResponse(FirstButton);
        if (!hasFile)
            m_presenter.scriptSavePanelResult(panelCancelled ? std::nullopt : std::optional(unwritable));
        QSignalSpy terminating(&*m_delegate, &AppDelegate::terminating);

        QCOMPARE(m_delegate->applicationShouldTerminate(), AppDelegate::TerminateCancel);
        deliverPostedWork();

        QCOMPARE(titlesOf(ProjectController::openControllers()),
            QStringList({ QStringLiteral("kept"), QStringLiteral("after") }));
        QVERIFY(ProjectController::openControllers().at(0)->project()->isDirty());
        // The failed write was reported; the window after it was not asked about.
        QCOMPARE(m_presenter.alerts().size(), panelCancelled ? 1 : 2);
        if (!panelCancelled)
            QVERIFY(m_presenter.alerts().at(1).informativeText.contains(unwritable));
        QCOMPARE(terminating.size(), 0);
    }

    void quitSavesWhenAnsweredYes()
    {
        const QString file = path("saved.quillfern");
        ProjectController *controller = openWindow(changedProject(QStringLiteral("saved")), file);
        controller->project()->addTask(Task::createNew(controller->project()));
        openWindow(readProject(R"({"tasks":[],"dependencies":[],"name":"clean"})"));
        m_presenter.scriptAlertResponse(FirstButton);

        QCOMPARE(m_delegate->applicationShouldTerminate(), AppDelegate::TerminateNow);
        deliverPostedWork();

        QVERIFY(ProjectController::openControllers().isEmpty());
        QCOMPARE(m_presenter.alerts().size(), 1);
        QFile saved(file);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(readProject(saved.readAll())->tasks().size(), 1);
        QCOMPARE(RecentDocuments::list(), QStringList { file });
    }

    // The run ends through the quit flow once the last window has closed, and not while the
    // preferences window is still open.
    void lastWindowClosedEndsTheRun()
    {
        QSignalSpy terminating(&*m_delegate, &AppDelegate::terminating);
        ProjectController *first = openWindow(changedProject(QStringLiteral("one")));
        ProjectController *second = openWindow(changedProject(QStringLiteral("two")));
        m_delegate->openPreferences();
        first->closeWindowWithoutAsking();
        deliverPostedWork();
        second->closeWindowWithoutAsking();
        deliverPostedWork();
        QCOMPARE(terminating.size(), 0);

        PreferencesController::currentPreferencesController()->window()->close();
        QTRY_COMPARE(terminating.size(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(terminating.size(), 1);
    }

    void openDocumentDoesNotWait_data()
    {
        QTest::addColumn<bool>("chosen");
        QTest::newRow("file chosen") << true;
        QTest::newRow("cancelled") << false;
    }
    void openDocumentDoesNotWait()
    {
        QFETCH(bool, chosen);
        const QString file = path("open.quillfern");
        writeFile(file, R"({"tasks":[],"dependencies":[],"name":"Opened"})");
        m_presenter.scriptOpenPanelResult(chosen ? std::optional(file) : std::nullopt);

        m_delegate->openDocument();
        QVERIFY(m_presenter.openPanels().isEmpty());
        deliverPostedWork();

        QCOMPARE(m_presenter.openPanels().size(), 1);
        QCOMPARE(m_presenter.openPanels().at(0).title, QStringLiteral("Open Project"));
        QVERIFY(m_presenter.openPanels().at(0).nameFilter.isEmpty());
        QCOMPARE(titlesOf(ProjectController::openControllers()),
            chosen ? QStringList { QStringLiteral("Opened") } : QStringList());
        QCOMPARE(RecentDocuments::list(), chosen ? QStringList { file } : QStringList());
    }

    // File > Import... by its key, the panel answered with a file: another planner's plan opens as
    // a new, unsaved project named after the plan, after one alert of what was kept and dropped; a
    // file that cannot be one opens nothing and says why.
    void importFromMenu_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("informative");
        QTest::addColumn<QStringList>("titles");
        const QByteArray plan = "<Project><Title>Shed</Title><StartDate>2026-12-14T08:00:00</StartDate><Tasks>"
                                "<Task><UID>1</UID><Name>a</Name><Start>2026-12-14T08:00:00</Start>"
                                "<Finish>2026-12-14T09:00:00</Finish></Task>"
                                "<Task><UID>2</UID><Name>b</Name><Start>2026-12-14T08:30:00</Start>"
                                "<Finish>2026-12-14T09:00:00</Finish><PredecessorLink><PredecessorUID>1"
                                "</PredecessorUID><Type>3</Type></PredecessorLink></Task></Tasks></Project>";
        QTest::newRow("mspdi") << QStringLiteral("shed.xml") << plan
                               << QStringLiteral("Imported 2 tasks and 0 dependencies.")
                               << QStringLiteral("1 start-to-start link became a finish-to-start link.\n1 dependency "
                                                 "contradicted the imported times and was deleted:\n\"b\" on \"a\"")
                               << QStringList { QStringLiteral("Untitled"), QStringLiteral("Shed") };
        QTest::newRow("refused") << QStringLiteral("bad.planner")
                                 << QByteArray("<!DOCTYPE project [<!ENTITY x \"y\">]><project/>")
                                 << QStringLiteral("The file declares a document type")
                                 << QStringLiteral("The file is not a plan in GNOME Planner form, or it is damaged. "
                                                   "Nothing was imported.")
                                 << QStringList { QStringLiteral("Untitled") };
        QTest::newRow("other extension") << QStringLiteral("plan.doc") << plan
                                         << QStringLiteral("Choose a file ending in .xml (MS Project XML), .planner "
                                                           "(GNOME Planner) or .csv (a table Quillfern exported).")
                                         << QString() << QStringList { QStringLiteral("Untitled") };
    }
    void importFromMenu()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        QFETCH(QString, informative);
        QFETCH(QStringList, titles);
        m_delegate->newDocument();
        ProjectController *first = ProjectController::openControllers().first();
        first->project()->setName(QStringLiteral("Untitled"));
        QVERIFY(QTest::qWaitForWindowActive(first->projectWindow()));
        const QString file = path(name.toUtf8().constData());
        writeFile(file, bytes);
        m_presenter.scriptOpenPanelResult(file);
        QTest::keyClick(first->projectWindow(), Qt::Key_I, Qt::ControlModifier | Qt::ShiftModifier);
        deliverPostedWork();

        QCOMPARE(m_presenter.openPanels().size(), 1);
        QCOMPARE(m_presenter.openPanels().at(0).title, QStringLiteral("Import Plan"));
        // Opened where the work is, never in the working folder.
        QVERIFY(!m_presenter.openPanels().at(0).directory.isEmpty());
        QCOMPARE(m_presenter.alerts().size(), 1);
        QVERIFY2(
            m_presenter.alerts().at(0).message.startsWith(message), qPrintable(m_presenter.alerts().at(0).message));
        QVERIFY2(m_presenter.alerts().at(0).informativeText.startsWith(informative),
            qPrintable(m_presenter.alerts().at(0).informativeText));
        QCOMPARE(titlesOf(ProjectController::openControllers()), titles);
        if (titles.size() == 2) {
            const ProjectController *imported = ProjectController::openControllers().last();
            QVERIFY(imported->project()->isDirty());
            QVERIFY(!imported->url());
            QCOMPARE(imported->project()->tasks().size(), 2);
            QVERIFY(RecentDocuments::list().isEmpty());
        }
    }

    // A recent file that has gone is shown as such, and choosing it takes it off the list with a
    // message that says what happened.
    void recentMenuMarksAndDropsVanishedFiles()
    {
        const QString kept = path("kept.quillfern");
        const QString gone = path("gone.quillfern");
        writeFile(kept, R"({"tasks":[],"dependencies":[],"name":"Kept"})");
        RecentDocuments::note(gone);
        RecentDocuments::note(kept);

        QMenu menu;
        m_delegate->fillRecentMenu(&menu);
        QStringList texts;
        for (const QAction *action : menu.actions())
            texts.append(action->text());
        QCOMPARE(texts,
            QStringList({ QStringLiteral("kept.quillfern"), QStringLiteral("gone.quillfern (not found)"), QString(),
                QStringLiteral("Clear Menu") }));

        menu.actions().at(1)->trigger();
        deliverPostedWork();
        QCOMPARE(RecentDocuments::list(), QStringList { kept });
        QCOMPARE(m_presenter.alerts().size(), 1);
        QVERIFY(m_presenter.alerts().at(0).message.contains(QStringLiteral("gone.quillfern")));
        QVERIFY(m_presenter.alerts().at(0).informativeText.contains(gone));
        QVERIFY(ProjectController::openControllers().isEmpty());

        menu.actions().at(0)->trigger();
        QCOMPARE(titlesOf(ProjectController::openControllers()), QStringList { QStringLiteral("Kept") });

        m_delegate->fillRecentMenu(&menu);
        menu.actions().constLast()->trigger();
        QVERIFY(RecentDocuments::list().isEmpty());
        m_delegate->fillRecentMenu(&menu);
        QVERIFY(!menu.actions().constLast()->isEnabled());
    }

    // One preferences window at most; while it is open every window's Preferences command is off.
    void preferencesWindowIsSingleAndDisablesItsCommand()
    {
        ProjectController *controller = openWindow(changedProject(QStringLiteral("p")));
        QAction *command = controller->action(ProjectController::Preferences);
        QVERIFY(command->isEnabled());
        QVERIFY(m_delegate->validateUserInterfaceItem(command));

        command->trigger();
        PreferencesController *open = PreferencesController::currentPreferencesController();
        QVERIFY(open);
        QCOMPARE(open->window()->windowTitle(), QStringLiteral("Quillfern Preferences"));
        QCOMPARE(open->window()->size(), QSize(480, 300));
        // Readers hear a window, not a plain widget's "filler".
        QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(open->window());
        QVERIFY(reader);
        QCOMPARE(reader->role(), QAccessible::Window);
        QCOMPARE(reader->text(QAccessible::Name), QStringLiteral("Quillfern Preferences"));
        QVERIFY(!command->isEnabled());
        QVERIFY(!m_delegate->validateUserInterfaceItem(command));
        QVERIFY(m_delegate->validateUserInterfaceItem(controller->action(ProjectController::NewTask)));
        m_delegate->openPreferences();
        QCOMPARE(PreferencesController::currentPreferencesController(), open);

        open->window()->close();
        deliverPostedWork();
        QVERIFY(!PreferencesController::currentPreferencesController());
        QVERIFY(command->isEnabled());
    }

    void preferencesWindowClosesFromTheKeyboard_data()
    {
        QTest::addColumn<QKeySequence>("keys");
        QTest::newRow("Ctrl+W") << QKeySequence(Qt::CTRL | Qt::Key_W);
        QTest::newRow("Escape") << QKeySequence(Qt::Key_Escape);
    }
    void preferencesWindowClosesFromTheKeyboard()
    {
        QFETCH(QKeySequence, keys);
        openWindow(changedProject(QStringLiteral("p")));
        m_delegate->openPreferences();
        QWidget *window = PreferencesController::currentPreferencesController()->window();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keySequence(window, keys);
        deliverPostedWork();
        QVERIFY(!PreferencesController::currentPreferencesController());
        QCOMPARE(ProjectController::openControllers().size(), 1);
    }

    // The switch stores its inverse under "check version"; switching it on checks at once, and
    // the next launch follows what was stored.
    void checkForUpdateSwitch()
    {
        m_delegate->openPreferences();
        QCheckBox *box = PreferencesController::currentPreferencesController()->view()->checkForUpdate();
        QCOMPARE(box->text(), QStringLiteral("Check for Update"));
        QVERIFY(box->isChecked());

        box->click();
        QCOMPARE(QSettings().value(QStringLiteral("check version")), QVariant(true));
        QVERIFY(!Preferences::shared().isCheckVersion());
        QVERIFY(!corvane::Updater::isCheckRunning());

        // The next run reads what was stored and does not check.
        PreferencesController::currentPreferencesController()->window()->close();
        deliverPostedWork();
        Preferences::shared().reload();
        const qsizetype before = checksMade();
        m_delegate->applicationDidFinishLaunching();
        QVERIFY(!corvane::Updater::isCheckRunning());
        m_delegate->openPreferences();
        box = PreferencesController::currentPreferencesController()->view()->checkForUpdate();
        QVERIFY(!box->isChecked());

        box->click();
        QCOMPARE(QSettings().value(QStringLiteral("check version")), QVariant(false));
        QVERIFY(corvane::Updater::isCheckRunning());
        QTRY_COMPARE_WITH_TIMEOUT(checksMade(), before + 1, 20000);
    }

    void launchChecksUnlessSwitchedOff_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("checks");
        QTest::newRow("nothing stored") << QVariant() << true;
        QTest::newRow("stored false") << QVariant(false) << true;
        QTest::newRow("stored true") << QVariant(true) << false;
        QTest::newRow("stored as text") << QVariant(QStringLiteral("true")) << false;
    }
    void launchChecksUnlessSwitchedOff()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, checks);
        if (stored.isValid())
            QSettings().setValue(QStringLiteral("check version"), stored);
        Preferences::shared().reload();
        QCOMPARE(Preferences::shared().isCheckVersion(), checks);
        if (!checks)
            QTest::ignoreMessage(QtInfoMsg, "automatic update check is switched off");
        m_delegate->applicationDidFinishLaunching();
        QCOMPARE(corvane::Updater::isCheckRunning(), checks);
    }

    // The updater's quit request comes while a window's close question or its save panel is up:
    // the quit flow runs once, after it, and never asks from inside it.
    void quitRequestWaitsForTheOpenQuestion_data()
    {
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<int>("pauseAt");
        QTest::addColumn<int>("questions");

        QTest::newRow("No to closing") << QList<int> { SecondButton, SecondButton } << 0 << 2;
        QTest::newRow("Cancel to closing") << QList<int> { ThirdButton, SecondButton, SecondButton } << 0 << 3;
        // Yes on an untitled project: the request comes while its save panel is up.
        QTest::newRow("save panel") << QList<int> { FirstButton, SecondButton, SecondButton } << 1 << 3;
    }
    void quitRequestWaitsForTheOpenQuestion()
    {
        QFETCH(QList<int>, answers);
        QFETCH(int, pauseAt);
        QFETCH(int, questions);

        for (int answer : answers)
            m_presenter.scriptAlertResponse(answer);
        QLocalSocket updater;
        PausingPresenter pausing(m_presenter, pauseAt, [&] {
            updater.connectToServer(corvane::quitRequestSocketName(QStringLiteral("org.quillfern.Quillfern")));
            QVERIFY(updater.waitForConnected(5000));
            QTest::ignoreMessage(QtInfoMsg, "the updater asks Quillfern to quit");
            updater.write("quit\nwhere\n");
            // Answered in order: once "where" is, the quit request has been read.
            QTRY_VERIFY_WITH_TIMEOUT(updater.canReadLine(), 5000);
            QTest::qWait(300);
        });
        const corvane::ScopedPresenter scope(pausing);
        QSignalSpy terminating(&*m_delegate, &AppDelegate::terminating);
        ProjectController *first = openWindow(changedProject(QStringLiteral("first")));
        openWindow(changedProject(QStringLiteral("second")));

        first->projectWindow()->close();
        QTRY_COMPARE_WITH_TIMEOUT(terminating.size(), 1, 5000);
        QTest::qWait(300);
        QCOMPARE(terminating.size(), 1);
        QCOMPARE(pausing.deepest, 1);
        QCOMPARE(m_presenter.alerts().size(), questions);
        for (const corvane::Alert &alert : m_presenter.alerts())
            QCOMPARE(alert.message, QStringLiteral("Do you want to save your changes?"));
        QVERIFY(ProjectController::openControllers().isEmpty());
    }

    // One logging rule shows or hides every line of the program.
    void launchLinesAreInTheProgramsCategory_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QByteArray>("site");
        QTest::addColumn<QString>("line");
        QTest::newRow("switched off") << QVariant(true) << QByteArray()
                                      << QStringLiteral("automatic update check is switched off");
        QTest::newRow("no update site") << QVariant(false) << QByteArray("https://nowhere.invalid/")
                                        << QStringLiteral(
                                               "this build has no update site, so there is nothing to check");
    }
    void launchLinesAreInTheProgramsCategory()
    {
        QFETCH(QVariant, stored);
        QFETCH(QByteArray, site);
        QFETCH(QString, line);
        QSettings().setValue(QStringLiteral("check version"), stored);
        Preferences::shared().reload();
        const QByteArray realSite = qgetenv("QUILLFERN_UPDATE_SITE");
        if (!site.isEmpty())
            qputenv("QUILLFERN_UPDATE_SITE", site);
        static QList<std::pair<QByteArray, QString>> logged;
        logged.clear();
        const QtMessageHandler previous
            = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &message) {
                  logged.append({ QByteArray(context.category), message });
              });
        m_delegate->applicationDidFinishLaunching();
        qInstallMessageHandler(previous);
        qputenv("QUILLFERN_UPDATE_SITE", realSite);
        QCOMPARE(logged, (QList<std::pair<QByteArray, QString>> { { QByteArray("quillfern"), line } }));
    }

    // Asked for from several threads at once, there is one instance, and it lives on the UI
    // thread where its views are.
    void sharedPreferencesAreOne()
    {
        QList<Preferences *> seen(4, nullptr);
        std::vector<std::unique_ptr<QThread>> threads;
        for (qsizetype i = 0; i < seen.size(); ++i)
            threads.emplace_back(QThread::create([&seen, i] { seen[i] = &Preferences::shared(); }));
        for (const auto &thread : threads)
            thread->start();
        for (const auto &thread : threads)
            QVERIFY(thread->wait(10000));
        for (Preferences *preferences : seen)
            QCOMPARE(preferences, &Preferences::shared());
        QCOMPARE(Preferences::shared().thread(), QCoreApplication::instance()->thread());
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
