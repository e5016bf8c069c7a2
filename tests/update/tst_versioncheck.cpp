#include "Bundle.h"
#include "Presenter.h"
#include "UpdateTestSupport.h"
#include "VersionCheck1.h"

#include <QTest>

#include <thread>

using namespace corvane;
using namespace std::chrono_literals;
using UpdateTest::Response;

class TestVersionCheck : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void isNewer_data();
    void isNewer();
    void updateSite_data();
    void updateSite();
    void addresses();
    void internetVersion_data();
    void internetVersion();
    void pageRedirects_data();
    void pageRedirects();
    void requestAndCache();
    void noAnswerWithinTheWait();
    void refusedConnection();
    void lateAnswerAfterTheCheckIsGone();
    void lateAnswerStillLands();
    void notifyOnlyCheck_data();
    void notifyOnlyCheck();

private:
    std::unique_ptr<UpdateTest::Server> m_server;
};

void TestVersionCheck::init()
{
    m_server = std::make_unique<UpdateTest::Server>();
    qputenv("QUILLFERN_UPDATE_SITE", m_server->baseUrl().toUtf8());
    VersionCheck1::setTimeouts(3s, 5s);
}

void TestVersionCheck::cleanup()
{
    m_server.reset();
    qunsetenv("QUILLFERN_UPDATE_SITE");
}

void TestVersionCheck::isNewer_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("internet");
    QTest::addColumn<bool>("newer");
    QTest::addColumn<QString>("logged");

    const QString none;
    QTest::newRow("1.9 < 1.10") << "1.9"
                                << "1.10" << true << none;
    QTest::newRow("1.2 < 1.2.0") << "1.2"
                                 << "1.2.0" << true << none;
    QTest::newRow("1.2.0 > 1.2") << "1.2.0"
                                 << "1.2" << false << none;
    QTest::newRow("2.0 > 1.9.9") << "2.0"
                                 << "1.9.9" << false << none;
    QTest::newRow("equal") << "1.2"
                           << "1.2" << false << none;
    QTest::newRow("signs") << "+1.-2"
                           << "1.0" << true << none;
    QTest::newRow("leading zeros") << "1.02"
                                   << "1.3" << true << none;
    QTest::newRow("local letters") << "1.2b"
                                   << "x" << false << "Local version 1.2b contains non-integer component.";
    QTest::newRow("internet blank") << "1.2"
                                    << "1.3 " << false << "Internet version 1.3  contains non-integer component.";
    QTest::newRow("empty") << ""
                           << "1.0" << false << "Local version  contains non-integer component.";
    QTest::newRow("adjacent dots") << "1..2"
                                   << "1.3" << false << "Local version 1..2 contains non-integer component.";
    QTest::newRow("sign alone") << "1.2"
                                << "1.+" << false << "Internet version 1.+ contains non-integer component.";
    QTest::newRow("overflow") << "1.2"
                              << "1.9223372036854775808" << false
                              << "Internet version 1.9223372036854775808 contains non-integer component.";
    QTest::newRow("largest") << "1.9223372036854775806"
                             << "1.9223372036854775807" << true << none;
    QTest::newRow("two signs") << "+-1"
                               << "0" << false << "Local version +-1 contains non-integer component.";
    QTest::newRow("two signs on the internet")
        << "1.2"
        << "1.+-0" << false << "Internet version 1.+-0 contains non-integer component.";
    QTest::newRow("non-ASCII digits") << "1.2" << QStringLiteral("1.\u0663") << false
                                      << QStringLiteral("Internet version 1.\u0663 contains non-integer component.");
}

void TestVersionCheck::isNewer()
{
    QFETCH(QString, local);
    QFETCH(QString, internet);
    QFETCH(bool, newer);
    QFETCH(QString, logged);
    if (!logged.isEmpty())
        QTest::ignoreMessage(QtCriticalMsg, logged.toUtf8().constData());
    QCOMPARE(VersionCheck1::isNewer(local, internet), newer);
}

void TestVersionCheck::updateSite_data()
{
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("base");
    QTest::addColumn<bool>("hasSite");

    const QString configured = QStringLiteral(QUILLFERN_UPDATE_SITE_BASE_URL);
    const bool configuredHasSite = !configured.contains(QLatin1String(".invalid/"));
    QTest::newRow("unset") << QString() << configured << configuredHasSite;
    QTest::newRow("placeholder") << "https://updates.example.invalid/"
                                 << "https://updates.example.invalid/" << false;
    QTest::newRow("https") << "https://example.org/releases/"
                           << "https://example.org/releases/" << true;
    QTest::newRow("slash added") << "https://example.org/releases"
                                 << "https://example.org/releases/" << true;
    QTest::newRow("loopback http") << "http://127.0.0.1:8080/"
                                   << "http://127.0.0.1:8080/" << true;
    QTest::newRow("localhost http") << "http://localhost/x/"
                                    << "http://localhost/x/" << true;
    QTest::newRow("remote http refused") << "http://example.org/" << configured << configuredHasSite;
    QTest::newRow("file refused") << "file:///tmp/" << configured << configuredHasSite;
}

void TestVersionCheck::updateSite()
{
    QFETCH(QString, environment);
    QFETCH(QString, base);
    QFETCH(bool, hasSite);
    if (environment.isEmpty())
        qunsetenv("QUILLFERN_UPDATE_SITE");
    else
        qputenv("QUILLFERN_UPDATE_SITE", environment.toUtf8());
    if (base != environment && !environment.isEmpty() && !base.startsWith(environment))
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^ignoring QUILLFERN_UPDATE_SITE")));
    QCOMPARE(updateSiteBaseURL(), base);
    if (base != environment && !environment.isEmpty() && !base.startsWith(environment))
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^ignoring QUILLFERN_UPDATE_SITE")));
    QCOMPARE(hasUpdateSite(), hasSite);
}

void TestVersionCheck::addresses()
{
    const VersionCheck1 check(
        QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), QStringLiteral("Quillfern.zip"));
    QCOMPARE(check.root(), m_server->baseUrl() + QLatin1String("Quillfern/"));
    QCOMPARE(check.address(), m_server->baseUrl() + QLatin1String("Quillfern/index.html"));
    QVERIFY(!check.data());
    QVERIFY(!check.myError());
    QVERIFY(!check.cachedInternetVersion());
    QCOMPARE(check.localVersion(), std::optional<QString>(QStringLiteral(QUILLFERN_VERSION)));
}

void TestVersionCheck::internetVersion_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("version"); // null: none
    QTest::addColumn<QString>("logged"); // %1 stands for the address
    QTest::addColumn<bool>("cut"); // the server closes the connection halfway through the body

    QTest::newRow("plain") << 200 << QByteArray("<h2>New in Version 1.3</h2>") << "1.3" << QString() << false;
    QTest::newRow("blank kept") << 200 << QByteArray("<h2>New in Version 1.3 </h2>") << "1.3 " << QString() << false;
    QTest::newRow("first marker, first heading end")
        << 200 << QByteArray("<p>x</p><h3>New in Version 2.1</h4><h2>New in Version 9.9</h2>") << "2.1" << QString()
        << false;
    QTest::newRow("non-ASCII text around")
        << 200 << QByteArray("<h1>Caf\xc3\xa9</h1><b>New in Version 1.4</h1>") << "1.4" << QString() << false;
    QTest::newRow("marker is case-sensitive") << 200 << QByteArray("<h2>new in version 1.3</h2>") << QString()
                                              << "cannot find \">New in Version \" in %1" << false;
    QTest::newRow("error page") << 404 << QByteArray("<h1>Not Found</h1>") << QString()
                                << "cannot find \">New in Version \" in %1" << false;
    QTest::newRow("error page with marker")
        << 500 << QByteArray("<h2>New in Version 7</h2>") << "7" << QString() << false;
    QTest::newRow("no heading end") << 200 << QByteArray("<h2>New in Version 1.3</p>") << QString()
                                    << "cannot find </h where it should be" << false;
    QTest::newRow("invalid UTF-8") << 200 << QByteArray("<h2>New in Version 1.3\xff</h2>") << QString()
                                   << "cannot read %1" << false;
    QTest::newRow("empty body") << 200 << QByteArray() << QString() << "cannot find \">New in Version \" in %1"
                                << false;
    // Whatever arrived before the connection broke is no page. Half of this one holds the marker and
    // the version but no heading end.
    const QByteArray padded = "<h2>New in Version 1.3" + QByteArray(40, ' ') + "</h2>";
    const QString failed = QStringLiteral("cannot download %1 because of ");
    QTest::newRow("page cut after its headers") << 200 << padded << QString() << failed << true;
    QTest::newRow("error page cut after its headers") << 404 << padded << QString() << failed << true;
}

void TestVersionCheck::internetVersion()
{
    QFETCH(int, status);
    QFETCH(QByteArray, page);
    QFETCH(QString, version);
    QFETCH(QString, logged);
    QFETCH(bool, cut);

    UpdateTest::Response response { status, page };
    response.truncate = cut;
    m_server->set(QStringLiteral("/Quillfern/index.html"), response);
    VersionCheck1 check(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), QStringLiteral("Quillfern.zip"));
    if (cut)
        QTest::ignoreMessage(
            QtCriticalMsg, QRegularExpression(u'^' + QRegularExpression::escape(logged.arg(check.address())) + u'.'));
    else if (!logged.isEmpty())
        QTest::ignoreMessage(QtCriticalMsg,
            (logged.contains(QLatin1String("%1")) ? logged.arg(check.address()) : logged).toUtf8().constData());
    else
        QTest::ignoreMessage(
            QtInfoMsg, QStringLiteral("found version %1 at %2").arg(version, check.root()).toUtf8().constData());
    const std::optional<QString> found = check.internetVersion();
    QCOMPARE(found.has_value(), !version.isNull());
    if (found)
        QCOMPARE(*found, version);
    QCOMPARE(check.cachedInternetVersion(), found);
    QCOMPARE(check.data(), cut ? std::nullopt : std::optional<QByteArray>(page));
    QCOMPARE(check.myError().has_value(), cut);
}

void TestVersionCheck::pageRedirects_data()
{
    // Where the second redirect goes: "final" on the same site, "elsewhere" to plain http on
    // another host, "loop" back to the first address.
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("refusal"); // empty when the page is found
    QTest::newRow("within the site") << QStringLiteral("final") << QString();
    QTest::newRow("second redirect to plain http elsewhere")
        << QStringLiteral("elsewhere")
        << QStringLiteral("The update site sent the page on to %2final/index.html, which is not an https address; "
                          "updates are only read from secure addresses.");
    QTest::newRow("loop") << QStringLiteral("loop")
                          << QStringLiteral("The update site sends the page on and on in a loop of redirects; it is "
                                            "misconfigured. Try again later, or tell its publisher.");
}

// Every redirect of the page is held to the rule of its first address, not only the first; each is
// followed as a request of its own (Qt's own following of a second one now and then came back empty).
void TestVersionCheck::pageRedirects()
{
    QFETCH(QString, second);
    QFETCH(QString, refusal);
    m_server = std::make_unique<UpdateTest::Server>(true);
    qputenv("QUILLFERN_UPDATE_SITE", m_server->baseUrl().toUtf8());
    const QString other = m_server->otherBaseUrl();
    if (other.isEmpty() && second == QLatin1String("elsewhere"))
        QSKIP("this machine has no address but loopback");
    Response first { 302, "moved" };
    first.location = m_server->baseUrl().toUtf8() + "moved/index.html";
    m_server->set(QStringLiteral("/Quillfern/index.html"), first);
    Response next { 302, "moved" };
    const QString base = m_server->baseUrl();
    next.location = (second == QLatin1String("loop") ? base + QLatin1String("Quillfern/index.html")
            : second == QLatin1String("elsewhere")   ? other + QLatin1String("final/index.html")
                                                     : base + QLatin1String("final/index.html"))
                        .toUtf8();
    m_server->set(QStringLiteral("/moved/index.html"), next);
    m_server->set(QStringLiteral("/final/index.html"), { 200, "<h2>New in Version 9.9</h2>" });

    VersionCheck1 check(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), QStringLiteral("Quillfern.zip"));
    if (refusal.isEmpty())
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^found version 9.9 at ")));
    else
        QTest::ignoreMessage(QtCriticalMsg,
            QString(QLatin1String("cannot download ") + check.address() + QLatin1String(" because of ")
                + QString(refusal).replace(QLatin1String("%2"), other))
                .toUtf8()
                .constData());
    QCOMPARE(check.internetVersion(), refusal.isEmpty() ? std::optional<QString>(QStringLiteral("9.9")) : std::nullopt);
    const QList<QByteArray> requests = m_server->requests();
    QCOMPARE(std::any_of(requests.cbegin(), requests.cend(),
                 [](const QByteArray &request) { return request.startsWith("GET /final/"); }),
        refusal.isEmpty());
}

void TestVersionCheck::requestAndCache()
{
    m_server->set(QStringLiteral("/Quillfern/index.html"), { 200, "<h2>New in Version 1.3</h2>" });
    VersionCheck1 check(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), QStringLiteral("Quillfern.zip"));
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^found version 1.3 at ")));
    QCOMPARE(check.internetVersion(), std::optional<QString>(QStringLiteral("1.3")));
    QCOMPARE(check.internetVersion(), std::optional<QString>(QStringLiteral("1.3")));

    const QList<QByteArray> requests = m_server->requests();
    QCOMPARE(requests.size(), 1);
    QVERIFY2(requests.constFirst().startsWith("GET /Quillfern/index.html HTTP/1.1\r\n"), requests.constFirst());
    QVERIFY2(requests.constFirst().toLower().contains("\r\ncache-control: no-cache\r\n"), requests.constFirst());
}

void TestVersionCheck::noAnswerWithinTheWait()
{
    VersionCheck1::setTimeouts(300ms, 5s);
    Response never;
    never.never = true;
    m_server->set(QStringLiteral("/Quillfern/index.html"), never);
    VersionCheck1 check(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), QStringLiteral("Quillfern.zip"));
    QTest::ignoreMessage(QtCriticalMsg, (QLatin1String("cannot download ") + check.address()).toUtf8().constData());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!check.internetVersion());
    QVERIFY(timer.elapsed() >= 300);
    QVERIFY(timer.elapsed() < 3000);
    QVERIFY(!check.myError());
    QVERIFY(!check.cachedInternetVersion());
}

void TestVersionCheck::refusedConnection()
{
    // A port nobody listens on: the one of a server that has just gone.
    const QString base = m_server->baseUrl();
    m_server.reset();
    qputenv("QUILLFERN_UPDATE_SITE", base.toUtf8());
    VersionCheck1 check(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), QStringLiteral("Quillfern.zip"));
    QTest::ignoreMessage(QtCriticalMsg,
        QRegularExpression(
            QStringLiteral("^cannot download %1 because of .+").arg(QRegularExpression::escape(check.address()))));
    QVERIFY(!check.internetVersion());
    QVERIFY(check.myError());
}

void TestVersionCheck::lateAnswerAfterTheCheckIsGone()
{
    VersionCheck1::setTimeouts(100ms, 5s);
    Response late { 200, "<h2>New in Version 1.3</h2>" };
    late.delayMs = 500;
    m_server->set(QStringLiteral("/Quillfern/index.html"), late);
    {
        VersionCheck1 check(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), QStringLiteral("Quillfern.zip"));
        QTest::ignoreMessage(QtCriticalMsg, (QLatin1String("cannot download ") + check.address()).toUtf8().constData());
        QVERIFY(!check.internetVersion());
    }
    // The answer arrives now, with the check destroyed; the sanitizer build catches a write into it.
    QTest::qWait(1000);
    QCOMPARE(m_server->requests().size(), 1);
}

void TestVersionCheck::lateAnswerStillLands()
{
    VersionCheck1::setTimeouts(100ms, 5s);
    Response late { 200, "<h2>New in Version 1.3</h2>" };
    late.delayMs = 400;
    m_server->set(QStringLiteral("/Quillfern/index.html"), late);
    VersionCheck1 check(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), QStringLiteral("Quillfern.zip"));
    QTest::ignoreMessage(QtCriticalMsg, (QLatin1String("cannot download ") + check.address()).toUtf8().constData());
    QVERIFY(!check.internetVersion());
    QTRY_VERIFY_WITH_TIMEOUT(check.data().has_value(), 5000);
    QCOMPARE(*check.data(), QByteArray("<h2>New in Version 1.3</h2>"));
}

void TestVersionCheck::notifyOnlyCheck_data()
{
    QTest::addColumn<QString>("published");
    QTest::addColumn<bool>("alert");
    QTest::newRow("newer") << "999.0" << true;
    QTest::newRow("same") << QStringLiteral(QUILLFERN_VERSION) << false;
    QTest::newRow("older") << "0.0.1" << false;
}

void TestVersionCheck::notifyOnlyCheck()
{
    QFETCH(QString, published);
    QFETCH(bool, alert);
    m_server->set(
        QStringLiteral("/Quillfern/index.html"), { 200, "<h2>New in Version " + published.toUtf8() + "</h2>" });
    RecordingPresenter presenter;
    ScopedPresenter scoped(presenter);
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^found version ")));
    const auto check = std::make_shared<VersionCheck1>(
        QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), QStringLiteral("Quillfern.zip"));
    check->startCheck();
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requests().size(), 1, 5000);
    QTest::qWait(alert ? 0 : 200);
    QTRY_COMPARE_WITH_TIMEOUT(presenter.alerts().size(), alert ? 1 : 0, 5000);
    if (alert) {
        Alert expected;
        expected.style = AlertStyle::Warning;
        expected.message = QStringLiteral("Automatic Version Check");
        expected.informativeText
            = QStringLiteral("Quillfern version is %1, but %2Quillfern/Quillfern.zip is already at "
                             "version 999.0.")
                  .arg(QStringLiteral(QUILLFERN_VERSION), m_server->baseUrl());
        QCOMPARE(presenter.alerts().constFirst(), expected);
    }
}

QTEST_MAIN(TestVersionCheck)
#include "tst_versioncheck.moc"
