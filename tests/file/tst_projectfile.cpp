#include "ProjectFile.h"

#include "Ids.h"
#include "Project.h"

#include <QRandomGenerator>
#include <QTest>
#include <cmath>
#include <limits>

namespace {

constexpr qint64 largestId = std::numeric_limits<qint64>::max();

QByteArray launch()
{
    return R"({"tasks":[{"duration":180.0,"start":0.0,"id":1,"name":"Build"},)"
           R"({"duration":120.0,"start":180.0,"id":2,"name":"Test","excGroup":"T"}],)"
           R"("dependencies":[{"a":1,"b":2}],"name":"Launch"})";
}

// A project file holding one task built from the given members, and no dependencies.
QByteArray oneTask(const QByteArray &members)
{
    return R"({"tasks":[{)" + members + R"(}],"dependencies":[],"name":"P"})";
}

QString readError(const QByteArray &bytes)
{
    try {
        (void)readProject(bytes);
    } catch (const ProjectFileError &error) {
        return error.message();
    }
    return QStringLiteral("(read)");
}

TaskPtr task(qint64 id, const QString &name, double start, double duration, ExclusionGroup group = std::nullopt)
{
    TaskPtr created = Task::create(id, nullptr, name, duration, start + duration, std::move(group));
    created->setStart(start);
    return created;
}

} // namespace

class TestProjectFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { Ids::resetForTesting(1, 1); }

    void roundTripKeepsEverything()
    {
        const TaskList tasks {
            task(7, QStringLiteral("Saw \"oak\" \\ 1/2\n\ttwice\x01"), -600.0, 300.0, QStringLiteral("A")),
            task(3, QString(), 0.1, 0.2),
            task(40, QStringLiteral("Sand ✓"), 1e300, 1e-300, QStringLiteral("👍🏽")),
            task(-5, QStringLiteral("Oil"), -0.0, 0.0, QStringLiteral("e\u0301")),
            task(largestId, QStringLiteral("Last"), 2e6, 1.0 / 3.0),
        };
        const auto original
            = Project::load(QStringLiteral("Workshop «spring»"), tasks, { { 7, 3 }, { 3, 40 }, { 7, 40 }, { -5, 3 } });
        QCOMPARE(original->edges().size(), 4);

        const auto copy = readProject(writeProject(*original));
        QCOMPARE(copy->name(), original->name());
        QVERIFY(copy->id() != original->id());
        QVERIFY(!copy->isDirty());
        QCOMPARE(copy->tasks().size(), original->tasks().size());
        for (qsizetype i = 0; i < tasks.size(); ++i) {
            const Task &a = *original->tasks()[i];
            const Task &b = *copy->tasks()[i];
            QCOMPARE(b.id(), a.id());
            QCOMPARE(b.name(), a.name());
            QCOMPARE(b.start(), a.start());
            QCOMPARE(std::signbit(b.start()), std::signbit(a.start()));
            QCOMPARE(b.duration(), a.duration());
            QCOMPARE(b.end(), b.start() + b.duration());
            QCOMPARE(b.exclusionGroup(), a.exclusionGroup());
            QCOMPARE(b.project(), copy.get());
        }
        QCOMPARE(copy->dependencies(), original->dependencies());
        QCOMPARE(copy->start(), original->start());
        QCOMPARE(copy->end(), original->end());
    }

    // Names of every kind of UTF-16 (ASCII, controls, the escaped few, two- and three-byte
    // characters, surrogate pairs, lone and reversed surrogates) are written as a plain
    // reference writes them: through QString::toUtf8, byte by byte.
    void namesAreWrittenAsTheirUtf8()
    {
        const auto reference = [](const QString &name) {
            QByteArray out(1, '"');
            for (const char c : name.toUtf8()) {
                const auto byte = static_cast<unsigned char>(c);
                if (c == '"' || c == '\\') {
                    out.append('\\').append(c);
                } else if (c == '\n') {
                    out.append("\\n");
                } else if (c == '\r') {
                    out.append("\\r");
                } else if (c == '\t') {
                    out.append("\\t");
                } else if (byte < 0x20) {
                    out.append("\\u00").append(QByteArray::number(byte, 16).rightJustified(2, '0'));
                } else {
                    out.append(c);
                }
            }
            return out.append('"');
        };
        const char16_t pieces[] = { u'a', u'"', u'\\', u'\n', u'\r', u'\t', 0x01, 0x1f, 0x7f, 0xe9, 0x7ff, 0x800,
            0x2713, 0xfffd, 0xd83d, 0xde00, 0xdbff, 0xdfff };
        QRandomGenerator random(20261209);
        for (int round = 0; round < 2000; ++round) {
            QString name;
            const int length = random.bounded(12);
            for (int i = 0; i < length; ++i)
                name.append(QChar(pieces[random.bounded(int(std::size(pieces)))]));
            const TaskList tasks { task(1, name, 0.0, 60.0) };
            const QByteArray written = writeProject(*Project::load(QStringLiteral("P"), tasks, {}));
            const QByteArray expected = ",\"name\":" + reference(name) + '}';
            QVERIFY2(written.contains(expected), written.constData());
        }
    }

    void writtenBytes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<TaskList>("tasks");
        QTest::addColumn<QList<IntPair>>("pairs");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("worked example") << QStringLiteral("Launch")
                                        << TaskList { task(1, QStringLiteral("Build"), 0, 180),
                                               task(2, QStringLiteral("Test"), 180, 120, QStringLiteral("T")) }
                                        << QList<IntPair> { { 1, 2 } } << launch();
        QTest::newRow("empty project") << QString() << TaskList() << QList<IntPair>()
                                       << QByteArray(R"({"tasks":[],"dependencies":[],"name":""})");
        QTest::newRow("escapes") << QStringLiteral("a\"b\\c/d\ne\rf\tg\x1fh é")
                                 << TaskList { task(1, QStringLiteral("\b\f"), 0, 1, QStringLiteral("\"")) }
                                 << QList<IntPair>()
                                 << QByteArray(
                                        "{\"tasks\":[{\"duration\":1.0,\"start\":0.0,\"id\":1,"
                                        "\"name\":\"\\u0008\\u000c\",\"excGroup\":\"\\\"\"}],\"dependencies\":[],"
                                        "\"name\":\"a\\\"b\\\\c/d\\ne\\rf\\tg\\u001fh \u00e9\"}");
        QTest::newRow("numbers") << QStringLiteral("N")
                                 << TaskList { task(-9, QStringLiteral("x"), -0.1, 1e21),
                                        task(largestId, QStringLiteral("y"), 1e-7, 2.5) }
                                 << QList<IntPair>()
                                 << QByteArray(R"({"tasks":[{"duration":1e+21,"start":-0.1,"id":-9,"name":"x"},)"
                                               R"({"duration":2.5,"start":1e-07,"id":9223372036854775807,"name":"y"}],)"
                                               R"("dependencies":[],"name":"N"})");
        QTest::newRow("positional numbers")
            << QStringLiteral("P")
            << TaskList { task(1, QStringLiteral("x"), 100000.0, 0.0001), task(2, QStringLiteral("y"), -1e16, 1e-5) }
            << QList<IntPair>()
            << QByteArray(R"({"tasks":[{"duration":0.0001,"start":100000.0,"id":1,"name":"x"},)"
                          R"({"duration":1e-05,"start":-1e+16,"id":2,"name":"y"}],"dependencies":[],"name":"P"})");
    }

    void writtenBytes()
    {
        QFETCH(QString, name);
        QFETCH(TaskList, tasks);
        QFETCH(QList<IntPair>, pairs);
        QFETCH(QByteArray, expected);
        const auto project = Project::load(name, tasks, pairs);
        QCOMPARE(writeProject(*project), expected);
    }

    void emptyProjectReadsBackAtZero()
    {
        const auto project = readProject(R"({"tasks":[],"dependencies":[],"name":""})");
        QVERIFY(project->tasks().isEmpty());
        QCOMPARE(project->start(), 0.0);
        QCOMPARE(project->end(), 0.0);
    }

    void anySpellingOfTheSameValues_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("as written") << launch();
        QTest::newRow("members in other orders") << QByteArray(
            R"({"name":"Launch","dependencies":[{"b":2,"a":1}],"tasks":[{"name":"Build","id":1,)"
            R"("start":0.0,"duration":180.0},{"excGroup":"T","id":2,"start":180,"name":"Test","duration":120}]})");
        QTest::newRow("white space") << QByteArray(
            " \n{ \"tasks\" : [ { \"duration\" : 180 , \"start\" : 0 , \"id\" : 1 ,"
            " \"name\" : \"Build\" } ,\r\n\t{ \"duration\":120,\"start\":180,\"id\":2,"
            "\"name\":\"Test\",\"excGroup\":\"T\"}],\"dependencies\":[{\"a\":1,\"b\":2}],"
            "\"name\":\"Launch\"}\n");
        QTest::newRow("number forms") << QByteArray(
            R"({"tasks":[{"duration":1.8e2,"start":-0,"id":1.0,"name":"Build"},{"duration":1200e-1,)"
            R"("start":0.18E3,"id":2e0,"name":"Test","excGroup":"T"}],"dependencies":[{"a":10E-1,"b":0.2e1}],"name":"Launch"})");
        QTest::newRow("escaped text") << QByteArray(
            R"({"tasks":[{"duration":180,"start":0,"id":1,"name":"\u0042uild"},{"duration":120,"start":180,)"
            R"("id":2,"name":"T\u0065st","excGroup":"\u0054"}],"dependencies":[{"a":1,"b":2}],"name":"L\u0061unch"})");
        QTest::newRow("unknown members") << QByteArray(
            R"({"version":[1,{"x":[[]],"x":1}],"tasks":[{"duration":180,"start":0,"id":1,"name":"Build",)"
            R"("colour":{"r":[1,2]}},{"duration":120,"start":180,"id":2,"name":"Test","excGroup":"T","colour":1}],)"
            R"("dependencies":[{"a":1,"b":2,"c":null}],"name":"Launch","extra":true})");
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF") + launch();
    }

    void anySpellingOfTheSameValues()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(writeProject(*readProject(bytes)), launch());
    }

    void exclusionGroup_data()
    {
        QTest::addColumn<QByteArray>("members");
        QTest::addColumn<QString>("group"); // empty: no group

        QTest::newRow("neither member") << QByteArray() << QString();
        QTest::newRow("one character") << QByteArray(R"(,"excGroup":"T")") << QStringLiteral("T");
        QTest::newRow("empty string") << QByteArray(R"(,"excGroup":"")") << QString();
        QTest::newRow("two characters") << QByteArray(R"(,"excGroup":"AB")") << QStringLiteral("A");
        QTest::newRow("emoji with skin tone") << QByteArray(R"(,"excGroup":"👍🏽x")") << QStringLiteral("👍🏽");
        QTest::newRow("combining accent") << QByteArray(R"(,"excGroup":"e\u0301x")") << QStringLiteral("e\u0301");
        QTest::newRow("surrogate pair escape") << QByteArray(R"(,"excGroup":"\ud83d\ude00")") << QStringLiteral("😀");
        QTest::newRow("demanding true") << QByteArray(R"(,"demanding":true)") << QStringLiteral("1");
        QTest::newRow("demanding false") << QByteArray(R"(,"demanding":false)") << QString();
        QTest::newRow("excGroup wins over demanding")
            << QByteArray(R"(,"demanding":true,"excGroup":"B")") << QStringLiteral("B");
        QTest::newRow("empty excGroup wins over demanding")
            << QByteArray(R"(,"excGroup":"","demanding":true)") << QString();
        QTest::newRow("demanding not looked at beside excGroup")
            << QByteArray(R"(,"excGroup":"C","demanding":"yes")") << QStringLiteral("C");
        QTest::newRow("demanding object beside excGroup")
            << QByteArray(R"(,"demanding":{"x":[1]},"excGroup":"D")") << QStringLiteral("D");
    }

    void exclusionGroup()
    {
        QFETCH(QByteArray, members);
        QFETCH(QString, group);
        const auto project = readProject(oneTask(R"("duration":1,"start":0,"id":1,"name":"t")" + members));
        const ExclusionGroup expected = group.isEmpty() ? ExclusionGroup() : ExclusionGroup(group);
        QCOMPARE(project->tasks().constFirst()->exclusionGroup(), expected);
    }

    void readFailsWithMessage_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");

        const QByteArray good = R"("duration":1,"start":0,"id":1,"name":"a")";
        const auto twoTasks = [&](const QByteArray &second) {
            return QByteArray(R"({"tasks":[{)" + good + "}," + second + R"(],"dependencies":[],"name":"P"})");
        };
        const auto pairs = [](const QByteArray &list) {
            return QByteArray(R"({"tasks":[],"dependencies":[)" + list + R"(],"name":"P"})");
        };

        QTest::newRow("empty") << QByteArray() << QStringLiteral("The file is empty.");
        QTest::newRow("blank") << QByteArray(" \n")
                               << QStringLiteral("The file is not valid JSON: it ends too early, at byte 2.");
        QTest::newRow("truncated") << launch().left(40)
                                   << QStringLiteral("The file is not valid JSON: it ends too early, at byte 40.");
        QTest::newRow("trailing comma")
            << QByteArray(R"({"tasks":[],"dependencies":[],})")
            << QStringLiteral(
                   "The file is not valid JSON: syntax error at byte 31 (unexpected '}'; expected string literal).");
        QTest::newRow("bad literal") << QByteArray(R"({"tasks":tru})")
                                     << QStringLiteral(
                                            "The file is not valid JSON: syntax error at byte 13 (invalid literal).");
        QTest::newRow("invalid UTF-8") << oneTask(
            R"("duration":1,"start":0,"id":1,"name":"a)"
            "\xC3\x28"
            R"(")") << QStringLiteral("The file is not valid JSON: the text at byte 52 is not UTF-8.");
        QTest::newRow("mistyped before a syntax error")
            << QByteArray(R"({"tasks":"x","dependencies":[],"name":"P"}})")
            << QStringLiteral(
                   "The file is not valid JSON: syntax error at byte 43 (unexpected '}'; expected end of input).");
        QTest::newRow("array") << QByteArray("[]")
                               << QStringLiteral("The file is not a project: it holds an array, not an object.");
        QTest::newRow("string") << QByteArray(R"("tasks")")
                                << QStringLiteral("The file is not a project: it holds a string, not an object.");

        QTest::newRow("no tasks") << QByteArray(R"({"dependencies":[],"name":"P"})")
                                  << QStringLiteral("The project has no \"tasks\" member.");
        QTest::newRow("no dependencies") << QByteArray(R"({"tasks":[],"name":"P"})")
                                         << QStringLiteral("The project has no \"dependencies\" member.");
        QTest::newRow("no name") << QByteArray(R"({"tasks":[],"dependencies":[]})")
                                 << QStringLiteral("The project has no \"name\" member.");
        QTest::newRow("tasks object") << QByteArray(R"({"tasks":{},"dependencies":[],"name":"P"})")
                                      << QStringLiteral(
                                             "The \"tasks\" member of the project is an object, not an array.");
        QTest::newRow("dependencies null")
            << QByteArray(R"({"tasks":[],"dependencies":null,"name":"P"})")
            << QStringLiteral("The \"dependencies\" member of the project is null, not an array.");
        QTest::newRow("name number") << QByteArray(R"({"tasks":[],"dependencies":[],"name":7})")
                                     << QStringLiteral("The \"name\" member of the project is a number, not a string.");
        QTest::newRow("tasks before name") << QByteArray(R"({"name":7,"tasks":[{"id":1}],"dependencies":[]})")
                                           << QStringLiteral("Task 1 of the list has no \"duration\" member.");

        QTest::newRow("task not an object")
            << twoTasks("[]") << QStringLiteral("Task 2 of the list is an array, not an object.");
        QTest::newRow("no duration") << twoTasks(R"({"start":0,"id":2,"name":"b"})")
                                     << QStringLiteral("Task 2 of the list has no \"duration\" member.");
        QTest::newRow("no start") << twoTasks(R"({"duration":1,"id":2,"name":"b"})")
                                  << QStringLiteral("Task 2 of the list has no \"start\" member.");
        QTest::newRow("no id") << twoTasks(R"({"duration":1,"start":0,"name":"b"})")
                               << QStringLiteral("Task 2 of the list has no \"id\" member.");
        QTest::newRow("no name in task") << twoTasks(R"({"duration":1,"start":0,"id":2})")
                                         << QStringLiteral("Task 2 of the list has no \"name\" member.");
        QTest::newRow("duration string") << twoTasks(R"({"duration":"1","start":0,"id":2,"name":"b"})")
                                         << QStringLiteral(
                                                "The \"duration\" member of task 2 is a string, not a number.");
        QTest::newRow("start true") << twoTasks(R"({"duration":1,"start":true,"id":2,"name":"b"})")
                                    << QStringLiteral("The \"start\" member of task 2 is true, not a number.");
        QTest::newRow("id string") << twoTasks(R"({"duration":1,"start":0,"id":"2","name":"b"})")
                                   << QStringLiteral("The \"id\" member of task 2 is a string, not a whole number.");
        QTest::newRow("id fraction") << twoTasks(R"({"duration":1,"start":0,"id":2.5,"name":"b"})")
                                     << QStringLiteral("The \"id\" member of task 2 is 2.5, not a whole number.");
        QTest::newRow("name null") << twoTasks(R"({"duration":1,"start":0,"id":2,"name":null})")
                                   << QStringLiteral("The \"name\" member of task 2 is null, not a string.");
        QTest::newRow("excGroup number") << twoTasks(R"({"duration":1,"start":0,"id":2,"name":"b","excGroup":1})")
                                         << QStringLiteral(
                                                "The \"excGroup\" member of task 2 is a number, not a string.");
        QTest::newRow("demanding string")
            << twoTasks(R"({"duration":1,"start":0,"id":2,"name":"b","demanding":"yes"})")
            << QStringLiteral("The \"demanding\" member of task 2 is a string, not true or false.");
        QTest::newRow("demanding null") << twoTasks(R"({"duration":1,"start":0,"id":2,"name":"b","demanding":null})")
                                        << QStringLiteral(
                                               "The \"demanding\" member of task 2 is null, not true or false.");
        // A repeated member is named with the byte of its second appearance, whatever it holds.
        const QString repeated = QStringLiteral("The \"%1\" member of %2 appears twice; the second is at byte %3.");
        const auto secondAt = [](const QByteArray &bytes, const QByteArray &key) { return bytes.lastIndexOf(key) + 1; };
        const QByteArray taskTwice = twoTasks(R"({"duration":1,"start":0,"id":2,"name":"b","start":"0"})");
        QTest::newRow("repeated member of a task")
            << taskTwice
            << repeated.arg(QLatin1String("start"), QLatin1String("task 2")).arg(secondAt(taskTwice, "\"start\""));
        const QByteArray tasksTwice = R"({"tasks":[{"duration":1,"start":0,"id":1,"name":"a"}],"dependencies":[],)"
                                      R"("name":"P","tasks":[]})";
        QTest::newRow("repeated tasks") << tasksTwice
                                        << repeated.arg(QLatin1String("tasks"), QLatin1String("the project"))
                                               .arg(secondAt(tasksTwice, "\"tasks\""));
        // The key is x, a backslash and a quotation mark, escaped in the file.
        const QByteArray key = QByteArray("\"x") + QByteArray(3, '\\') + QByteArray(2, '"');
        const QByteArray unknownTwice
            = "{" + key + ":1,\"tasks\":[],\"dependencies\":[],\"name\":\"P\", " + key + " :2}";
        QTest::newRow("repeated unknown member, escapes")
            << unknownTwice
            << repeated.arg(QStringLiteral("x\\\""), QLatin1String("the project")).arg(secondAt(unknownTwice, key));
        const QByteArray pairTwice = pairs(R"({"a":1,"b":2},{"b":1,"a":2,"b":2})");
        QTest::newRow("repeated member of a pair")
            << pairTwice
            << repeated.arg(QLatin1String("b"), QLatin1String("dependency 2")).arg(secondAt(pairTwice, "\"b\""));
        QTest::newRow("span beyond the largest number")
            << QByteArray(R"({"tasks":[{"duration":1,"start":-1.7e308,"id":1,"name":"a"},)"
                          R"({"duration":1,"start":1.7e308,"id":2,"name":"b"}],"dependencies":[],"name":"P"})")
            << QStringLiteral("The project spans too long a time: from its earliest start to its latest end is beyond "
                              "the largest number.");

        QTest::newRow("pair without b") << pairs(R"({"a":1,"b":2},{"a":1})")
                                        << QStringLiteral("Dependency 2 of the list has no \"b\" member.");
        QTest::newRow("pair a string") << pairs(R"({"a":"1","b":2})")
                                       << QStringLiteral(
                                              "The \"a\" member of dependency 1 is a string, not a whole number.");
        QTest::newRow("pair not an object")
            << pairs("[1,2]") << QStringLiteral("Dependency 1 of the list is an array, not an object.");

        QTest::newRow("infinite duration")
            << oneTask(R"("duration":1e400,"start":0,"id":1,"name":"a")")
            << QStringLiteral("The file holds a number too large to use, 1e400, at byte 27.");
        QTest::newRow("minus infinite start")
            << oneTask(R"("duration":1,"start":-1e400,"id":1,"name":"a")")
            << QStringLiteral("The file holds a number too large to use, -1e400, at byte 38.");
        QTest::newRow("long integer") << oneTask(
            R"("duration":)" + QByteArray(400, '9') + R"(,"start":0,"id":1,"name":"a")")
                                      << QStringLiteral("The file holds a number too large to use, %1..., at byte 422.")
                                             .arg(QString(40, QLatin1Char('9')));
        QTest::newRow("end beyond the largest number")
            << oneTask(R"("duration":1.7e308,"start":1.7e308,"id":1,"name":"a")")
            << QStringLiteral(
                   "Task 1 of the list ends too late: its start plus its duration is beyond the largest number.");
        QTest::newRow("id past 64 bits")
            << oneTask(R"("duration":1,"start":0,"id":9223372036854775808,"name":"a")")
            << QStringLiteral("The \"id\" member of task 1 is 9223372036854775808, outside the range of ids.");
        QTest::newRow("id below 64 bits")
            << oneTask(R"("duration":1,"start":0,"id":-9223372036854775809,"name":"a")")
            << QStringLiteral("The \"id\" member of task 1 is -9223372036854775809, outside the range of ids.");
        QTest::newRow("id as large double")
            << oneTask(R"("duration":1,"start":0,"id":1e19,"name":"a")")
            << QStringLiteral("The \"id\" member of task 1 is 1e19, outside the range of ids.");
        QTest::newRow("id as the next double")
            << oneTask(R"("duration":1,"start":0,"id":9223372036854775807.0,"name":"a")")
            << QStringLiteral("The \"id\" member of task 1 is 9223372036854775807.0, outside the range of ids.");
        // The parser would take a NUL between tokens for the end of the text.
        const auto nulBetween
            = [](const QByteArray &before, const QByteArray &after) -> QByteArray { return before + '\0' + after; };
        const QString nulAt
            = QStringLiteral("The file is not valid JSON: syntax error at byte %1 (unexpected NUL byte).");
        QTest::newRow("NUL after the document") << nulBetween(launch(), "garbage") << nulAt.arg(launch().size() + 1);
        QTest::newRow("NUL between members")
            << nulBetween(R"({"tasks":[],)", R"("dependencies":[],"name":"P"})") << nulAt.arg(13);
        QTest::newRow("NUL after a number")
            << oneTask(nulBetween(R"("duration":1)", R"(,"start":0,"id":1,"name":"a")")) << nulAt.arg(24);
        QTest::newRow("NUL in a name") << oneTask(nulBetween(R"("duration":1,"start":0,"id":1,"name":"a)", R"(b")"))
                                       << nulAt.arg(51);
        QTest::newRow("NULs only") << QByteArray(64, '\0') << nulAt.arg(1);
        QTest::newRow("syntax error before a NUL")
            << nulBetween(R"({"tasks":[],"dependencies":[],})", "}")
            << QStringLiteral(
                   "The file is not valid JSON: syntax error at byte 31 (unexpected '}'; expected string literal).");
        const QString utf16 = QStringLiteral(
            "The file is not valid JSON: it is UTF-16 text, and a project file is UTF-8. Save it as UTF-8, then open "
            "it again.");
        QTest::newRow("UTF-16 little-endian") << QByteArray("\xFF\xFE{\0\"\0", 6) << utf16;
        QTest::newRow("UTF-16 big-endian") << QByteArray("\xFE\xFF\0{\0\"", 6) << utf16;
        QTest::newRow("pair id past 64 bits")
            << pairs(R"({"a":1,"b":18446744073709551616})")
            << QStringLiteral("The \"b\" member of dependency 1 is 18446744073709551616, outside the range of ids.");
    }

    void originRoundTrips_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QDateTime>("origin");
        const QByteArray plan = launch();
        const auto dated
            = [&](const char *text) -> QByteArray { return plan.chopped(1) + ",\"origin\":\"" + text + "\"}"; };
        QTest::newRow("working morning") << dated("2026-12-14T08:00:00")
                                         << QDateTime(QDate(2026, 12, 14), QTime(8, 0), Qt::LocalTime);
        QTest::newRow("seconds, first year")
            << dated("0001-01-01T00:00:59") << QDateTime(QDate(1, 1, 1), QTime(0, 0, 59), Qt::LocalTime);
        QTest::newRow("leap day, last year")
            << dated("9996-02-29T23:59:59") << QDateTime(QDate(9996, 2, 29), QTime(23, 59, 59), Qt::LocalTime);
        QTest::newRow("none") << plan << QDateTime();
    }

    // A plan without a date is written as it always was; one with a date gets the member last,
    // and reads back to the same bytes.
    void originRoundTrips()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QDateTime, origin);
        const std::unique_ptr<Project> project = readProject(bytes);
        QCOMPARE(project->origin().value_or(QDateTime()), origin);
        QVERIFY(!project->isDirty());
        QCOMPARE(writeProject(*project), bytes);
        // Anywhere in the object, as every member.
        if (origin.isValid())
            QCOMPARE(readProject("{\"origin\":\"" + Project::originText(origin).toUtf8() + "\"," + launch().mid(1))
                         ->origin(),
                origin);
    }

    void originRefused_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("found");
        QTest::newRow("null") << QByteArray("null") << QStringLiteral("null");
        QTest::newRow("number") << QByteArray("20261214") << QStringLiteral("a number");
        QTest::newRow("object") << QByteArray("{}") << QStringLiteral("an object");
        const auto text = [](const char *value) { return QByteArray("\"").append(value).append('"'); };
        for (const char *bad : { "2026-12-14", "2026-12-14 08:00:00", "2026-12-14T08:00:00Z", "2026-12-14T08:00:00.5",
                 "2026-13-01T08:00:00", "2026-02-30T08:00:00", "2026-12-14T24:00:00", "0000-01-01T00:00:00",
                 "+2026-12-14T08:00", "2026-1a-14T08:00:00", "" })
            QTest::newRow(bad) << text(bad) << QStringLiteral("\"%1\"").arg(QLatin1String(bad));
    }

    void originRefused()
    {
        QFETCH(QByteArray, value);
        QFETCH(QString, found);
        QCOMPARE(readError(launch().chopped(1) + ",\"origin\":" + value + "}"),
            QStringLiteral("The \"origin\" member of the project is %1, not a local date and time such as "
                           "\"2026-12-14T08:00:00\".")
                .arg(found));
    }

    void readFailsWithMessage()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        QCOMPARE(readError(bytes), message);
    }

    void errorTextIsUtf8()
    {
        try {
            (void)readProject(R"({"tasks":[],"dependencies":[],"name":false})");
            QFAIL("read");
        } catch (const ProjectFileError &error) {
            QCOMPARE(QString::fromUtf8(error.what()), error.message());
        }
    }

    void hostileBytesFailCleanly_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QRandomGenerator random(20240607);
        for (int i = 0; i < 8; ++i) {
            QByteArray garbage(1 + static_cast<int>(random.bounded(4096)), Qt::Uninitialized);
            for (char &c : garbage)
                c = static_cast<char>(random.bounded(256));
            QTest::addRow("garbage %d", i) << garbage;
        }
        QTest::newRow("NUL bytes") << QByteArray(64, '\0');
        QTest::newRow("nested arrays") << QByteArray(200000, '[') + QByteArray(200000, ']');
        QTest::newRow("unclosed arrays") << QByteArray(200000, '[');
        QByteArray objects;
        for (int i = 0; i < 100000; ++i)
            objects += R"({"a":)";
        QTest::newRow("nested objects") << objects + "1" + QByteArray(100000, '}');
        QTest::newRow("nested inside a task") << oneTask(
            R"("duration":1,"start":0,"id":1,"name":"a","x":)" + QByteArray(100000, '[') + QByteArray(99999, ']'));
        QTest::newRow("huge exponent") << oneTask(R"("duration":1e999999999999999999999,"start":0,"id":1,"name":"a")");
    }

    void hostileBytesFailCleanly()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!readError(bytes).isEmpty());
        QVERIFY(readError(bytes) != QLatin1String("(read)"));
    }

    void deepNestingInAnUnknownMemberIsSkipped()
    {
        const QByteArray deep = QByteArray(100000, '[') + QByteArray(100000, ']');
        const auto project = readProject(oneTask(R"("duration":1,"start":0,"id":1,"name":"a","x":)" + deep));
        QCOMPARE(project->tasks().size(), 1);
    }

    void largestIdLoads()
    {
        const auto project
            = readProject(R"({"tasks":[{"duration":1,"start":0,"id":9223372036854775807,"name":"a"},)"
                          R"({"duration":1,"start":1,"id":-9223372036854775808,"name":"b"}],)"
                          R"("dependencies":[{"a":9223372036854775807,"b":-9223372036854775808}],"name":"P"})");
        QCOMPARE(project->tasks().constFirst()->id(), largestId);
        QCOMPARE(project->tasks().constLast()->id(), std::numeric_limits<qint64>::min());
        QCOMPARE(project->edges().size(), 1);
        QVERIFY_THROWS_EXCEPTION(Ids::IdsExhausted, (void)Ids::nextTaskId());
    }

    void idCounterPassesTheHighestId_data()
    {
        QTest::addColumn<qint64>("counter");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("counter below") << qint64(1) << qint64(41);
        QTest::newRow("counter at the highest id") << qint64(40) << qint64(41);
        QTest::newRow("counter already past") << qint64(100) << qint64(100);
    }

    void idCounterPassesTheHighestId()
    {
        QFETCH(qint64, counter);
        QFETCH(qint64, expected);
        Ids::resetForTesting(counter, 1);
        (void)readProject(R"({"tasks":[{"duration":1,"start":0,"id":3,"name":"a"},{"duration":1,"start":0,"id":40e0,)"
                          R"("name":"b"},{"duration":1,"start":0,"id":7,"name":"c"}],"dependencies":[],"name":"P"})");
        QCOMPARE(Ids::nextTaskId(), expected);
    }

    void pairNamingNoTaskIsDroppedAndLogged()
    {
        QTest::ignoreMessage(QtCriticalMsg, "dependency referencing non-existing task # 99");
        const auto project = readProject(R"({"tasks":[{"duration":1,"start":0,"id":1,"name":"a"}],)"
                                         R"("dependencies":[{"a":1,"b":99}],"name":"P"})");
        QCOMPARE(project->tasks().size(), 1);
        QVERIFY(project->edges().isEmpty());
        QVERIFY(project->deletedEdges().isEmpty());
    }

    void contradictedDependencyIsDroppedNotRefused()
    {
        const auto project
            = readProject(R"({"tasks":[{"duration":20,"start":0,"id":1,"name":"A"},)"
                          R"({"duration":5,"start":10,"id":2,"name":"B"}],"dependencies":[{"a":1,"b":2}],"name":"P"})");
        QVERIFY(project->edges().isEmpty());
        QCOMPARE(project->deletedEdges().size(), 1);
        QCOMPARE(project->tasks().at(1)->start(), 10.0);
        QVERIFY(!project->isDirty());
    }

    void writeRefusesNonFiniteNumbers_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("duration");
        QTest::addColumn<QString>("message");
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("infinite duration")
            << 0.0 << inf
            << QStringLiteral(
                   "The project cannot be saved: the duration of task 2 (\"Paint\") is not a finite number.");
        QTest::newRow("nan start")
            << std::nan("") << 1.0
            << QStringLiteral("The project cannot be saved: the start of task 2 (\"Paint\") is not a finite number.");
    }

    void writeRefusesNonFiniteNumbers()
    {
        QFETCH(double, start);
        QFETCH(double, duration);
        QFETCH(QString, message);
        const auto project = Project::load(QStringLiteral("P"), { task(1, QStringLiteral("Sand"), 0, 1) }, {});
        project->addTask(task(2, QStringLiteral("Paint"), 0, 1));
        const TaskPtr paint = project->tasks().constLast();
        paint->setDurationOnly(duration);
        paint->setStart(start);
        try {
            (void)writeProject(*project);
            QFAIL("written");
        } catch (const ProjectFileError &error) {
            QCOMPARE(error.message(), message);
        }
    }
};

QTEST_GUILESS_MAIN(TestProjectFile)
#include "tst_projectfile.moc"
