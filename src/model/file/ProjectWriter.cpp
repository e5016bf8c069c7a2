// Writing is hand-made rather than built through a JSON tree: a project of 100,000 tasks is
// saved in a few milliseconds, and the member order is simply the order of the code below.

#include "Project.h"
#include "ProjectFile.h"
#include "TextForm.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

// Asks for the first three cache lines of a task, where its times, name, group and id lie.
void prefetchTask(const Task *task)
{
    const auto *bytes = reinterpret_cast<const char *>(task);
    __builtin_prefetch(bytes);
    __builtin_prefetch(bytes + 64);
    __builtin_prefetch(bytes + 128);
}

// Straight from UTF-16 into the output, without a UTF-8 copy of every name: saving (and each
// recovery copy, on the UI thread) walks every task's name. A lone surrogate becomes "?", as
// QString::toUtf8 makes it, so the output is always UTF-8 and the same as it always was.
void appendString(QByteArray &out, const QString &text)
{
    static constexpr char hex[] = "0123456789abcdef";
    const auto *from = reinterpret_cast<const char16_t *>(text.constData());
    const char16_t *const last = from + text.size();
    // Measured first, so that a name of many megabytes takes no more room than it needs.
    qsizetype length = 2;
    for (const char16_t *unit = from; unit != last; ++unit) {
        if (*unit < 0x80) {
            const bool named = *unit == u'"' || *unit == u'\\' || *unit == u'\n' || *unit == u'\r' || *unit == u'\t';
            length += named ? 2 : *unit < 0x20 ? 6 : 1;
        } else if (QChar::isHighSurrogate(*unit) && unit + 1 != last && QChar::isLowSurrogate(unit[1])) {
            length += 4;
            ++unit;
        } else if (QChar::isSurrogate(*unit)) {
            length += 1;
        } else {
            length += *unit < 0x800 ? 2 : 3;
        }
    }
    const qsizetype start = out.size();
    out.resize(start + length);
    char *to = out.data() + start;
    *to++ = '"';
    while (from != last) {
        const char16_t unit = *from++;
        if (unit < 0x80) {
            switch (unit) {
            case u'"':
                *to++ = '\\';
                *to++ = '"';
                break;
            case u'\\':
                *to++ = '\\';
                *to++ = '\\';
                break;
            case u'\n':
                *to++ = '\\';
                *to++ = 'n';
                break;
            case u'\r':
                *to++ = '\\';
                *to++ = 'r';
                break;
            case u'\t':
                *to++ = '\\';
                *to++ = 't';
                break;
            default:
                if (unit < 0x20) {
                    const char escaped[] = { '\\', 'u', '0', '0', hex[unit >> 4], hex[unit & 0xf] };
                    to = std::copy(std::begin(escaped), std::end(escaped), to);
                } else {
                    *to++ = char(unit);
                }
            }
            continue;
        }
        char32_t point = unit;
        if (QChar::isHighSurrogate(unit) && from != last && QChar::isLowSurrogate(*from)) {
            point = QChar::surrogateToUcs4(unit, *from++);
        } else if (QChar::isSurrogate(unit)) {
            *to++ = '?';
            continue;
        }
        if (point < 0x800) {
            *to++ = char(0xc0 | (point >> 6));
        } else if (point < 0x10000) {
            *to++ = char(0xe0 | (point >> 12));
            *to++ = char(0x80 | ((point >> 6) & 0x3f));
        } else {
            *to++ = char(0xf0 | (point >> 18));
            *to++ = char(0x80 | ((point >> 12) & 0x3f));
            *to++ = char(0x80 | ((point >> 6) & 0x3f));
        }
        *to++ = char(0x80 | (point & 0x3f));
    }
    *to++ = '"';
    Q_ASSERT(to == out.constData() + out.size());
}

// The text of descriptions: the shortest form that reads back as the same double, with ".0" on
// whole numbers so that a reader sees a floating-point value.
void appendDouble(QByteArray &out, double value)
{
    char buffer[TextForm::numberCapacity];
    out.append(buffer, TextForm::writeNumber(buffer, value) - buffer);
}

void appendInteger(QByteArray &out, qint64 value)
{
    char buffer[24];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    Q_ASSERT(error == std::errc());
    out.append(buffer, end - buffer);
}

void requireFinite(double value, const char *what, qsizetype index, const Task &task)
{
    if (std::isfinite(value))
        return;
    throw ProjectFileError(
        QStringLiteral("The project cannot be saved: the %1 of task %2 (\"%3\") is not a finite number.")
            .arg(QLatin1String(what))
            .arg(index + 1)
            .arg(task.name()));
}

} // namespace

QByteArray writeProject(const Project &project)
{
    const TaskList &tasks = project.tasks();
    const QList<Edge> &edges = project.edges();
    QByteArray out;
    out.reserve(64 + tasks.size() * 80 + edges.size() * 32 + project.name().size() * 3);

    out.append("{\"tasks\":[");
    // Tasks lie all over the heap, and every one is a cache miss: the next ones are asked for
    // while this one is written.
    constexpr qsizetype lookAhead = 8;
    for (qsizetype i = 0; i < tasks.size(); ++i) {
        if (i + lookAhead < tasks.size())
            prefetchTask(tasks[i + lookAhead].get());
        const Task &task = *tasks[i];
        requireFinite(task.duration(), "duration", i, task);
        requireFinite(task.start(), "start", i, task);
        if (i > 0)
            out.append(',');
        out.append("{\"duration\":");
        appendDouble(out, task.duration());
        out.append(",\"start\":");
        appendDouble(out, task.start());
        out.append(",\"id\":");
        appendInteger(out, task.id());
        out.append(",\"name\":");
        appendString(out, task.name());
        if (const ExclusionGroup &group = task.exclusionGroup()) {
            out.append(",\"excGroup\":");
            appendString(out, *group);
        }
        out.append('}');
    }
    out.append("],\"dependencies\":[");
    for (qsizetype i = 0; i < edges.size(); ++i) {
        if (i + lookAhead < edges.size()) {
            prefetchTask(edges[i + lookAhead].predecessor.get());
            prefetchTask(edges[i + lookAhead].successor.get());
        }
        if (i > 0)
            out.append(',');
        out.append("{\"a\":");
        appendInteger(out, edges[i].predecessor->id());
        out.append(",\"b\":");
        appendInteger(out, edges[i].successor->id());
        out.append('}');
    }
    out.append("],\"name\":");
    appendString(out, project.name());
    // Only a plan with dates has the member, so one without is written as it always was.
    if (const std::optional<QDateTime> &origin = project.origin()) {
        out.append(",\"origin\":");
        appendString(out, Project::originText(*origin));
    }
    out.append('}');
    return out;
}
