#include "ObjectHolder.h"
#include "OsUtil.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <mutex>

using namespace corvane;
using MimeFactory = std::function<QMimeData *()>;
Q_DECLARE_METATYPE(MimeFactory)

namespace {

const QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");
const QString notificationService = QStringLiteral("org.freedesktop.Notifications");

// Stands in for the desktop's services; QtDBus only delivers a call whose signature matches a slot.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QList<std::pair<QString, QStringList>> calls;

public Q_SLOTS:
    void ShowItems(const QStringList &uris, const QString &startupId)
    {
        Q_UNUSED(startupId);
        calls.append({ QStringLiteral("ShowItems"), uris });
    }
    void ShowItemProperties(const QStringList &uris, const QString &startupId)
    {
        Q_UNUSED(startupId);
        calls.append({ QStringLiteral("ShowItemProperties"), uris });
    }
};

struct Notification {
    QString application;
    uint replacesId;
    QString icon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int timeout;
};

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<Notification> received;

public Q_SLOTS:
    uint Notify(const QString &application, uint replacesId, const QString &icon, const QString &summary,
        const QString &body, const QStringList &actions, const QVariantMap &hints, int timeout)
    {
        received.append({ application, replacesId, icon, summary, body, actions, hints, timeout });
        return uint(received.size());
    }
};

class WarningCapture {
public:
    WarningCapture() { previous = qInstallMessageHandler(&WarningCapture::handle); }
    ~WarningCapture() { qInstallMessageHandler(previous); }
    [[nodiscard]] QStringList entries() const
    {
        const std::lock_guard guard(lock);
        return warnings;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        const std::lock_guard guard(lock);
        if (type == QtWarningMsg)
            warnings.append(message);
    }
    static inline std::mutex lock;
    static inline QStringList warnings;
    QtMessageHandler previous = nullptr;
};

} // namespace

class TestOsUtil : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void pasteboard_data();
    void pasteboard();
    void objectHolderOwnsItsObject();
    void fileManagerCalls_data();
    void fileManagerCalls();
    void notification_data();
    void notification();
    void missingServiceIsLogged();

private:
    bool busReady() const { return m_fake.has_value(); }

    QTemporaryDir m_dir;
    QProcess m_daemon;
    std::optional<QDBusConnection> m_fake;
    FakeFileManager m_fileManager;
    FakeNotifications m_notifications;
    QString m_skipReason;
};

void TestOsUtil::initTestCase()
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) {
        m_skipReason = QStringLiteral("dbus-daemon is not installed (Debian package dbus): D-Bus calls not tested");
        return;
    }
    QVERIFY(m_dir.isValid());
    // A private session bus without service activation, so no real file manager can answer.
    const QString config = m_dir.filePath(QStringLiteral("session.conf"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:dir="
        + m_dir.path().toUtf8()
        + "</listen><auth>EXTERNAL</auth>"
          "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
          "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    file.close();
    m_daemon.start(daemon,
        { QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address") });
    QVERIFY2(m_daemon.waitForStarted(5000), qPrintable(m_daemon.errorString()));
    QByteArray address;
    while (!address.contains('\n') && m_daemon.waitForReadyRead(5000))
        address += m_daemon.readAllStandardOutput();
    address = address.trimmed();
    QVERIFY2(!address.isEmpty(), m_daemon.readAllStandardError().constData());

    // Must happen before anything opens the session bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    m_fake = QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("fake services"));
    QVERIFY2(m_fake->isConnected(), qPrintable(m_fake->lastError().message()));
    QVERIFY(m_fake->registerObject(
        QStringLiteral("/org/freedesktop/FileManager1"), &m_fileManager, QDBusConnection::ExportAllSlots));
    QVERIFY(m_fake->registerObject(
        QStringLiteral("/org/freedesktop/Notifications"), &m_notifications, QDBusConnection::ExportAllSlots));
    QVERIFY(m_fake->registerService(fileManagerService));
    QVERIFY(m_fake->registerService(notificationService));
    QVERIFY2(QDBusConnection::sessionBus().interface()->isServiceRegistered(m_fake->baseService()),
        "the session bus was opened before the test could point it at its private daemon");
}

void TestOsUtil::cleanupTestCase()
{
    if (m_fake) {
        QDBusConnection::disconnectFromBus(m_fake->name());
        m_fake.reset();
    }
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
}

void TestOsUtil::pasteboard_data()
{
    QTest::addColumn<MimeFactory>("content");
    QTest::addColumn<std::optional<QString>>("expected");

    QTest::newRow("text") << MimeFactory([] {
        OsUtil::copyToPasteboard(QStringLiteral("Build, then test"));
        return nullptr;
    }) << std::optional<QString>(QStringLiteral("Build, then test"));
    QTest::newRow("empty text is still text") << MimeFactory([] {
        OsUtil::copyToPasteboard(QString());
        return nullptr;
    }) << std::optional<QString>(QString());
    QTest::newRow("only an image") << MimeFactory([] {
        auto *data = new QMimeData;
        data->setImageData(QImage(4, 4, QImage::Format_RGB32));
        return data;
    }) << std::optional<QString>();
    QTest::newRow("only html") << MimeFactory([] {
        auto *data = new QMimeData;
        data->setHtml(QStringLiteral("<b>bold</b>"));
        return data;
    }) << std::optional<QString>();
    QTest::newRow("only file urls") << MimeFactory([] {
        auto *data = new QMimeData;
        data->setUrls({ QUrl::fromLocalFile(QStringLiteral("/tmp/a")) });
        return data;
    }) << std::optional<QString>();
    QTest::newRow("copy replaces an image") << MimeFactory([] {
        auto *data = new QMimeData;
        data->setImageData(QImage(4, 4, QImage::Format_RGB32));
        QGuiApplication::clipboard()->setMimeData(data);
        OsUtil::copyToPasteboard(QStringLiteral("after"));
        return nullptr;
    }) << std::optional<QString>(QStringLiteral("after"));
}

void TestOsUtil::pasteboard()
{
    QFETCH(MimeFactory, content);
    QFETCH(std::optional<QString>, expected);

    OsUtil::copyToPasteboard(QStringLiteral("left over"));
    if (QMimeData *data = content())
        QGuiApplication::clipboard()->setMimeData(data);
    QCOMPARE(OsUtil::stringFromPasteboard(), expected);
}

void TestOsUtil::objectHolderOwnsItsObject()
{
    std::weak_ptr<QString> first;
    std::weak_ptr<QString> second;
    {
        ObjectHolder holder;
        QVERIFY(!holder.hasRef());
        auto text = std::make_shared<QString>(QStringLiteral("one"));
        first = text;
        holder.setRef(std::move(text));
        QCOMPARE(*holder.ref<QString>(), QStringLiteral("one"));
        QVERIFY(!holder.ref<int>());

        auto replacement = std::make_shared<QString>(QStringLiteral("two"));
        second = replacement;
        holder.setRef(std::move(replacement));
        QVERIFY(first.expired());
        QVERIFY(!second.expired());
    }
    QVERIFY(second.expired());
}

void TestOsUtil::fileManagerCalls_data()
{
    QTest::addColumn<std::function<void()>>("call");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QStringList>("uris");

    const QUrl spaced = QUrl::fromLocalFile(QStringLiteral("/tmp/My Plans/Launch #2.quillfern"));
    const QString spacedUri = QStringLiteral("file:///tmp/My%20Plans/Launch%20%232.quillfern");
    const QUrl plain = QUrl::fromLocalFile(QStringLiteral("/tmp/b"));

    QTest::newRow("reveal one file") << std::function<void()>([=] { OsUtil::revealInFileViewer(spaced); })
                                     << QStringLiteral("ShowItems") << QStringList { spacedUri };
    QTest::newRow("reveal several files") << std::function<void()>([=] {
        OsUtil::revealInFileViewer(QList<QUrl> { plain, spaced });
    }) << QStringLiteral("ShowItems") << QStringList { QStringLiteral("file:///tmp/b"), spacedUri };
    QTest::newRow("info of one file") << std::function<void()>([=] { OsUtil::showInfo(spaced); })
                                      << QStringLiteral("ShowItemProperties") << QStringList { spacedUri };
    QTest::newRow("info of no file still asks") << std::function<void()>([] { OsUtil::showInfo(QList<QUrl>()); })
                                                << QStringLiteral("ShowItemProperties") << QStringList();
}

void TestOsUtil::fileManagerCalls()
{
    if (!busReady())
        QSKIP(qPrintable(m_skipReason));
    QFETCH(std::function<void()>, call);
    QFETCH(QString, method);
    QFETCH(QStringList, uris);

    m_fileManager.calls.clear();
    call();
    QTRY_COMPARE(m_fileManager.calls.size(), 1);
    QCOMPARE(m_fileManager.calls.first().first, method);
    QCOMPARE(m_fileManager.calls.first().second, uris);
}

void TestOsUtil::notification_data()
{
    QTest::addColumn<std::optional<QString>>("informativeText");
    QTest::addColumn<QString>("body");

    QTest::newRow("title only") << std::optional<QString>() << QString();
    QTest::newRow("title and text") << std::optional<QString>(QStringLiteral("Version 2.0 is ready."))
                                    << QStringLiteral("Version 2.0 is ready.");
}

void TestOsUtil::notification()
{
    if (!busReady())
        QSKIP(qPrintable(m_skipReason));
    QFETCH(std::optional<QString>, informativeText);
    QFETCH(QString, body);

    m_notifications.received.clear();
    OsUtil::deliverNotification(QStringLiteral("Update available"), informativeText);
    QTRY_COMPARE(m_notifications.received.size(), 1);
    const Notification &n = m_notifications.received.first();
    QCOMPARE(n.summary, QStringLiteral("Update available"));
    QCOMPARE(n.body, body);
    QVERIFY(!n.application.isEmpty());
    QCOMPARE(n.replacesId, 0u);
    QVERIFY(n.actions.isEmpty());
    QCOMPARE(n.hints.value(QStringLiteral("sound-name")).toString(), QStringLiteral("message-new-instant"));
    QCOMPARE(n.timeout, -1);
}

void TestOsUtil::missingServiceIsLogged()
{
    if (!busReady())
        QSKIP(qPrintable(m_skipReason));
    WarningCapture capture;
    QVERIFY(m_fake->unregisterService(fileManagerService));
    m_fileManager.calls.clear();
    OsUtil::revealInFileViewer(QUrl::fromLocalFile(QStringLiteral("/tmp/a")));
    QTRY_VERIFY(!capture.entries().isEmpty());
    QVERIFY2(capture.entries().first().contains(QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")),
        qPrintable(capture.entries().first()));
    QVERIFY(m_fileManager.calls.isEmpty());
    QVERIFY(m_fake->registerService(fileManagerService));
}

QTEST_MAIN(TestOsUtil)
#include "tst_osutil.moc"
