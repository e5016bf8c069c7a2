#include "Log.h"

#include <atomic>
#include <cstdio>
#include <syslog.h>

namespace corvane {

Q_LOGGING_CATEGORY(lcCorvane, "quillfern", QtDebugMsg)

namespace {

std::atomic<SyslogSink> installedSink { nullptr };

void writeToSyslog(int priority, const QByteArray &text)
{
    static const bool opened = [] {
        openlog("quillfern", LOG_PID, LOG_USER);
        return true;
    }();
    Q_UNUSED(opened);
    // The entry is data, never a format: a "%n" in a file name must not reach syslog's formatter.
    syslog(priority, "%s", text.constData());
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray text = message.toUtf8();
    const SyslogSink sink = installedSink.load();
    (sink ? sink : writeToSyslog)(syslogPriority(type), text);

    const QByteArray line = qFormatLogMessage(type, context, message).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
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

QtMessageHandler installMessageHandler(SyslogSink sink)
{
    installedSink.store(sink);
    return qInstallMessageHandler(handleMessage);
}

} // namespace corvane
