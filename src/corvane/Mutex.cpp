#include "Mutex.h"

#include "Log.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdint>
#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <limits>
#include <memory>
#include <unistd.h>

namespace corvane {

namespace {

std::int64_t nextMutexNumber()
{
    static std::mutex numbering;
    static std::int64_t created = 0;
    const std::lock_guard guard(numbering);
    if (created == std::numeric_limits<std::int64_t>::max())
        qFatal("The mutex counter has run out of numbers");
    return ++created;
}

bool isMainThread()
{
    if (const QCoreApplication *app = QCoreApplication::instance())
        return QThread::currentThread() == app->thread();
    return gettid() == getpid();
}

// backtrace_symbols gives "binary(mangled+offset) [address]"; the demangled function name reads better.
QString readableFrame(const char *symbol)
{
    const QByteArray line(symbol);
    const qsizetype open = line.indexOf('(');
    const qsizetype plus = line.indexOf('+', open);
    if (open < 0 || plus <= open + 1)
        return QString::fromLocal8Bit(line);
    const QByteArray mangled = line.mid(open + 1, plus - open - 1);
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(mangled.constData(), nullptr, nullptr, &status), &std::free);
    if (status != 0 || !demangled)
        return QString::fromLocal8Bit(line);
    return QString::fromLocal8Bit(line.left(open + 1)) + QString::fromLocal8Bit(demangled.get())
        + QString::fromLocal8Bit(line.mid(plus));
}

} // namespace

Mutex::Mutex(const QString &name)
    : m_name(name + u' ' + QString::number(nextMutexNumber()))
{
    trace(QStringLiteral("created"));
}

void Mutex::lock()
{
    trace(QStringLiteral("waiting to acquire"));
    m_mutex.lock();
    trace(QStringLiteral("acquired"));
}

void Mutex::unlock()
{
    m_mutex.unlock();
    trace(QStringLiteral("relinquished"));
}

void Mutex::wait()
{
    trace(QStringLiteral("waiting for"));
    std::unique_lock held(m_mutex, std::adopt_lock);
    m_condition.wait(held);
    held.release();
    trace(QStringLiteral("finished waiting for"));
}

void Mutex::waitUntil(std::chrono::steady_clock::time_point deadline)
{
    trace(QStringLiteral("waiting for"));
    std::unique_lock held(m_mutex, std::adopt_lock);
    m_condition.wait_until(held, deadline);
    held.release();
    trace(QStringLiteral("finished waiting for"));
}

void Mutex::signal()
{
    trace(QStringLiteral("signaling"));
    m_condition.notify_one();
    trace(QStringLiteral("signaled"));
}

void Mutex::trace(const QString &action) const
{
    const DebugLevel level = debugLevel.load(std::memory_order_relaxed);
    if (level == DebugLevel::NONE)
        return;
    QString line
        = action + QLatin1String(" mutex \"") + m_name + QLatin1String("\" in thread \"") + currentThreadName() + u'"';
    if (level == DebugLevel::STACK)
        line += QLatin1String(", call stack is ") + callStackText();
    qCDebug(lcCorvane).noquote() << line;
}

QString Mutex::currentThreadName()
{
    const QThread *thread = QThread::currentThread();
    if (!thread)
        return QStringLiteral("<no name>");
    const QString name = thread->objectName();
    if (name.isEmpty() && isMainThread())
        return QStringLiteral("main");
    return name;
}

QString Mutex::callStackText()
{
    void *frames[128];
    const int count = backtrace(frames, int(std::size(frames)));
    const std::unique_ptr<char *, decltype(&std::free)> symbols(backtrace_symbols(frames, count), &std::free);
    QString text;
    for (int i = 0; i < count; ++i) {
        text += u'\n';
        text += symbols ? readableFrame(symbols.get()[i]) : QString::asprintf("%p", frames[i]);
    }
    return text;
}

} // namespace corvane
