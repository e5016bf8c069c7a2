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
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
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
    }
    void copyFollowsTheWork()
    {
        QFETCH(double, interval);
        QFETCH(QStringList, steps);
        QFETCH(bool, copy);

        setInterval(interval);
        ProjectController *controller = openPlan();
        QVERIFY(controller);
        QMainWindow *window = controller->projectWindow();
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
        QCOMPARE(header.value(QLatin1String("path")).toString(), planFile());
        QCOMPARE(header.value(QLatin1String("name")).toString(), QStringLiteral("Plan"));
        QCOMPARE(bytes.sliced(headerEnd + 1), writeProject(*controller->project()));
        // Never over the user's own file.
        if (!steps.contains(QLatin1String("save")))
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
};

QTEST_MAIN(TestAutosave)
#include "tst_autosave.moc"
