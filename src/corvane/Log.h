#pragma once

#include <QByteArrayView>
#include <QLoggingCategory>
#include <QString>

namespace corvane {

// Same name as the model's category, so that one logging rule covers the whole program while the
// library stays free of a dependency on the model.
Q_DECLARE_LOGGING_CATEGORY(lcCorvane)

// Receives every log entry that goes to the system log: a syslog(3) priority and the entry's text.
using SyslogSink = void (*)(int priority, const QByteArray &text);

// Routes every Qt log entry to the system log under the ident "quillfern", at the priority that
// matches its type, and to stderr. Without a sink the entries go to syslog(3) itself; tests pass
// their own sink. Returns the handler that was installed before.
QtMessageHandler installMessageHandler(SyslogSink sink = nullptr);

// The syslog(3) priority of a Qt message type: LOG_DEBUG, LOG_INFO, or LOG_ERR for every problem.
[[nodiscard]] int syslogPriority(QtMsgType type);

// Bytes from outside the program made safe to log: printable ASCII stays, a backslash is doubled
// and every other byte reads \xNN, so no escape sequence reaches a terminal or the journal.
[[nodiscard]] QString escapedForLog(QByteArrayView bytes);

} // namespace corvane
