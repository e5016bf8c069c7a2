#include "Ids.h"
#include "Project.h"
#include "Task.h"
#include "TextForm.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <unordered_set>

class TestTask : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { Ids::resetForTesting(1, 1); }

    void constructionDerivesStartFromEnd()
    {
        Project project;
        const TaskPtr task = Task::create(7, &project, QStringLiteral("Paint"), 300.0, 0.0);
        QCOMPARE(task->start(), -300.0);
        QCOMPARE(task->end(), 0.0);
        QCOMPARE(task->project(), &project);
        QVERIFY(task->predecessors().isEmpty());
        QVERIFY(task->successors().isEmpty());
    }

    void endFollowsStartButNotDuration()
    {
        const TaskPtr task = Task::create(1, nullptr, QString(), 5.0, 5.0);
        task->setStart(10.0);
        QCOMPARE(task->end(), 15.0);
        task->setDurationOnly(20.0);
        QCOMPARE(task->end(), 15.0);
        task->updateEnd();
        QCOMPARE(task->end(), 30.0);
        task->setDuration(1.0);
        QCOMPARE(task->start(), 10.0);
        QCOMPARE(task->end(), 11.0);
    }

    void projectBackReferenceDoesNotOwn()
    {
        TaskPtr task;
        {
            Project project;
            task = Task::create(1, &project, QString(), 1.0, 1.0);
        }
        QCOMPARE(task->project(), nullptr);
    }

    void overlaps_data()
    {
        QTest::addColumn<double>("thisStart");
        QTest::addColumn<double>("thisEnd");
        QTest::addColumn<double>("otherStart");
        QTest::addColumn<double>("otherEnd");
        QTest::addColumn<bool>("expected");
        QTest::newRow("touching, this first") << 0.0 << 10.0 << 10.0 << 20.0 << false;
        QTest::newRow("touching, other first") << 10.0 << 20.0 << 0.0 << 10.0 << false;
        QTest::newRow("other inside this") << 0.0 << 10.0 << 5.0 << 6.0 << true;
        QTest::newRow("this inside other") << 5.0 << 6.0 << 0.0 << 10.0 << true;
        QTest::newRow("same start, other empty") << 5.0 << 10.0 << 5.0 << 5.0 << false;
        QTest::newRow("same start, this empty") << 5.0 << 5.0 << 5.0 << 10.0 << true;
        QTest::newRow("apart") << 0.0 << 1.0 << 2.0 << 3.0 << false;
        QTest::newRow("other starts inside this") << 0.0 << 10.0 << 9.0 << 30.0 << true;
    }

    void overlaps()
    {
        QFETCH(double, thisStart);
        QFETCH(double, thisEnd);
        QFETCH(double, otherStart);
        QFETCH(double, otherEnd);
        QFETCH(bool, expected);
        const TaskPtr self = Task::create(1, nullptr, QString(), thisEnd - thisStart, thisEnd);
        const TaskPtr other = Task::create(2, nullptr, QString(), otherEnd - otherStart, otherEnd);
        QCOMPARE(self->overlaps(*other), expected);
    }

    // Views read a published value inside its notification and must see the old one.
    void publishedPropertiesNotifyBeforeEveryAssignment()
    {
        const TaskPtr task = Task::create(1, nullptr, QStringLiteral("Old"), 10.0, 10.0);
        QStringList seen;
        connect(task.get(), &Task::startAboutToChange, [&] { seen << QStringLiteral("start %1").arg(task->start()); });
        connect(task.get(), &Task::endAboutToChange, [&] { seen << QStringLiteral("end %1").arg(task->end()); });
        connect(task.get(), &Task::nameAboutToChange, [&] { seen << QLatin1String("name ") + task->name(); });
        connect(task.get(), &Task::durationAboutToChange,
            [&] { seen << QStringLiteral("duration %1").arg(task->duration()); });
        connect(task.get(), &Task::exclusionGroupAboutToChange,
            [&] { seen << QLatin1String("group ") + task->exclusionGroup().value_or(QStringLiteral("-")); });
        connect(task.get(), &Task::successorsAboutToChange,
            [&] { seen << QStringLiteral("successors %1").arg(task->successors().size()); });

        task->setStart(5.0);
        task->setName(QStringLiteral("New"));
        task->setName(QStringLiteral("New"));
        task->setDuration(1.0);
        task->setExclusionGroup(QStringLiteral("A"));
        task->setSuccessors({ Task::create(2, nullptr, QString(), 1.0, 1.0) });
        QCOMPARE(seen,
            QStringList({ QStringLiteral("start 0"), QStringLiteral("end 10"), QStringLiteral("name Old"),
                QStringLiteral("name New"), QStringLiteral("duration 10"), QStringLiteral("end 15"),
                QStringLiteral("group -"), QStringLiteral("successors 0") }));
    }

    void assignTouchesOnlyWhatDiffers()
    {
        const TaskPtr task = Task::create(1, nullptr, QStringLiteral("A"), 10.0, 10.0, QStringLiteral("X"));
        const TaskPtr same = Task::create(9, nullptr, QStringLiteral("A"), 10.0, 10.0, QStringLiteral("X"));
        QSignalSpy start(task.get(), &Task::startAboutToChange);
        QSignalSpy name(task.get(), &Task::nameAboutToChange);
        QSignalSpy group(task.get(), &Task::exclusionGroupAboutToChange);
        QSignalSpy duration(task.get(), &Task::durationAboutToChange);
        QSignalSpy end(task.get(), &Task::endAboutToChange);
        task->assign(*same);
        QCOMPARE(start.count() + name.count() + group.count() + duration.count() + end.count(), 0);

        const TaskPtr other = Task::create(9, nullptr, QStringLiteral("B"), 4.0, 20.0);
        task->assign(*other);
        QCOMPARE(task->name(), QStringLiteral("B"));
        QCOMPARE(task->start(), 16.0);
        QCOMPARE(task->duration(), 4.0);
        QCOMPARE(task->end(), 20.0);
        QCOMPARE(task->exclusionGroup(), ExclusionGroup());
        QCOMPARE(task->id(), 1);
        QCOMPARE(name.count(), 1);
        QCOMPARE(group.count(), 1);
        QCOMPARE(duration.count(), 1);
    }

    void numberText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 300.0 << QStringLiteral("300.0");
        QTest::newRow("negative whole") << -300.0 << QStringLiteral("-300.0");
        QTest::newRow("zero") << 0.0 << QStringLiteral("0.0");
        QTest::newRow("tenth") << 0.1 << QStringLiteral("0.1");
        QTest::newRow("sum with rounding error") << 0.1 + 0.2 << QStringLiteral("0.30000000000000004");
        QTest::newRow("large") << 1e20 << QStringLiteral("1e+20");
        QTest::newRow("fraction") << 12.5 << QStringLiteral("12.5");
        QTest::newRow("hundred thousand") << 100000.0 << QStringLiteral("100000.0");
        QTest::newRow("ten thousandth") << 0.0001 << QStringLiteral("0.0001");
        QTest::newRow("below a ten thousandth") << 0.00001 << QStringLiteral("1e-05");
        QTest::newRow("negative zero") << -0.0 << QStringLiteral("-0.0");
        QTest::newRow("largest positional") << 9999999999999998.0 << QStringLiteral("9999999999999998.0");
        QTest::newRow("first with exponent") << 1e16 << QStringLiteral("1e+16");
        QTest::newRow("many digits, large") << 1.2345678901234568e18 << QStringLiteral("1.2345678901234568e+18");
        QTest::newRow("tiny") << 1e-300 << QStringLiteral("1e-300");
        QTest::newRow("smallest") << std::numeric_limits<double>::denorm_min() << QStringLiteral("5e-324");
        QTest::newRow("largest") << std::numeric_limits<double>::max() << QStringLiteral("1.7976931348623157e+308");
    }

    void numberText()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(TextForm::number(value), text);
        QCOMPARE(text.toDouble(), value);
    }

    void description()
    {
        Project project;
        const TaskPtr grouped = Task::create(3, &project, QStringLiteral("Paint"), 300.0, 300.0, QStringLiteral("A"));
        QCOMPARE(grouped->description(),
            QStringLiteral("(ID: 3, name: Paint, start: 0.0, duration: 300.0, end: 300.0, exclusion group: A)"));
        const TaskPtr plain = Task::create(4, &project, QString(), 300.0, 0.0);
        QCOMPARE(plain->description(), QStringLiteral("(ID: 4, name: , start: -300.0, duration: 300.0, end: 0.0)"));
    }

    void descriptionNumbers_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("duration");
        QTest::addColumn<QString>("times");
        QTest::newRow("hundred thousand seconds")
            << 0.0 << 100000.0 << QStringLiteral("start: 0.0, duration: 100000.0, end: 100000.0");
        QTest::newRow("a ten thousandth after a week")
            << 600000.0 << 0.0001 << QStringLiteral("start: 600000.0, duration: 0.0001, end: 600000.0001");
        QTest::newRow("a ten thousandth before zero")
            << -0.0001 << 0.0 << QStringLiteral("start: -0.0001, duration: 0.0, end: -0.0001");
        QTest::newRow("sum with rounding error")
            << 0.1 << 0.2 << QStringLiteral("start: 0.1, duration: 0.2, end: 0.30000000000000004");
        QTest::newRow("far future") << 1e20 << 1.0 << QStringLiteral("start: 1e+20, duration: 1.0, end: 1e+20");
    }

    void descriptionNumbers()
    {
        QFETCH(double, start);
        QFETCH(double, duration);
        QFETCH(QString, times);
        Project project;
        const TaskPtr task = Task::createStartingAt(5, &project, QStringLiteral("T"), start, duration);
        QCOMPARE(task->description(), QStringLiteral("(ID: 5, name: T, ") + times + QLatin1Char(')'));
    }

    // Random doubles of every size: the text reads back to the same bits, carries an exponent
    // exactly outside 1e-4 .. 1e16, and has no more significant digits than the shortest form.
    void numberTextRoundTrips()
    {
        QRandomGenerator random(4711);
        const auto significantDigits = [](std::string_view text) {
            text = text.substr(0, text.find('e'));
            std::string digits;
            std::copy_if(
                text.begin(), text.end(), std::back_inserter(digits), [](char c) { return c >= '0' && c <= '9'; });
            const size_t first = digits.find_first_not_of('0');
            return first == std::string::npos ? size_t(0) : digits.find_last_not_of('0') + 1 - first;
        };
        for (int i = 0; i < 5000; ++i) {
            double value;
            switch (i % 3) {
            case 0:
                value = std::bit_cast<double>(random.generate64());
                break;
            case 1:
                value = (random.generateDouble() * 9 + 1) * std::pow(10.0, random.bounded(-6, 18));
                break;
            default:
                value = random.bounded(-2000000, 2000000) / double(1 << random.bounded(0, 12));
            }
            if (!std::isfinite(value))
                continue;
            const QByteArray text = TextForm::number(value).toLatin1();
            double parsed = 0.0;
            const auto result = std::from_chars(text.cbegin(), text.cend(), parsed);
            QCOMPARE(result.ptr, text.cend());
            QCOMPARE(std::bit_cast<quint64>(parsed), std::bit_cast<quint64>(value));
            const double magnitude = std::fabs(value);
            const bool positional = magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 1e16);
            QCOMPARE(text.contains('e'), !positional);
            if (positional)
                QVERIFY2(text.contains('.') && !text.endsWith('.'), text.constData());
            char shortest[64];
            const char *end
                = std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific).ptr;
            QCOMPARE(significantDigits(text.toStdString()), significantDigits(std::string_view(shortest, end)));
        }
    }

    void identityEqualityAndIdHash()
    {
        const TaskPtr a = Task::create(5, nullptr, QStringLiteral("Same"), 1.0, 1.0);
        const TaskPtr b = Task::create(5, nullptr, QStringLiteral("Same"), 1.0, 1.0);
        QVERIFY(!(*a == *b));
        QVERIFY(*a == *a);
        QCOMPARE(qHash(*a), qHash(*b));
        QCOMPARE(TaskIdHash()(a), TaskIdHash()(b));
        std::unordered_set<TaskPtr, TaskIdHash> set { a, b };
        QCOMPARE(set.size(), size_t(2));
        const TaskPtr later = Task::create(6, nullptr, QStringLiteral("Z"), 1.0, 1.0);
        QVERIFY(*a < *later);
        QVERIFY(!(*a < *b) && !(*b < *a));
    }

    void groupFromText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<ExclusionGroup>("group");
        QTest::newRow("empty") << QString() << ExclusionGroup();
        QTest::newRow("one letter") << QStringLiteral("A") << ExclusionGroup(QStringLiteral("A"));
        QTest::newRow("first of two") << QStringLiteral("AB") << ExclusionGroup(QStringLiteral("A"));
        QTest::newRow("combining accent stays with its letter")
            << QStringLiteral("e\u0301x") << ExclusionGroup(QStringLiteral("e\u0301"));
        QTest::newRow("surrogate pair") << QStringLiteral("\U0001F600!")
                                        << ExclusionGroup(QStringLiteral("\U0001F600"));
        QTest::newRow("blank") << QStringLiteral(" A") << ExclusionGroup(QStringLiteral(" "));
    }

    void groupFromText()
    {
        QFETCH(QString, text);
        QFETCH(ExclusionGroup, group);
        QCOMPARE(Task::groupFromText(text), group);
    }

    void newTasksTakeTheNextId()
    {
        Project project;
        QCOMPARE(Task::createNew(&project)->id(), 1);
        const TaskPtr second = Task::createNew(&project);
        QCOMPARE(second->id(), 2);
        QCOMPARE(second->duration(), 300.0);
        QCOMPARE(second->end(), 0.0);
        QCOMPARE(second->name(), QString());
        Ids::raiseTaskIdPast(41);
        QCOMPARE(Task::createNew(&project)->id(), 42);
        Ids::raiseTaskIdPast(10);
        QCOMPARE(Ids::nextTaskId(), 43);
    }

    void idsNeverWrap()
    {
        constexpr qint64 largest = std::numeric_limits<qint64>::max();
        Ids::raiseTaskIdPast(largest);
        QVERIFY_THROWS_EXCEPTION(Ids::IdsExhausted, (void)Ids::takeTaskId());
        QVERIFY_THROWS_EXCEPTION(Ids::IdsExhausted, (void)Ids::nextTaskId());

        Ids::resetForTesting(largest, 1);
        QCOMPARE(Ids::takeTaskId(), largest);
        try {
            (void)Ids::takeTaskId();
            QFAIL("no exception");
        } catch (const Ids::IdsExhausted &error) {
            QVERIFY(QByteArray(error.what()).contains("every task id has been used"));
        }
    }
};

QTEST_GUILESS_MAIN(TestTask)
#include "tst_task.moc"
