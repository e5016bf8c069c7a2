#include "PlanImport.h"

#include "Ids.h"
#include "Project.h"
#include "ProjectCsv.h"
#include "ProjectFile.h"
#include "TextForm.h"

#include <QFileInfo>
#include <QSet>
#include <QTimeZone>
#include <algorithm>
#include <cmath>

namespace PlanExchange {

namespace detail {

XmlInput::XmlInput(const QByteArray &bytes, const std::function<bool(qint64, qint64)> &progress)
    : m_bytes(bytes)
    , m_progress(progress)
    , m_size(bytes.size())
{
    // Undeclared entities are errors; declared ones never get that far, since a DTD is refused.
    m_reader.setNamespaceProcessing(true);
}

void XmlInput::fail(const QString &message, qint64 line) const
{
    throw ProjectFileError(message + QStringLiteral(" (line %1)").arg(line < 0 ? m_reader.lineNumber() : line));
}

QXmlStreamReader::TokenType XmlInput::advance()
{
    // Fed a piece at a time: given the whole file, the reader would decode all of it at once,
    // twice its size in memory.
    QXmlStreamReader::TokenType token = m_reader.readNext();
    while (token == QXmlStreamReader::Invalid && m_reader.error() == QXmlStreamReader::PrematureEndOfDocumentError
        && m_fed < m_size) {
        constexpr qsizetype piece = 1 << 20;
        m_reader.addData(m_bytes.mid(m_fed, piece));
        m_fed += piece;
        token = m_reader.readNext();
    }
    if (m_progress && (++m_tokens & 0xfff) == 0 && !m_progress(std::min(m_reader.characterOffset(), m_size), m_size))
        throw ProjectReadCancelled();
    switch (token) {
    case QXmlStreamReader::DTD:
        fail(QStringLiteral("The file declares a document type (<!DOCTYPE>). Quillfern reads no document type "
                            "declarations and expands no entities, so it does not open such files"));
    case QXmlStreamReader::EntityReference:
        fail(QStringLiteral("The file refers to an entity (&%1;), which Quillfern does not expand")
                 .arg(m_reader.name().left(40)));
    case QXmlStreamReader::Invalid:
        fail(QStringLiteral("The file is not well-formed XML: %1").arg(m_reader.errorString()));
    case QXmlStreamReader::StartElement:
        if (++m_depth > maxDepth)
            fail(QStringLiteral("The file nests its elements more than %1 deep").arg(maxDepth));
        break;
    case QXmlStreamReader::EndElement:
        --m_depth;
        break;
    default:
        break;
    }
    return token;
}

bool XmlInput::nextChild()
{
    for (;;) {
        switch (advance()) {
        case QXmlStreamReader::StartElement:
            return true;
        case QXmlStreamReader::EndElement:
        case QXmlStreamReader::EndDocument:
            return false;
        default:
            break;
        }
    }
}

QString XmlInput::text()
{
    // Most elements hold one run of characters: taken whole, without building the text up.
    QString text;
    QXmlStreamReader::TokenType token = advance();
    if (token == QXmlStreamReader::Characters) {
        text = m_reader.text().toString();
        token = advance();
    }
    for (;; token = advance()) {
        switch (token) {
        case QXmlStreamReader::Characters:
            if (text.size() > (1 << 20))
                fail(QStringLiteral("The element <%1> holds more than a million characters").arg(m_reader.name()));
            text += m_reader.text();
            break;
        case QXmlStreamReader::StartElement:
            fail(QStringLiteral("The element <%1> stands where text belongs").arg(m_reader.name()));
        case QXmlStreamReader::EndElement:
        case QXmlStreamReader::EndDocument:
            return text;
        default:
            break;
        }
    }
}

void XmlInput::skip()
{
    for (int level = 1; level > 0;) {
        switch (advance()) {
        case QXmlStreamReader::StartElement:
            ++level;
            break;
        case QXmlStreamReader::EndElement:
            --level;
            break;
        case QXmlStreamReader::EndDocument:
            return;
        default:
            break;
        }
    }
}

namespace {

// Reads count digits at pos into value; false when one is not a digit.
bool digits(QStringView text, qsizetype &pos, int count, int &value)
{
    if (pos + count > text.size())
        return false;
    value = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = text[pos + i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c - u'0');
    }
    pos += count;
    return true;
}

bool expect(QStringView text, qsizetype &pos, char16_t c)
{
    if (pos >= text.size() || text[pos] != c)
        return false;
    ++pos;
    return true;
}

constexpr qint64 dayMs = 86400000;
constexpr qint64 epochDay = 2440588; // the Julian day of 1970-01-01

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

} // namespace

qint64 LocalClock::toMSecs(const QDate &date, const QTime &time)
{
    const qint64 day = date.toJulianDay();
    auto found = m_toUtc.find(day);
    if (found == m_toUtc.end()) {
        const QTime first(0, 0), last(23, 59, 59, 999);
        const QDateTime a(date, first, Qt::LocalTime), b(date, last, Qt::LocalTime);
        const bool steady = a.isValid() && b.isValid() && a.time() == first && b.time() == last
            && a.offsetFromUtc() == b.offsetFromUtc();
        found = m_toUtc.insert(day, steady ? qint64(a.offsetFromUtc()) * 1000 : irregular);
    }
    if (*found == irregular)
        return QDateTime(date, time, Qt::LocalTime).toMSecsSinceEpoch();
    return (day - epochDay) * dayMs + time.msecsSinceStartOfDay() - *found;
}

void LocalClock::fromMSecs(qint64 msecs, QDate &date, QTime &time)
{
    const qint64 day = floorDiv(msecs, dayMs);
    auto found = m_toLocal.find(day);
    if (found == m_toLocal.end()) {
        const QDateTime a = QDateTime::fromMSecsSinceEpoch(day * dayMs, Qt::LocalTime);
        const QDateTime b = QDateTime::fromMSecsSinceEpoch(day * dayMs + dayMs - 1, Qt::LocalTime);
        const bool steady = a.isValid() && b.isValid() && a.offsetFromUtc() == b.offsetFromUtc();
        found = m_toLocal.insert(day, steady ? qint64(a.offsetFromUtc()) * 1000 : irregular);
    }
    if (*found == irregular) {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(msecs, Qt::LocalTime);
        date = at.date();
        time = at.time();
        return;
    }
    const qint64 wall = msecs + *found;
    date = QDate::fromJulianDay(floorDiv(wall, dayMs) + epochDay);
    time = QTime::fromMSecsSinceStartOfDay(int(wall - floorDiv(wall, dayMs) * dayMs));
}

std::optional<qint64> parseDate(QStringView text, LocalClock &clock, bool compact)
{
    qsizetype pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    if (!digits(text, pos, 4, year) || (!compact && !expect(text, pos, u'-')) || !digits(text, pos, 2, month)
        || (!compact && !expect(text, pos, u'-')) || !digits(text, pos, 2, day) || !expect(text, pos, u'T')
        || !digits(text, pos, 2, hour) || (!compact && !expect(text, pos, u':')) || !digits(text, pos, 2, minute))
        return std::nullopt;
    if (compact ? pos < text.size() && text[pos] != u'Z' : expect(text, pos, u':')) {
        if (!digits(text, pos, 2, second))
            return std::nullopt;
        if (!compact && expect(text, pos, u'.')) {
            // Milliseconds; further digits are cut off.
            int digit = 0;
            for (int scale = 100; pos < text.size() && text[pos].isDigit(); scale /= 10) {
                digits(text, pos, 1, digit);
                msec += digit * scale;
            }
        }
    }
    const QDate date(year, month, day);
    const QTime time(hour, minute, second, msec);
    if (year < 1 || !date.isValid() || !time.isValid())
        return std::nullopt;
    if (compact) {
        // Planner writes Z but shows the digits as they stand, whatever the zone.
        expect(text, pos, u'Z');
        return pos == text.size() ? std::optional(clock.toMSecs(date, time)) : std::nullopt;
    }
    if (pos == text.size())
        return clock.toMSecs(date, time);
    int offset = 0;
    if (expect(text, pos, u'Z')) {
        offset = 0;
    } else {
        const bool minus = pos < text.size() && text[pos] == u'-';
        if (!expect(text, pos, u'+') && !expect(text, pos, u'-'))
            return std::nullopt;
        int hours = 0, minutes = 0;
        if (!digits(text, pos, 2, hours) || !expect(text, pos, u':') || !digits(text, pos, 2, minutes) || hours > 14
            || minutes > 59)
            return std::nullopt;
        offset = (minus ? -1 : 1) * (hours * 3600 + minutes * 60);
    }
    if (pos != text.size())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch() - qint64(offset) * 1000;
}

std::optional<double> parseDuration(QStringView text)
{
    qsizetype pos = 0;
    const bool negative = expect(text, pos, u'-');
    if (!expect(text, pos, u'P') || pos == text.size())
        return std::nullopt;
    double seconds = 0;
    bool inTime = false;
    bool any = false;
    while (pos < text.size()) {
        if (expect(text, pos, u'T')) {
            if (inTime || pos == text.size())
                return std::nullopt;
            inTime = true;
            continue;
        }
        const qsizetype from = pos;
        while (pos < text.size() && (text[pos].isDigit() || text[pos] == u'.'))
            ++pos;
        if (pos == from || pos == text.size() || pos - from > 40)
            return std::nullopt;
        bool ok = false;
        const double value = text.mid(from, pos - from).toDouble(&ok);
        if (!ok)
            return std::nullopt;
        const char16_t unit = text[pos++].unicode();
        double scale = 0;
        if (!inTime && unit == u'D')
            scale = 86400;
        else if (!inTime && unit == u'W')
            scale = 7 * 86400;
        else if (inTime && unit == u'H')
            scale = 3600;
        else if (inTime && unit == u'M')
            scale = 60;
        else if (inTime && unit == u'S')
            scale = 1;
        else
            return std::nullopt; // years and months have no length of their own
        seconds += value * scale;
        any = true;
    }
    if (!any || !(seconds <= longestTime))
        return std::nullopt;
    return negative ? -seconds : seconds;
}

namespace {

QString plural(qsizetype count, const char *one, const char *many)
{
    return QString::fromLatin1(count == 1 ? one : many).arg(count);
}

// The letters exclusion groups are given in the order resources are first used.
const QString groupLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");

// Tasks that lie over another member of their group, each counted once.
qsizetype overlappingMembers(const Project &project)
{
    QHash<QString, std::vector<const Task *>> groups;
    for (const TaskPtr &task : project.tasks())
        if (task->exclusionGroup())
            groups[*task->exclusionGroup()].push_back(task.get());
    qsizetype count = 0;
    for (std::vector<const Task *> &members : groups) {
        std::sort(members.begin(), members.end(), [](const Task *a, const Task *b) { return a->start() < b->start(); });
        std::vector<char> marked(members.size(), 0);
        size_t latest = 0;
        for (size_t i = 1; i < members.size(); ++i) {
            if (members[i]->start() < members[latest]->end()) {
                marked[i] = marked[latest] = 1;
            }
            if (members[i]->end() > members[latest]->end())
                latest = i;
        }
        count += std::count(marked.begin(), marked.end(), 1);
    }
    return count;
}

// Refuses links that go round: Kahn's order leaves the tasks of every cycle, and walking back
// along the links from one of them finds a cycle to name.
void refuseCycles(const std::vector<SourceTask> &tasks, const std::vector<std::pair<int, int>> &links)
{
    const int count = int(tasks.size());
    std::vector<int> inDegree(count, 0), offsets(count + 1, 0), targets(links.size());
    for (const auto &[from, to] : links) {
        ++offsets[from + 1];
        ++inDegree[to];
    }
    for (int i = 0; i < count; ++i)
        offsets[i + 1] += offsets[i];
    std::vector<int> fill(offsets.begin(), offsets.end() - 1);
    for (const auto &[from, to] : links)
        targets[fill[from]++] = to;
    std::vector<int> ready;
    for (int i = 0; i < count; ++i)
        if (inDegree[i] == 0)
            ready.push_back(i);
    int done = 0;
    while (!ready.empty()) {
        const int task = ready.back();
        ready.pop_back();
        ++done;
        for (int k = offsets[task]; k < offsets[task + 1]; ++k)
            if (--inDegree[targets[k]] == 0)
                ready.push_back(targets[k]);
    }
    if (done == count)
        return;
    // Every task left has a predecessor left; following predecessors must come round.
    std::vector<int> predecessor(count, -1);
    for (const auto &[from, to] : links)
        if (inDegree[from] > 0 && inDegree[to] > 0)
            predecessor[to] = from;
    int task = int(std::find_if(inDegree.begin(), inDegree.end(), [](int d) { return d > 0; }) - inDegree.begin());
    std::vector<int> seenAt(count, -1);
    std::vector<int> path;
    while (seenAt[task] < 0) {
        seenAt[task] = int(path.size());
        path.push_back(task);
        task = predecessor[task];
    }
    QStringList names;
    for (size_t i = seenAt[task]; i < path.size() && names.size() < 4; ++i)
        names.prepend(QStringLiteral("%1 (line %2)")
                          .arg(TextForm::quoted(tasks[path[i]].name.left(60)))
                          .arg(tasks[path[i]].line));
    names.append(TextForm::quoted(tasks[task].name.left(60)));
    throw ProjectFileError(QStringLiteral("The file's links go round in a cycle, so no task of it can come first: "
                                          "%1. Remove one of these links in the program that wrote the file.")
                               .arg(names.join(QStringLiteral(" before "))));
}

bool insertOnce(QSet<qint64> &set, qint64 value)
{
    const qsizetype before = set.size();
    set.insert(value);
    return set.size() != before;
}

std::optional<qint64> keptId(const QString &key)
{
    bool ok = false;
    const qint64 id = key.toLongLong(&ok);
    return ok && id > 0 ? std::optional(id) : std::nullopt;
}

} // namespace

Imported build(SourcePlan plan, const QString &fallbackName)
{
    std::vector<SourceTask> &tasks = plan.tasks;
    QHash<QString, int> indexOf;
    indexOf.reserve(qsizetype(tasks.size()));
    for (size_t i = 0; i < tasks.size(); ++i) {
        const auto at = indexOf.constFind(tasks[i].key);
        if (at == indexOf.cend()) {
            indexOf.insert(tasks[i].key, int(i));
            continue;
        }
        throw ProjectFileError(QStringLiteral("Two tasks of the file have the same id %1 (lines %2 and %3).")
                                   .arg(tasks[i].key.left(40))
                                   .arg(tasks[*at].line)
                                   .arg(tasks[i].line));
    }

    // Links between tasks that stay, each once, finish to start.
    std::vector<std::pair<int, int>> links;
    links.reserve(plan.links.size());
    QSet<qint64> seen;
    qsizetype retyped[4] = {}, lagged = 0, toSummaries = 0, repeated = 0;
    for (const SourceLink &link : plan.links) {
        const int from = indexOf.value(link.predecessor, -1);
        const int to = indexOf.value(link.successor, -1);
        if (from < 0 || to < 0)
            throw ProjectFileError(QStringLiteral("A link names the task %1, which the file does not hold (line %2).")
                                       .arg(from < 0 ? link.predecessor.left(40) : link.successor.left(40))
                                       .arg(link.line));
        if (tasks[from].summary || tasks[to].summary) {
            ++toSummaries;
            continue;
        }
        if (!insertOnce(seen, (qint64(from) << 32) | quint32(to))) {
            ++repeated;
            continue;
        }
        ++retyped[int(link.type)];
        lagged += link.lag ? 1 : 0;
        links.emplace_back(from, to);
    }
    refuseCycles(tasks, links);

    // One resource a task becomes its group: a resource named by one character keeps it, the
    // others take the next letter free.
    QHash<QString, std::vector<QString>> resourcesOf;
    for (const auto &[task, resource] : plan.assignments)
        if (plan.resourceNames.contains(resource))
            resourcesOf[task].push_back(resource);
    QHash<QString, ExclusionGroup> groupOf;
    QSet<QString> taken;
    qsizetype nextLetter = 0, several = 0, ungrouped = 0;
    for (SourceTask &task : tasks) {
        if (task.summary)
            continue;
        const auto found = resourcesOf.constFind(task.key);
        if (found == resourcesOf.cend())
            continue;
        several += found->size() > 1 ? 1 : 0;
        const QString &resource = found->front();
        auto group = groupOf.find(resource);
        if (group == groupOf.end()) {
            const QString name = plan.resourceNames.value(resource);
            ExclusionGroup letter = Task::groupFromText(name);
            if (!letter || *letter != name || taken.contains(*letter)) {
                letter.reset();
                while (nextLetter < groupLetters.size() && taken.contains(groupLetters.mid(nextLetter, 1)))
                    ++nextLetter;
                if (nextLetter < groupLetters.size())
                    letter = groupLetters.mid(nextLetter++, 1);
            }
            if (letter)
                taken.insert(*letter);
            else
                ++ungrouped;
            group = groupOf.insert(resource, letter);
        }
        task.group = *group;
    }

    // Times from the origin: the plan's start date, else its earliest start.
    qint64 origin = 0;
    if (plan.dated) {
        if (plan.origin) {
            origin = *plan.origin;
        } else {
            origin = std::numeric_limits<qint64>::max();
            for (const SourceTask &task : tasks)
                if (!task.summary)
                    origin = std::min(origin, task.start);
            if (origin == std::numeric_limits<qint64>::max())
                origin = QDateTime::currentDateTime().toMSecsSinceEpoch();
            plan.changes.append(
                QStringLiteral("The plan names no start date; its earliest task's start became the project's."));
        }
        // Origins are whole seconds.
        origin -= ((origin % 1000) + 1000) % 1000;
    }

    std::vector<std::optional<qint64>> ids(tasks.size());
    QSet<qint64> used;
    for (size_t i = 0; i < tasks.size(); ++i) {
        if (tasks[i].summary)
            continue;
        ids[i] = keptId(tasks[i].key);
        if (ids[i] && !insertOnce(used, *ids[i]))
            ids[i].reset();
        if (ids[i])
            Ids::raiseTaskIdPast(*ids[i]);
    }
    TaskList list;
    list.reserve(qsizetype(tasks.size()));
    qsizetype summaries = 0;
    try {
        for (size_t i = 0; i < tasks.size(); ++i) {
            SourceTask &task = tasks[i];
            if (task.summary) {
                ++summaries;
                continue;
            }
            if (!ids[i])
                ids[i] = Ids::takeTaskId();
            const double start = double(task.start - origin) / 1000.0;
            const double duration = double(task.finish - task.start) / 1000.0;
            if (!(std::abs(start) <= longestTime && std::abs(start + duration) <= longestTime))
                throw ProjectFileError(
                    QStringLiteral("The task %1 lies more than 9,000 years from the plan's start (line %2).")
                        .arg(TextForm::quoted(task.name.left(60)))
                        .arg(task.line));
            list.append(Task::createStartingAt(*ids[i], nullptr, std::move(task.name), start, duration, task.group));
        }
    } catch (const Ids::IdsExhausted &) {
        throw ProjectFileError(QStringLiteral("No task id is left for the tasks of the file. Quit Quillfern and "
                                              "open the file again."));
    }
    QList<IntPair> pairs;
    pairs.reserve(qsizetype(links.size()));
    for (const auto &[from, to] : links)
        pairs.append({ *ids[from], *ids[to] });

    QString name = plan.name.trimmed();
    if (name.isEmpty())
        name = fallbackName;
    Imported imported;
    imported.project = Project::load(name, std::move(list), pairs);
    if (plan.dated)
        imported.project->setOrigin(QDateTime::fromMSecsSinceEpoch(origin, Qt::LocalTime));

    imported.kept = QStringLiteral("Imported %1 and %2.")
                        .arg(plural(imported.project->tasks().size(), "%1 task", "%1 tasks"),
                            plural(imported.project->edges().size(), "%1 dependency", "%1 dependencies"));
    QStringList &changes = imported.changes;
    if (summaries)
        changes.append(plural(summaries, "Left out %1 summary task; the tasks under it are kept in outline order.",
            "Left out %1 summary tasks; the tasks under them are kept in outline order."));
    changes += plan.changes;
    const char *types[][2] = { { nullptr, nullptr },
        { "%1 start-to-start link became a finish-to-start link.",
            "%1 start-to-start links became finish-to-start links." },
        { "%1 finish-to-finish link became a finish-to-start link.",
            "%1 finish-to-finish links became finish-to-start links." },
        { "%1 start-to-finish link became a finish-to-start link.",
            "%1 start-to-finish links became finish-to-start links." } };
    for (int type = 1; type < 4; ++type)
        if (retyped[type])
            changes.append(plural(retyped[type], types[type][0], types[type][1]));
    if (lagged)
        changes.append(plural(lagged, "%1 link lost its lag.", "%1 links lost their lag."));
    if (toSummaries)
        changes.append(plural(
            toSummaries, "Left out %1 link to or from a summary task.", "Left out %1 links to or from summary tasks."));
    if (repeated)
        changes.append(plural(repeated, "Left out %1 repeated link.", "Left out %1 repeated links."));
    if (several)
        changes.append(plural(several, "%1 task has several resources and kept the first as its exclusion group.",
            "%1 tasks have several resources and kept the first as their exclusion group."));
    if (ungrouped)
        changes.append(plural(ungrouped, "%1 resource found no letter left and became no exclusion group.",
            "%1 resources found no letter left and became no exclusion group."));
    if (const qsizetype overlapping = overlappingMembers(*imported.project))
        changes.append(plural(overlapping,
            "%1 task overlaps another of its exclusion group in the imported times; it stays as stored.",
            "%1 tasks overlap others of their exclusion group in the imported times; they stay as stored."));
    return imported;
}

} // namespace detail

std::optional<Format> formatForPath(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("xml"))
        return Format::Mspdi;
    if (suffix == QLatin1String("planner"))
        return Format::Planner;
    if (suffix == QLatin1String("csv"))
        return Format::Csv;
    return std::nullopt;
}

QString formatName(Format format)
{
    switch (format) {
    case Format::Mspdi:
        return QStringLiteral("MS Project XML");
    case Format::Planner:
        return QStringLiteral("GNOME Planner");
    case Format::Csv:
        return QStringLiteral("Quillfern CSV");
    }
    return {};
}

Imported importPlan(const QByteArray &bytes, Format format, const QString &fallbackName,
    const std::function<bool(qint64, qint64)> &progress)
{
    if (bytes.isEmpty())
        throw ProjectFileError(QStringLiteral("The file is empty."));
    switch (format) {
    case Format::Mspdi:
        return detail::build(detail::readMspdi(bytes, progress), fallbackName);
    case Format::Planner:
        return detail::build(detail::readPlanner(bytes, progress), fallbackName);
    case Format::Csv:
        break;
    }
    return detail::build(detail::readCsv(bytes, progress), fallbackName);
}

QDateTime defaultOrigin()
{
    return QDateTime(QDate::currentDate(), QTime(8, 0), Qt::LocalTime);
}

QStringList exportChanges(const Project &project, const QDateTime &fallbackOrigin)
{
    QStringList changes;
    if (!project.origin())
        changes.append(QStringLiteral("The plan has no start date; it was exported as starting %1.")
                           .arg(Project::originText(fallbackOrigin).replace(u'T', u' ')));
    for (const TaskPtr &task : project.tasks()) {
        if (task->start() != std::round(task->start()) || task->end() != std::round(task->end())) {
            changes.append(QStringLiteral("Times were rounded to whole seconds."));
            break;
        }
    }
    return changes;
}

QByteArray exportPlan(const Project &project, Format format, const QDateTime &fallbackOrigin)
{
    const QDateTime origin = project.origin().value_or(fallbackOrigin);
    switch (format) {
    case Format::Mspdi:
        return writeMspdi(project, origin);
    case Format::Planner:
        return writePlanner(project, origin);
    case Format::Csv:
        break;
    }
    return writeProjectCsv(project);
}

} // namespace PlanExchange
