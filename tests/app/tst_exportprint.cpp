#include "AppTestSupport.h"
#include "ChartExport.h"
#include "GanttView.h"
#include "Ids.h"
#include "Presenter.h"
#include "Project.h"
#include "ProjectController.h"
#include "ProjectFile.h"
#include "ProjectView.h"

#include <QAction>
#include <QImage>
#include <QMainWindow>
#include <QMenuBar>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace AppTest;

namespace {

// Tasks "T0", "T1", ... of 10 minutes one after another.
std::unique_ptr<Project> plan(int count)
{
    QByteArray json = R"({"tasks":[)";
    for (int i = 0; i < count; ++i)
        json += (i ? "," : "")
            + QStringLiteral(R"({"duration":600.0,"start":%1,"id":%2,"name":"T%3"})")
                  .arg(i * 600)
                  .arg(i + 1)
                  .arg(i)
                  .toUtf8();
    return readProject(json + R"(],"dependencies":[],"name":"Plan"})");
}

QAction *fileMenuItem(ProjectController *controller, const QString &text)
{
    for (QAction *menu : controller->projectWindow()->menuBar()->actions())
        if (menu->menu() && menu->text() == QLatin1String("&File"))
            for (QAction *item : menu->menu()->actions())
                if (item->text() == text)
                    return item;
    return nullptr;
}

// A printer that writes a PDF on the paper Print Preview shows.
void printToPdf(QPrinter &printer, const QString &path)
{
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPageLayout(QPageLayout(
        ChartExport::defaultPageSize(), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
}

} // namespace

class TestExportPrint : public QObject {
    Q_OBJECT

private:
    corvane::RecordingPresenter m_presenter;
    std::optional<corvane::ScopedPresenter> m_scoped;
    QTemporaryDir m_dir;

    ProjectController *openWindow(std::unique_ptr<Project> project)
    {
        ProjectController *controller = ProjectController::open(std::move(project));
        controller->showWindow();
        if (!QTest::qWaitForWindowActive(controller->projectWindow()))
            qWarning("the project window did not become active");
        return controller;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        m_scoped.emplace(m_presenter);
    }

    void cleanup()
    {
        closeEveryWindow();
        m_presenter.clear();
    }

    void exportFromMenu_data()
    {
        QTest::addColumn<QString>("chosen");
        // What the file begins with, or the alert shown instead.
        QTest::addColumn<QByteArray>("begins");
        QTest::addColumn<QString>("alert");
        QTest::newRow("pdf") << QStringLiteral("plan.pdf") << QByteArray("%PDF") << QString();
        QTest::newRow("svg") << QStringLiteral("plan.svg") << QByteArray("<?xml") << QString();
        QTest::newRow("png") << QStringLiteral("plan.png") << QByteArray("\x89PNG") << QString();
        QTest::newRow("csv") << QStringLiteral("plan.csv") << QByteArray("id,name,start") << QString();
        QTest::newRow("other extension")
            << QStringLiteral("plan.doc") << QByteArray()
            << QStringLiteral("Choose a file name ending in .pdf, .svg, .png, .csv, .xml or .planner.");
        QTest::newRow("no such folder") << QStringLiteral("missing/plan.pdf") << QByteArray()
                                        << QStringLiteral("The file \u201cplan.pdf\u201d could not be saved.");
    }

    // File > Export... by its key, the panel answered as a person would.
    void exportFromMenu()
    {
        QFETCH(QString, chosen);
        QFETCH(QByteArray, begins);
        QFETCH(QString, alert);
        ProjectController *controller = openWindow(plan(5));
        const QString target = m_dir.filePath(chosen);
        m_presenter.scriptSavePanelResult(target);
        QTest::keyClick(controller->projectWindow(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
        deliverPostedWork();

        QCOMPARE(m_presenter.savePanels().size(), 1);
        QCOMPARE(m_presenter.savePanels().at(0).suggestedName, QStringLiteral("Plan.pdf"));
        QVERIFY(m_presenter.savePanels().at(0).nameFilter.contains(QStringLiteral("(*.png)")));
        if (alert.isEmpty()) {
            QVERIFY(m_presenter.alerts().isEmpty());
            QVERIFY(readFile(target).startsWith(begins));
        } else {
            QCOMPARE(m_presenter.alerts().size(), 1);
            QCOMPARE(m_presenter.alerts().at(0).message, alert);
            QVERIFY(!QFileInfo::exists(target));
        }
    }

    // An image follows the window's zoom.
    void exportImageAtZoom()
    {
        ProjectController *controller = openWindow(plan(5));
        const auto exportedWidth = [&](const QString &name) {
            m_presenter.scriptSavePanelResult(m_dir.filePath(name));
            controller->action(ProjectController::Export)->trigger();
            return QImage(m_dir.filePath(name)).width() / QImage(m_dir.filePath(name)).devicePixelRatio();
        };
        GanttView *chart = controller->projectView()->ganttView();
        const double atFit = exportedWidth(QStringLiteral("fit.png"));
        chart->zoomIn();
        chart->zoomIn();
        QVERIFY(chart->zoom() > 1.0);
        const double zoomed = exportedWidth(QStringLiteral("zoomed.png"));
        QCOMPARE(zoomed - atFit, std::ceil(chart->totalWidth()) - std::ceil(chart->totalWidth() / chart->zoom()));
    }

    void exportProgress_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("pdf to the end") << "progress.pdf" << false;
        QTest::newRow("pdf cancelled") << "progress.pdf" << true;
        QTest::newRow("svg to the end") << "progress.svg" << false;
        QTest::newRow("svg cancelled") << "progress.svg" << true;
    }

    // A long export shows its progress over the window, which stays drawn; Cancel, pressed
    // as a person would, stops it and leaves no file and no alert.
    void exportProgress()
    {
        QFETCH(QString, chosen);
        QFETCH(bool, cancel);
        // Enough rows for a drawing of the whole chart to tell its progress a few times.
        ProjectController *controller = openWindow(plan(5000));
        controller->setProgressDelay(std::chrono::milliseconds(0));
        const QString target = m_dir.filePath(chosen);
        QFile::remove(target);
        m_presenter.scriptSavePanelResult(target);
        int pages = 0;
        int seen = 0;
        bool modal = false;
        QTimer poll;
        poll.setInterval(1);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *progress = controller->projectWindow()->findChild<QProgressDialog *>();
            if (!progress || !progress->isVisible())
                return;
            pages = progress->maximum();
            seen = std::max(seen, progress->value());
            modal = progress->windowModality() == Qt::WindowModal;
            if (cancel && seen > 0 && !progress->wasCanceled()) {
                auto *button = progress->findChild<QPushButton *>();
                if (button)
                    QTest::mouseClick(button, Qt::LeftButton);
            }
        });
        poll.start();
        controller->action(ProjectController::Export)->trigger();
        poll.stop();
        deliverPostedWork();

        QVERIFY(modal);
        QVERIFY2(pages > 10, qPrintable(QString::number(pages)));
        QVERIFY(m_presenter.alerts().isEmpty());
        QCOMPARE(QFileInfo::exists(target), !cancel);
        if (cancel)
            QVERIFY(seen < pages);
        // Nothing of a cancelled export is left beside it either.
        QCOMPARE(QDir(m_dir.path()).entryList({ QStringLiteral("*progress*") }).size(), cancel ? 0 : 1);
        QVERIFY(!controller->projectWindow()->findChild<QProgressDialog *>());
    }

    // Paper is never narrower per hour than the window: zoomed in, the export goes over more pages
    // across, and a printer gets the very same pages.
    void paperFollowsZoom()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is needed");
        const auto footers = [](const QString &path) {
            QProcess process;
            process.start(QStringLiteral("pdftotext"), { path, QStringLiteral("-") });
            process.waitForFinished(60000);
            QStringList lines;
            const QRegularExpression footer(QStringLiteral("page \\d+ of \\d+.*"));
            for (auto found = footer.globalMatch(QString::fromUtf8(process.readAllStandardOutput())); found.hasNext();)
                lines.append(found.next().captured(0));
            return lines;
        };
        const auto columns = [](const QStringList &lines) {
            return lines.isEmpty() ? 0 : lines.first().section(QStringLiteral(" of "), -1).toInt();
        };
        ProjectController *controller = openWindow(plan(120));
        GanttView *chart = controller->projectView()->ganttView();
        const auto exported = [&](const QString &name) {
            m_presenter.scriptSavePanelResult(m_dir.filePath(name));
            QTest::keyClick(controller->projectWindow(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
            deliverPostedWork();
            return footers(m_dir.filePath(name));
        };
        const QStringList atFit = exported(QStringLiteral("fit.pdf"));
        QVERIFY2(columns(atFit) >= 1, qPrintable(atFit.join(u'\n')));
        for (int step = 0; step < 24 && chart->totalWidth() < 12000.0; ++step)
            QTest::keyClick(controller->projectWindow(), Qt::Key_Plus, Qt::ControlModifier);
        QVERIFY(chart->totalWidth() >= 12000.0);
        const QStringList zoomed = exported(QStringLiteral("zoomed.pdf"));
        // A page's chart is under 900 units wide.
        QVERIFY2(columns(zoomed) > columns(atFit) && columns(zoomed) * 900.0 >= chart->totalWidth(),
            qPrintable(zoomed.join(u'\n')));

        QPrinter printer(QPrinter::HighResolution);
        printToPdf(printer, m_dir.filePath(QStringLiteral("printed.pdf")));
        const int printed = controller->printTo(printer);
        QCOMPARE(printed, zoomed.size());
        QCOMPARE(footers(m_dir.filePath(QStringLiteral("printed.pdf"))), zoomed);
    }

    // The preview shows the pages a printer gets, several for a long plan.
    void printPreviewPages()
    {
        ProjectController *controller = openWindow(plan(120));
        QPrinter printer(QPrinter::HighResolution);
        // The preview's paper: pages go across as well as down, so its width counts too.
        printToPdf(printer, m_dir.filePath(QStringLiteral("printed.pdf")));
        const int printed = controller->printTo(printer);
        QVERIFY(printed > 1);

        QAction *item = fileMenuItem(controller, QStringLiteral("Print Preview..."));
        QVERIFY(item);
        QVERIFY(fileMenuItem(controller, QStringLiteral("Print...")));
        QCOMPARE(controller->action(ProjectController::Print)->shortcut(), QKeySequence(QKeySequence::Print));
        // Its pages' progress shows while they are laid out.
        controller->setProgressDelay(std::chrono::milliseconds(0));
        int progressShown = 0;
        QTimer poll;
        poll.setInterval(1);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *progress = controller->projectWindow()->findChild<QProgressDialog *>();
            if (progress && progress->isVisible())
                progressShown = std::max(progressShown, progress->maximum());
        });
        poll.start();
        item->trigger();
        QPrintPreviewDialog *preview = nullptr;
        QTRY_VERIFY((preview = controller->projectWindow()->findChild<QPrintPreviewDialog *>()));
        QPrintPreviewWidget *pages = preview->findChild<QPrintPreviewWidget *>();
        QVERIFY(pages);
        QTRY_COMPARE(pages->pageCount(), printed);
        poll.stop();
        QCOMPARE(progressShown, printed);
        QVERIFY(!controller->projectWindow()->findChild<QProgressDialog *>());
        preview->close();
    }
};

QTEST_MAIN(TestExportPrint)
#include "tst_exportprint.moc"
