#include "Log.h"
#include "QuitRequests.h"

#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace corvane;

class TestQuitRequests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init() { m_quits = 0; }
    void strangeRequestsAreLoggedEscaped_data();
    void strangeRequestsAreLoggedEscaped();

private:
    // Sends the lines, then waits for the answer to "where", by which all of them were read.
    void send(const QByteArray &lines);

    QTemporaryDir m_runtime;
    int m_quits = 0;
};

void TestQuitRequests::initTestCase()
{
    QVERIFY(m_runtime.isValid());
    QVERIFY(QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    QVERIFY(listenForQuitRequests([this] { ++m_quits; }));
}

void TestQuitRequests::cleanupTestCase()
{
    stopListeningForQuitRequests();
}

void TestQuitRequests::send(const QByteArray &lines)
{
    QLocalSocket client;
    client.connectToServer(quitRequestSocketName(QStringLiteral("org.quillfern.Quillfern")));
    QVERIFY(client.waitForConnected(5000));
    client.write(lines + "where\n");
    QVERIFY(client.waitForBytesWritten(5000));
    // The program serves the socket on this thread, so the answer comes only while events run.
    QTRY_VERIFY_WITH_TIMEOUT(client.canReadLine(), 5000);
}

void TestQuitRequests::strangeRequestsAreLoggedEscaped_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("logged");

    QTest::newRow("terminal title and colour")
        << QByteArray("\x1b]0;owned\x07\x1b[31mred") << QStringLiteral("\\x1b]0;owned\\x07\\x1b[31mred");
    QTest::newRow("backslash stays readable") << QByteArray("a\\x41") << QStringLiteral("a\\\\x41");
    QTest::newRow("NUL and UTF-8") << QByteArray("caf\xc3\xa9\0z", 7) << QStringLiteral("caf\\xc3\\xa9\\x00z");
    QTest::newRow("carriage return inside") << QByteArray("a\rquit") << QStringLiteral("a\\x0dquit");
}

void TestQuitRequests::strangeRequestsAreLoggedEscaped()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, logged);

    QTest::ignoreMessage(QtWarningMsg, qPrintable(u"ignoring the request " + logged + u" on the quit socket"));
    send(request + '\n');
    QTest::qWait(50);
    QCOMPARE(m_quits, 0);
}

QTEST_MAIN(TestQuitRequests)
#include "tst_quitrequests.moc"
