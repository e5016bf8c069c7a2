#pragma once

// What the readers of other planners' files share: the plan as a file states it, the XML input
// every reader streams through, dates and lengths read strictly, and the one place that turns
// such a plan into a project.

#include "PlanExchange.h"
#include "Task.h"

#include <QHash>
#include <QXmlStreamReader>
#include <limits>
#include <vector>

namespace PlanExchange::detail {

// Times are milliseconds: since the epoch for a dated plan, on the axis for an undated one.
struct SourceTask {
    QString key; // how links and assignments name it
    QString name;
    qint64 start = 0;
    qint64 finish = 0;
    qint64 line = 0;
    bool summary = false;
    ExclusionGroup group; // given directly (our own table)
};

enum class LinkType { FinishToStart, StartToStart, FinishToFinish, StartToFinish };

struct SourceLink {
    QString predecessor;
    QString successor;
    LinkType type = LinkType::FinishToStart;
    bool lag = false;
    qint64 line = 0;
};

struct SourcePlan {
    QString name;
    bool dated = true;
    std::optional<qint64> origin; // milliseconds since the epoch
    std::vector<SourceTask> tasks;
    std::vector<SourceLink> links;
    QHash<QString, QString> resourceNames;
    // Task key and resource key, in the file's order.
    std::vector<std::pair<QString, QString>> assignments;
    // Changes only the format's reader knows about.
    QStringList changes;
};

[[nodiscard]] Imported build(SourcePlan plan, const QString &fallbackName);

[[nodiscard]] SourcePlan readMspdi(const QByteArray &bytes, const std::function<bool(qint64, qint64)> &progress);
[[nodiscard]] SourcePlan readPlanner(const QByteArray &bytes, const std::function<bool(qint64, qint64)> &progress);
[[nodiscard]] SourcePlan readCsv(const QByteArray &bytes, const std::function<bool(qint64, qint64)> &progress);

// A stream of XML that refuses document type declarations, entity references and nesting deeper
// than maxDepth, and fails with the line for every error.
class XmlInput {
public:
    static constexpr int maxDepth = 256;

    XmlInput(const QByteArray &bytes, const std::function<bool(qint64, qint64)> &progress);
    // Reads up to the next child element of the element last started (true) or its end (false).
    bool nextChild();
    [[nodiscard]] QStringView name() const { return m_reader.name(); }
    [[nodiscard]] QXmlStreamAttributes attributes() const { return m_reader.attributes(); }
    // The text of the element just started, up to its end; child elements are refused.
    QString text();
    // Passes over the element just started and everything in it.
    void skip();
    // Hands each child element named child of the element last started to read, which takes it
    // up to its end; other children are passed over.
    template<typename Read> void forEachChild(QStringView child, Read read)
    {
        while (nextChild()) {
            if (name() == child)
                read();
            else
                skip();
        }
    }
    [[nodiscard]] qint64 line() const { return m_reader.lineNumber(); }
    // Throws ProjectFileError: the message, then where.
    [[noreturn]] void fail(const QString &message, qint64 line = -1) const;

private:
    QXmlStreamReader::TokenType advance();

    const QByteArray &m_bytes;
    QXmlStreamReader m_reader;
    std::function<bool(qint64, qint64)> m_progress;
    qint64 m_size;
    qint64 m_fed = 0;
    int m_depth = 0;
    quint32 m_tokens = 0;
};

// Conversions between local dates and instants, the zone's offset kept for each day that has one
// throughout: a plan's dates lie in few days, and each conversion of the system's asks the file
// system whether the zone changed. Days with a change of the clock go to QDateTime each time.
class LocalClock {
public:
    [[nodiscard]] qint64 toMSecs(const QDate &date, const QTime &time);
    // The local date and time of an instant.
    void fromMSecs(qint64 msecs, QDate &date, QTime &time);

private:
    static constexpr qint64 irregular = std::numeric_limits<qint64>::min();
    QHash<qint64, qint64> m_toUtc, m_toLocal;
};

// A local date and time without zone ("2026-12-14T08:00:00", seconds and a fraction optional), or
// one with a zone (Z, +01:00); compact says Planner's form, 20261214T080000Z, read as local time
// since Planner shows its times as written. Milliseconds since the epoch; none for any other
// text or a year outside 1 to 9999.
[[nodiscard]] std::optional<qint64> parseDate(QStringView text, LocalClock &clock, bool compact = false);
// An XML Schema length (PT8H30M, P2DT4H, -PT1.5S) in seconds; none for any other text, years
// and months (no fixed length), or one longer than any plan may last.
[[nodiscard]] std::optional<double> parseDuration(QStringView text);
// The longest time a plan may hold, either way from its origin: about 9,000 years, which dates of
// four-digit years and a count of milliseconds keep.
inline constexpr double longestTime = 2.8e11;

} // namespace PlanExchange::detail
