#include "Bundle.h"
#include "Exception.h"
#include "Presenter.h"
#include "QuitRequests.h"
#include "SwapJournal.h"
#include "UpdateJob.h"
#include "UpdateTestSupport.h"
#include "UpdateWindow.h"
#include "Updater.h"
#include "UpdaterLock.h"
#include "VersionCheck1.h"

#include <QEventLoop>
#include <QLocalSocket>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <unistd.h>

using namespace corvane;
using namespace std::chrono_literals;
using UpdateTest::ZipItem;

Q_DECLARE_METATYPE(QList<UpdateTest::ZipItem>)

namespace {

QByteArray program(const QByteArray &flavour)
{
    // Says which build it is, and leaves a mark where the test can see that it was started.
    return "#!/bin/sh\necho " + flavour + " > \"$(dirname \"$0\")/../started\"\necho " + flavour + '\n';
}

QByteArray updaterProgram()
{
    return UpdateTest::readFile(QStringLiteral(SOFTWARE_UPDATER));
}

// The version the test site announces; the installed one is the build's.
const QByteArray published = "999.0";

// The tree that installing Quillfern makes, as the release archive carries it below its top folder;
// an empty version leaves out the file that names it.
QList<ZipItem> release(const QByteArray &flavour, const QByteArray &version = published)
{
    QList<ZipItem> items {
        { "Quillfern/", {}, S_IFDIR | 0755 },
        { "Quillfern/bin/", {}, S_IFDIR | 0755 },
        { "Quillfern/bin/quillfern", program(flavour), S_IFREG | 0755 },
        { "Quillfern/lib/quillfern/SoftwareUpdater.app/Contents/MacOS/SoftwareUpdater", updaterProgram(),
            S_IFREG | 0755 },
    };
    if (!version.isEmpty())
        items.append({ "Quillfern/lib/quillfern/version", version + '\n' });
    return items;
}

void install(const QString &root, const QByteArray &flavour)
{
    UpdateTest::writeFile(root + QLatin1String("/bin/quillfern"), program(flavour), UpdateTest::executable);
    UpdateTest::writeFile(root + QLatin1String("/lib/quillfern/SoftwareUpdater.app/Contents/MacOS/SoftwareUpdater"),
        updaterProgram(), UpdateTest::executable);
    UpdateTest::writeFile(root + QLatin1String("/lib/quillfern/version"),
        (flavour == "new" ? published : QByteArray(QUILLFERN_VERSION)) + '\n',
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
}

corvane::SoftwareUpdateParameters quillfernParameters()
{
    corvane::SoftwareUpdateParameters parameters;
    parameters.bundleId = QStringLiteral("org.quillfern.Quillfern");
    parameters.shortAppName = QStringLiteral("Quillfern");
    parameters.urlPath = QStringLiteral("Quillfern");
    return parameters;
}

QByteArray run(const QString &path)
{
    QProcess process;
    process.start(path, {});
    process.waitForFinished(5000);
    return process.readAllStandardOutput();
}

} // namespace

class TestSoftwareUpdater : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void fullUpdate();
    void failedUpdateKeepsTheOldInstallation_data();
    void failedUpdateKeepsTheOldInstallation();
    void killedDuringTheSwap_data();
    void killedDuringTheSwap();
    void alertWhileTheTransferEnds();
    void oneUpdaterAtATime();
    void everyQuillfernIsAskedToQuit();
    void readOnlyInstallation();
    void failuresNameTheirCause_data();
    void failuresNameTheirCause();
    void quitSocket();
    void quitNeverComes_data();
    void quitNeverComes();
    void secondCheckDuringAnUpdate_data();
    void secondCheckDuringAnUpdate();

private:
    QTemporaryDir m_home;
    QTemporaryDir m_installationParent;
    QString m_installation;
    std::unique_ptr<UpdateTest::Server> m_server;
    bool m_quitRequested = false;
};

namespace {

// Started as Updater starts it: four arguments, in the update folder.
void startUpdater(QProcess &updater, const QString &folder)
{
    updater.setWorkingDirectory(folder);
    updater.start(QStringLiteral(SOFTWARE_UPDATER),
        { QStringLiteral("org.quillfern.Quillfern"), QStringLiteral("Quillfern"), QStringLiteral("Quillfern"),
            QStringLiteral("false") });
}

} // namespace

void TestSoftwareUpdater::initTestCase()
{
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qunsetenv("XDG_DATA_HOME");
    const QString runtime = m_home.filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    // The updater program inherits this: no windows, and a bounded wait for the quit.
    qputenv("QUILLFERN_UPDATER_UNATTENDED", "1");
    QVERIFY(QFileInfo(QStringLiteral(SOFTWARE_UPDATER)).isExecutable());
}

void TestSoftwareUpdater::init()
{
    m_installation = m_installationParent.filePath(QStringLiteral("opt/quillfern"));
    QDir(m_installation).removeRecursively();
    QDir(m_home.filePath(QStringLiteral(".local"))).removeRecursively();
    install(m_installation, "old");
    setInstallationFolder(m_installation);
    m_server = std::make_unique<UpdateTest::Server>();
    qputenv("QUILLFERN_UPDATE_SITE", m_server->baseUrl().toUtf8());
    m_server->set(QStringLiteral("/Quillfern/index.html"),
        { 200, "<h1>Quillfern</h1><h2>New in Version " + published + "</h2>" });
    m_quitRequested = false;
    // This test stands in for the running Quillfern: asked to quit, it closes the socket as an
    // ending program would.
    QVERIFY(listenForQuitRequests([this] {
        m_quitRequested = true;
        stopListeningForQuitRequests();
    }));
}

void TestSoftwareUpdater::cleanup()
{
    stopListeningForQuitRequests();
    QTRY_VERIFY(!Updater::isCheckRunning());
    m_server.reset();
}

void TestSoftwareUpdater::fullUpdate()
{
    // Sites keep releases where they like; every redirect is checked and then followed.
    UpdateTest::Response redirect { 302, "moved" };
    redirect.location = m_server->baseUrl().toUtf8() + "releases/Quillfern-999.0.zip";
    m_server->set(QStringLiteral("/Quillfern/Quillfern.zip"), redirect);
    // Packed as the release packager packs it.
    m_server->set(QStringLiteral("/releases/Quillfern-999.0.zip"),
        { 200, UpdateTest::makeZip(release("new"), UpdateTest::ZipStyle::Streamed) });
    RecordingPresenter presenter;
    ScopedPresenter scoped(presenter);
    presenter.scriptAlertResponse(FirstButton);

    auto updater = std::make_shared<Updater>(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), false);
    QVERIFY(updater->start());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_installation + QLatin1String("/started")), 20000);

    QCOMPARE(presenter.alerts().size(), 1);
    QCOMPARE(presenter.alerts().constFirst().message, QStringLiteral("Automatic Update"));
    QVERIFY(updater->updaterSuccessfullyStarted());
    QVERIFY(m_quitRequested);
    QCOMPARE(UpdateTest::readFile(m_installation + QLatin1String("/started")), QByteArray("new\n"));
    QCOMPARE(run(m_installation + QLatin1String("/bin/quillfern")), QByteArray("new\n"));
    QFile::remove(m_installation + QLatin1String("/started"));
    QMap<QString, QByteArray> expected;
    QTemporaryDir releaseTree;
    install(releaseTree.path(), "new");
    QCOMPARE(UpdateTest::snapshot(m_installation), UpdateTest::snapshot(releaseTree.path()));

    // The program ran from its copy in the update folder and tidied up after itself.
    const QString folder = updater->appSuppApp();
    QTRY_VERIFY(!QFileInfo::exists(folder + QLatin1String("/staging")));
    QVERIFY(!QFileInfo::exists(folder + QLatin1String("/Quillfern.zip")));
    QVERIFY(QFileInfo::exists(folder + QLatin1String("/SoftwareUpdater.app/Contents/MacOS/SoftwareUpdater")));
}

void TestSoftwareUpdater::failedUpdateKeepsTheOldInstallation_data()
{
    QTest::addColumn<QList<ZipItem>>("archive"); // empty: the site has no archive
    QTest::addColumn<bool>("truncated");
    QTest::addColumn<bool>("quits");
    QTest::addColumn<QString>("reason");
    // How the signature beside the archive is wrong; empty: it is the publisher's.
    QTest::addColumn<QString>("signature");
    QTest::addColumn<qint64>("announcedSize"); // -1: the body's

    QTest::newRow("entry escapes the staging folder")
        << (release("new") << ZipItem { "Quillfern/../../../../evil", "x" }) << false << false << "would land outside"
        << QString() << qint64(-1);
    QTest::newRow("link points out") << (release("new") << ZipItem { "Quillfern/lib/etc", "/etc", S_IFLNK | 0777 })
                                     << false << false << "link pointing outside" << QString() << qint64(-1);
    QTest::newRow("download cut short") << release("new") << true << false << "could not be downloaded" << QString()
                                        << qint64(-1);
    QTest::newRow("larger than any release")
        << release("new") << false << false << "larger than any release" << QString() << qint64(3) * 1024 * 1024 * 1024;
    QTest::newRow("no archive on the site")
        << QList<ZipItem>() << false << false << "could not be downloaded" << QString() << qint64(-1);
    QTest::newRow("not a release") << QList<ZipItem> { { "readme.txt", "hello" } } << false << false
                                   << "has no program bin/quillfern" << QString() << qint64(-1);
    // The staged copy's name is too long for the file system, after other files were staged.
    QTest::newRow("failure while installing")
        << (release("new") << ZipItem { "Quillfern/share/" + QByteArray(245, 'x'), "x" }) << false << true
        << "Quillfern was left as it was" << QString() << qint64(-1);
    // Nothing unsigned, or signed by anyone but the publisher, is unpacked.
    const QString unsigned_ = QStringLiteral("does not carry its publisher's signature");
    QTest::newRow("no signature") << release("new") << false << false << "signature could not be downloaded"
                                  << "missing" << qint64(-1);
    QTest::newRow("signature of other bytes")
        << release("new") << false << false << unsigned_ << "other bytes" << qint64(-1);
    QTest::newRow("signature by another key")
        << release("new") << false << false << unsigned_ << "another key" << qint64(-1);
    QTest::newRow("not a signature") << release("new") << false << false << unsigned_ << "garbage" << qint64(-1);
    // Signed releases that must not be installed all the same: the version is covered by the signature.
    QTest::newRow("older release announced as newer")
        << release("new", "0.0.1") << false << false
        << "It is version 0.0.1, but the update site announces version 999.0" << QString() << qint64(-1);
    QTest::newRow("release of the installed version")
        << release("new", QUILLFERN_VERSION) << false << false
        << "It is version " QUILLFERN_VERSION ", which is not newer than the installed version " QUILLFERN_VERSION
        << QString() << qint64(-1);
    QTest::newRow("release without its version")
        << release("new", {}) << false << false << "does not say which version it is" << QString() << qint64(-1);
}

void TestSoftwareUpdater::failedUpdateKeepsTheOldInstallation()
{
    QFETCH(QList<ZipItem>, archive);
    QFETCH(bool, truncated);
    QFETCH(bool, quits);
    QFETCH(QString, reason);
    QFETCH(QString, signature);
    QFETCH(qint64, announcedSize);

    if (!archive.isEmpty()) {
        UpdateTest::Response response { 200, UpdateTest::makeZip(archive) };
        response.truncate = truncated;
        response.announcedSize = announcedSize;
        m_server->set(QStringLiteral("/Quillfern/Quillfern.zip"), response);
        const QString signaturePath = QStringLiteral("/Quillfern/Quillfern.zip.sig");
        const QByteArray otherKey = "0f0e0d0c0b0a09080706050403020100000102030405060708090a0b0c0d0e0f";
        if (signature == QLatin1String("missing"))
            m_server->set(signaturePath, { 404, "Not Found" });
        else if (signature == QLatin1String("other bytes"))
            m_server->set(signaturePath, { 200, UpdateTest::signedByTheTestKey(response.body + "x") });
        else if (signature == QLatin1String("another key"))
            m_server->set(signaturePath, { 200, UpdateTest::signedBy(otherKey, response.body) });
        else if (signature == QLatin1String("garbage"))
            m_server->set(signaturePath, { 200, QByteArray(64, 'x') });
    }
    // Announced honestly, the installed version is no update either.
    if (reason.contains(QLatin1String("not newer")))
        m_server->set(
            QStringLiteral("/Quillfern/index.html"), { 200, "<h2>New in Version " QUILLFERN_VERSION "</h2>" });
    const QMap<QString, QByteArray> before = UpdateTest::snapshot(m_installation);
    const QString folder = m_home.filePath(QStringLiteral(".local/share/Quillfern/update"));
    QVERIFY(QDir().mkpath(folder));

    QProcess updater;
    startUpdater(updater, folder);
    QVERIFY(updater.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(updater.state(), QProcess::NotRunning, 20000);
    const QString log = QString::fromUtf8(updater.readAllStandardError());
    QCOMPARE(updater.exitCode(), 1);
    QVERIFY2(log.contains(reason), qPrintable(log));
    QCOMPARE(m_quitRequested, quits);
    // The Quillfern that quit for the update runs again, the old release, and its user is told so.
    if (quits) {
        QVERIFY2(log.contains(QLatin1String("Quillfern, which had quit for the update, was started again.")),
            qPrintable(log));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_installation + QLatin1String("/started")), 10000);
        QCOMPARE(UpdateTest::readFile(m_installation + QLatin1String("/started")), QByteArray("old\n"));
        QFile::remove(m_installation + QLatin1String("/started"));
    }

    QCOMPARE(UpdateTest::snapshot(m_installation), before);
    QCOMPARE(run(m_installation + QLatin1String("/bin/quillfern")), QByteArray("old\n"));
    QVERIFY(!QFileInfo::exists(m_installationParent.filePath(QStringLiteral("evil"))));
    QVERIFY(!QFileInfo::exists(m_home.filePath(QStringLiteral("evil"))));
    QVERIFY(!QFileInfo::exists(QStringLiteral("/evil")));
    // Nothing of a refused release is kept, unpacked or not.
    QVERIFY(!QFileInfo::exists(folder + QLatin1String("/Quillfern.zip")));
    QVERIFY(!QFileInfo::exists(folder + QLatin1String("/staging")));
}

void TestSoftwareUpdater::killedDuringTheSwap_data()
{
    QTest::addColumn<bool>("byUpdater");
    QTest::newRow("repaired by the updater started again") << true;
    QTest::newRow("repaired by Quillfern's start") << false;
}

// Wherever the updater is killed, the next program to start makes the installation wholly old or
// wholly new again.
void TestSoftwareUpdater::killedDuringTheSwap()
{
    QFETCH(bool, byUpdater);
    m_server->set(QStringLiteral("/Quillfern/Quillfern.zip"), { 200, UpdateTest::makeZip(release("new")) });
    const QMap<QString, QByteArray> oldTree = UpdateTest::snapshot(m_installation);
    QTemporaryDir newInstallation;
    install(newInstallation.path(), "new");
    const QMap<QString, QByteArray> newTree = UpdateTest::snapshot(newInstallation.path());
    const QString folder = m_home.filePath(QStringLiteral(".local/share/Quillfern/update"));
    QVERIFY(QDir().mkpath(folder));

    int rolledBack = 0;
    int rolledForward = 0;
    int killAfter = 0;
    for (;; ++killAfter) {
        QDir(m_installation).removeRecursively();
        install(m_installation, "old");
        stopListeningForQuitRequests();
        QVERIFY(listenForQuitRequests([] { stopListeningForQuitRequests(); }));
        QProcess updater;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QUILLFERN_UPDATER_KILL_AFTER_CHANGE"), QString::number(killAfter));
        updater.setProcessEnvironment(environment);
        startUpdater(updater, folder);
        QVERIFY(updater.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(updater.state(), QProcess::NotRunning, 20000);
        if (updater.exitStatus() == QProcess::NormalExit) {
            QCOMPARE(updater.exitCode(), 0);
            break;
        }
        // Before anything repairs it, the program is there and whole: a user may start it now.
        const QString quillfern = m_installation + QLatin1String("/bin/quillfern");
        const QByteArray present = UpdateTest::readFile(quillfern);
        QVERIFY2((present == program("old") || present == program("new")) && QFileInfo(quillfern).isExecutable(),
            qPrintable(QStringLiteral("killed after change %1: no whole bin/quillfern").arg(killAfter)));
        if (byUpdater) {
            // Nobody answers it now: it ends once it has repaired the installation.
            QProcess again;
            startUpdater(again, folder);
            QVERIFY(again.waitForStarted());
            QTRY_COMPARE_WITH_TIMEOUT(again.state(), QProcess::NotRunning, 20000);
            QCOMPARE(again.exitCode(), 1);
        } else {
            QVERIFY(repairInterruptedSwap(m_installation) != SwapRepair::Failed);
        }
        // The whole tree with its modes: no staged or old copies, no journal, programs executable.
        const QMap<QString, QByteArray> after = UpdateTest::snapshot(m_installation);
        QVERIFY2(after == oldTree || after == newTree,
            qPrintable(QStringLiteral("killed after change %1: ").arg(killAfter) + after.keys().join(u' ')));
        ++(after == oldTree ? rolledBack : rolledForward);
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_installation + QLatin1String("/started")), 10000);
    QFile::remove(m_installation + QLatin1String("/started"));
    QCOMPARE(UpdateTest::snapshot(m_installation), newTree);
    // The journal, three staged files, the mark that all are staged, for each file its second old
    // name and the rename over it, three old names removed, the journal removed. Until the staged files are marked, the
    // swap is taken back.
    QCOMPARE(killAfter, 15);
    QCOMPARE(rolledBack, 4);
    QCOMPARE(rolledForward, 11);
}

namespace {

// Answers as a person does: the alert stays up a while, and its event loop runs meanwhile.
class SlowPresenter final : public Presenter {
public:
    int runAlert(const Alert &alert) override
    {
        const PresentationScope showing;
        alerts.append(alert);
        QEventLoop loop;
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
        return FirstButton;
    }
    std::optional<QString> runOpenPanel(const FilePanel &) override { return std::nullopt; }
    std::optional<QString> runSavePanel(const FilePanel &) override { return std::nullopt; }
    QList<Alert> alerts;
};

} // namespace

// The end of a run is reported while the download's handler runs; the alert's loop must not pull
// the transfer away from under it.
void TestSoftwareUpdater::alertWhileTheTransferEnds()
{
    UpdateTest::Response huge { 200, UpdateTest::makeZip(release("new")) };
    huge.announcedSize = qint64(3) << 30;
    m_server->set(QStringLiteral("/Quillfern/Quillfern.zip"), huge);
    QTemporaryDir work;
    UpdateJob job(quillfernParameters(), work.path());
    UpdateWindow window(job, QStringLiteral("Quillfern"));
    SlowPresenter presenter;
    ScopedPresenter scoped(presenter);
    int status = -1;
    endRunWhenFinished(job, &window, true, [&status](int ended) { status = ended; });
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^The update could not be downloaded.")));
    job.start();
    QTRY_COMPARE_WITH_TIMEOUT(status, 1, 10000);
    QCOMPARE(presenter.alerts.size(), 1);
    QVERIFY2(presenter.alerts.constFirst().informativeText.contains(QLatin1String("larger than any release can be")),
        qPrintable(presenter.alerts.constFirst().informativeText));
    QTRY_VERIFY(!QFileInfo::exists(job.archivePath() + QLatin1String(".part")));
    QCOMPARE(run(m_installation + QLatin1String("/bin/quillfern")), QByteArray("old\n"));
}

// Two sessions of one user answer Yes together. The second must find the update folder taken as
// soon as the first has launched its updater, before that program is even up.
void TestSoftwareUpdater::oneUpdaterAtATime()
{
    m_server->set(QStringLiteral("/Quillfern/Quillfern.zip"), { 200, UpdateTest::makeZip(release("new")) });
    const auto first = std::make_shared<Updater>(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), false);
    const auto second = std::make_shared<Updater>(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), false);
    first->update();
    try {
        second->update();
        QFAIL("a second updater was launched");
    } catch (const Exception &error) {
        QCOMPARE(error.message(), QStringLiteral("Quillfern is already being updated."));
    } catch (...) {
        QFAIL("the second check failed otherwise");
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_installation + QLatin1String("/started")), 20000);
    QFile::remove(m_installation + QLatin1String("/started"));
    QCOMPARE(run(m_installation + QLatin1String("/bin/quillfern")), QByteArray("new\n"));
    // The first updater's copy was never taken from under it.
    QVERIFY(!QFileInfo::exists(m_home.filePath(QStringLiteral(".local/share/Trash/files/SoftwareUpdater.app"))));
}

// A Quillfern of another session runs from the same installation, with a runtime folder of its
// own; it too is asked to quit, and the swap waits until it has.
void TestSoftwareUpdater::everyQuillfernIsAskedToQuit()
{
    const QString installed = m_installation + QLatin1String("/bin/quillfern");
    QVERIFY(QFile::remove(installed));
    QVERIFY(QFile::copy(QStringLiteral(QUILLFERN_PROGRAM), installed));
    m_server->set(QStringLiteral("/Quillfern/Quillfern.zip"), { 200, UpdateTest::makeZip(release("new")) });
    const QString runtime = m_home.filePath(QStringLiteral("run-other"));
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("QUILLFERN_UNATTENDED"), QStringLiteral("1"));
    // Its new, empty project is not to be saved.
    environment.insert(QStringLiteral("QUILLFERN_UNATTENDED_ANSWERS"), QStringLiteral("No"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.remove(QStringLiteral("QUILLFERN_UPDATE_SITE"));
    QProcess other;
    other.setProcessEnvironment(environment);
    other.start(installed, {});
    QVERIFY(other.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(runtime + QLatin1String("/org.quillfern.Quillfern.quit")), 10000);

    const QString folder = m_home.filePath(QStringLiteral(".local/share/Quillfern/update"));
    QVERIFY(QDir().mkpath(folder));
    QProcess updater;
    startUpdater(updater, folder);
    QVERIFY(updater.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(updater.state(), QProcess::NotRunning, 30000);
    const QString log = QString::fromUtf8(updater.readAllStandardError());
    QVERIFY2(updater.exitCode() == 0, qPrintable(log));
    QVERIFY(m_quitRequested);
    QCOMPARE(other.state(), QProcess::NotRunning);
    QCOMPARE(other.exitStatus(), QProcess::NormalExit);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_installation + QLatin1String("/started")), 10000);
    QFile::remove(m_installation + QLatin1String("/started"));
    QCOMPARE(run(installed), QByteArray("new\n"));
}

// Installed read-only from top to bottom, as a system package is. The updater's copy must still be
// its own to change, so that the updater gets to say why it cannot update.
void TestSoftwareUpdater::readOnlyInstallation()
{
    namespace fs = std::filesystem;
    const auto makeReadOnly = [](const QString &root, bool readOnly) {
        const fs::perm_options how = readOnly ? fs::perm_options::remove : fs::perm_options::add;
        const fs::perms write = readOnly ? fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write
                                         : fs::perms::owner_write;
        for (const auto &entry : fs::recursive_directory_iterator(root.toStdString()))
            fs::permissions(entry.path(), write, how);
        fs::permissions(root.toStdString(), write, how);
    };
    makeReadOnly(m_installation, true);
    const auto restore = qScopeGuard([&] { makeReadOnly(m_installation, false); });
    m_server->set(QStringLiteral("/Quillfern/Quillfern.zip"), { 200, UpdateTest::makeZip(release("new")) });
    // Its updater is not needed here: the copy is what is looked at.
    stopListeningForQuitRequests();
    const auto updater = std::make_shared<Updater>(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), false);
    updater->update();
    const QString copy = updater->appSuppApp() + QLatin1String("/SoftwareUpdater.app");
    QVERIFY(QFileInfo(copy + QLatin1String("/Contents/MacOS/SoftwareUpdater")).isExecutable());
    for (const QString &path : QStringList { copy, copy + QLatin1String("/Contents"),
             copy + QLatin1String("/Contents/MacOS"), copy + QLatin1String("/Contents/MacOS/SoftwareUpdater") })
        QVERIFY2(QFileInfo(path).permissions() & QFile::WriteOwner, qPrintable(path));
    if (::getuid() == 0)
        return; // the superuser may write anywhere; what follows needs an ordinary account
    // The copy launched above found nobody to answer and ended; this one is answered.
    QTRY_VERIFY_WITH_TIMEOUT(!isUpdaterRunningIn(updater->appSuppApp()), 10000);
    QVERIFY(listenForQuitRequests([this] { m_quitRequested = true; }));
    QProcess run;
    run.setWorkingDirectory(updater->appSuppApp());
    run.start(copy + QLatin1String("/Contents/MacOS/SoftwareUpdater"), quillfernParameters().arguments());
    QVERIFY(run.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(run.state(), QProcess::NotRunning, 20000);
    const QString log = QString::fromUtf8(run.readAllStandardError());
    QVERIFY2(log.contains(QLatin1String("Quillfern cannot be updated by you.")), qPrintable(log));
    QVERIFY(!m_quitRequested);
    // The signed archive stays, for whoever may install it; nothing unpacked does.
    QVERIFY(QFileInfo::exists(updater->appSuppApp() + QLatin1String("/Quillfern.zip")));
    QVERIFY(!QFileInfo::exists(updater->appSuppApp() + QLatin1String("/staging")));
}

namespace {

// A disk of the given size at path, to be filled up; mounting needs the superuser.
class SmallDisk {
public:
    SmallDisk(const QString &path, const QByteArray &size)
        : m_path(path)
    {
        QDir().mkpath(path);
        m_mounted = ::getuid() == 0
            && QProcess::execute(QStringLiteral("mount"),
                   { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                       QStringLiteral("size=") + QString::fromLatin1(size), QStringLiteral("tmpfs"), path })
                == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), { QStringLiteral("-l"), m_path });
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;
    [[nodiscard]] bool mounted() const { return m_mounted; }

private:
    QString m_path;
    bool m_mounted = false;
};

QByteArray noise(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (char &c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x);
    }
    return bytes;
}

} // namespace

void TestSoftwareUpdater::failuresNameTheirCause_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("said");
    QTest::newRow("signature far too large") << "big signature"
                                             << "larger than 1024 bytes, which is no signature";
    QTest::newRow("signature sent on to plain http")
        << "signature redirect"
        << "sent the signature on to %1Quillfern.zip.sig, which is not an https address";
    QTest::newRow("download stalls") << "stall"
                                     << "The update site sent nothing for 2 seconds";
    QTest::newRow("redirect loop") << "loop"
                                   << "in a loop of redirects";
    QTest::newRow("home full during the download") << "home full"
                                                   << "No space left on device";
    QTest::newRow("installation disk full") << "installation full"
                                            << "MiB free, but the new release needs";
}

// Each failure says what happened and what to do, not the network layer's or the copy's words.
void TestSoftwareUpdater::failuresNameTheirCause()
{
    QFETCH(QString, failure);
    QFETCH(QString, said);
    const QString zip = QStringLiteral("/Quillfern/Quillfern.zip");
    m_server->set(zip, { 200, UpdateTest::makeZip(release("new")) });
    QTemporaryDir scratch;
    QString work = scratch.filePath(QStringLiteral("work"));
    QDir().mkpath(work);
    std::unique_ptr<UpdateTest::Server> elsewhere;
    std::unique_ptr<SmallDisk> disk;
    if (failure == QLatin1String("big signature")) {
        m_server->set(zip + QLatin1String(".sig"), { 200, QByteArray(4096, 's') });
    } else if (failure == QLatin1String("signature redirect")) {
        elsewhere = std::make_unique<UpdateTest::Server>(true);
        if (elsewhere->otherBaseUrl().isEmpty())
            QSKIP("this machine has no address but loopback");
        UpdateTest::Response away { 302, "moved" };
        away.location = elsewhere->otherBaseUrl().toUtf8() + "Quillfern.zip.sig";
        m_server->set(zip + QLatin1String(".sig"), away);
        said = said.arg(elsewhere->otherBaseUrl());
    } else if (failure == QLatin1String("stall")) {
        UpdateTest::Response never;
        never.never = true;
        m_server->set(zip, never);
    } else if (failure == QLatin1String("loop")) {
        UpdateTest::Response loop { 302, "moved" };
        loop.location = m_server->baseUrl().toUtf8() + "Quillfern/Quillfern.zip";
        m_server->set(zip, loop);
    } else if (failure == QLatin1String("home full")) {
        disk = std::make_unique<SmallDisk>(work, "64k");
        m_server->set(
            zip, { 200, UpdateTest::makeZip(release("new") << ZipItem { "Quillfern/noise", noise(200000) }) });
    } else {
        // Room for the installed release, not for a second copy of it beside it.
        const QString small = scratch.filePath(QStringLiteral("opt"));
        disk = std::make_unique<SmallDisk>(small, QByteArray::number(updaterProgram().size() + (1 << 20)));
        m_installation = small + QLatin1String("/quillfern");
        if (disk->mounted())
            install(m_installation, "old");
        setInstallationFolder(m_installation);
    }
    if (disk && !disk->mounted())
        QSKIP("a full disk needs the superuser to mount a small one");
    const QMap<QString, QByteArray> before = UpdateTest::snapshot(m_installation);

    UpdateJob job(quillfernParameters(), work);
    job.setTransferTimeout(2s);
    QSignalSpy finished(&job, &UpdateJob::finished);
    job.start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
    QCOMPARE(finished.constFirst().at(0).toBool(), false);
    const QString information = finished.constFirst().at(2).toString();
    QVERIFY2(information.contains(said), qPrintable(information));
    QVERIFY2(!information.contains(QLatin1String("Operation canceled"))
            && !information.contains(QLatin1String("Unknown error"))
            && !information.contains(QLatin1String("Input/output error")),
        qPrintable(information));
    // Each is known before Quillfern is asked to quit for the update.
    QVERIFY(!m_quitRequested);
    QCOMPARE(UpdateTest::snapshot(m_installation), before);
}

void TestSoftwareUpdater::quitSocket()
{
    const QString name = quitRequestSocketName(QStringLiteral("org.quillfern.Quillfern"));
    QCOMPARE(name, qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1String("/org.quillfern.Quillfern.quit"));
    QVERIFY(quitRequestSocketName(QStringLiteral("../../etc/x")).isEmpty());
    QVERIFY(quitRequestSocketName(QString()).isEmpty());

    QLocalSocket client;
    client.connectToServer(name);
    QTRY_COMPARE(client.state(), QLocalSocket::ConnectedState);
    client.write("where\n");
    QTRY_VERIFY(client.canReadLine());
    QCOMPARE(client.readLine(), QFile::encodeName(m_installation) + '\n');

    QTest::ignoreMessage(QtWarningMsg, "ignoring the request hello on the quit socket");
    client.write("hello\n");
    QTest::qWait(50);
    QVERIFY(!m_quitRequested);
    QTest::ignoreMessage(QtInfoMsg, "the updater asks Quillfern to quit");
    client.write("quit\n");
    QTRY_VERIFY(m_quitRequested);
    // The stand-in closes the socket when asked to quit, as an ending program does.
    QTRY_COMPARE(client.state(), QLocalSocket::UnconnectedState);
}

void TestSoftwareUpdater::quitNeverComes_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("message");
    QTest::newRow("the user cancels") << true << "The update was cancelled.";
    QTest::newRow("time limit") << false << "Quillfern did not quit.";
}

// Quillfern may stay: its user can refuse to quit when asked about unsaved work. The update then
// waits for a later quit, until the user cancels it or a day has passed.
void TestSoftwareUpdater::quitNeverComes()
{
    QFETCH(bool, cancel);
    QFETCH(QString, message);
    stopListeningForQuitRequests();
    int quitRequests = 0;
    QVERIFY(listenForQuitRequests([&quitRequests] { ++quitRequests; }));
    m_server->set(QStringLiteral("/Quillfern/Quillfern.zip"), { 200, UpdateTest::makeZip(release("new")) });
    const QMap<QString, QByteArray> before = UpdateTest::snapshot(m_installation);
    QTemporaryDir work;

    corvane::SoftwareUpdateParameters parameters;
    parameters.bundleId = QStringLiteral("org.quillfern.Quillfern");
    parameters.shortAppName = QStringLiteral("Quillfern");
    parameters.urlPath = QStringLiteral("Quillfern");
    UpdateJob job(parameters, work.path());
    QCOMPARE(job.archiveUrl().toString(), m_server->baseUrl() + QLatin1String("Quillfern/Quillfern.zip"));
    if (!cancel)
        job.setQuitWaitLimit(300ms);
    UpdateWindow window(job, parameters.shortAppName);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QStringList steps;
    connect(&job, &UpdateJob::progress, this, [&](const QString &status) { steps.append(status); });
    QSignalSpy finished(&job, &UpdateJob::finished);
    QTest::ignoreMessage(QtInfoMsg, "the updater asks Quillfern to quit");
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QLatin1String("^") + QRegularExpression::escape(message)));
    job.start();
    const QString waiting = QStringLiteral("The update will be installed when Quillfern quits.");
    if (cancel) {
        // Asked to quit, the user of Quillfern chose to stay; the updater's window says what follows.
        QTRY_COMPARE_WITH_TIMEOUT(quitRequests, 1, 10000);
        QCOMPARE(window.labelText(), waiting);
        auto *button = window.findChild<QPushButton *>();
        QVERIFY(button);
        QCOMPARE(button->text(), QStringLiteral("Cancel Update"));
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(finished.constFirst().at(0).toBool(), false);
    QCOMPARE(finished.constFirst().at(1).toString(), message);
    QCOMPARE(quitRequests, 1);
    QCOMPARE(steps.constLast(), waiting);
    for (QString &step : steps)
        step = step.section(u' ', 0, 0);
    steps.removeDuplicates();
    QCOMPARE(steps,
        QStringList({ QStringLiteral("Looking"), QStringLiteral("Reading"), QStringLiteral("Downloading"),
            QStringLiteral("Checking"), QStringLiteral("The") }));
    QCOMPARE(UpdateTest::snapshot(m_installation), before);
    // Nobody would install a release left behind; the next check downloads it again.
    QVERIFY(!QFileInfo::exists(job.stagingFolder()));
    QVERIFY(!QFileInfo::exists(job.archivePath()));
}

void TestSoftwareUpdater::secondCheckDuringAnUpdate_data()
{
    QTest::addColumn<QString>("stage"); // of the running updater: downloading, waiting for the quit, or killed
    QTest::addColumn<QString>("meddling"); // what the second check finds, or what happens to the release
    QTest::addColumn<QStringList>("alerts");
    QTest::addColumn<QByteArray>("installed");

    const QString question = QStringLiteral("Automatic Update");
    QTest::newRow("downloading, same version") << "downloading"
                                               << "same version" << QStringList() << QByteArray("new");
    QTest::newRow("waiting, answer No") << "waiting"
                                        << "No" << QStringList { question } << QByteArray("new");
    QTest::newRow("waiting, answer Yes") << "waiting"
                                         << "Yes"
                                         << QStringList { question,
                                                QStringLiteral("Quillfern is already being updated.") }
                                         << QByteArray("new");
    // A dead updater's lock does not count: its folder is cleaned up as before.
    QTest::newRow("killed, same version") << "killed"
                                          << "same version" << QStringList() << QByteArray("old");
    // Installing nothing must not pass for an update.
    QTest::newRow("waiting, release removed") << "waiting"
                                              << "removed" << QStringList() << QByteArray("old");
    QTest::newRow("waiting, release emptied") << "waiting"
                                              << "emptied" << QStringList() << QByteArray("old");
}

// The preference switched off and on, or a second start, checks again while the updater works.
void TestSoftwareUpdater::secondCheckDuringAnUpdate()
{
    QFETCH(QString, stage);
    QFETCH(QString, meddling);
    QFETCH(QStringList, alerts);
    QFETCH(QByteArray, installed);

    UpdateTest::Response archive { 200, UpdateTest::makeZip(release("new")) };
    if (stage != QLatin1String("waiting"))
        archive.delayMs = 2000;
    m_server->set(QStringLiteral("/Quillfern/Quillfern.zip"), archive);
    // This Quillfern quits only when the test says so.
    stopListeningForQuitRequests();
    bool quitRequested = false;
    QVERIFY(listenForQuitRequests([&quitRequested] { quitRequested = true; }));
    const QString folder = m_home.filePath(QStringLiteral(".local/share/Quillfern/update"));
    QVERIFY(QDir().mkpath(folder));
    QProcess updater;
    updater.setWorkingDirectory(folder);
    updater.start(QStringLiteral(SOFTWARE_UPDATER), quillfernParameters().arguments());
    QVERIFY(updater.waitForStarted());
    if (stage == QLatin1String("waiting")) {
        QTRY_VERIFY_WITH_TIMEOUT(quitRequested, 10000);
    } else {
        const auto downloading = [this] {
            const QList<QByteArray> requests = m_server->requests();
            return std::any_of(requests.cbegin(), requests.cend(),
                [](const QByteArray &request) { return request.startsWith("GET /Quillfern/Quillfern.zip "); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(downloading(), 10000);
    }
    if (stage == QLatin1String("killed")) {
        updater.kill();
        QVERIFY(updater.waitForFinished());
    }

    RecordingPresenter presenter;
    ScopedPresenter scoped(presenter);
    const QString staging = folder + QLatin1String("/staging");
    if (meddling == QLatin1String("removed") || meddling == QLatin1String("emptied")) {
        QVERIFY(QDir(staging).removeRecursively());
        if (meddling == QLatin1String("emptied"))
            QVERIFY(QDir().mkpath(staging + QLatin1String("/Quillfern")));
    } else {
        const QByteArray version = meddling == QLatin1String("same version") ? QUILLFERN_VERSION : published;
        m_server->set(QStringLiteral("/Quillfern/index.html"), { 200, "<h2>New in Version " + version + "</h2>" });
        if (meddling != QLatin1String("same version"))
            presenter.scriptAlertResponse(meddling == QLatin1String("Yes") ? FirstButton : SecondButton);
        QVERIFY(std::make_shared<Updater>(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), false)->start());
        QTRY_VERIFY_WITH_TIMEOUT(!Updater::isCheckRunning(), 10000);
        QTRY_COMPARE(presenter.alerts().size(), alerts.size());
    }
    QStringList shown;
    for (const Alert &alert : presenter.alerts())
        shown.append(alert.message);
    QCOMPARE(shown, alerts);

    if (stage == QLatin1String("killed")) {
        QVERIFY(!QFileInfo::exists(folder));
    } else {
        stopListeningForQuitRequests();
        QTRY_COMPARE_WITH_TIMEOUT(updater.state(), QProcess::NotRunning, 20000);
        const QString log = QString::fromUtf8(updater.readAllStandardError());
        QVERIFY2(updater.exitCode() == (installed == "new" ? 0 : 1), qPrintable(log));
        QVERIFY2(
            installed == "new" || log.contains(QLatin1String("The update could not be installed.")), qPrintable(log));
        // Quillfern had quit for the update; the one installed runs again.
        QTRY_COMPARE_WITH_TIMEOUT(
            UpdateTest::readFile(m_installation + QLatin1String("/started")), installed + '\n', 10000);
    }
    QCOMPARE(run(m_installation + QLatin1String("/bin/quillfern")), installed + '\n');
}

QTEST_MAIN(TestSoftwareUpdater)
#include "tst_softwareupdater.moc"
