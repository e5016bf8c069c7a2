// The table writeProjectCsv writes, read back: its header must be one of the two it writes.

#include "PlanImport.h"
#include "ProjectCsv.h"
#include "ProjectFile.h"

#include <cmath>

namespace PlanExchange::detail {

namespace {

class CsvInput {
public:
    explicit CsvInput(const QByteArray &bytes)
        : m_bytes(bytes)
    { }

    [[nodiscard]] bool atEnd() const { return m_pos >= m_bytes.size(); }
    [[nodiscard]] qint64 line() const { return m_line; }
    [[nodiscard]] qint64 position() const { return m_pos; }

    // One record's fields, its line break consumed.
    QStringList record()
    {
        m_recordLine = m_line;
        QStringList fields;
        QByteArray field;
        for (;;) {
            if (m_pos < m_bytes.size() && m_bytes[m_pos] == '"') {
                ++m_pos;
                for (;;) {
                    if (m_pos >= m_bytes.size())
                        fail(QStringLiteral("A quoted field has no closing quotation mark"));
                    const char c = m_bytes[m_pos++];
                    if (c == '"') {
                        if (m_pos < m_bytes.size() && m_bytes[m_pos] == '"') {
                            field += '"';
                            ++m_pos;
                            continue;
                        }
                        break;
                    }
                    if (c == '\n')
                        ++m_line;
                    field += c;
                }
            } else {
                while (
                    m_pos < m_bytes.size() && m_bytes[m_pos] != ',' && m_bytes[m_pos] != '\r' && m_bytes[m_pos] != '\n')
                    field += m_bytes[m_pos++];
            }
            fields.append(QString::fromUtf8(field));
            field.clear();
            if (m_pos >= m_bytes.size())
                return fields;
            const char c = m_bytes[m_pos++];
            if (c == ',')
                continue;
            if (c == '\r' && m_pos < m_bytes.size() && m_bytes[m_pos] == '\n')
                ++m_pos;
            else if (c != '\n')
                fail(QStringLiteral("A quoted field goes on after its closing quotation mark"));
            ++m_line;
            return fields;
        }
    }

    [[noreturn]] void fail(const QString &message) const
    {
        throw ProjectFileError(message + QStringLiteral(" (line %1)").arg(m_recordLine));
    }

private:
    const QByteArray &m_bytes;
    qsizetype m_pos = 0;
    qint64 m_line = 1;
    qint64 m_recordLine = 1;
};

qint64 minutes(const CsvInput &in, const QString &text, const char *what)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || std::abs(double(value)) > longestTime / 60)
        in.fail(QStringLiteral("The %1 \"%2\" is not a whole number of minutes Quillfern can hold")
                    .arg(QLatin1String(what), text.left(40)));
    return value * 60000;
}

} // namespace

SourcePlan readCsv(const QByteArray &bytes, const std::function<bool(qint64, qint64)> &progress)
{
    CsvInput in(bytes);
    const QStringList header = in.record();
    const QString headerText = header.join(u',');
    const bool dated = headerText == QLatin1String(datedProjectCsvHeader);
    if (!dated && headerText != QLatin1String(projectCsvHeader))
        throw ProjectFileError(QStringLiteral("The table is not one Quillfern exported: its first line should be "
                                              "\"%1\", with \"start date,end date\" for a plan with dates.")
                                   .arg(QLatin1String(projectCsvHeader)));
    SourcePlan plan;
    plan.dated = dated;
    LocalClock clock;
    const int columns = dated ? 9 : 7;
    for (quint32 records = 1; !in.atEnd(); ++records) {
        if (progress && (records & 0xfff) == 0 && !progress(in.position(), bytes.size()))
            throw ProjectReadCancelled();
        const qint64 line = in.line();
        const QStringList fields = in.record();
        if (fields.size() == 1 && fields[0].isEmpty())
            continue;
        if (fields.size() != columns)
            throw ProjectFileError(QStringLiteral("The record has %1 fields, not %2 (line %3).")
                                       .arg(fields.size())
                                       .arg(columns)
                                       .arg(line));
        SourceTask task;
        task.key = fields[0];
        task.name = fields[1];
        task.line = line;
        task.group = Task::groupFromText(fields[5]);
        if (dated) {
            const std::optional<qint64> start = parseDate(fields[7], clock);
            const std::optional<qint64> end = parseDate(fields[8], clock);
            if (!start || !end)
                in.fail(QStringLiteral("The task's start or end date is not a date of the years 1 to 9999"));
            task.start = *start;
            task.finish = *end;
        } else {
            task.start = minutes(in, fields[2], "start");
            task.finish = task.start + minutes(in, fields[3], "duration");
        }
        for (const QStringView predecessor : QStringView(fields[6]).split(u' ', Qt::SkipEmptyParts))
            plan.links.push_back({ predecessor.toString(), task.key, LinkType::FinishToStart, false, line });
        plan.tasks.push_back(std::move(task));
    }
    return plan;
}

} // namespace PlanExchange::detail
