#include "FileAccess.h"

#include <QTest>

class TestFileNames : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void storedAsUtf8ComesBackWhole_data();
    void storedAsUtf8ComesBackWhole();
    void storedGarbageGivesNone_data();
    void storedGarbageGivesNone();
};

void TestFileNames::storedAsUtf8ComesBackWhole_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("plain"); // stored as the name itself
    QTest::newRow("ASCII") << QByteArray("/home/ann/plan.quillfern") << true;
    QTest::newRow("UTF-8") << QByteArray("/home/ann/caf\xc3\xa9 \xe2\x80\x9cplan\xe2\x80\x9d.quillfern") << true;
    QTest::newRow("Latin-1") << QByteArray("/home/ann/caf\xe9.quillfern") << false;
    QTest::newRow("Latin-1 folder and name") << QByteArray("/d\xe9p\xf4t/\xe9t\xe9.quillfern") << false;
    QTest::newRow("an encoded surrogate") << QByteArray("/tmp/\xed\xb2\x80.quillfern") << false;
    QTest::newRow("looks like stored bytes") << QByteArray("/base64:L3RtcA==") << true;
}

// Settings and JSON keep text as UTF-8, which has no room for a name's undecodable bytes.
void TestFileNames::storedAsUtf8ComesBackWhole()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, plain);
    const QString name = decodeFileName(bytes);
    const QString stored = storableFileName(name);
    QCOMPARE(stored == name, plain);
    const std::optional<QString> back = fileNameFromStorable(QString::fromUtf8(stored.toUtf8()));
    QVERIFY(back);
    QCOMPARE(encodeFileName(*back), bytes);
}

void TestFileNames::storedGarbageGivesNone_data()
{
    QTest::addColumn<QString>("stored");
    QTest::newRow("empty") << QString();
    QTest::newRow("relative") << QStringLiteral("plan.quillfern");
    QTest::newRow("not base64") << QStringLiteral("base64:%%%");
    QTest::newRow("bytes of a relative name")
        << QStringLiteral("base64:") + QString::fromLatin1(QByteArray("plan").toBase64());
    QTest::newRow("bytes with a NUL") << QStringLiteral("base64:")
            + QString::fromLatin1(QByteArray("/a\0b", 4).toBase64());
}

void TestFileNames::storedGarbageGivesNone()
{
    QFETCH(QString, stored);
    QCOMPARE(fileNameFromStorable(stored), std::nullopt);
}

QTEST_GUILESS_MAIN(TestFileNames)
#include "tst_filenames.moc"
