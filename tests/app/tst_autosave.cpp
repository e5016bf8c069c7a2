#include "AppTestSupport.h"

#include "AppDelegate.h"
#include "Autosave.h"
#include "FileAccess.h"
#include "Presenter.h"
#include "Project.h"
#include "ProjectController.h"
#include "ProjectFile.h"

#include <QApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QMainWindow>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace AppTest;
using corvane::FirstButton;
using corvane::SecondButton;
using corvane::ThirdButton;

namespace {

const QByteArray plan
    = R"({"tasks":[{"duration":600.0,"start":0.0,"id":1,"name":"A"}],"dependencies":[],"name":"Plan"})";

QStringList copiesOnDisk()
{
    Recovery::waitForWrites();
    return QDir(Recovery::folder()).entryList({ QStringLiteral("*.recovery") }, QDir::Files);
}

QByteArray copyBytes(const QString &name)
{
    return readFile(Recovery::folder() + u'/' + name);
}

// A copy as a killed run leaves it, naming the given file (none: null).
void plantCopy(const QString &id, const std::optional<QString> &path, const QByteArray &project = plan)
{
    QVERIFY(QDir().mkpath(Recovery::folder()));
    QCOMPARE(::chmod(QFile::encodeName(Recovery::folder()).constData(), 0700), 0);
    QJsonObject header;
    header.insert(QLatin1String("path"), path ? QJsonValue(*path) : QJsonValue());
    header.insert(QLatin1String("name"), QStringLiteral("Planted"));
    header.insert(QLatin1String("written"), QStringLiteral("2026-01-01T00:00:00.000Z"));
    writeFile(Recovery::folder() + u'/' + id + QLatin1String(".recovery"),
        QJsonDocument(header).toJson(QJsonDocument::Compact) + '\n' + project);
}

mode_t modeOf(const QString &path)
{
    struct stat status { };
    (void)::lstat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 07777;
}

} // namespace

class TestAutosave : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    corvane::RecordingPresenter m_presenter;
    std::optional<corvane::ScopedPresenter> m_scoped;
    std::optional<AppDelegate> m_delegate;

    [[nodiscard]] QString planFile() const { return m_home.filePath(QStringLiteral("plan.quillfern")); }

    ProjectController *openPlan()
    {
        writeFile(planFile(), plan);
        if (!AppDelegate::openProject(planFile()))
            return nullptr;
        ProjectController *controller = ProjectController::openControllers().constLast();
        controller->projectWindow()->activateWindow();
        if (!QTest::qWaitForWindowActive(controller->projectWindow()))
            return nullptr;
        return controller;
    }

    static void setInterval(double seconds) { qputenv("QUILLFERN_AUTOSAVE_SECONDS", QByteArray::number(seconds)); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        // Test mode keeps data under the home folder, a temporary one here.
        qputenv("HOME", QFile::encodeName(m_home.path()));
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(Recovery::folder().startsWith(m_home.path()));
        QCoreApplication::setOrganizationName(QStringLiteral("QuillfernTest"));
        QCoreApplication::setApplicationName(QStringLiteral("QuillfernAutosaveTest"));
        QSettings().clear();
        m_scoped.emplace(m_presenter);
        m_delegate.emplace();
    }

    void cleanupTestCase()
    {
        m_delegate.reset();
        QSettings().clear();
    }

    void init() { m_presenter.clear(); }

    void cleanup()
    {
        closeEveryWindow();
        QCOMPARE(m_presenter.unusedScript(), std::size_t(0));
        Recovery::waitForWrites();
        QDir(Recovery::folder()).removeRecursively();
    }

    // Steps a person takes; afterwards a copy is there, holding what the project holds now, or none.
    void copyFollowsTheWork_data()
    {
        QTest::addColumn<double>("interval");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("copy");

        const auto steps = [](const char *text) { return QString::fromLatin1(text).split(u' '); };
        QTest::newRow("unchanged") << 0.2 << steps("wait") << false;
        QTest::newRow("edited, interval over") << 0.2 << steps("edit wait") << true;
        QTest::newRow("edited, interval running") << 600.0 << steps("edit") << false;
        QTest::newRow("edited, window left") << 600.0 << steps("edit leave") << true;
        QTest::newRow("edited again after the copy") << 0.2 << steps("edit wait edit wait") << true;
        QTest::newRow("saved") << 0.2 << steps("edit wait save") << false;
        QTest::newRow("edited after saving") << 0.2 << steps("edit wait save edit wait") << true;
        QTest::newRow("closed without saving") << 0.2 << steps("edit wait close:No") << false;
        QTest::newRow("closing cancelled") << 0.2 << steps("edit wait close:Cancel") << true;
        // A new project is unsaved, but holds nothing of anyone's until it is changed.
        QTest::newRow("new, untouched, window left") << 600.0 << steps("new leave") << false;
        QTest::newRow("new, untouched, interval over") << 0.2 << steps("new wait") << false;
        QTest::newRow("new, edited, window left") << 600.0 << steps("new edit leave") << true;
    }
    void copyFollowsTheWork()
    {
        QFETCH(double, interval);
        QFETCH(QStringList, steps);
        QFETCH(bool, copy);

        setInterval(interval);
        const bool isNew = steps.constFirst() == QLatin1String("new");
        if (isNew) {
            steps.removeFirst();
            m_delegate->newDocument();
        } else {
            QVERIFY(openPlan());
        }
        ProjectController *controller = ProjectController::openControllers().constLast();
        QMainWindow *window = controller->projectWindow();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QWidget elsewhere;
        for (const QString &step : steps) {
            if (step == QLatin1String("edit")) {
                window->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(window));
                QTest::keyClick(window, Qt::Key_T, Qt::ControlModifier);
            } else if (step == QLatin1String("wait")) {
                QTest::qWait(int(interval * 1000) + 300);
            } else if (step == QLatin1String("leave")) {
                elsewhere.show();
                elsewhere.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
            } else if (step == QLatin1String("save")) {
                QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
            } else if (step.startsWith(QLatin1String("close:"))) {
                m_presenter.scriptAlertResponse(step.endsWith(QLatin1String("No")) ? SecondButton : ThirdButton);
                QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
                deliverPostedWork();
            }
        }
        const QStringList copies = copiesOnDisk();
        QCOMPARE(copies.size(), copy ? 1 : 0);
        if (!copy)
            return;
        const QByteArray bytes = copyBytes(copies.constFirst());
        const qsizetype headerEnd = bytes.indexOf('\n');
        const QJsonObject header = QJsonDocument::fromJson(bytes.left(headerEnd)).object();
        QCOMPARE(header.value(QLatin1String("path")).toString(), isNew ? QString() : planFile());
        QCOMPARE(header.value(QLatin1String("name")).toString(), isNew ? QString() : QStringLiteral("Plan"));
        QCOMPARE(bytes.sliced(headerEnd + 1), writeProject(*controller->project()));
        // Never over the user's own file.
        if (!isNew && !steps.contains(QLatin1String("save")))
            QCOMPARE(readFile(planFile()), plan);
    }

    // A run ended without closing its window; the next start offers what it left, unless another
    // running Quillfern owns it.
    void leftWorkIsOffered_data()
    {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("offered");
        QTest::addColumn<int>("restored");
        QTest::addColumn<int>("copiesLeft");

        QTest::newRow("Restore") << QStringLiteral("gone") << int(FirstButton) << true << 1 << 1;
        QTest::newRow("Discard") << QStringLiteral("gone") << int(SecondButton) << true << 0 << 0;
        QTest::newRow("Later") << QStringLiteral("gone") << int(ThirdButton) << true << 0 << 1;
        QTest::newRow("owner died, Discard") << QStringLiteral("dead") << int(SecondButton) << true << 0 << 0;
        QTest::newRow("owner running") << QStringLiteral("running") << 0 << false << 0 << 1;
    }
    void leftWorkIsOffered()
    {
        QFETCH(QString, owner);
        QFETCH(int, answer);
        QFETCH(bool, offered);
        QFETCH(int, restored);
        QFETCH(int, copiesLeft);

        setInterval(0.2);
        ProjectController *controller = openPlan();
        QVERIFY(controller);
        QTest::keyClick(controller->projectWindow(), Qt::Key_T, Qt::ControlModifier);
        const QByteArray edited = writeProject(*controller->project());
        QTRY_COMPARE(copiesOnDisk().size(), 1);
        const QString id = copiesOnDisk().constFirst().chopped(int(qstrlen(".recovery")));
        const QString lockPath = Recovery::folder() + u'/' + id + QLatin1String(".lock");
        const QByteArray ownLock = readFile(lockPath);
        ProjectController::discardAll();
        Recovery::waitForWrites();
        // What a run killed in the middle of a write leaves.
        writeFile(Recovery::folder() + u'/' + id + QLatin1String(".recovery.Xy12Zw"), "{\"name\":");

        QProcess other;
        if (owner != QLatin1String("gone")) {
            other.start(QStringLiteral("sleep"),
                { owner == QLatin1String("dead") ? QStringLiteral("0") : QStringLiteral("30") });
            QVERIFY(other.waitForStarted());
            const qint64 pid = other.processId();
            if (owner == QLatin1String("dead"))
                QVERIFY(other.waitForFinished());
            // The lock file another Quillfern would hold: its process, its name, this machine.
            QList<QByteArray> lines = ownLock.split('\n');
            lines[0] = QByteArray::number(pid);
            lines[1] = "sleep";
            writeFile(lockPath, lines.join('\n'));
        }
        if (offered)
            m_presenter.scriptAlertResponse(answer);
        QCOMPARE(m_delegate->offerRecoveredWork(), restored);
        other.kill();
        other.waitForFinished();

        QCOMPARE(m_presenter.alerts().size(), offered ? 1 : 0);
        if (offered) {
            const corvane::Alert &alert = m_presenter.alerts().constFirst();
            QCOMPARE(alert.message,
                QStringLiteral("Quillfern found unsaved changes from a session that ended unexpectedly."));
            QCOMPARE(alert.buttons,
                QStringList({ QStringLiteral("Restore"), QStringLiteral("Discard"), QStringLiteral("Later") }));
            QVERIFY(alert.informativeText.contains(u"\u201cPlan\u201d (" + planFile() + u')'));
        }
        QCOMPARE(ProjectController::openControllers().size(), restored);
        if (restored) {
            const ProjectController *back = ProjectController::openControllers().constFirst();
            QCOMPARE(back->url(), std::optional<QString>(planFile()));
            QVERIFY(back->project()->isDirty());
            QCOMPARE(writeProject(*back->project()), edited);
        }
        QCOMPARE(copiesOnDisk().size(), copiesLeft);
        if (copiesLeft == 0)
            QCOMPARE(QDir(Recovery::folder()).entryList({ id + u'*' }, QDir::Files), QStringList());
        // Left for later, it is offered again.
        if (offered && answer == ThirdButton) {
            m_presenter.scriptAlertResponse(ThirdButton);
            QCOMPARE(m_delegate->offerRecoveredWork(), 0);
            QCOMPARE(m_presenter.alerts().size(), 2);
        }
    }

    // A file whose name is not UTF-8 (Latin-1, from an older system): its copy's header is JSON,
    // which is UTF-8, and Restore must still save to that very file.
    void restoreKeepsANameThatIsNotUtf8()
    {
        setInterval(0.2);
        const QByteArray bytes = QFile::encodeName(m_home.path()) + "/caf\xe9.quillfern";
        const QString file = decodeFileName(bytes);
        const int descriptor = ::open(bytes.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        QVERIFY(descriptor >= 0);
        const auto removeFile = qScopeGuard([&bytes] { ::unlink(bytes.constData()); });
        QCOMPARE(::write(descriptor, plan.constData(), size_t(plan.size())), ssize_t(plan.size()));
        ::close(descriptor);
        QVERIFY(AppDelegate::openProject(file));
        ProjectController *controller = ProjectController::openControllers().constLast();
        controller->projectWindow()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(controller->projectWindow()));
        QTest::keyClick(controller->projectWindow(), Qt::Key_T, Qt::ControlModifier);
        QTRY_COMPARE(copiesOnDisk().size(), 1);
        ProjectController::discardAll();
        Recovery::waitForWrites();

        m_presenter.scriptAlertResponse(FirstButton);
        QCOMPARE(m_delegate->offerRecoveredWork(), 1);
        ProjectController *back = ProjectController::openControllers().constFirst();
        QCOMPARE(back->url(), std::optional<QString>(file));
        QVERIFY(back->save());
        QCOMPARE(readWholeFile(file), writeProject(*back->project()));
    }

    // A restored project's first save goes to the file its copy names only when that still holds
    // a project or is new in a folder that exists; anything else is asked with the save panel.
    void restoredSaveGoesOnlyWhereAProjectWas_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("panel");
        QTest::newRow("the project's file") << QStringLiteral("project") << false;
        QTest::newRow("a new file") << QStringLiteral("new") << false;
        QTest::newRow("the user's text") << QStringLiteral("text") << true;
        QTest::newRow("a folder that is gone") << QStringLiteral("gone/plan.quillfern") << true;
        QTest::newRow("a relative name") << QStringLiteral("relative") << true;
    }
    void restoredSaveGoesOnlyWhereAProjectWas()
    {
        QFETCH(QString, target);
        QFETCH(bool, panel);
        QString file = m_home.filePath(target);
        const QByteArray text = "my notes, not a plan\n";
        if (target == QLatin1String("project"))
            writeFile(file, plan);
        else if (target == QLatin1String("text"))
            writeFile(file, text);
        else if (target == QLatin1String("relative"))
            file = QStringLiteral("plan.quillfern");
        const auto removeFile = qScopeGuard([file] { QFile::remove(file); });
        plantCopy(QStringLiteral("planted"), file);
        m_presenter.scriptAlertResponse(FirstButton);
        QCOMPARE(m_delegate->offerRecoveredWork(), 1);
        ProjectController *back = ProjectController::openControllers().constFirst();
        if (panel)
            m_presenter.scriptSavePanelResult(std::nullopt);
        QCOMPARE(back->save(), !panel);
        QCOMPARE(m_presenter.savePanels().size(), panel ? 1 : 0);
        if (panel) {
            QCOMPARE(readFile(file), target == QLatin1String("text") ? text : QByteArray());
            back->project()->setDirty(false);
        } else {
            QCOMPARE(readFile(file), writeProject(*back->project()));
        }
    }

    // Nothing in the recovery folder leads a write elsewhere: a copy that is a link is replaced,
    // not written through; a folder that is a link is refused; copies are the owner's alone.
    void linksInTheRecoveryFolderAreNotFollowed_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::newRow("copy is a link") << QStringLiteral("copy");
        QTest::newRow("folder is a link") << QStringLiteral("folder");
        QTest::newRow("folder open to others") << QStringLiteral("mode");
    }
    void linksInTheRecoveryFolderAreNotFollowed()
    {
        QFETCH(QString, planted);
        setInterval(600);
        const QString victim = m_home.filePath(QStringLiteral("victim"));
        const auto removeVictim = qScopeGuard([victim] {
            QFile::remove(victim);
            QDir(victim).removeRecursively();
        });
        ProjectController *controller = openPlan();
        QVERIFY(controller);
        QTest::keyClick(controller->projectWindow(), Qt::Key_T, Qt::ControlModifier);
        const QByteArray folder = QFile::encodeName(Recovery::folder());
        if (planted == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(victim));
            QCOMPARE(::chmod(QFile::encodeName(victim).constData(), 01777), 0);
            QDir(Recovery::folder()).removeRecursively();
            QCOMPARE(::symlink(QFile::encodeName(victim).constData(), folder.constData()), 0);
        }
        if (planted == QLatin1String("mode")) {
            QVERIFY(QDir().mkpath(Recovery::folder()));
            QCOMPARE(::chmod(folder.constData(), 0777), 0);
        }
        controller->autosave()->writeNow();
        Recovery::waitForWrites();
        if (planted == QLatin1String("copy")) {
            QCOMPARE(copiesOnDisk().size(), 1);
            const QString copy = Recovery::folder() + u'/' + copiesOnDisk().constFirst();
            writeFile(victim, "the victim's own");
            QVERIFY(QFile::remove(copy));
            QVERIFY(QFile::link(victim, copy));
            QTest::keyClick(controller->projectWindow(), Qt::Key_T, Qt::ControlModifier);
            controller->autosave()->writeNow();
            Recovery::waitForWrites();
            QCOMPARE(readFile(victim), QByteArray("the victim's own"));
            QVERIFY(!QFileInfo(copy).isSymLink());
            QCOMPARE(modeOf(copy), mode_t(0600));
            QVERIFY(copyBytes(copiesOnDisk().constFirst()).endsWith(writeProject(*controller->project())));
        } else if (planted == QLatin1String("folder")) {
            QCOMPARE(modeOf(victim), mode_t(01777));
            QCOMPARE(QDir(victim).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
            QVERIFY(QFile::remove(Recovery::folder()));
        } else {
            QCOMPARE(modeOf(Recovery::folder()), mode_t(0700));
            QCOMPARE(copiesOnDisk().size(), 1);
        }
    }

    // Copies are read as project files are: only regular files at their own name, none larger
    // than a project file and its header; a lock left without its copy is cleaned up.
    void strangeCopiesArePassedOver_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("link to a plan elsewhere") << QStringLiteral("link");
        QTest::newRow("sparse 3 GiB") << QStringLiteral("huge");
        QTest::newRow("named pipe") << QStringLiteral("pipe");
    }
    void strangeCopiesArePassedOver()
    {
        QFETCH(QString, kind);
        plantCopy(QStringLiteral("strange"), std::nullopt);
        const QString copy = Recovery::folder() + QLatin1String("/strange.recovery");
        const QByteArray name = QFile::encodeName(copy);
        const QString elsewhere = m_home.filePath(QStringLiteral("elsewhere.recovery"));
        const auto removeElsewhere = qScopeGuard([elsewhere] { QFile::remove(elsewhere); });
        if (kind == QLatin1String("link")) {
            QVERIFY(QFile::rename(copy, elsewhere));
            QVERIFY(QFile::link(elsewhere, copy));
        } else if (kind == QLatin1String("huge")) {
            QCOMPARE(::truncate(name.constData(), qint64(3) << 30), 0);
        } else {
            QVERIFY(QFile::remove(copy));
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        }
        // Killed between taking a lock and writing its copy.
        const QString lonelyLock = Recovery::folder() + QLatin1String("/lonely.lock");
        writeFile(lonelyLock, "999999999\nquillfern\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        QCOMPARE(m_delegate->offerRecoveredWork(), 0);
        QCOMPARE(m_presenter.alerts().size(), 0);
        QVERIFY(!QFileInfo::exists(lonelyLock));
    }
};

QTEST_MAIN(TestAutosave)
#include "tst_autosave.moc"
