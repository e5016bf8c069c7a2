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
    void controlCharactersAreEscaped_data();
    void controlCharactersAreEscaped();
};

void TestLog::controlCharactersAreEscaped_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("logged");
    QTest::newRow("escape sequence") << QStringLiteral("a\x1b]0;owned\x07.quillfern")
                                     << QByteArray("a\\x1b]0;owned\\x07.quillfern");
    QTest::newRow("line feed") << QStringLiteral("x\nquillfern: forged") << QByteArray("x\\x0aquillfern: forged");
    QTest::newRow("C1 control and DEL") << QStringLiteral("c\u009bd\x7f") << QByteArray("c\\xc2\\x9bd\\x7f");
    QTest::newRow("plain text stays") << QStringLiteral("Caf\u00e9 \\ plan") << QByteArray("Caf\xc3\xa9 \\ plan");
}

void TestLog::controlCharactersAreEscaped()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, logged);
    received.clear();
    installMessageHandler(recordEntry);
    qCCritical(lcCorvane).noquote() << "cannot open" << name;
    qInstallMessageHandler(nullptr);
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().second, "cannot open " + logged);
}

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
