#include "ExchangeWriting.h"

#include "PlanImport.h"
#include "Project.h"
#include "ProjectFile.h"
#include "TextForm.h"

#include <cmath>

namespace PlanExchange::detail {

namespace {

void putDigits(char16_t *&out, int value, int count)
{
    for (int i = count - 1; i >= 0; --i, value /= 10)
        out[i] = char16_t(u'0' + value % 10);
    out += count;
}

} // namespace

QString xmlSafe(const QString &text)
{
    const auto unsafe = [&text](qsizetype i) {
        const char16_t c = text[i].unicode();
        if (c < 0x20)
            return c != u'\t' && c != u'\n' && c != u'\r';
        if (c == 0xfffe || c == 0xffff)
            return true;
        if (QChar::isHighSurrogate(c))
            return i + 1 >= text.size() || !text[i + 1].isLowSurrogate();
        if (QChar::isLowSurrogate(c))
            return i == 0 || !text[i - 1].isHighSurrogate();
        return false;
    };
    QString safe;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!unsafe(i))
            continue;
        if (safe.isNull())
            safe = text;
        safe[i] = QChar::ReplacementCharacter;
    }
    return safe.isNull() ? text : safe;
}

XmlDocument::XmlDocument(qsizetype reserve, int indent)
{
    m_text.reserve(reserve);
    m_writer.setAutoFormatting(true);
    m_writer.setAutoFormattingIndent(indent);
}

QByteArray XmlDocument::finish()
{
    m_writer.writeEndDocument();
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + m_text.toUtf8();
}

ExportPlan::ExportPlan(const Project &project, const QDateTime &origin)
    : m_project(project)
    , m_origin(origin.toMSecsSinceEpoch())
{
    const TaskList &tasks = project.tasks();
    const size_t count = size_t(tasks.size());
    m_start.resize(count);
    m_end.resize(count);
    m_ids.resize(count);
    m_resource.resize(count);
    QHash<QString, int> resourceOf;
    m_earliest = tasks.isEmpty() ? 0 : std::numeric_limits<qint64>::max();
    m_latest = tasks.isEmpty() ? 0 : std::numeric_limits<qint64>::min();
    for (size_t row = 0; row < count; ++row) {
        const Task &task = *tasks[qsizetype(row)];
        if (!(std::abs(task.start()) < longestTime && std::abs(task.end()) < longestTime))
            throw ProjectFileError(QStringLiteral("The task %1 lies too far from the plan's start for dates.")
                                       .arg(TextForm::quoted(task.name().left(60))));
        // Rounding keeps the order of times, so no dependency breaks.
        m_start[row] = std::llround(task.start());
        m_end[row] = std::llround(task.end());
        m_earliest = std::min(m_earliest, m_start[row]);
        m_latest = std::max({ m_latest, m_end[row], m_start[row] });
        m_ids[row] = task.id();
        m_ownIds = m_ownIds && task.id() > 0 && task.id() <= std::numeric_limits<qint32>::max();
        if (const ExclusionGroup &group = task.exclusionGroup()) {
            int &resource = resourceOf[*group];
            if (resource == 0) {
                m_groups.append(*group);
                resource = int(m_groups.size());
            }
            m_resource[row] = resource;
        }
    }
    for (const qint64 seconds : { m_earliest, m_latest }) {
        const QDateTime at = origin.addSecs(seconds);
        if (!origin.isValid() || !at.isValid() || at.date().year() < 1 || at.date().year() > 9999)
            throw ProjectFileError(QStringLiteral("The plan reaches beyond the years 1 to 9999, which the file's "
                                                  "dates cannot hold. Move its start date or its tasks."));
    }
}

qint64 ExportPlan::uidOf(const Task &task) const
{
    return uidOf(m_project.rowOf(task));
}

QString ExportPlan::dateText(qint64 seconds, bool compact) const
{
    QDate date;
    QTime time;
    m_clock.fromMSecs(m_origin + seconds * 1000, date, time);
    QString text(compact ? 16 : 19, Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    putDigits(out, date.year(), 4);
    if (!compact)
        *out++ = u'-';
    putDigits(out, date.month(), 2);
    if (!compact)
        *out++ = u'-';
    putDigits(out, date.day(), 2);
    *out++ = u'T';
    putDigits(out, time.hour(), 2);
    if (!compact)
        *out++ = u':';
    putDigits(out, time.minute(), 2);
    if (!compact)
        *out++ = u':';
    putDigits(out, time.second(), 2);
    if (compact)
        *out++ = u'Z';
    return text;
}

} // namespace PlanExchange::detail
