#include "Log.h"

#include <QTest>

#include <syslog.h>

using namespace corvane;

namespace {

QList<std::pair<int, QByteArray>> received;

void recordEntry(int priority, const QByteArray &text)
{
    received.append({ priority, text });
}

} // namespace

class TestLog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { qInstallMessageHandler(nullptr); }
    void priorities_data();
    void priorities();
    void entriesAreNeverFormats();
};

void TestLog::priorities_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("priority");

    QTest::newRow("debug") << int(QtDebugMsg) << LOG_DEBUG;
    QTest::newRow("info") << int(QtInfoMsg) << LOG_INFO;
    // The log knows three levels: debug, info and error.
    QTest::newRow("warning") << int(QtWarningMsg) << LOG_ERR;
    QTest::newRow("critical") << int(QtCriticalMsg) << LOG_ERR;
    QTest::newRow("fatal") << int(QtFatalMsg) << LOG_ERR;
}

void TestLog::priorities()
{
    QFETCH(int, type);
    QFETCH(int, priority);

    QCOMPARE(syslogPriority(QtMsgType(type)), priority);
    if (type == QtFatalMsg)
        return;
    received.clear();
    installMessageHandler(recordEntry);
    const char *text = "Could not read \u201cPlan.quillfern\u201d";
    switch (QtMsgType(type)) {
    case QtDebugMsg:
        qCDebug(lcCorvane, "%s", text);
        break;
    case QtInfoMsg:
        qCInfo(lcCorvane, "%s", text);
        break;
    case QtWarningMsg:
        qCWarning(lcCorvane, "%s", text);
        break;
    default:
        qCritical("%s", text);
        break;
    }
    qInstallMessageHandler(nullptr);
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().first, priority);
    QCOMPARE(received.first().second, QByteArray(text));
}

void TestLog::entriesAreNeverFormats()
{
    // With the real syslog: a text read as a format would crash on %n or read stray arguments.
    installMessageHandler();
    qCritical("%s", "quillfern log test: %n%n%s%s%x");
    qInstallMessageHandler(nullptr);
}

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
