#pragma once

// What the MSPDI and Planner writers share: a plan's times in whole seconds from the origin, their
// dates, the ids the other program gets, and the exclusion groups as resources in order of first use.

#include "PlanImport.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>
#include <QXmlStreamWriter>
#include <vector>

class Project;
class Task;

namespace PlanExchange::detail {

// Text XML 1.0 can hold: control characters other than tab and line breaks, unpaired surrogates
// and U+FFFE, U+FFFF become U+FFFD.
[[nodiscard]] QString xmlSafe(const QString &text);

// A document written as text and encoded once at the end: much faster than through a device.
class XmlDocument {
public:
    XmlDocument(qsizetype reserve, int indent);
    QXmlStreamWriter &writer() { return m_writer; }
    // Ends the document: its bytes in UTF-8 after the declaration.
    [[nodiscard]] QByteArray finish();

private:
    QString m_text;
    QXmlStreamWriter m_writer { &m_text };
};

class ExportPlan {
public:
    // Throws ProjectFileError when a time lies outside the years 1 to 9999.
    ExportPlan(const Project &project, const QDateTime &origin);

    [[nodiscard]] qint64 startOf(qsizetype row) const { return m_start[row]; }
    [[nodiscard]] qint64 endOf(qsizetype row) const { return m_end[row]; }
    [[nodiscard]] qint64 earliestStart() const { return m_earliest; }
    [[nodiscard]] qint64 latestEnd() const { return m_latest; }
    // Seconds from the origin as a local date: 2026-12-14T08:00:00, or compact 20261214T080000Z.
    [[nodiscard]] QString dateText(qint64 seconds, bool compact) const;
    // The task's own id when every id fits the 32 bits other programs keep, else its row + 1.
    [[nodiscard]] qint64 uidOf(qsizetype row) const { return m_ownIds ? m_ids[row] : row + 1; }
    [[nodiscard]] qint64 uidOf(const Task &task) const;
    [[nodiscard]] const QStringList &groups() const { return m_groups; }
    // 1 + the index of the task's group in groups(); 0 for none.
    [[nodiscard]] int resourceOf(qsizetype row) const { return m_resource[row]; }

private:
    const Project &m_project;
    qint64 m_origin = 0; // milliseconds since the epoch
    mutable LocalClock m_clock;
    std::vector<qint64> m_start, m_end, m_ids;
    std::vector<int> m_resource;
    qint64 m_earliest = 0;
    qint64 m_latest = 0;
    bool m_ownIds = true;
    QStringList m_groups;
};

} // namespace PlanExchange::detail
