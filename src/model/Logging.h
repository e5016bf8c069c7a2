#pragma once

#include <QLoggingCategory>

// The one category every Quillfern log entry goes through; the application's message
// handler routes it to the system log.
Q_DECLARE_LOGGING_CATEGORY(lcQuillfern)
