#include "Alerts.h"
#include "ShownText.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QThread>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <system_error>
#include <thread>

using namespace corvane;
using Action = std::function<void()>;
Q_DECLARE_METATYPE(Action)

namespace {

// Records on which thread each alert ran, and lets one alert post another while it is open.
class ThreadCheckingPresenter final : public Presenter {
public:
    QStringList events;
    QList<QThread *> threads;
    Action whileFirstIsOpen;

    int runAlert(const Alert &alert) override
    {
        threads.append(QThread::currentThread());
        events.append(QStringLiteral("open ") + alert.message);
        if (events.size() == 1 && whileFirstIsOpen)
            whileFirstIsOpen();
        events.append(QStringLiteral("close ") + alert.message);
        return FirstButton;
    }
    std::optional<QString> runOpenPanel(const FilePanel &) override { return std::nullopt; }
    std::optional<QString> runSavePanel(const FilePanel &) override { return std::nullopt; }
};

// Calls act with the modal widget of type Modal on every tick of poll while one is up, as a
// person would answer it.
template<typename Modal> void answerModal(QTimer &poll, QObject *context, std::function<void(Modal *)> act)
{
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, context, [act = std::move(act)] {
        if (auto *modal = qobject_cast<Modal *>(QApplication::activeModalWidget()))
            act(modal);
    });
    poll.start();
}

} // namespace

class TestAlerts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void alertTexts_data();
    void alertTexts();
    void exceptionFields();
    void backgroundThreadsPostInOrder();
    void alertWaitsForThePreviousOne();
    void recordingPresenterScripts();
    void widgetPresenter_data();
    void widgetPresenter();
    void widgetPresenterGivesTextsTheirWidth_data();
    void widgetPresenterGivesTextsTheirWidth();
    void widgetPresenterCutsHugeTexts();
    void widgetPresenterShowsDetailsOnRequest();
    void savePanelSuffixFollowsTheChosenType_data();
    void savePanelSuffixFollowsTheChosenType();
};

void TestAlerts::alertTexts_data()
{
    QTest::addColumn<Action>("post");
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("informativeText");

    const auto cause = std::make_exception_ptr(std::runtime_error("disk on fire"));
    const QString none;

    QTest::newRow("exception without information") << Action([] { Exception(QStringLiteral("Update failed")).show(); })
                                                   << 0 << QStringLiteral("Update failed") << none;
    QTest::newRow("exception with information")
        << Action([] { Exception(QStringLiteral("Update failed"), QStringLiteral("Try later.")).show(); }) << 0
        << QStringLiteral("Update failed") << QStringLiteral("Try later.");
    QTest::newRow("cause is never shown")
        << Action([cause] { Exception(QStringLiteral("Update failed"), cause).show(); }) << 0
        << QStringLiteral("Update failed") << none;
    QTest::newRow("information set after the cause") << Action([cause] {
        Exception e(QStringLiteral("Update failed"), cause);
        e.setInformation(QStringLiteral("Try later."));
        e.show();
    }) << 0 << QStringLiteral("Update failed") << QStringLiteral("Try later.");
    QTest::newRow("showError with an exception drops the information")
        << Action([] { showError(Exception(QStringLiteral("M"), QStringLiteral("I")), QStringLiteral("extra")); }) << 0
        << QStringLiteral("M") << QStringLiteral("I");
    QTest::newRow("showError with a caught exception")
        << Action([] { showError(std::make_exception_ptr(Exception(QStringLiteral("M")))); }) << 0
        << QStringLiteral("M") << none;

    QTest::newRow("system error without user info")
        << Action([] { showSystemError(SystemError(QStringLiteral("D"), QStringLiteral("Suggestion"))); }) << 0
        << QStringLiteral("D") << QStringLiteral("Suggestion");
    QTest::newRow("user info without suggestion starts at once") << Action([] {
        showSystemError(SystemError(QStringLiteral("D"), std::nullopt, { { QStringLiteral("Key"), 42 } }));
    }) << 0 << QStringLiteral("D") << QStringLiteral("Key: 42");
    QTest::newRow("suggestion and two entries, in their own order") << Action([] {
        showSystemError(SystemError(QStringLiteral("D"), QStringLiteral("S"),
            { { QStringLiteral("Zeta"), QStringLiteral("z") }, { QStringLiteral("Alpha"), true } }));
    }) << 0 << QStringLiteral("D") << QStringLiteral("S\nZeta: z\nAlpha: true");
    QTest::newRow("empty suggestion adds no line feed") << Action([] {
        showSystemError(SystemError(QStringLiteral("D"), QString(), { { QStringLiteral("K"), QStringLiteral("v") } }));
    }) << 0 << QStringLiteral("D") << QStringLiteral("K: v");
    QTest::newRow("list and url values") << Action([] {
        showSystemError(SystemError(QStringLiteral("D"), std::nullopt,
            { { QStringLiteral("Files"), QStringList { QStringLiteral("a"), QStringLiteral("b") } },
                { QStringLiteral("Url"), QUrl(QStringLiteral("https://example.org/x")) } }));
    }) << 0 << QStringLiteral("D") << QStringLiteral("Files: [a, b]\nUrl: https://example.org/x");

    QTest::newRow("information in front of suggestion and entries") << Action([] {
        showError(SystemError(QStringLiteral("D"), QStringLiteral("S"), { { QStringLiteral("K"), 1 } }),
            QStringLiteral("Info"));
    }) << 0 << QStringLiteral("D") << QStringLiteral("Info\nS\nK: 1");
    QTest::newRow("information alone") << Action(
        [] { showError(std::make_exception_ptr(std::runtime_error("bad thing")), QStringLiteral("Info")); })
                                       << 0 << QStringLiteral("bad thing") << QStringLiteral("Info");
    QTest::newRow("empty information changes nothing")
        << Action([] { showError(SystemError(QStringLiteral("D"), QStringLiteral("S")), QString()); }) << 0
        << QStringLiteral("D") << QStringLiteral("S");
    QTest::newRow("any std::exception") << Action([] { showError(std::logic_error("broken")); }) << 0
                                        << QStringLiteral("broken") << none;
    QTest::newRow("not a std::exception") << Action([] { showError(std::make_exception_ptr(42)); }) << 0
                                          << QStringLiteral("An unknown error occurred.") << none;

    QTest::newRow("file error") << Action([] {
        showSystemError(SystemError::fromFile(SystemError::FileOperation::Write,
            QStringLiteral("/tmp/x/Plan.quillfern"), QStringLiteral("No space left on device")));
    }) << 0 << QStringLiteral("The file \u201cPlan.quillfern\u201d could not be saved.")
                                << QStringLiteral("File: /tmp/x/Plan.quillfern\nReason: No space left on device");
    QTest::newRow("filesystem error") << Action([] {
        showError(std::make_exception_ptr(std::filesystem::filesystem_error(
            "rename", "/a/b.quillfern", "/c/d", std::make_error_code(std::errc::permission_denied))));
    }) << 0 << QStringLiteral("The file \u201c\u0062.quillfern\u201d could not be accessed.")
                                      << QStringLiteral(
                                             "File: /a/b.quillfern\nSecond file: /c/d\nReason: Permission denied");
    QTest::newRow("network error") << Action([] {
        showSystemError(SystemError::fromNetwork(
            QUrl(QStringLiteral("https://updates.example.org/q/index.html")), QStringLiteral("Host not found")));
    }) << 0 << QStringLiteral("The server \u201cupdates.example.org\u201d could not be reached.")
                                   << QStringLiteral("Check the network connection and try again later.\n"
                                                     "URL: https://updates.example.org/q/index.html\n"
                                                     "Reason: Host not found");

    QTest::newRow("message is critical by default")
        << Action([] { showMessage(QStringLiteral("Hello")); }) << 2 << QStringLiteral("Hello") << none;
    QTest::newRow("message with a style")
        << Action([] { showMessage(QStringLiteral("Hello"), AlertStyle::Informational); }) << 1
        << QStringLiteral("Hello") << none;
}

void TestAlerts::alertTexts()
{
    QFETCH(Action, post);
    QFETCH(int, style);
    QFETCH(QString, message);
    QFETCH(QString, informativeText);

    RecordingPresenter recorder;
    const ScopedPresenter scope(recorder);
    // Once from the UI thread, once from a background thread: the same alert either way.
    for (const bool background : { false, true }) {
        recorder.clear();
        if (background)
            std::thread(post).join();
        else
            post();
        QVERIFY2(recorder.alerts().isEmpty(), "the alert must be shown later, not inside the call");
        QTRY_COMPARE(recorder.alerts().size(), 1);
        QTest::qWait(1);
        QCOMPARE(recorder.alerts().size(), 1);
        const Alert &alert = recorder.alerts().constFirst();
        QCOMPARE(int(alert.style), style);
        QCOMPARE(alert.message, message);
        QCOMPARE(alert.informativeText, informativeText);
        QVERIFY(alert.buttons.isEmpty());
    }
}

void TestAlerts::exceptionFields()
{
    Exception e(QStringLiteral("Ünicode message"));
    QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Ünicode message"));
    QVERIFY(!e.information());
    QVERIFY(!e.cause());
    e.setMessage(QStringLiteral("other"));
    QCOMPARE(e.what(), "other");

    try {
        try {
            throw std::out_of_range("inner");
        } catch (...) {
            throw Exception(QStringLiteral("outer"), std::current_exception());
        }
    } catch (const std::exception &caught) {
        const auto *outer = dynamic_cast<const Exception *>(&caught);
        QVERIFY(outer);
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, std::rethrow_exception(outer->cause()));
    }
}

void TestAlerts::backgroundThreadsPostInOrder()
{
    ThreadCheckingPresenter checker;
    const ScopedPresenter scope(checker);
    std::thread worker([] {
        for (int i = 0; i < 20; ++i)
            showMessage(QString::number(i));
    });
    worker.join();
    showError(std::runtime_error("main"));
    QCOMPARE(checker.events.size(), 0);

    QTRY_COMPARE(checker.threads.size(), 21);
    QStringList expected;
    for (int i = 0; i < 20; ++i)
        expected << QStringLiteral("open ") + QString::number(i) << QStringLiteral("close ") + QString::number(i);
    expected << QStringLiteral("open main") << QStringLiteral("close main");
    QCOMPARE(checker.events, expected);
    for (QThread *thread : std::as_const(checker.threads))
        QCOMPARE(thread, qApp->thread());
}

void TestAlerts::alertWaitsForThePreviousOne()
{
    // A real modal alert spins an event loop while it is open; the next alert must not start inside it.
    ThreadCheckingPresenter checker;
    const ScopedPresenter scope(checker);
    checker.whileFirstIsOpen = [] {
        showMessage(QStringLiteral("second"));
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    };
    showMessage(QStringLiteral("first"));
    QTRY_COMPARE(checker.events.size(), 4);
    QCOMPARE(checker.events,
        QStringList({ QStringLiteral("open first"), QStringLiteral("close first"), QStringLiteral("open second"),
            QStringLiteral("close second") }));
}

void TestAlerts::recordingPresenterScripts()
{
    RecordingPresenter recorder;
    {
        const ScopedPresenter scope(recorder);
        QCOMPARE(&presenter(), &recorder);
        recorder.scriptAlertResponse(SecondButton);
        recorder.scriptOpenPanelResult(QStringLiteral("/tmp/a.quillfern"));
        recorder.scriptSavePanelResult(std::nullopt);

        const Alert question { AlertStyle::Warning, QStringLiteral("Save?"), QString(),
            { QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("Cancel") } };
        QCOMPARE(presenter().runAlert(question), 1001);
        QCOMPARE(presenter().runAlert(question), 1000);
        QCOMPARE(presenter().runOpenPanel({}), std::optional<QString>(QStringLiteral("/tmp/a.quillfern")));
        FilePanel save;
        save.suggestedName = QStringLiteral("Untitled.quillfern");
        QCOMPARE(presenter().runSavePanel(save), std::nullopt);
        QCOMPARE(presenter().runSavePanel(save), std::nullopt);
        QCOMPARE(recorder.alerts(), QList<Alert>({ question, question }));
        QCOMPARE(recorder.openPanels().size(), 1);
        QCOMPARE(recorder.savePanels(), QList<FilePanel>({ save, save }));
        QCOMPARE(recorder.unusedScript(), 0u);
    }
    QVERIFY(dynamic_cast<WidgetPresenter *>(&presenter()));
}

void TestAlerts::widgetPresenter_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QString>("press");
    QTest::addColumn<int>("response");
    QTest::addColumn<int>("icon");

    QTest::newRow("default button") << 0 << QStringList() << QStringLiteral("OK") << 1000 << int(QMessageBox::Warning);
    QTest::newRow("second of two") << 1 << QStringList { QStringLiteral("Yes"), QStringLiteral("No") }
                                   << QStringLiteral("No") << 1001 << int(QMessageBox::Information);
    QTest::newRow("escape is cancel") << 2
                                      << QStringList { QStringLiteral("Yes"), QStringLiteral("No"),
                                             QStringLiteral("Cancel") }
                                      << QStringLiteral("<escape>") << 1002 << int(QMessageBox::Critical);
    QTest::newRow("escape is no") << 0 << QStringList { QStringLiteral("Yes"), QStringLiteral("No") }
                                  << QStringLiteral("<escape>") << 1001 << int(QMessageBox::Warning);
    QTest::newRow("escape is the last of three")
        << 1 << QStringList { QStringLiteral("Restore"), QStringLiteral("Discard"), QStringLiteral("Later") }
        << QStringLiteral("<escape>") << 1002 << int(QMessageBox::Information);
    QTest::newRow("return is the first button")
        << 0 << QStringList { QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("Cancel") }
        << QStringLiteral("<return>") << 1000 << int(QMessageBox::Warning);
    // A button answers to its first letter, alone or with Alt; a letter taken already stays with the first.
    const QStringList yesNoCancel { QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("Cancel") };
    QTest::newRow("letter n") << 0 << yesNoCancel << QStringLiteral("<key>n") << 1001 << int(QMessageBox::Warning);
    QTest::newRow("letter c") << 0 << yesNoCancel << QStringLiteral("<key>c") << 1002 << int(QMessageBox::Warning);
    QTest::newRow("alt+y") << 0 << yesNoCancel << QStringLiteral("<alt>y") << 1000 << int(QMessageBox::Warning);
    QTest::newRow("letter d of three") << 1
                                       << QStringList { QStringLiteral("Restore"), QStringLiteral("Discard"),
                                              QStringLiteral("Later") }
                                       << QStringLiteral("<key>d") << 1001 << int(QMessageBox::Information);
    QTest::newRow("shared letter") << 0
                                   << QStringList { QStringLiteral("Save"), QStringLiteral("Skip"),
                                          QStringLiteral("Cancel") }
                                   << QStringLiteral("<key>s") << 1000 << int(QMessageBox::Warning);
}

void TestAlerts::widgetPresenter()
{
    QFETCH(int, style);
    QFETCH(QStringList, buttons);
    QFETCH(QString, press);
    QFETCH(int, response);
    QFETCH(int, icon);

    const Alert alert { AlertStyle(style), QStringLiteral("Could not open <b>x</b>"),
        QStringLiteral("File: /tmp/<i>y</i>"), buttons };
    bool inspected = false;
    int shownIcon = -1;
    QString shownText;
    QString shownInformativeText;
    bool allPlain = true;
    QStringList buttonTexts;
    int ticksAfterPress = 0;
    QTimer poll;
    answerModal<QMessageBox>(poll, this, [&](QMessageBox *box) {
        if (inspected) {
            // The press did not close the box: end it rather than hang the test.
            if (++ticksAfterPress > 100)
                box->done(-1);
            return;
        }
        inspected = true;
        shownIcon = int(box->icon());
        shownText = box->text();
        shownInformativeText = box->informativeText();
        for (const QLabel *label : box->findChildren<QLabel *>()) {
            if (!label->text().isEmpty() && label->textFormat() != Qt::PlainText)
                allPlain = false;
        }
        for (const QAbstractButton *button : box->buttons())
            buttonTexts.append(button->text().remove(u'&'));
        if (press.startsWith(QLatin1String("<key>")) || press.startsWith(QLatin1String("<alt>"))) {
            QTest::keyClick(box, press.back().toLatin1(),
                press.startsWith(QLatin1String("<alt>")) ? Qt::AltModifier : Qt::NoModifier);
        } else if (press == QLatin1String("<escape>")) {
            QTest::keyClick(box, Qt::Key_Escape);
        } else if (press == QLatin1String("<return>")) {
            QTest::keyClick(box, Qt::Key_Return);
        } else {
            for (QAbstractButton *button : box->buttons()) {
                if (button->text().remove(u'&') == press)
                    button->click();
            }
        }
    });
    WidgetPresenter production;
    QCOMPARE(production.runAlert(alert), response);
    QVERIFY(inspected);
    // Ended by the press, not by the poll giving up on it.
    QVERIFY(ticksAfterPress <= 100);
    QCOMPARE(shownIcon, icon);
    QCOMPARE(shownText, alert.message);
    QCOMPARE(shownInformativeText, alert.informativeText);
    // File names and error texts are shown as they are, never as markup.
    QVERIFY(allPlain);
    // The titles read as given; the box lists them in an order of its own.
    QStringList given = buttons.isEmpty() ? QStringList { QStringLiteral("OK") } : buttons;
    given.sort();
    buttonTexts.sort();
    QCOMPARE(buttonTexts, given);
}

// A line of text stays one line, however short the message above it; a long text wraps within a
// width that is read at a glance.
void TestAlerts::widgetPresenterGivesTextsTheirWidth_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("informative");
    QTest::addColumn<int>("lines");
    QTest::newRow("short message, one line")
        << QStringLiteral("Illegal Dependency") << QStringLiteral("Task \"Rewire\" cannot depend on itself!") << 1;
    QTest::newRow("two lines") << QStringLiteral("Dropped")
                               << QStringLiteral("\"Rewire the east wing\" on \"Fit units\"\n\"B\" on \"A\"") << 2;
    QTest::newRow("a long paragraph") << QStringLiteral("Could not save")
                                      << QStringLiteral("The disk is full, so nothing was written. ").repeated(12) << 0;
}

void TestAlerts::widgetPresenterGivesTextsTheirWidth()
{
    QFETCH(QString, message);
    QFETCH(QString, informative);
    QFETCH(int, lines);
    const Alert alert { AlertStyle::Warning, message, informative, {} };
    int shownLines = -1;
    int boxWidth = 0;
    int screenWidth = 0;
    QTimer poll;
    answerModal<QMessageBox>(poll, this, [&](QMessageBox *box) {
        if (!box->isVisible())
            return;
        const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
        if (label)
            shownLines = label->contentsRect().height() / label->fontMetrics().lineSpacing();
        boxWidth = box->width();
        screenWidth = box->screen()->availableGeometry().width();
        box->done(-1);
    });
    WidgetPresenter production;
    production.runAlert(alert);
    if (lines > 0)
        QCOMPARE(shownLines, lines);
    else
        QVERIFY2(shownLines > 2, qPrintable(QString::number(shownLines)));
    QVERIFY(boxWidth <= std::max(screenWidth / 2, 200) + 200);
}

// A report naming a task of 50 MB: the box shows the beginning and the end of each line, and
// only so many lines.
void TestAlerts::widgetPresenterCutsHugeTexts()
{
    const QString huge(50 * 1024 * 1024, u'n');
    const Alert alert { AlertStyle::Warning, QStringLiteral("Task \u201c") + huge + QStringLiteral("\u201d is gone"),
        QString(huge + QStringLiteral(" on b\n")).repeated(3) + QStringLiteral("c on d\n").repeated(100), {} };
    QString shownText;
    QString shownInformativeText;
    QTimer poll;
    answerModal<QMessageBox>(poll, this, [&](QMessageBox *box) {
        shownText = box->text();
        shownInformativeText = box->informativeText();
        box->done(-1);
    });
    WidgetPresenter production;
    production.runAlert(alert);
    QVERIFY(shownText.size() <= ShownText::alertLineLimit);
    QVERIFY(shownText.startsWith(QStringLiteral("Task \u201cnnn")));
    QVERIFY(shownText.endsWith(QStringLiteral("\u201d is gone")));
    const QStringList lines = shownInformativeText.split(u'\n');
    QCOMPARE(lines.size(), ShownText::alertLineCount + 1);
    QVERIFY(lines.constFirst().size() <= ShownText::alertLineLimit);
    QVERIFY(lines.constFirst().endsWith(QStringLiteral("n on b")));
    QCOMPARE(lines.at(3), QStringLiteral("c on d"));
    QCOMPARE(lines.constLast(), QStringLiteral("\u2026"));
}

// The whole of a long report, plain, once Show Details is pressed.
void TestAlerts::widgetPresenterShowsDetailsOnRequest()
{
    Alert alert { AlertStyle::Warning, QStringLiteral("Dropped"), QStringLiteral("\"<b>a</b>\" on \"b\"\nand 1 more"),
        {} };
    alert.detailedText = QStringLiteral("\"<b>a</b>\" on \"b\"\n\"c\" on \"d\"");
    QString before;
    QString shown;
    QTimer poll;
    answerModal<QMessageBox>(poll, this, [&](QMessageBox *box) {
        auto *details = box->findChild<QTextEdit *>();
        before = details ? details->toPlainText() : QStringLiteral("(no details)");
        for (QAbstractButton *button : box->buttons()) {
            if (box->buttonRole(button) == QMessageBox::ActionRole)
                button->click();
        }
        shown = details ? details->toPlainText() : QString();
        box->done(-1);
    });
    WidgetPresenter production;
    production.runAlert(alert);
    QVERIFY(!before.contains(QStringLiteral("on")));
    QCOMPARE(shown, alert.detailedText);
}

void TestAlerts::savePanelSuffixFollowsTheChosenType_data()
{
    QTest::addColumn<int>("typeDown"); // Down presses in the type box
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("first type") << 0 << "plan"
                                << "plan.pdf";
    QTest::newRow("third type") << 2 << "plan"
                                << "plan.png";
    QTest::newRow("last type") << 3 << "plan"
                               << "plan.csv";
    QTest::newRow("typed extension wins") << 2 << "plan.svg"
                                          << "plan.svg";
}

// A person picks a type, types a bare name and presses Enter in the real panel.
void TestAlerts::savePanelSuffixFollowsTheChosenType()
{
    QFETCH(int, typeDown);
    QFETCH(QString, typed);
    QFETCH(QString, chosen);
    QTemporaryDir folder;
    FilePanel panel;
    panel.title = QStringLiteral("Export");
    panel.directory = folder.path();
    panel.defaultSuffix = QStringLiteral("pdf");
    panel.nameFilter = QStringLiteral("PDF (*.pdf);;SVG (*.svg);;PNG (*.png);;CSV (*.csv)");
    bool answered = false;
    QTimer poll;
    answerModal<QFileDialog>(poll, this, [&](QFileDialog *dialog) {
        if (answered)
            return;
        answered = true;
        auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!types || !name) {
            dialog->reject();
            return;
        }
        for (int i = 0; i < typeDown; ++i)
            QTest::keyClick(types, Qt::Key_Down);
        name->clear();
        QTest::keyClicks(name, typed);
        QTest::keyClick(name, Qt::Key_Return);
    });
    WidgetPresenter production;
    const std::optional<QString> path = production.runSavePanel(panel);
    QVERIFY(answered);
    QVERIFY(path);
    QCOMPARE(QFileInfo(*path).fileName(), chosen);
}

QTEST_MAIN(TestAlerts)
#include "tst_alerts.moc"
