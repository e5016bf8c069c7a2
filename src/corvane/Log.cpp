#include "Log.h"

#include <QDateTime>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <thread>
#include <unistd.h>

namespace corvane {

Q_LOGGING_CATEGORY(lcCorvane, "quillfern", QtDebugMsg)

namespace {

std::atomic<SyslogSink> installedSink { nullptr };

// One datagram connection to the system log for the whole run. Where there is no log socket
// (containers), it is looked for again at most once a second, not for every entry.
class SyslogConnection {
public:
    void send(int priority, const QByteArray &text)
    {
        if (m_socket < 0 && !connect())
            return;
        char stamp[32];
        const std::time_t now = std::time(nullptr);
        std::tm local {};
        localtime_r(&now, &local);
        std::strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);
        const QByteArray entry = '<' + QByteArray::number(LOG_USER | priority) + '>' + stamp + " quillfern["
            + QByteArray::number(qint64(::getpid())) + "]: " + text;
        if (::send(m_socket, entry.constData(), size_t(entry.size()), MSG_NOSIGNAL) < 0) {
            ::close(m_socket);
            m_socket = -1;
        }
    }

private:
    bool connect()
    {
        const std::time_t now = std::time(nullptr);
        if (now == m_lastAttempt)
            return false;
        m_lastAttempt = now;
        m_socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_socket < 0)
            return false;
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, "/dev/log", sizeof address.sun_path - 1);
        if (::connect(m_socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            ::close(m_socket);
            m_socket = -1;
            return false;
        }
        return true;
    }

    int m_socket = -1;
    std::time_t m_lastAttempt = 0;
};

struct Entry {
    int priority;
    QByteArray text;
    QByteArray line;
};

// Entries wait here for the writer thread, which takes them all at once: stderr gets one write
// for a batch.
class LogWriter {
public:
    static LogWriter &instance()
    {
        static LogWriter *writer = [] {
            auto *created = new LogWriter;
            std::atexit([] { LogWriter::instance().flush(); });
            return created;
        }();
        return *writer;
    }

    void add(Entry entry)
    {
        {
            const std::lock_guard guard(m_mutex);
            m_entries.push_back(std::move(entry));
            ++m_added;
            if (!m_thread.joinable())
                m_thread = std::thread([this] { run(); });
        }
        m_wake.notify_one();
    }

    void flush()
    {
        std::unique_lock lock(m_mutex);
        const quint64 wanted = m_added;
        m_wake.notify_one();
        m_done.wait(lock, [&] { return m_written >= wanted; });
    }

private:
    LogWriter() = default;

    [[noreturn]] void run()
    {
        std::deque<Entry> batch;
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return !m_entries.empty(); });
                batch.swap(m_entries);
            }
            QByteArray lines;
            for (const Entry &entry : batch) {
                m_syslog.send(entry.priority, entry.text);
                lines += entry.line;
            }
            std::fwrite(lines.constData(), 1, size_t(lines.size()), stderr);
            std::fflush(stderr);
            {
                const std::lock_guard guard(m_mutex);
                m_written += batch.size();
            }
            batch.clear();
            m_done.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<Entry> m_entries;
    quint64 m_added = 0;
    quint64 m_written = 0;
    SyslogConnection m_syslog;
    // Runs to the end of the process; never joined.
    std::thread m_thread;
};

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString escaped = escapedControls(message);
    const QByteArray text = escaped.toUtf8();
    QByteArray line = qFormatLogMessage(type, context, escaped).toUtf8() + '\n';
    if (const SyslogSink sink = installedSink.load()) {
        sink(syslogPriority(type), text);
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
        return;
    }
    LogWriter::instance().add(Entry { syslogPriority(type), text, std::move(line) });
    // The process ends right after; what it says last must be out first.
    if (type == QtFatalMsg)
        LogWriter::instance().flush();
}

} // namespace

int syslogPriority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return LOG_DEBUG;
    case QtInfoMsg:
        return LOG_INFO;
    case QtWarningMsg:
    case QtCriticalMsg:
    case QtFatalMsg:
        break;
    }
    // Readers of the log filter on three levels only: every problem is an error.
    return LOG_ERR;
}

QString escapedForLog(QByteArrayView bytes)
{
    static constexpr char hex[] = "0123456789abcdef";
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            text.append(QLatin1String("\\\\"));
        } else if (byte >= 0x20 && byte < 0x7f) {
            text.append(QLatin1Char(c));
        } else {
            const char escaped[] = { '\\', 'x', hex[byte >> 4], hex[byte & 0xf] };
            text.append(QLatin1String(escaped, sizeof escaped));
        }
    }
    return text;
}

QString escapedControls(const QString &text, bool keepLineBreaks)
{
    const auto isControl = [keepLineBreaks](char16_t c) {
        return (c < 0x20 && !(keepLineBreaks && c == u'\n')) || (c >= 0x7f && c <= 0x9f);
    };
    if (std::none_of(text.cbegin(), text.cend(), [&](QChar c) { return isControl(c.unicode()); }))
        return text;
    static constexpr char hex[] = "0123456789abcdef";
    QString escaped;
    escaped.reserve(text.size() + 16);
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (!isControl(code)) {
            escaped.append(c);
            continue;
        }
        // As its UTF-8 bytes, the form escapedForLog gives them.
        if (code >= 0x80)
            escaped.append(QLatin1String("\\xc2"));
        const char byte[] = { '\\', 'x', hex[(code >> 4) & 0xf], hex[code & 0xf] };
        escaped.append(QLatin1String(byte, sizeof byte));
    }
    return escaped;
}

QtMessageHandler installMessageHandler(SyslogSink sink)
{
    installedSink.store(sink);
    return qInstallMessageHandler(handleMessage);
}

void flushLog()
{
    if (!installedSink.load())
        LogWriter::instance().flush();
}

} // namespace corvane
