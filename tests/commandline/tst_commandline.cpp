#include "../update/UpdateTestSupport.h"
#include "FileAccess.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Generous: under the sanitizers the program starts and ends many times slower.
constexpr int startTimeout = 20000;
constexpr int exitTimeout = 20000;
// How long a process that should stay must survive once it has done what it was asked.
constexpr int stayPeriod = 1500;

const QString projectsFolder = QStringLiteral("projects");

// The project files the cases name, by file name; a name not listed here is never created.
QByteArray fixture(const QString &name)
{
    if (name == QLatin1String("plan.quillfern") || name == QLatin1String("second plan.quillfern"))
        return R"({"tasks":[{"duration":600.0,"start":0.0,"id":1,"name":"A"},{"duration":300.0,"start":600.0,"id":2,"name":"B"}],"dependencies":[{"a":1,"b":2}],"name":"P"})";
    // B starts while A, which it depends on, still runs: the dependency is dropped on opening.
    if (name == QLatin1String("conflict.quillfern"))
        return R"({"tasks":[{"duration":20.0,"start":0.0,"id":1,"name":"A"},{"duration":5.0,"start":10.0,"id":2,"name":"B"}],"dependencies":[{"a":1,"b":2}],"name":"P"})";
    if (name == QLatin1String("garbage.quillfern"))
        return "this is not a project\n";
    return {};
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void informationOptions_data();
    void informationOptions();
    void openingFiles_data();
    void openingFiles();
    void windowSystemOptions_data();
    void windowSystemOptions();
    void fileNameThatIsNotUtf8();
    void quitRequest_data();
    void quitRequest();
    void updateCheckAtLaunch_data();
    void updateCheckAtLaunch();
    void oneProgramASession_data();
    void oneProgramASession();
    void handOverOnlyToTheLockHolder_data();
    void handOverOnlyToTheLockHolder();
    void recoveryAfterACrash_data();
    void recoveryAfterACrash();
    void copiesOfARunningProgramAreNotOffered();
    void checkFiles_data();
    void checkFiles();
    void exportFile_data();
    void exportFile();

private:
    QString path(const QString &relative) const { return m_home->filePath(relative); }
    QString socketPath() const { return path(QStringLiteral("run/org.quillfern.Quillfern.quit")); }
    // The command-line arguments for the named project files, each written if it has a fixture.
    QStringList projectArguments(const QStringList &names) const;
    // Without a display, no window system is set: as on a terminal over ssh.
    void start(
        const QStringList &arguments, bool display = true, const QString &program = QStringLiteral(QUILLFERN_BINARY));
    // Runs the program without a display to its end; its standard output.
    QString runHeadless(const QStringList &arguments);
    [[nodiscard]] bool waitForExit(int timeout = exitTimeout);
    [[nodiscard]] bool waitForLog(const QString &text, int timeout = startTimeout);
    [[nodiscard]] bool waitForSocket()
    {
        return QTest::qWaitFor([this] { return QFileInfo::exists(socketPath()); }, startTimeout);
    }
    [[nodiscard]] bool sendQuit();
    // Survives the stay period: nothing still queued ends it.
    [[nodiscard]] bool stays();
    QString log();
    // The copy of a never saved project's changes as a run that was killed leaves it.
    void plantRecoveryCopy() const
    {
        const QString folder = path(QStringLiteral(".local/share/Quillfern/recovery"));
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0700), 0);
        QFile copy(folder + QStringLiteral("/planted.recovery"));
        QVERIFY(copy.open(QIODevice::WriteOnly));
        copy.write(R"({"path":null,"name":"","written":"2026-01-01T00:00:00.000Z"})"
                   "\n"
                   R"({"tasks":[{"duration":600.0,"start":0.0,"id":1,"name":"A"}],"dependencies":[],"name":""})");
    }
    [[nodiscard]] QStringList recoveryCopies() const
    {
        return QDir(path(QStringLiteral(".local/share/Quillfern/recovery")))
            .entryList({ QStringLiteral("*.recovery") }, QDir::Files);
    }

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<UpdateTest::Server> m_server;
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<QLocalSocket> m_client;
    QByteArray m_errors;
    // Added to the environment of the next start.
    QHash<QString, QString> m_environment;
};

void TestCommandLine::initTestCase()
{
    QVERIFY2(QFileInfo(QStringLiteral(QUILLFERN_BINARY)).isExecutable(), QUILLFERN_BINARY);
}

void TestCommandLine::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    for (const char *folder : { ".config", ".local/share", ".cache", "run", "projects" })
        QVERIFY(QDir().mkpath(path(QLatin1String(folder))));
    QVERIFY(QFile::setPermissions(path(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    m_server = std::make_unique<UpdateTest::Server>();
    // The running version: nothing newer is offered, so no update question interferes.
    m_server->set(QStringLiteral("/Quillfern/index.html"),
        { 200, "<html><body><h1>Quillfern</h1><h2>New in Version " QUILLFERN_VERSION "</h2></body></html>" });
    m_errors.clear();
    m_environment.clear();
}

void TestCommandLine::cleanup()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(exitTimeout);
    }
    m_client.reset();
    m_process.reset();
    m_server.reset();
    m_home.reset();
}

QStringList TestCommandLine::projectArguments(const QStringList &names) const
{
    QStringList arguments;
    for (const QString &name : names) {
        const QString file = path(projectsFolder + u'/' + name);
        if (const QByteArray content = fixture(name); !content.isEmpty())
            UpdateTest::writeFile(file, content);
        arguments.append(file);
    }
    return arguments;
}

void TestCommandLine::start(const QStringList &arguments, bool display, const QString &program)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // A developer's own logging setup must not hide or reshape the lines the cases look for.
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    environment.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
    environment.insert(QStringLiteral("HOME"), m_home->path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral(".config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral(".local/share")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral(".cache")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("run")));
    if (display) {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    } else {
        for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(QLatin1String(name));
    }
    environment.insert(QStringLiteral("QUILLFERN_UPDATE_SITE"), m_server->baseUrl());
    environment.insert(QStringLiteral("QUILLFERN_UNATTENDED"), QStringLiteral("1"));
    for (auto entry = m_environment.cbegin(); entry != m_environment.cend(); ++entry)
        environment.insert(entry.key(), entry.value());
    // Without a display, not even unattended answers: the command line must never ask.
    if (!display)
        environment.remove(QStringLiteral("QUILLFERN_UNATTENDED"));

    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(environment);
    m_process->setWorkingDirectory(m_home->path());
    connect(m_process.get(), &QProcess::readyReadStandardError, this,
        [this] { m_errors += m_process->readAllStandardError(); });
    m_process->start(program, arguments);
    QVERIFY2(m_process->waitForStarted(startTimeout), qPrintable(m_process->errorString()));
}

QString TestCommandLine::runHeadless(const QStringList &arguments)
{
    start(arguments, false);
    if (QTest::currentTestFailed())
        return {};
    if (!waitForExit()) {
        m_process->kill();
        return {};
    }
    return QString::fromUtf8(m_process->readAllStandardOutput());
}

QString TestCommandLine::log()
{
    if (m_process)
        m_errors += m_process->readAllStandardError();
    return QString::fromUtf8(m_errors);
}

bool TestCommandLine::waitForExit(int timeout)
{
    return QTest::qWaitFor([this] { return m_process->state() == QProcess::NotRunning; }, timeout);
}

bool TestCommandLine::waitForLog(const QString &text, int timeout)
{
    return QTest::qWaitFor([this, &text] { return log().contains(text); }, timeout);
}

bool TestCommandLine::sendQuit()
{
    // Kept open until cleanup: the program may read the request after the client has gone otherwise.
    m_client = std::make_unique<QLocalSocket>();
    m_client->connectToServer(socketPath());
    if (!m_client->waitForConnected(startTimeout))
        return false;
    m_client->write("quit\n");
    return m_client->waitForBytesWritten(startTimeout);
}

bool TestCommandLine::stays()
{
    QTest::qWait(stayPeriod);
    return m_process->state() == QProcess::Running;
}

void TestCommandLine::informationOptions_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<bool>("display");
    QTest::addColumn<QStringList>("oneLineHolds");

    const QStringList version { QStringLiteral("Quillfern"), QStringLiteral(QUILLFERN_VERSION) };
    const QStringList help { QStringLiteral("files") };
    QTest::newRow("version") << QStringLiteral("--version") << true << version;
    QTest::newRow("help") << QStringLiteral("--help") << true << help;
    QTest::newRow("version without a display") << QStringLiteral("--version") << false << version;
    QTest::newRow("-v without a display") << QStringLiteral("-v") << false << version;
    QTest::newRow("help without a display") << QStringLiteral("--help") << false << help;
    QTest::newRow("-h without a display") << QStringLiteral("-h") << false << help;
    QTest::newRow("help-all without a display") << QStringLiteral("--help-all") << false << help;
    QTest::newRow("help on --check") << QStringLiteral("--help") << false
                                     << QStringList { QStringLiteral("--check <files...>") };
    QTest::newRow("help on --export") << QStringLiteral("--help") << false
                                      << QStringList { QStringLiteral("--export <out> <file>") };
}

void TestCommandLine::informationOptions()
{
    QFETCH(QString, option);
    QFETCH(bool, display);
    QFETCH(QStringList, oneLineHolds);

    start({ option }, display);
    QVERIFY2(waitForExit(), qPrintable(log()));
    QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process->exitCode(), 0);
    const QStringList lines = QString::fromUtf8(m_process->readAllStandardOutput()).split(u'\n');
    const bool found = std::any_of(lines.cbegin(), lines.cend(), [&](const QString &line) {
        return std::all_of(
            oneLineHolds.cbegin(), oneLineHolds.cend(), [&](const QString &part) { return line.contains(part); });
    });
    QVERIFY2(found, qPrintable(lines.join(u'\n')));
}

void TestCommandLine::openingFiles_data()
{
    QTest::addColumn<QStringList>("files");
    // "{projects}" stands for the folder of the project files.
    QTest::addColumn<QStringList>("logHolds");
    QTest::addColumn<bool>("keepsRunning");

    const QString garbage = QStringLiteral("{projects}/garbage.quillfern");
    const QString missing = QStringLiteral("{projects}/missing.quillfern");
    QTest::newRow("not JSON") << QStringList { QStringLiteral("garbage.quillfern") } << QStringList { garbage }
                              << false;
    QTest::newRow("missing") << QStringList { QStringLiteral("missing.quillfern") } << QStringList { missing } << false;
    // Each file gets its alert before the process gives up.
    QTest::newRow("neither of two") << QStringList { QStringLiteral("garbage.quillfern"),
        QStringLiteral("missing.quillfern") }
                                    << QStringList { garbage, missing } << false;
    QTest::newRow("one of two") << QStringList { QStringLiteral("garbage.quillfern"), QStringLiteral("plan.quillfern") }
                                << QStringList { garbage } << true;
    QTest::newRow("dependency contradicts the times")
        << QStringList { QStringLiteral("conflict.quillfern") }
        << QStringList { QStringLiteral("Dependencies Deleted for Achieving Consistency"),
               QStringLiteral("\"B\" on \"A\"") }
        << true;
}

void TestCommandLine::openingFiles()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, logHolds);
    QFETCH(bool, keepsRunning);

    start(projectArguments(files));
    if (QTest::currentTestFailed())
        return;
    const QString projects = path(projectsFolder);
    for (QString &text : logHolds)
        text.replace(QLatin1String("{projects}"), projects);

    if (keepsRunning) {
        for (const QString &text : logHolds)
            QVERIFY2(waitForLog(text), qPrintable(u"no \"" + text + u"\" in:\n" + log()));
        QVERIFY2(waitForSocket(), qPrintable(log()));
        QVERIFY2(stays(), qPrintable(log()));
    } else {
        QVERIFY2(waitForExit(), qPrintable(log()));
        QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_process->exitCode(), 1);
        const QString finalLog = log();
        for (const QString &text : logHolds)
            QVERIFY2(finalLog.contains(text), qPrintable(u"no \"" + text + u"\" in:\n" + finalLog));
    }
}

void TestCommandLine::windowSystemOptions_data()
{
    QTest::addColumn<QStringList>("options");
    // Words of one dash are Qt's options, never a bundle of letters such as -h or -v.
    QTest::newRow("-stylesheet") << QStringList { QStringLiteral("-stylesheet"), QStringLiteral("none.qss") };
    QTest::newRow("-reverse") << QStringList { QStringLiteral("-reverse") };
    QTest::newRow("-style") << QStringList { QStringLiteral("-style"), QStringLiteral("Fusion") };
    QTest::newRow("-qwindowgeometry") << QStringList { QStringLiteral("-qwindowgeometry"), QStringLiteral("400x300") };
}

// The window system's options go to Qt, and the file after them is still the one opened.
void TestCommandLine::windowSystemOptions()
{
    QFETCH(QStringList, options);
    start(options + projectArguments({ QStringLiteral("missing.quillfern") }));
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(waitForExit(), qPrintable(log()));
    QCOMPARE(m_process->exitCode(), 1);
    const QString missing = path(projectsFolder) + QLatin1String("/missing.quillfern");
    QVERIFY2(log().contains(missing), qPrintable(log()));
}

// A Latin-1 name, as older file systems and archives have: the program is given bytes that are
// not UTF-8, which a QString argument cannot carry, so a shell passes them.
void TestCommandLine::fileNameThatIsNotUtf8()
{
    const QByteArray folder = QFile::encodeName(path(projectsFolder));
    const QByteArray name = folder + "/conflict \xe9t\xe9.quillfern";
    QFile file;
    const int descriptor = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    QVERIFY(descriptor >= 0);
    // QTemporaryDir cannot remove a name that is not UTF-8.
    const auto removeFile = qScopeGuard([&name] { ::unlink(name.constData()); });
    QVERIFY(file.open(descriptor, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    const QByteArray content = fixture(QStringLiteral("conflict.quillfern"));
    QCOMPARE(file.write(content), content.size());
    file.close();

    start({ QStringLiteral("-c"), QStringLiteral(R"sh(exec "$0" "$(printf '%s/conflict \351t\351.quillfern' "$1")")sh"),
              QStringLiteral(QUILLFERN_BINARY), QFile::decodeName(folder) },
        true, QStringLiteral("/bin/sh"));
    if (QTest::currentTestFailed())
        return;
    // The report of the dropped dependency shows that the file was read.
    QVERIFY2(waitForLog(QStringLiteral("Dependencies Deleted for Achieving Consistency")), qPrintable(log()));
    QVERIFY2(waitForSocket(), qPrintable(log()));
    QVERIFY2(stays(), qPrintable(log()));
    QVERIFY2(!log().contains(QStringLiteral("could not be opened")), qPrintable(log()));
    // Open Recent finds it again: the settings file, read afresh, gives back its very bytes.
    const auto recent = [this] {
        const QSettings settings(path(QStringLiteral(".config/Quillfern/Quillfern.conf")), QSettings::IniFormat);
        const QStringList stored = settings.value(QStringLiteral("recentDocuments")).toStringList();
        const std::optional<QString> first = stored.isEmpty() ? std::nullopt : fileNameFromStorable(stored.first());
        return first ? encodeFileName(*first) : QByteArray();
    };
    QTRY_COMPARE_WITH_TIMEOUT(recent(), name, startTimeout);
}

void TestCommandLine::quitRequest_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("keepsRunning");

    QTest::newRow("one unchanged project") << QStringList { QStringLiteral("plan.quillfern") } << false;
    QTest::newRow("two unchanged projects")
        << QStringList { QStringLiteral("plan.quillfern"), QStringLiteral("second plan.quillfern") } << false;
    // A new project counts as changed; unattended, the question whether to save it is cancelled.
    QTest::newRow("new project") << QStringList {} << true;
}

void TestCommandLine::quitRequest()
{
    QFETCH(QStringList, files);
    QFETCH(bool, keepsRunning);

    start(projectArguments(files));
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(waitForSocket(), qPrintable(log()));
    const qsizetype logBefore = log().size();
    QVERIFY2(sendQuit(), qPrintable(m_client->errorString()));

    if (keepsRunning) {
        // The question is logged; only after that can the process be seen to have stayed.
        QVERIFY2(QTest::qWaitFor([&] { return log().size() > logBefore; }, startTimeout), qPrintable(log()));
        QVERIFY2(stays(), qPrintable(log()));
    } else {
        QVERIFY2(waitForExit(), qPrintable(log()));
        QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_process->exitCode(), 0);
    }
}

void TestCommandLine::updateCheckAtLaunch_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("checks");

    QTest::newRow("no settings file") << QByteArray() << true;
    QTest::newRow("other settings only") << QByteArray("[General]\nsomething=else\n") << true;
    QTest::newRow("switched on") << QByteArray("[General]\ncheck%20version=false\n") << true;
    QTest::newRow("switched off") << QByteArray("[General]\ncheck%20version=true\n") << false;
}

void TestCommandLine::updateCheckAtLaunch()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, checks);

    if (!settings.isEmpty())
        QVERIFY(UpdateTest::writeFile(path(QStringLiteral(".config/Quillfern/Quillfern.conf")), settings));
    // An unchanged project, so that a quit request ends the process.
    start(projectArguments({ QStringLiteral("plan.quillfern") }));
    if (QTest::currentTestFailed())
        return;

    const QString switchedOff = QStringLiteral("automatic update check is switched off");
    if (checks) {
        QVERIFY2(QTest::qWaitFor([this] { return !m_server->requests().isEmpty(); }, 10000), qPrintable(log()));
        const QByteArray request = m_server->requests().constFirst();
        QVERIFY2(request.startsWith("GET /Quillfern/index.html "), request.constData());
    } else {
        QVERIFY2(waitForLog(switchedOff), qPrintable(log()));
    }
    QVERIFY2(waitForSocket(), qPrintable(log()));
    QVERIFY2(sendQuit(), qPrintable(m_client->errorString()));
    QVERIFY2(waitForExit(), qPrintable(log()));
    QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process->exitCode(), 0);
    if (checks) {
        QVERIFY2(!log().contains(switchedOff), qPrintable(log()));
    } else {
        const QList<QByteArray> requests = m_server->requests();
        const QByteArray first = requests.value(0);
        QVERIFY2(requests.isEmpty(), first.constData());
    }
}

void TestCommandLine::oneProgramASession_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("staleSocket");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("a file to the running one") << true << false << QStringList { QStringLiteral("plan.quillfern") };
    QTest::newRow("two files, one missing")
        << true << false << QStringList { QStringLiteral("plan.quillfern"), QStringLiteral("gone.quillfern") };
    QTest::newRow("an empty start: a new window there") << true << false << QStringList();
    QTest::newRow("none running") << false << false << QStringList { QStringLiteral("plan.quillfern") };
    QTest::newRow("a socket left by a crash") << false << true << QStringList { QStringLiteral("plan.quillfern") };
}

// A second start hands its files to the running Quillfern and ends with status 0; with none
// running (or only a dead one's socket file) it becomes the running one, and the updater's quit
// request then reaches it.
void TestCommandLine::oneProgramASession()
{
    QFETCH(bool, running);
    QFETCH(bool, staleSocket);
    QFETCH(QStringList, files);

    std::unique_ptr<QProcess> first;
    if (running) {
        // With a saved plan, which quitting does not ask about.
        start(projectArguments({ QStringLiteral("second plan.quillfern") }));
        QVERIFY2(waitForSocket(), qPrintable(log()));
        first = std::move(m_process);
    }
    if (staleSocket)
        QVERIFY(UpdateTest::writeFile(socketPath(), "left by a program that crashed"));
    const QByteArray firstLog = first ? first->readAllStandardError() : QByteArray();
    m_errors.clear();
    start(projectArguments(files));
    if (running) {
        QVERIFY2(waitForExit(), qPrintable(log()));
        QCOMPARE(m_process->exitCode(), 0);
        const QByteArray handed = QByteArray("a second start hands over ") + QByteArray::number(files.size());
        QByteArray seen = firstLog;
        QVERIFY2(
            QTest::qWaitFor([&] { return (seen += first->readAllStandardError()).contains(handed); }, startTimeout),
            seen.constData());
        // The running one opened the files that exist and said why not for the other.
        if (files.contains(QStringLiteral("gone.quillfern")))
            QVERIFY2(QTest::qWaitFor([&] { return (seen += first->readAllStandardError()).contains("gone.quillfern"); },
                         startTimeout),
                seen.constData());
        m_process = std::move(first);
        m_errors = seen;
    } else {
        QVERIFY2(waitForSocket(), qPrintable(log()));
        QVERIFY2(stays(), qPrintable(log()));
    }
    // Whichever is running takes the updater's quit request. The new window an empty start asked
    // for is an unsaved project, so quitting asks about it and stops there.
    QVERIFY2(sendQuit(), qPrintable(m_client->errorString()));
    if (files.isEmpty()) {
        QVERIFY2(waitForLog(QStringLiteral("Do you want to save")), qPrintable(log()));
        QVERIFY2(stays(), qPrintable(log()));
        return;
    }
    QVERIFY2(waitForExit(), qPrintable(log()));
    QCOMPARE(m_process->exitCode(), 0);
    {
        QSettings settings(path(QStringLiteral(".config/Quillfern/Quillfern.conf")), QSettings::IniFormat);
        QVERIFY2(settings.value(QStringLiteral("recentDocuments"))
                     .toStringList()
                     .contains(path(projectsFolder + u'/' + files.first())),
            qPrintable(settings.value(QStringLiteral("recentDocuments")).toStringList().join(u' ')));
    }
}

void TestCommandLine::handOverOnlyToTheLockHolder_data()
{
    QTest::addColumn<QString>("listener");
    QTest::newRow("the holder, slow to listen") << QStringLiteral("holder");
    QTest::newRow("another user's socket") << QStringLiteral("stranger");
}

// The start that finds the session lock held waits for its holder to listen, and hands its files
// to that process only; a socket someone else listens on gets nothing, and the start runs itself.
void TestCommandLine::handOverOnlyToTheLockHolder()
{
    QFETCH(QString, listener);
    const QStringList files = projectArguments({ QStringLiteral("plan.quillfern") });
    if (listener == QLatin1String("holder")) {
        // This test is the running Quillfern, slow to come up.
        QLockFile lock(path(QStringLiteral("run/org.quillfern.Quillfern.lock")));
        QVERIFY(lock.tryLock(0));
        start(files);
        QTest::qWait(1500);
        QLocalServer server;
        QVERIFY(server.listen(socketPath()));
        QVERIFY2(server.waitForNewConnection(startTimeout), qPrintable(log()));
        QLocalSocket *client = server.nextPendingConnection();
        QByteArray request;
        QVERIFY(QTest::qWaitFor(
            [&] {
                client->waitForReadyRead(50);
                request += client->readAll();
                return request.endsWith("opened\n");
            },
            startTimeout));
        QCOMPARE(request, "open " + encodeFileName(files.first()).toBase64() + "\nopened\n");
        client->write("ok\n");
        client->waitForBytesWritten(startTimeout);
        QVERIFY2(waitForExit(), qPrintable(log()));
        QCOMPARE(m_process->exitCode(), 0);
        return;
    }
    // Another user's process listens on a socket in the runtime folder, open to all.
    QTemporaryDir shared(QDir::tempPath() + QLatin1String("/quillfern-stranger-XXXXXX"));
    QVERIFY(QFile::setPermissions(shared.path(), QFileDevice::Permissions(0x7777)));
    const QString strangerSocket = shared.filePath(QStringLiteral("s"));
    QProcess stranger;
    stranger.start(QStringLiteral("/usr/bin/python3"),
        { QStringLiteral("-c"),
            QStringLiteral("import os, socket, sys\n"
                           "s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)\n"
                           "os.setgid(65534); os.setuid(65534)\n"
                           "s.bind(sys.argv[1]); os.chmod(sys.argv[1], 0o777); s.listen(5)\n"
                           "print('ready', flush=True)\n"
                           "while True:\n"
                           "    c, _ = s.accept()\n"
                           "    print('got', c.recv(65536), flush=True)\n"
                           "    c.sendall(b'ok\\n')\n"),
            strangerSocket });
    const auto stop = qScopeGuard([&stranger] {
        stranger.kill();
        stranger.waitForFinished();
    });
    QVERIFY(QTest::qWaitFor(
        [&] {
            stranger.waitForReadyRead(50);
            return stranger.canReadLine();
        },
        startTimeout));
    QCOMPARE(stranger.readLine().trimmed(), QByteArray("ready"));
    QVERIFY(QFile::rename(strangerSocket, socketPath()));
    start(files);
    QVERIFY2(stays(), qPrintable(log()));
    QVERIFY(!stranger.readAllStandardOutput().contains("open "));
    // It is the running one now, and takes the updater's quit request.
    QVERIFY2(sendQuit(), qPrintable(m_client->errorString()));
    QVERIFY2(waitForExit(), qPrintable(log()));
    QCOMPARE(m_process->exitCode(), 0);
}

void TestCommandLine::recoveryAfterACrash_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("answered");
    QTest::addColumn<bool>("copyKept");

    QTest::newRow("Later, as Escape answers") << QString() << QStringLiteral("Later") << true;
    QTest::newRow("Discard") << QStringLiteral("Discard") << QStringLiteral("Discard") << false;
    QTest::newRow("Restore") << QStringLiteral("Restore") << QStringLiteral("Restore") << true;
}

// Restored changes are unsaved work that keeps its copy: the program is killed, and the next start
// offers the copy again.
void TestCommandLine::recoveryAfterACrash()
{
    QFETCH(QString, answer);
    QFETCH(QString, answered);
    QFETCH(bool, copyKept);

    plantRecoveryCopy();
    m_environment.insert(QStringLiteral("QUILLFERN_UNATTENDED_ANSWERS"), QStringLiteral("Restore"));
    start({});
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(waitForLog(QStringLiteral("restoring the unsaved changes of")), qPrintable(log()));
    QVERIFY2(waitForSocket(), qPrintable(log()));
    const QString copy = QStringLiteral("planted.recovery");
    QCOMPARE(recoveryCopies(), QStringList { copy });
    m_process->kill();
    QVERIFY(m_process->waitForFinished(exitTimeout));
    QCOMPARE(m_process->exitStatus(), QProcess::CrashExit);

    m_errors.clear();
    m_environment.insert(QStringLiteral("QUILLFERN_UNATTENDED_ANSWERS"), answer);
    start({});
    if (QTest::currentTestFailed())
        return;
    const QString offer = QStringLiteral("alert: Quillfern found unsaved changes from a session that ended "
                                         "unexpectedly. | \u201cUntitled\u201d (never saved), changed ");
    QVERIFY2(waitForLog(offer), qPrintable(log()));
    QVERIFY2(waitForLog(u"| answered " + answered), qPrintable(log()));
    QVERIFY2(waitForSocket(), qPrintable(log()));
    QVERIFY2(QTest::qWaitFor([&] { return recoveryCopies().contains(copy) == copyKept; }, startTimeout),
        qPrintable(recoveryCopies().join(u' ')));
    if (answered == QLatin1String("Restore")) {
        QVERIFY2(waitForLog(QStringLiteral("restoring the unsaved changes of")), qPrintable(log()));
        // Restored as unsaved work: quitting asks about it, and unattended the question is cancelled.
        QVERIFY2(sendQuit(), qPrintable(m_client->errorString()));
        QVERIFY2(waitForLog(QStringLiteral("alert: Do you want to save your changes?")), qPrintable(log()));
        QVERIFY2(stays(), qPrintable(log()));
        QCOMPARE(recoveryCopies(), QStringList { copy });
    }
}

void TestCommandLine::copiesOfARunningProgramAreNotOffered()
{
    plantRecoveryCopy();
    m_environment.insert(QStringLiteral("QUILLFERN_UNATTENDED_ANSWERS"), QStringLiteral("Restore"));
    start({});
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(waitForLog(QStringLiteral("restoring the unsaved changes of")), qPrintable(log()));
    QVERIFY2(waitForSocket(), qPrintable(log()));
    std::unique_ptr<QProcess> first = std::move(m_process);
    m_errors.clear();
    m_environment.remove(QStringLiteral("QUILLFERN_UNATTENDED_ANSWERS"));
    start({});
    // The second start is over once it has handed its (empty) request to the first.
    const bool second = waitForExit();
    first->kill();
    first->waitForFinished(exitTimeout);
    QVERIFY2(second, qPrintable(log()));
    QVERIFY2(!log().contains(QStringLiteral("found unsaved changes")), qPrintable(log()));
}

void TestCommandLine::checkFiles_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<int>("status");
    // "{projects}" stands for the folder of the project files.
    QTest::addColumn<QStringList>("outputHolds");
    QTest::addColumn<QStringList>("errorsHold");

    QTest::newRow("consistent") << QStringList { QStringLiteral("plan.quillfern") } << 0
                                << QStringList { QStringLiteral(
                                       "{projects}/plan.quillfern: ok, 2 tasks, 1 dependency") }
                                << QStringList();
    QTest::newRow("dropped") << QStringList { QStringLiteral("plan.quillfern"), QStringLiteral("conflict.quillfern") }
                             << 1
                             << QStringList { QStringLiteral("plan.quillfern: ok"),
                                    QStringLiteral(
                                        "conflict.quillfern: Dependencies Deleted for Achieving Consistency"),
                                    QStringLiteral("\"B\" on \"A\"") }
                             << QStringList();
    QTest::newRow("unreadable wins") << QStringList { QStringLiteral("conflict.quillfern"),
        QStringLiteral("garbage.quillfern"), QStringLiteral("missing.quillfern") }
                                     << 2 << QStringList { QStringLiteral("\"B\" on \"A\"") }
                                     << QStringList { QStringLiteral("garbage.quillfern: The file is not valid JSON: "
                                                                     "syntax error at byte 2"),
                                            QStringLiteral("{projects}/missing.quillfern: No such file") };
    // Refused at once, as the window refuses it, rather than waited on for a writer.
    QTest::newRow("a named pipe") << QStringList { QStringLiteral("pipe.quillfern"), QStringLiteral("plan.quillfern") }
                                  << 2 << QStringList { QStringLiteral("plan.quillfern: ok") }
                                  << QStringList { QStringLiteral("pipe.quillfern: It is a named pipe") };
}

void TestCommandLine::checkFiles()
{
    QFETCH(QStringList, files);
    QFETCH(int, status);
    QFETCH(QStringList, outputHolds);
    QFETCH(QStringList, errorsHold);

    const QString pipe = path(projectsFolder + QLatin1String("/pipe.quillfern"));
    if (files.contains(QStringLiteral("pipe.quillfern")))
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const auto removePipe = qScopeGuard([&pipe] { QFile::remove(pipe); });
    const QString output = runHeadless(QStringList { QStringLiteral("--check") } + projectArguments(files));
    QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process->exitCode(), status);
    const QString errors = log();
    for (QString text : outputHolds)
        QVERIFY2(output.contains(text.replace(QLatin1String("{projects}"), path(projectsFolder))), qPrintable(output));
    for (QString text : errorsHold)
        QVERIFY2(errors.contains(text.replace(QLatin1String("{projects}"), path(projectsFolder))), qPrintable(errors));
}

void TestCommandLine::exportFile_data()
{
    QTest::addColumn<QString>("out");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    // What the written file begins with, or what standard error says when nothing is written.
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("pdf") << QStringLiteral("plan.pdf")
                         << QStringList { QStringLiteral("--paper"), QStringLiteral("letter") } << 0
                         << QByteArray("%PDF");
    QTest::newRow("svg") << QStringLiteral("plan.svg") << QStringList() << 0 << QByteArray("<?xml");
    QTest::newRow("png") << QStringLiteral("plan.PNG") << QStringList { QStringLiteral("--zoom"), QStringLiteral("3") }
                         << 0 << QByteArray("\x89PNG");
    QTest::newRow("csv") << QStringLiteral("plan.csv") << QStringList() << 0 << QByteArray("id,name,start");
    QTest::newRow("png too large") << QStringLiteral("plan.png")
                                   << QStringList { QStringLiteral("--zoom"), QStringLiteral("1000") } << 1
                                   << QByteArray("PDF or SVG");
    QTest::newRow("unknown format") << QStringLiteral("plan.txt") << QStringList() << 2
                                    << QByteArray(".pdf, .svg, .png, .csv, .xml or .planner");
    QTest::newRow("unknown paper") << QStringLiteral("plan.pdf")
                                   << QStringList { QStringLiteral("--paper"), QStringLiteral("a5") } << 2
                                   << QByteArray("a4 or letter");
    QTest::newRow("no folder") << QStringLiteral("missing/plan.csv") << QStringList() << 1 << QByteArray("Reason: ");
}

void TestCommandLine::exportFile()
{
    QFETCH(QString, out);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QByteArray, expected);

    const QString target = path(out);
    runHeadless(QStringList { QStringLiteral("--export"), target }
        + projectArguments({ QStringLiteral("plan.quillfern") }) + options);
    QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process->exitCode(), status);
    QFile file(target);
    if (status == 0) {
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(log()));
        QVERIFY(file.read(expected.size()) == expected);
    } else {
        QVERIFY(!file.exists());
        QVERIFY2(log().toUtf8().contains(expected), qPrintable(log()));
    }
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
