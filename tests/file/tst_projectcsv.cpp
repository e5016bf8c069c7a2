#include "Project.h"
#include "ProjectCsv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

// Read back by Python's csv module, the reader spreadsheets' files are most often fed to.
class TestProjectCsv : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Elapsed time: a day from the evening before the clock goes back ends an hour earlier by the clock.
    void datedColumns()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
        const std::unique_ptr<Project> project = Project::load(QStringLiteral("P"),
            { Task::createStartingAt(1, nullptr, QStringLiteral("a"), 0.0, 86400.0),
                Task::createStartingAt(2, nullptr, QStringLiteral("b"), 86400.0, 600.0) },
            { { 1, 2 } });
        const QByteArray undated = writeProjectCsv(*project);
        project->setOrigin(QDateTime(QDate(2026, 10, 24), QTime(20, 0), Qt::LocalTime));
        QCOMPARE(writeProjectCsv(*project),
            QByteArray("id,name,start,duration,end,exclusion group,predecessors,start date,end date\r\n"
                       "1,a,-1450,1440,-10,,,2026-10-24T20:00:00,2026-10-25T19:00:00\r\n"
                       "2,b,-10,10,0,,1,2026-10-25T19:00:00,2026-10-25T19:10:00\r\n"));
        project->setOrigin(std::nullopt);
        QCOMPARE(writeProjectCsv(*project), undated);
        QVERIFY(undated.startsWith("id,name,start,duration,end,exclusion group,predecessors\r\n1,a,"));
    }

    void readBack()
    {
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (python.isEmpty())
            QSKIP("python3 is needed");
        const QStringList names { QStringLiteral("plain"), QStringLiteral("a, b"), QStringLiteral("say \"hi\""),
            QStringLiteral("two\nlines"), QStringLiteral("cr\r\nlf"), QStringLiteral(" spaced "),
            QStringLiteral("\u00e9t\u00e9 \U0001F33F"), QStringLiteral("\"") };
        TaskList tasks;
        for (int i = 0; i < names.size(); ++i)
            tasks.append(Task::createStartingAt(i + 1, nullptr, names.at(i), i * 90.0, 90.0,
                i == 2 ? ExclusionGroup(QStringLiteral(",")) : ExclusionGroup()));
        const std::unique_ptr<Project> project
            = Project::load(QStringLiteral("P"), tasks, { { 1, 3 }, { 2, 3 }, { 3, 8 } });
        const QByteArray csv = writeProjectCsv(*project);
        QVERIFY(csv.startsWith("id,name,start,duration,end,exclusion group,predecessors\r\n"));
        QVERIFY(csv.endsWith("\r\n"));

        QProcess process;
        process.start(python,
            { QStringLiteral("-c"),
                QStringLiteral("import csv, io, json, sys\n"
                               "text = io.TextIOWrapper(sys.stdin.buffer, encoding='utf-8', newline='')\n"
                               "json.dump(list(csv.reader(text, strict=True)), sys.stdout)\n") });
        process.write(csv);
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        const QJsonArray rows = QJsonDocument::fromJson(process.readAllStandardOutput()).array();
        QCOMPARE(rows.size(), names.size() + 1);
        // Minutes as the panel shows "Start at: ": counted from the project's end, 12 minutes.
        const auto row = [&](int i) { return rows.at(i + 1).toArray().toVariantList(); };
        const int starts[] = { -12, -11, -9, -8, -6, -5, -3, -2 };
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(row(i).at(0).toString(), QString::number(i + 1));
            QCOMPARE(row(i).at(1).toString(), names.at(i));
            QCOMPARE(row(i).at(2).toString(), QString::number(starts[i]));
            QCOMPARE(row(i).at(3).toString(), QStringLiteral("2"));
        }
        QCOMPARE(row(0).at(4).toString(), QStringLiteral("-11"));
        QCOMPARE(row(2).at(5).toString(), QStringLiteral(","));
        QCOMPARE(row(2).at(6).toString(), QStringLiteral("1 2"));
        QCOMPARE(row(7).at(6).toString(), QStringLiteral("3"));
        QCOMPARE(row(1).at(6).toString(), QString());
    }
};

QTEST_GUILESS_MAIN(TestProjectCsv)
#include "tst_projectcsv.moc"
