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
// matches its type, and to stderr, with its control characters escaped (escapedControls). Without
// a sink the entries go to the system log over one connection, and both are written by a thread
// of their own in batches, so that a burst of entries costs the caller little; tests pass their
// own sink, which is called at once. Returns the handler that was installed before.
QtMessageHandler installMessageHandler(SyslogSink sink = nullptr);
// Returns once every entry logged so far has been written: at the end of the run.
void flushLog();

// Text with every control character (C0, DEL, C1) written as \xNN, the bytes of its UTF-8, so
// that neither an escape sequence nor a line break of a file name reaches a terminal or splits a
// log entry. keepLineBreaks leaves line feeds for text whose lines are meant.
[[nodiscard]] QString escapedControls(const QString &text, bool keepLineBreaks = false);

// The syslog(3) priority of a Qt message type: LOG_DEBUG, LOG_INFO, or LOG_ERR for every problem.
[[nodiscard]] int syslogPriority(QtMsgType type);

// Bytes from outside the program made safe to log: printable ASCII stays, a backslash is doubled
// and every other byte reads \xNN, so no escape sequence reaches a terminal or the journal.
[[nodiscard]] QString escapedForLog(QByteArrayView bytes);

} // namespace corvane
