#include "ShownText.h"

#include <QTest>
#include <QTextBoundaryFinder>

using namespace corvane;

namespace {

const QChar ellipsis(0x2026);

// Whether the whole text has a grapheme boundary at this position.
bool endsAtBoundary(const QString &whole, qsizetype position)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, whole);
    finder.setPosition(position);
    return finder.isAtBoundary();
}

} // namespace

class TestShownText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cut_data();
    void cut();
    void cutLines_data();
    void cutLines();
    void hugeTextsCostTheirLimit();
};

void TestShownText::cut_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<int>("repeat");
    QTest::addColumn<int>("limit");

    QTest::newRow("short stays whole") << QStringLiteral("Design") << 1 << 10;
    QTest::newRow("exactly the limit") << QStringLiteral("abcde") << 2 << 10;
    QTest::newRow("plain letters") << QStringLiteral("x") << 1000 << 500;
    QTest::newRow("surrogate pairs") << QString::fromUtf8("\xF0\x9F\x8C\xB1") << 600 << 501;
    QTest::newRow("combining marks") << QString::fromUtf8("e\xCC\x81\xCC\xA3") << 400 << 500;
    QTest::newRow("flags") << QString::fromUtf8("\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA") << 300 << 499;
    QTest::newRow("family emoji") << QString::fromUtf8(
        "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7\xE2\x80\x8D\xF0\x9F\x91\xA6")
                                  << 100 << 200;
    QTest::newRow("one endless cluster") << QString(u'a') + QString(3000, QChar(0x0301)) << 1 << 500;
}

void TestShownText::cut()
{
    QFETCH(QString, unit);
    QFETCH(int, repeat);
    QFETCH(int, limit);
    const QString whole = unit.repeated(repeat);

    const QString shown = ShownText::cut(whole, limit);
    QVERIFY(shown.size() <= limit);
    if (whole.size() <= limit) {
        QCOMPARE(shown, whole);
        return;
    }
    QVERIFY(shown.endsWith(ellipsis));
    const QString kept = shown.chopped(1);
    QVERIFY(!kept.isEmpty());
    QVERIFY(whole.startsWith(kept));
    // Never half a character, and a cluster cut only when nothing else would show anything.
    QVERIFY(!kept.back().isHighSurrogate());
    if (unit.size() < limit)
        QVERIFY(endsAtBoundary(whole, kept.size()));
    QVERIFY(kept.size() > limit - unit.size() - 2 || unit.size() >= limit);
}

void TestShownText::cutLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("short text stays") << QStringLiteral("one\ntwo") << QStringLiteral("one\ntwo");
    QTest::newRow("long line keeps both ends")
        << QStringLiteral("short\nabcdefghijklmnopqrstuvwxyz") << QStringLiteral("short\nabcde\u2026vwxyz");
    QTest::newRow("lines past the last one shown")
        << QStringLiteral("a\nb\nc\nd\ne\nf") << QStringLiteral("a\nb\nc\nd\n\u2026");
}

void TestShownText::cutLines()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(ShownText::cutLines(text, 11, 4), expected);
}

void TestShownText::hugeTextsCostTheirLimit()
{
    const QString huge(50 * 1024 * 1024, u'w');
    const QString name = ShownText::cut(huge);
    QCOMPARE(name.size(), ShownText::nameLimit);
    QCOMPARE(ShownText::cut(huge, ShownText::titleLimit).size(), ShownText::titleLimit);

    const QString report = huge + QStringLiteral(" on b\n").repeated(200);
    const QString shown = ShownText::cutLines(report);
    QCOMPARE(shown.count(u'\n'), ShownText::alertLineCount);
    QVERIFY(shown.size() < (ShownText::alertLineLimit + 1) * (ShownText::alertLineCount + 1));
    QVERIFY(shown.section(u'\n', 0, 0).endsWith(QStringLiteral("w on b")));
}

QTEST_APPLESS_MAIN(TestShownText)
#include "tst_showntext.moc"
