#include "../model/RandomPlans.h"
#include "PlanExchange.h"
#include "Project.h"
#include "ProjectCsv.h"
#include "ProjectFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <set>

using PlanExchange::Format;

namespace {

// A plan as the user sees it: each task's id, name, local start date, length and group, then its
// dependencies; times from the origin, or the given one for a plan without.
QString dump(const Project &project, bool ids = true)
{
    QStringList lines;
    for (const TaskPtr &task : project.tasks()) {
        const std::optional<QDateTime> at = project.dateTimeAt(task->start());
        lines.append(QStringLiteral("%1%2 %3 +%4 %5")
                         .arg(ids ? QString::number(task->id()) + u' ' : QString(), task->name(),
                             at ? Project::originText(*at) : QString::number(task->start() - project.end()))
                         .arg(task->duration())
                         .arg(task->exclusionGroup().value_or(QStringLiteral("-"))));
    }
    std::set<std::pair<QString, QString>> edges;
    for (const Edge &edge : project.edges())
        edges.emplace(ids ? QString::number(edge.predecessor->id()) : edge.predecessor->name(),
            ids ? QString::number(edge.successor->id()) : edge.successor->name());
    for (const auto &[from, to] : edges)
        lines.append(from + QLatin1String(" > ") + to);
    return lines.join(u'\n');
}

std::unique_ptr<Project> randomPlan(Random &random, bool dated, double grain)
{
    static const QStringList names { QStringLiteral("Design"), QStringLiteral("a < b & \"c\""),
        QStringLiteral("\u00e9t\u00e9 \U0001F33F"), QStringLiteral("two\nlines"), QStringLiteral("x, y"),
        QStringLiteral("  spaced  "), QString() };
    static const QStringList groups { QStringLiteral("A"), QStringLiteral("Q"), QStringLiteral("\u00e9") };
    const int count = int(1 + random.below(25));
    TaskList tasks;
    for (int i = 0; i < count; ++i) {
        const double start = random.time(3.0e6, grain) - 1.0e6;
        const double duration = random.chance(0.2) ? 0.0 : random.time(5.0e5, grain);
        const ExclusionGroup group
            = random.chance(0.5) ? ExclusionGroup(groups[random.below(quint32(groups.size()))]) : std::nullopt;
        tasks.append(Task::createStartingAt(
            1 + 7 * i, nullptr, names[random.below(quint32(names.size()))], start, duration, group));
    }
    QList<IntPair> pairs;
    std::set<std::pair<int, int>> seen;
    for (int k = 0; k < 2 * count; ++k) {
        const int a = int(random.below(quint32(count))), b = int(random.below(quint32(count)));
        if (a != b && tasks[a]->end() <= tasks[b]->start() && seen.emplace(a, b).second)
            pairs.append({ tasks[a]->id(), tasks[b]->id() });
    }
    std::unique_ptr<Project> project = Project::load(QStringLiteral("Plan %1").arg(random.below(100)), tasks, pairs);
    // Winter dates: a round trip through a local date without zone holds where no clock changes.
    if (dated)
        project->setOrigin(QDateTime(QDate(1990 + int(random.below(60)), 1, 1 + int(random.below(5))),
            QTime(int(random.below(24)), 0), Qt::LocalTime));
    return project;
}

PlanExchange::Imported import(const QByteArray &bytes, Format format)
{
    return PlanExchange::importPlan(bytes, format, QStringLiteral("fallback"));
}

QByteArray mspdi(const QByteArray &tasks, const QByteArray &extra = {})
{
    return "<?xml version=\"1.0\"?>\n<Project xmlns=\"http://schemas.microsoft.com/project\">\n"
           "<Title>T</Title><StartDate>2026-03-27T08:00:00</StartDate>\n"
        + extra + "<Tasks>\n" + tasks + "</Tasks>\n</Project>\n";
}

QByteArray task(int uid, const char *name, const char *start, const char *finish, const QByteArray &more = {})
{
    return QByteArray("<Task><UID>") + QByteArray::number(uid) + "</UID><Name>" + name + "</Name><Start>" + start
        + "</Start><Finish>" + finish + "</Finish>" + more + "</Task>\n";
}

QByteArray link(int predecessor, int type = 1, int lag = 0)
{
    return "<PredecessorLink><PredecessorUID>" + QByteArray::number(predecessor) + "</PredecessorUID><Type>"
        + QByteArray::number(type) + "</Type><LinkLag>" + QByteArray::number(lag) + "</LinkLag></PredecessorLink>";
}

QByteArray planner(const QByteArray &tasks, const QByteArray &rest = {})
{
    return "<?xml version=\"1.0\"?>\n<project name=\"P\" project-start=\"20261213T000000Z\" mrproject-version=\"2\">\n"
           "<tasks>\n"
        + tasks + "</tasks>\n" + rest + "</project>\n";
}

} // namespace

class TestPlanExchange : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    // Random plans written and read back in every format keep their tasks, ids, dates, lengths,
    // groups and dependencies; CSV keeps whole minutes, relative times and, with dates, seconds.
    void roundTrip_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("dated");
        QTest::newRow("mspdi dated") << int(Format::Mspdi) << true;
        QTest::newRow("mspdi undated") << int(Format::Mspdi) << false;
        QTest::newRow("planner dated") << int(Format::Planner) << true;
        QTest::newRow("planner undated") << int(Format::Planner) << false;
        QTest::newRow("csv dated") << int(Format::Csv) << true;
        QTest::newRow("csv undated") << int(Format::Csv) << false;
    }
    void roundTrip()
    {
        QFETCH(int, format);
        QFETCH(bool, dated);
        const QDateTime fallback(QDate(2026, 1, 12), QTime(8, 0), Qt::LocalTime);
        for (quint32 seed = 1; seed <= 150; ++seed) {
            Random random(seed);
            std::unique_ptr<Project> plan = randomPlan(random, dated, format == int(Format::Csv) && !dated ? 60 : 1);
            const QByteArray bytes = format == int(Format::Csv)
                ? writeProjectCsv(*plan)
                : PlanExchange::exportPlan(*plan, Format(format), fallback);
            const PlanExchange::Imported back = import(bytes, Format(format));
            if (!plan->origin() && format != int(Format::Csv))
                plan->setOrigin(fallback);
            QVERIFY2(back.project->deletedEdges().isEmpty(), qPrintable(QString::number(seed)));
            QCOMPARE(dump(*back.project), dump(*plan));
            QCOMPARE(back.project->name(), format == int(Format::Csv) ? QStringLiteral("fallback") : plan->name());
            if (format != int(Format::Csv))
                QVERIFY2(back.changes.isEmpty() || back.changes.last().contains(QLatin1String("overlap")),
                    qPrintable(back.changes.join(u'\n')));
        }
    }

    // What other programs read: elapsed lengths in the unit that shows them whole, starts pinned,
    // text XML can hold; and what the export says it changed.
    void written()
    {
        const std::unique_ptr<Project> project = Project::load(QStringLiteral("P\u0001"),
            { Task::createStartingAt(1, nullptr, QStringLiteral("day"), 0, 86400),
                Task::createStartingAt(2, nullptr, QStringLiteral("hours\u0007"), 86400, 7200, QStringLiteral("A")),
                Task::createStartingAt(3, nullptr, QStringLiteral("minutes"), 93600, 5400.4) },
            { { 1, 2 } });
        const QDateTime origin(QDate(2026, 12, 14), QTime(8, 0), Qt::LocalTime);
        const QByteArray mspdi = PlanExchange::exportPlan(*project, Format::Mspdi, origin);
        for (const char *expected : { "<Duration>PT24H0M0S</Duration>\n   <DurationFormat>8</DurationFormat>",
                 "<Duration>PT2H0M0S</Duration>\n   <DurationFormat>6</DurationFormat>",
                 "<Duration>PT1H30M0S</Duration>\n   <DurationFormat>4</DurationFormat>",
                 "<ConstraintType>2</ConstraintType>\n   <ConstraintDate>2026-12-15T08:00:00</ConstraintDate>",
                 "<Name>hours\xef\xbf\xbd</Name>", "<PredecessorUID>1</PredecessorUID>" })
            QVERIFY2(mspdi.contains(expected), expected);
        const QByteArray planner = PlanExchange::exportPlan(*project, Format::Planner, origin);
        for (const char *expected :
            { "<interval start=\"0000\" end=\"2400\"/>", "start=\"20261215T080000Z\" end=\"20261215T100000Z\"",
                "<constraint type=\"must-start-on\" time=\"20261215T080000Z\"/>",
                "<allocation task-id=\"2\" resource-id=\"1\" units=\"100\"/>" })
            QVERIFY2(planner.contains(expected), expected);
        QCOMPARE(import(planner, Format::Planner).project->tasks().at(1)->name(), QStringLiteral("hours\ufffd"));
        QCOMPARE(PlanExchange::exportChanges(*project, origin),
            QStringList(
                { QStringLiteral("The plan has no start date; it was exported as starting 2026-12-14 08:00:00."),
                    QStringLiteral("Times were rounded to whole seconds.") }));
        project->setOrigin(origin);
        project->changeDuration(project->tasks().at(2), 5400);
        QVERIFY(PlanExchange::exportChanges(*project, origin).isEmpty());
    }

    // What each file states becomes which tasks, links and groups, and what the alert says of it.
    void mapping_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("plan");
        QTest::addColumn<QString>("alert");
        const QByteArray a = task(1, "a", "2026-03-27T08:00:00", "2026-03-27T10:00:00");
        QTest::newRow("summary left out, children in outline order")
            << int(Format::Mspdi)
            << mspdi(task(0, "whole", "2026-03-27T08:00:00", "2026-03-28T08:00:00", "<Summary>1</Summary>")
                   + task(5, "sum", "2026-03-27T08:00:00", "2026-03-28T08:00:00", "<Summary>1</Summary>") + a
                   + task(2, "b", "2026-03-27T10:00:00", "2026-03-27T11:30:00", link(1) + link(5)))
            << "a 2026-03-27T08:00:00 +7200 -\nb 2026-03-27T10:00:00 +5400 -\na > b"
            << "Imported 2 tasks and 1 dependency.\nLeft out 2 summary tasks; the tasks under them are kept in "
               "outline order.\nLeft out 1 link to or from a summary task.";
        QTest::newRow("link types and lags become plain links")
            << int(Format::Mspdi)
            << mspdi(a + task(2, "b", "2026-03-27T12:00:00", "2026-03-27T13:00:00", link(1, 3) + link(1, 1, 600))
                   + task(3, "c", "2026-03-27T12:00:00", "2026-03-27T13:00:00", link(1, 0) + link(1, 0))
                   + task(4, "d", "2026-03-27T12:00:00", "2026-03-27T13:00:00", link(1, 2)))
            << "a 2026-03-27T08:00:00 +7200 -\nb 2026-03-27T12:00:00 +3600 -\nc 2026-03-27T12:00:00 +3600 -\n"
               "d 2026-03-27T12:00:00 +3600 -\na > b\na > c\na > d"
            << "Imported 4 tasks and 3 dependencies.\n1 start-to-start link became a finish-to-start link.\n1 "
               "finish-to-finish link became a finish-to-start link.\n1 start-to-finish link became a "
               "finish-to-start link.\nLeft out 2 repeated links.";
        QTest::newRow("a link the times contradict goes to the repair")
            << int(Format::Mspdi) << mspdi(a + task(2, "b", "2026-03-27T09:00:00", "2026-03-27T11:00:00", link(1)))
            << "a 2026-03-27T08:00:00 +7200 -\nb 2026-03-27T09:00:00 +7200 -"
            << "Imported 2 tasks and 0 dependencies.";
        QTest::newRow("resources by first use, several, one-letter names, overlaps")
            << int(Format::Mspdi)
            << mspdi(a + task(2, "b", "2026-03-27T09:00:00", "2026-03-27T11:00:00")
                       + task(3, "c", "2026-03-27T09:00:00", "2026-03-27T11:00:00"),
                   "<Resources><Resource><UID>7</UID><Name>Ann</Name></Resource><Resource><UID>8</UID>"
                   "<Name>A</Name></Resource><Resource><UID>9</UID><Name>Bo</Name></Resource></Resources>"
                   "<Assignments><Assignment><TaskUID>1</TaskUID><ResourceUID>9</ResourceUID></Assignment>"
                   "<Assignment><TaskUID>2</TaskUID><ResourceUID>8</ResourceUID></Assignment>"
                   "<Assignment><TaskUID>2</TaskUID><ResourceUID>7</ResourceUID></Assignment>"
                   "<Assignment><TaskUID>3</TaskUID><ResourceUID>7</ResourceUID></Assignment>"
                   "<Assignment><TaskUID>3</TaskUID><ResourceUID>-65535</ResourceUID></Assignment>"
                   "</Assignments>")
            << "a 2026-03-27T08:00:00 +7200 A\nb 2026-03-27T09:00:00 +7200 B\nc 2026-03-27T09:00:00 +7200 C"
            << "Imported 3 tasks and 0 dependencies.\n1 task has several resources and kept the first as its "
               "exclusion group.";
        // The clock goes forward on 29 March: a day by the clock is 23 hours.
        QTest::newRow("elapsed time across a change of the clock, dates with zones")
            << int(Format::Mspdi)
            << mspdi(task(1, "a", "2026-03-28T12:00:00", "2026-03-29T12:00:00")
                   + task(2, "b", "2026-03-29T10:00:00Z", "2026-03-29T11:00:00+02:00")
                   + "<Task><UID>3</UID><IsNull>1</IsNull></Task>"
                   + "<Task><UID>4</UID><Name>c</Name><Start>2026-03-29T13:00:00</Start><Duration>PT1H30M</Duration>"
                     "</Task>")
            << "a 2026-03-28T12:00:00 +82800 -\nb 2026-03-29T12:00:00 +-3600 -\nc 2026-03-29T13:00:00 +5400 -"
            << "Imported 3 tasks and 0 dependencies.\nLeft out 1 empty task.";
        QTest::newRow("planner: nesting, links, allocations")
            << int(Format::Planner)
            << planner("<task id=\"1\" name=\"phase\" start=\"20261214T080000Z\" end=\"20261215T080000Z\">"
                       "<task id=\"2\" name=\"x\" start=\"20261214T080000Z\" end=\"20261214T100000Z\"/>"
                       "<task id=\"3\" name=\"y\" start=\"20261214T100000Z\" end=\"20261214T110000Z\">"
                       "<predecessors><predecessor id=\"1\" predecessor-id=\"2\" type=\"SS\" lag=\"60\"/>"
                       "</predecessors></task></task>",
                   "<resources><resource id=\"1\" name=\"Kim\"/></resources>"
                   "<allocations><allocation task-id=\"3\" resource-id=\"1\"/></allocations>")
            << "x 2026-12-14T08:00:00 +7200 -\ny 2026-12-14T10:00:00 +3600 A\nx > y"
            << "Imported 2 tasks and 1 dependency.\nLeft out 1 summary task; the tasks under it are kept in outline "
               "order.\n1 start-to-start link became a finish-to-start link.\n1 link lost its lag.";
        QTest::newRow("no start date: the earliest start")
            << int(Format::Mspdi)
            << QByteArray("<Project><Name>n.xml</Name><Tasks>"
                   + task(1, "a", "2026-12-14T09:30:00", "2026-12-14T10:00:00") + "</Tasks></Project>")
            << "a 2026-12-14T09:30:00 +1800 -"
            << "Imported 1 task and 0 dependencies.\nThe plan names no start date; its earliest task's start became "
               "the project's.";
    }
    void mapping()
    {
        QFETCH(int, format);
        QFETCH(QByteArray, file);
        QFETCH(QString, plan);
        QFETCH(QString, alert);
        const PlanExchange::Imported imported = import(file, Format(format));
        QCOMPARE(dump(*imported.project, false), plan);
        QCOMPARE((QStringList { imported.kept } + imported.changes).join(u'\n'), alert);
    }

    // Every file that cannot be a plan is refused whole, with what and where.
    void hostile_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message");
        const QByteArray a = task(1, "a", "2026-03-27T08:00:00", "2026-03-27T10:00:00");
        QTest::newRow("entities") << int(Format::Mspdi)
                                  << QByteArray(
                                         "<?xml version=\"1.0\"?>\n<!DOCTYPE Project [<!ENTITY a \"aaaa\"><!ENTITY "
                                         "b \"&a;&a;&a;&a;\">]>\n<Project><Title>&b;</Title></Project>")
                                  << "The file declares a document type (<!DOCTYPE>). Quillfern reads no document type "
                                     "declarations and expands no entities, so it does not open such files (line 2)";
        QTest::newRow("external entity") << int(
            Format::Planner) << QByteArray("<!DOCTYPE project SYSTEM \"file:///etc/passwd\">\n<project name=\"&x;\"/>")
                                         << "The file declares a document type";
        QTest::newRow("undeclared entity") << int(Format::Mspdi) << QByteArray("<Project><Title>&x;</Title></Project>")
                                           << "The file is not well-formed XML";
        QTest::newRow("nesting 100,000 deep") << int(Format::Mspdi)
                                              << QByteArray("<Project><Tasks>") + QByteArray("<a>").repeated(100000)
                + QByteArray("</a>").repeated(100000) + "</Tasks></Project>"
                                              << "The file nests its elements more than 256 deep (line 1)";
        QTest::newRow("year 10000") << int(Format::Mspdi)
                                    << mspdi(task(1, "a", "10000-01-01T00:00:00", "2026-03-27T10:00:00"))
                                    << "The start of \"a\", \"10000-01-01T00:00:00\", is not a date of the years 1 to "
                                       "9999 (line 5)";
        QTest::newRow("month 13") << int(Format::Planner)
                                  << planner("<task id=\"1\" name=\"x\" start=\"20261314T080000Z\" end=\"x\"/>")
                                  << "The start of task \"x\", \"20261314T080000Z\", is not a date of the years 1 to "
                                     "9999 (line 4)";
        QTest::newRow("duration overflows")
            << int(Format::Mspdi)
            << mspdi("<Task><UID>1</UID><Name>a</Name><Start>2026-03-27T08:00:00</Start>"
                     "<Duration>PT99999999999999999999999H</Duration></Task>")
            << "The duration of \"a\", \"PT99999999999999999999999H\", is not a length Quillfern can hold (line 5)";
        QTest::newRow("lag overflows") << int(Format::Mspdi)
                                       << mspdi(a
                                              + task(2, "b", "2026-03-27T12:00:00", "2026-03-27T13:00:00",
                                                  "<PredecessorLink><PredecessorUID>1</PredecessorUID><LinkLag>1e400"
                                                  "</LinkLag></PredecessorLink>"))
                                       << "A link's lag is \"1e400\", not a length Quillfern can hold (line 6)";
        QTest::newRow("link to a missing task")
            << int(Format::Mspdi) << mspdi(a + task(2, "b", "2026-03-27T12:00:00", "2026-03-27T13:00:00", link(9)))
            << "A link names the task 9, which the file does not hold (line 6).";
        QTest::newRow("cycle") << int(Format::Mspdi)
                               << mspdi(task(1, "a", "2026-03-27T08:00:00", "2026-03-27T08:00:00", link(2))
                                      + task(2, "b", "2026-03-27T08:00:00", "2026-03-27T08:00:00", link(1)))
                               << "The file's links go round in a cycle, so no task of it can come first:";
        QTest::newRow("task follows itself")
            << int(Format::Planner)
            << planner("<task id=\"1\" name=\"x\" start=\"20261214T080000Z\" end=\"20261214T080000Z\"><predecessors>"
                       "<predecessor id=\"1\" predecessor-id=\"1\"/></predecessors></task>")
            << "The file's links go round in a cycle, so no task of it can come first: \"x\" (line 4) before \"x\".";
        QTest::newRow("same uid twice") << int(Format::Mspdi) << mspdi(a + a)
                                        << "Two tasks of the file have the same id 1 (lines 5 and 6).";
        QTest::newRow("not xml") << int(Format::Mspdi) << QByteArray("{\"tasks\": []}")
                                 << "The file is not well-formed XML";
        QTest::newRow("truncated") << int(Format::Mspdi) << mspdi(a).left(150) << "The file is not well-formed XML";
        QTest::newRow("other xml") << int(Format::Mspdi) << planner({})
                                   << "The file is not MS Project XML: its first element is not <Project> (line 2)";
        QTest::newRow("empty") << int(Format::Planner) << QByteArray() << "The file is empty.";
        QTest::newRow("no start") << int(Format::Mspdi) << mspdi("<Task><UID>1</UID><Name>a</Name></Task>")
                                  << "The task \"a\" has no <Start> (line 5)";
        QTest::newRow("csv header") << int(Format::Csv) << QByteArray("a,b\r\n")
                                    << "The table is not one Quillfern exported";
        QTest::newRow("csv missing predecessor")
            << int(Format::Csv)
            << QByteArray("id,name,start,duration,end,exclusion group,predecessors\r\n1,a,0,5,5,,3\r\n")
            << "A link names the task 3, which the file does not hold (line 2).";
        QTest::newRow("csv minutes overflow")
            << int(Format::Csv)
            << QByteArray("id,name,start,duration,end,exclusion group,predecessors\r\n1,a,0,1e+30,5,,\r\n")
            << "The duration \"1e+30\" is not a whole number of minutes Quillfern can hold (line 2)";
        QTest::newRow("csv open quote") << int(Format::Csv)
                                        << QByteArray("id,name,start,duration,end,exclusion group,predecessors\r\n"
                                                      "1,\"a,0,5,5,,\r\n")
                                        << "A quoted field has no closing quotation mark (line 2)";
    }
    void hostile()
    {
        QFETCH(int, format);
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        try {
            (void)import(file, Format(format));
            QFAIL("the file was accepted");
        } catch (const ProjectFileError &error) {
            QVERIFY2(error.message().startsWith(message), qPrintable(error.message()));
        }
    }

    // A plan TaskJuggler scheduled and wrote through its mspxml report comes in with the times its
    // own CSV report gives: the committed pair, and a fresh one when tj3 is installed.
    void taskJuggler_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("committed") << QStringLiteral(QUILLFERN_TJ_FIXTURES);
        if (const QString tj3 = QStandardPaths::findExecutable(QStringLiteral("tj3")); !tj3.isEmpty()) {
            static QTemporaryDir fresh;
            QFile::copy(QStringLiteral(QUILLFERN_TJ_FIXTURES "/plan.tjp"), fresh.filePath(QStringLiteral("plan.tjp")));
            QProcess run;
            run.setWorkingDirectory(fresh.path());
            run.start(tj3, { QStringLiteral("--silent"), QStringLiteral("plan.tjp") });
            if (run.waitForFinished(120000) && run.exitCode() == 0)
                QTest::newRow("tj3") << fresh.path();
            else
                qWarning() << "tj3 failed:" << run.readAllStandardError();
        }
    }
    void taskJuggler()
    {
        QFETCH(QString, folder);
        QFile xml(folder + QLatin1String("/plan.xml")), times(folder + QLatin1String("/times.csv"));
        QVERIFY(xml.open(QIODevice::ReadOnly));
        QVERIFY(times.open(QIODevice::ReadOnly));
        const PlanExchange::Imported imported = import(xml.readAll(), Format::Mspdi);
        QStringList expected;
        for (const QByteArray &line : times.readAll().split('\n').mid(1)) {
            const QList<QByteArray> fields = line.trimmed().split(';');
            QStringList cells;
            for (const QByteArray &field : fields)
                cells.append(QString::fromUtf8(field).remove(u'"').trimmed());
            // The report lists the summary task, which the import leaves out.
            if (cells.size() == 3 && cells[0] != QLatin1String("Build"))
                expected.append(cells.join(u' '));
        }
        QStringList got;
        for (const TaskPtr &task : imported.project->tasks())
            got.append(task->name() + u' '
                + imported.project->dateTimeAt(task->start())->toString(QStringLiteral("yyyy-MM-dd HH:mm")) + u' '
                + imported.project->dateTimeAt(task->end())->toString(QStringLiteral("yyyy-MM-dd HH:mm")));
        QCOMPARE(got, expected);
        QCOMPARE(imported.project->edges().size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestPlanExchange)
#include "tst_planexchange.moc"
