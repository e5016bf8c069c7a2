#include "Mutex.h"

#include <QSet>
#include <QTest>
#include <QThread>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

// Collects the entries of the "quillfern" category from every thread.
class LogCapture {
public:
    LogCapture()
    {
        const std::lock_guard guard(lock);
        entries.clear();
        previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(previous);
        Mutex::debugLevel = DebugLevel::NONE;
    }
    [[nodiscard]] QStringList take()
    {
        const std::lock_guard guard(lock);
        return std::exchange(entries, {});
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type != QtDebugMsg || qstrcmp(context.category, "quillfern") != 0)
            return;
        const std::lock_guard guard(lock);
        entries.append(message);
    }
    static inline std::mutex lock;
    static inline QStringList entries;
    QtMessageHandler previous = nullptr;
};

QString line(const QString &action, const Mutex &mutex, const QString &thread)
{
    return action + QLatin1String(" mutex \"") + mutex.name() + QLatin1String("\" in thread \"") + thread + u'"';
}

} // namespace

using Operation = std::function<void(Mutex &)>;
Q_DECLARE_METATYPE(Operation)

class TestMutex : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Must stay first: it checks the process's first numbers.
    void numbering();
    void numbersAreUniqueAcrossThreads();
    void traceLines_data();
    void traceLines();
    void levelNoneLogsNothing();
    void threadNames_data();
    void threadNames();
    void stackTrace();
    void contention();
    void waitAndSignalAcrossThreads();
    void waitUntilPastDeadline();
};

void TestMutex::numbering()
{
    const Mutex first(QStringLiteral("queue"));
    const Mutex second(QStringLiteral("queue"));
    const Mutex unnamed(QString {});
    QCOMPARE(first.name(), QStringLiteral("queue 1"));
    QCOMPARE(second.name(), QStringLiteral("queue 2"));
    QCOMPARE(unnamed.name(), QStringLiteral(" 3"));
}

void TestMutex::numbersAreUniqueAcrossThreads()
{
    constexpr int threads = 8;
    constexpr int perThread = 250;
    std::vector<QStringList> names(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&names, t] {
            for (int i = 0; i < perThread; ++i)
                names[size_t(t)].append(Mutex(QStringLiteral("m")).name());
        });
    }
    for (auto &worker : workers)
        worker.join();
    QSet<QString> unique;
    for (const QStringList &list : names)
        unique.unite(QSet<QString>(list.begin(), list.end()));
    QCOMPARE(unique.size(), threads * perThread);
}

void TestMutex::traceLines_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<bool>("heldBefore");

    QTest::newRow("lock") << Operation([](Mutex &m) { m.lock(); })
                          << QStringList { QStringLiteral("waiting to acquire"), QStringLiteral("acquired") } << false;
    QTest::newRow("unlock") << Operation([](Mutex &m) { m.unlock(); }) << QStringList { QStringLiteral("relinquished") }
                            << true;
    QTest::newRow("signal without waiters")
        << Operation([](Mutex &m) { m.signal(); })
        << QStringList { QStringLiteral("signaling"), QStringLiteral("signaled") } << true;
    QTest::newRow("waitUntil a past deadline")
        << Operation([](Mutex &m) { m.waitUntil(std::chrono::steady_clock::now() - 1h); })
        << QStringList { QStringLiteral("waiting for"), QStringLiteral("finished waiting for") } << true;
}

void TestMutex::traceLines()
{
    QFETCH(Operation, operation);
    QFETCH(QStringList, actions);
    QFETCH(bool, heldBefore);

    Mutex mutex(QStringLiteral("cache"));
    if (heldBefore)
        mutex.lock();
    LogCapture capture;
    Mutex::debugLevel = DebugLevel::THREAD;
    operation(mutex);
    Mutex::debugLevel = DebugLevel::NONE;
    QStringList expected;
    for (const QString &action : std::as_const(actions))
        expected.append(line(action, mutex, QStringLiteral("main")));
    QCOMPARE(capture.take(), expected);
    if (!actions.contains(QStringLiteral("relinquished")))
        mutex.unlock();
}

void TestMutex::levelNoneLogsNothing()
{
    LogCapture capture;
    Mutex mutex(QStringLiteral("quiet"));
    mutex.lock();
    mutex.signal();
    mutex.unlock();
    QCOMPARE(capture.take(), QStringList());

    Mutex::debugLevel = DebugLevel::THREAD;
    const Mutex created(QStringLiteral("loud"));
    QCOMPARE(capture.take(), QStringList { line(QStringLiteral("created"), created, QStringLiteral("main")) });
}

void TestMutex::threadNames_data()
{
    QTest::addColumn<QString>("threadName");
    QTest::addColumn<bool>("onMain");
    QTest::addColumn<QString>("expected");

    QTest::newRow("main thread without a name") << QString() << true << QStringLiteral("main");
    QTest::newRow("main thread with a name") << QStringLiteral("ui") << true << QStringLiteral("ui");
    QTest::newRow("unnamed background thread") << QString() << false << QString();
    QTest::newRow("named background thread")
        << QStringLiteral("orvel.update") << false << QStringLiteral("orvel.update");
}

void TestMutex::threadNames()
{
    QFETCH(QString, threadName);
    QFETCH(bool, onMain);
    QFETCH(QString, expected);

    Mutex mutex(QStringLiteral("names"));
    LogCapture capture;
    Mutex::debugLevel = DebugLevel::THREAD;
    const auto lockAndUnlock = [&mutex] {
        mutex.lock();
        mutex.unlock();
    };
    if (onMain) {
        const QString previous = QThread::currentThread()->objectName();
        QThread::currentThread()->setObjectName(threadName);
        lockAndUnlock();
        QThread::currentThread()->setObjectName(previous);
    } else if (threadName.isEmpty()) {
        std::thread(lockAndUnlock).join();
    } else {
        std::unique_ptr<QThread> thread(QThread::create(lockAndUnlock));
        thread->setObjectName(threadName);
        thread->start();
        QVERIFY(thread->wait(10000));
    }
    const QStringList entries = capture.take();
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries.at(1), line(QStringLiteral("acquired"), mutex, expected));
}

void TestMutex::stackTrace()
{
    Mutex mutex(QStringLiteral("stacked"));
    LogCapture capture;
    Mutex::debugLevel = DebugLevel::STACK;
    mutex.signal();
    Mutex::debugLevel = DebugLevel::NONE;
    const QStringList entries = capture.take();
    QCOMPARE(entries.size(), 2);
    const QString prefix
        = line(QStringLiteral("signaling"), mutex, QStringLiteral("main")) + QLatin1String(", call stack is \n");
    QVERIFY2(entries.first().startsWith(prefix), qPrintable(entries.first()));
    const QStringList frames = entries.first().mid(prefix.size()).split(u'\n');
    QVERIFY(frames.size() >= 3);
    for (const QString &frame : frames)
        QVERIFY(!frame.isEmpty());
    // Frames are readable: the innermost ones name the tracing functions.
    QVERIFY2(frames.mid(0, 4).join(u'\n').contains(QLatin1String("corvane::Mutex::")), qPrintable(frames.join(u'\n')));
}

void TestMutex::contention()
{
    Mutex mutex(QStringLiteral("counter"));
    long counter = 0;
    constexpr int threads = 4;
    constexpr int rounds = 20000;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < rounds; ++i) {
                mutex.lock();
                counter = counter + 1;
                mutex.unlock();
            }
        });
    }
    for (auto &worker : workers)
        worker.join();
    QCOMPARE(counter, long(threads) * rounds);
}

void TestMutex::waitAndSignalAcrossThreads()
{
    Mutex mutex(QStringLiteral("handover"));
    int produced = 0;
    int consumed = 0;
    constexpr int items = 200;

    // One thread waits without a deadline, the other with a far one: both must be woken by signals.
    std::thread consumer([&] {
        mutex.lock();
        while (consumed < items) {
            while (produced == consumed)
                mutex.wait();
            ++consumed;
            mutex.signal();
        }
        mutex.unlock();
    });
    std::thread producer([&] {
        mutex.lock();
        for (int i = 0; i < items; ++i) {
            while (produced != consumed)
                mutex.waitUntil(std::chrono::steady_clock::now() + 1h);
            ++produced;
            mutex.signal();
        }
        mutex.unlock();
    });
    producer.join();
    consumer.join();
    QCOMPARE(produced, items);
    QCOMPARE(consumed, items);
}

void TestMutex::waitUntilPastDeadline()
{
    Mutex mutex(QStringLiteral("deadline"));
    mutex.lock();
    const auto before = std::chrono::steady_clock::now();
    mutex.waitUntil(before - 1s);
    QVERIFY(std::chrono::steady_clock::now() - before < 1s);
    mutex.unlock();
    // The lock was held again on return and is free now.
    std::thread([&mutex] {
        mutex.lock();
        mutex.unlock();
    }).join();
}

QTEST_GUILESS_MAIN(TestMutex)
#include "tst_mutex.moc"
