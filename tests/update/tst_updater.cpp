#include "Bundle.h"
#include "Presenter.h"
#include "UpdateTestSupport.h"
#include "Updater.h"
#include "VersionCheck1.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(u' ');
}

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void parameters();
    void parametersFromArguments_data();
    void parametersFromArguments();
    void updateFolder();
    void question();
    void checkVersion_data();
    void checkVersion();
    void oneCheckAtATime();
    void unusableTrash_data();
    void unusableTrash();

private:
    [[nodiscard]] QString dataFolder() const { return m_home.filePath(QStringLiteral(".local/share")); }
    [[nodiscard]] QString record() const { return m_home.filePath(QStringLiteral("launched.txt")); }
    void makeResources();
    bool runCheck(Updater &updater);

    QTemporaryDir m_home;
    QTemporaryDir m_installation;
    std::unique_ptr<UpdateTest::Server> m_server;
    RecordingPresenter m_presenter;
    std::unique_ptr<ScopedPresenter> m_scoped;
};

void TestUpdater::initTestCase()
{
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qunsetenv("XDG_DATA_HOME");
    QVERIFY(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).startsWith(m_home.path()));
    setInstallationFolder(m_installation.path());
}

void TestUpdater::init()
{
    QDir(dataFolder()).removeRecursively();
    QFile::remove(record());
    QDir(m_installation.path()).removeRecursively();
    QDir().mkpath(m_installation.path());
    m_server = std::make_unique<UpdateTest::Server>();
    qputenv("QUILLFERN_UPDATE_SITE", m_server->baseUrl().toUtf8());
    VersionCheck1::setTimeouts(2s, 5s);
    m_presenter.clear();
    m_scoped = std::make_unique<ScopedPresenter>(m_presenter);
}

void TestUpdater::cleanup()
{
    QTRY_VERIFY(!Updater::isCheckRunning());
    m_scoped.reset();
    m_server.reset();
}

// The updater program's stand-in records where and with which arguments it ran.
void TestUpdater::makeResources()
{
    const QByteArray script
        = "#!/bin/sh\n{ pwd; for a in \"$@\"; do echo \"$a\"; done; } > '" + QFile::encodeName(record()) + "'\n";
    QVERIFY(
        UpdateTest::writeFile(resourcesFolder() + QLatin1String("/SoftwareUpdater.app/Contents/MacOS/SoftwareUpdater"),
            script, UpdateTest::executable));
}

// checkVersion blocks while the question is open on the UI thread, so it runs on a thread of its own.
bool TestUpdater::runCheck(Updater &updater)
{
    std::atomic<int> result { -1 };
    std::thread worker([&] { result = updater.checkVersion() ? 1 : 0; });
    [[maybe_unused]] const bool ended = QTest::qWaitFor([&] { return result != -1; }, 15000);
    worker.join();
    // Alerts are posted; let them run.
    QTest::qWait(50);
    return result == 1;
}

void TestUpdater::parameters()
{
    using Keys = SoftwareUpdateParameters::CodingKeys;
    for (const Keys key : { Keys::bundleId, Keys::shortAppName, Keys::urlPath, Keys::isInFolder })
        QCOMPARE(SoftwareUpdateParameters::codingKey(SoftwareUpdateParameters::stringValue(key)), key);
    QCOMPARE(SoftwareUpdateParameters::stringValue(Keys::shortAppName), QStringLiteral("shortAppName"));
    QVERIFY(!SoftwareUpdateParameters::codingKey(QStringLiteral("appName")));
    QVERIFY(!SoftwareUpdateParameters::codingKey(QStringLiteral("BundleId")));

    SoftwareUpdateParameters parameters;
    parameters.bundleId = QStringLiteral("org.quillfern.Quillfern");
    parameters.shortAppName = QStringLiteral("Quillfern");
    parameters.urlPath = QStringLiteral("Quillfern");
    QCOMPARE(parameters.encode(),
        std::string(
            R"({"bundleId":"org.quillfern.Quillfern","shortAppName":"Quillfern","urlPath":"Quillfern","isInFolder":false})"));
}

void TestUpdater::parametersFromArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("valid");
    QTest::newRow("false") << words("id App path false") << true;
    QTest::newRow("true") << words("id App path true") << true;
    QTest::newRow("three") << words("id App path") << false;
    QTest::newRow("five") << words("id App path true x") << false;
    QTest::newRow("flag spelled otherwise") << words("id App path TRUE") << false;
}

void TestUpdater::parametersFromArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, valid);
    const auto parameters = SoftwareUpdateParameters::fromArguments(arguments);
    QCOMPARE(parameters.has_value(), valid);
    if (parameters)
        QCOMPARE(parameters->arguments(), arguments);
}

void TestUpdater::updateFolder()
{
    const Updater updater(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), false);
    QCOMPARE(updater.appSuppApp(), dataFolder() + QLatin1String("/Quillfern/update"));
    QVERIFY(QFileInfo(dataFolder()).isDir());
    QVERIFY(!QFileInfo::exists(dataFolder() + QLatin1String("/Quillfern")));
    QVERIFY(!updater.updaterSuccessfullyStarted());
}

void TestUpdater::question()
{
    Updater updater(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), false);
    m_presenter.scriptAlertResponse(SecondButton);
    QVERIFY(!updater.askToUpdate(QStringLiteral("1.2"), QStringLiteral("1.3")));
    m_presenter.scriptAlertResponse(FirstButton);
    QVERIFY(updater.askToUpdate(QStringLiteral("1.2"), QStringLiteral("1.3")));

    Alert expected;
    expected.style = AlertStyle::Informational;
    expected.message = QStringLiteral("Automatic Update");
    expected.informativeText = QStringLiteral("Quillfern has version 1.2, but a newer version, 1.3, is available.\n"
                                              "Do you want to automatically update to the new version?");
    expected.buttons = QStringList { QStringLiteral("Yes"), QStringLiteral("No") };
    QCOMPARE(m_presenter.alerts(), QList<Alert>({ expected, expected }));
}

void TestUpdater::checkVersion_data()
{
    QTest::addColumn<QByteArray>("published"); // empty: the site has no page
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("resources");
    QTest::addColumn<QString>("before"); // what lies at the update folder's path: nothing, folder or file
    QTest::addColumn<bool>("isInFolder");
    QTest::addColumn<bool>("launched");
    QTest::addColumn<QStringList>("alerts"); // messages of every alert shown

    const QByteArray same = QUILLFERN_VERSION;
    const QString question = QStringLiteral("Automatic Update");
    const QString guts = QStringLiteral("Cannot find SoftwareUpdater.app in my own guts. Please report this as a bug!");
    QTest::newRow("same version") << same << 0 << true << "folder" << false << false << QStringList();
    QTest::newRow("answer No") << QByteArray("999.0") << int(SecondButton) << true << "nothing" << false << false
                               << QStringList { question };
    QTest::newRow("no page") << QByteArray() << 0 << true << "nothing" << false << false
                             << QStringList { QStringLiteral("Cannot determine version at %1.") };
    QTest::newRow("no updater in the resources") << QByteArray("999.0") << int(FirstButton) << false << "folder"
                                                 << false << false << QStringList { question, guts };
    QTest::newRow("fresh installation") << QByteArray("999.0") << int(FirstButton) << true << "nothing" << false << true
                                        << QStringList { question };
    QTest::newRow("folder from an earlier run")
        << QByteArray("999.0") << int(FirstButton) << true << "folder" << true << true << QStringList { question };
    QTest::newRow("plain file in the way")
        << QByteArray("999.0") << int(FirstButton) << true << "file" << false << true << QStringList { question };
}

void TestUpdater::checkVersion()
{
    QFETCH(QByteArray, published);
    QFETCH(int, answer);
    QFETCH(bool, resources);
    QFETCH(QString, before);
    QFETCH(bool, isInFolder);
    QFETCH(bool, launched);
    QFETCH(QStringList, alerts);

    if (!published.isEmpty())
        m_server->set(QStringLiteral("/Quillfern/index.html"), { 200, "<h2>New in Version " + published + "</h2>" });
    if (answer)
        m_presenter.scriptAlertResponse(answer);
    if (resources)
        makeResources();
    auto updater = std::make_shared<Updater>(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), isInFolder);
    const QString folder = updater->appSuppApp();
    if (before == QLatin1String("folder")) {
        QVERIFY(UpdateTest::writeFile(folder + QLatin1String("/SoftwareUpdater.app/old"), "old"));
        QVERIFY(UpdateTest::writeFile(folder + QLatin1String("/.hidden"), "hidden"));
    } else if (before == QLatin1String("file")) {
        QVERIFY(UpdateTest::writeFile(folder, "in the way"));
    }
    if (launched) {
        QTest::ignoreMessage(QtInfoMsg,
            QStringLiteral("[Updater.update] appSuppApp \"%1\" exists: %2")
                .arg(folder)
                .arg(before == QLatin1String("nothing") ? 0 : 1)
                .toUtf8()
                .constData());
        if (before == QLatin1String("folder"))
            QTest::ignoreMessage(QtInfoMsg,
                QStringLiteral("[Updater.update] trashing contents of \"%1\"").arg(folder).toUtf8().constData());
        else
            QTest::ignoreMessage(
                QtInfoMsg, QStringLiteral("[Updater.update] trying to create \"%1\"").arg(folder).toUtf8().constData());
    }

    QCOMPARE(runCheck(*updater), launched);
    QCOMPARE(updater->updaterSuccessfullyStarted(), launched);
    QStringList shown;
    for (const Alert &alert : m_presenter.alerts())
        shown.append(alert.message);
    for (QString &message : alerts) {
        if (message.contains(QLatin1String("%1")))
            message = message.arg(m_server->baseUrl());
    }
    QCOMPARE(shown, alerts);
    for (const Alert &alert : m_presenter.alerts()) {
        if (alert.message.startsWith(QLatin1String("Cannot determine")))
            QCOMPARE(alert.style, AlertStyle::Critical);
    }

    if (!launched) {
        updater->cleanUp();
        QVERIFY(!QFileInfo::exists(folder));
        return;
    }
    const QStringList arguments = { QStringLiteral("org.quillfern.Quillfern"), QStringLiteral("Quillfern"),
        QStringLiteral("Quillfern"), isInFolder ? QStringLiteral("true") : QStringLiteral("false") };
    QTRY_VERIFY(QFileInfo::exists(record()));
    QTRY_COMPARE(QString::fromUtf8(UpdateTest::readFile(record())),
        QStringList(QStringList { folder } + arguments).join(u'\n') + u'\n');
    QVERIFY(QFileInfo(folder + QLatin1String("/SoftwareUpdater.app/Contents/MacOS/SoftwareUpdater")).isExecutable());
    if (before == QLatin1String("folder")) {
        // Its entries went to the trash one by one; the folder itself stays.
        QVERIFY(!QFileInfo::exists(folder + QLatin1String("/SoftwareUpdater.app/old")));
        QVERIFY(!QFileInfo::exists(folder + QLatin1String("/.hidden")));
        QVERIFY(QFileInfo::exists(dataFolder() + QLatin1String("/Trash/files/.hidden")));
        QVERIFY(QFileInfo::exists(dataFolder() + QLatin1String("/Trash/files/SoftwareUpdater.app/old")));
    }
    if (before == QLatin1String("file"))
        QVERIFY(!QFileInfo::exists(dataFolder() + QLatin1String("/Trash/files/update")));
}

void TestUpdater::oneCheckAtATime()
{
    VersionCheck1::setTimeouts(500ms, 5s);
    UpdateTest::Response never;
    never.never = true;
    m_server->set(QStringLiteral("/Quillfern/index.html"), never);
    auto first = std::make_shared<Updater>(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), false);
    auto second = std::make_shared<Updater>(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), false);
    QVERIFY(UpdateTest::writeFile(first->appSuppApp() + QLatin1String("/leftover"), "x"));

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^cannot download ")));
    QVERIFY(first->start());
    QTest::ignoreMessage(QtCriticalMsg, "[Updater.start] a version check is still running; this one is refused");
    QVERIFY(!second->start());
    first.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!Updater::isCheckRunning(), 5000);
    QTRY_COMPARE(m_presenter.alerts().size(), 1);
    QCOMPARE(m_presenter.alerts().constFirst().message,
        QStringLiteral("Cannot determine version at %1.").arg(m_server->baseUrl()));
    QCOMPARE(m_presenter.alerts().constFirst().style, AlertStyle::Critical);
    // The run ended without a launch, so the update folder went to the trash.
    QVERIFY(!QFileInfo::exists(second->appSuppApp()));
    QVERIFY(QFileInfo::exists(dataFolder() + QLatin1String("/Trash/files/update/leftover")));
    QCOMPARE(m_server->requests().size(), 1);

    m_server->set(QStringLiteral("/Quillfern/index.html"), { 200, "<h2>New in Version " QUILLFERN_VERSION "</h2>" });
    QVERIFY(second->start());
}

void TestUpdater::unusableTrash_data()
{
    QTest::addColumn<QString>("trash"); // what stands where the home trash belongs
    QTest::addColumn<bool>("update"); // the user answers Yes, so the update empties the folder first
    QTest::addColumn<QString>("reason"); // %1 stands for the home trash
    QTest::addColumn<QStringList>("alerts");

    const QString folderAlert = QStringLiteral("\u201cupdate\u201d could not be moved to the trash.");
    QTest::newRow("a file, clean-up") << "file" << false << "The trash %1 is not a folder."
                                      << QStringList { folderAlert };
    QTest::newRow("a link to nothing, clean-up")
        << "link" << false << "The trash %1 is a link to nothing." << QStringList { folderAlert };
    QTest::newRow("a file, update") << "file" << true << "The trash %1 is not a folder."
                                    << QStringList { QStringLiteral("Automatic Update"),
                                           QStringLiteral("\u201cleftover\u201d could not be moved to the trash."),
                                           folderAlert };
}

// Finding no usable trash, Qt would make one of the working folder.
void TestUpdater::unusableTrash()
{
    QFETCH(QString, trash);
    QFETCH(bool, update);
    QFETCH(QString, reason);
    QFETCH(QStringList, alerts);

    const QString homeTrash = dataFolder() + QLatin1String("/Trash");
    if (trash == QLatin1String("file"))
        QVERIFY(UpdateTest::writeFile(homeTrash, "not a trash"));
    else
        QVERIFY(QDir().mkpath(dataFolder()) && QFile::link(m_home.filePath(QStringLiteral("nowhere")), homeTrash));
    const QByteArray published = update ? "999.0" : QUILLFERN_VERSION;
    m_server->set(QStringLiteral("/Quillfern/index.html"), { 200, "<h2>New in Version " + published + "</h2>" });
    if (update) {
        makeResources();
        m_presenter.scriptAlertResponse(FirstButton);
    }
    auto updater = std::make_shared<Updater>(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), false);
    const QString folder = updater->appSuppApp();
    QVERIFY(UpdateTest::writeFile(folder + QLatin1String("/leftover"), "x"));
    const QMap<QString, QByteArray> before = UpdateTest::snapshot(folder);

    QTemporaryDir work;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work.path()));
    QVERIFY(updater->start());
    QTRY_VERIFY_WITH_TIMEOUT(!Updater::isCheckRunning(), 10000);
    QDir::setCurrent(previous);
    QTRY_COMPARE(m_presenter.alerts().size(), alerts.size());

    QStringList shown;
    for (const Alert &alert : m_presenter.alerts())
        shown.append(alert.message);
    QCOMPARE(shown, alerts);
    const QString text = m_presenter.alerts().constLast().informativeText;
    QVERIFY2(text.startsWith(QStringLiteral("Cannot delete %1.\n").arg(folder)), qPrintable(text));
    QVERIFY2(text.endsWith(QLatin1String("Reason: ") + reason.arg(homeTrash)), qPrintable(text));
    QCOMPARE(UpdateTest::snapshot(folder), before);
    QCOMPARE(QDir(work.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
