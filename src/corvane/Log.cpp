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
        return LOG_WARNING;
    case QtCriticalMsg:
        return LOG_ERR;
    case QtFatalMsg:
        return LOG_CRIT;
    }
    return LOG_ERR;
}

QtMessageHandler installMessageHandler(SyslogSink sink)
{
    installedSink.store(sink);
    return qInstallMessageHandler(handleMessage);
}

} // namespace corvane
