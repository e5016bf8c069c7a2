// Writing is hand-made rather than built through a JSON tree: a project of 100,000 tasks is
// saved in a few milliseconds, and the member order is simply the order of the code below.

#include "Project.h"
#include "ProjectFile.h"
#include "TextForm.h"

#include <charconv>
#include <cmath>

namespace {

void appendString(QByteArray &out, const QString &text)
{
    static constexpr char hex[] = "0123456789abcdef";
    // toUtf8 turns lone surrogates into replacement characters, so the output is always UTF-8.
    const QByteArray utf8 = text.toUtf8();
    out.append('"');
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out.append("\\\"", 2);
            break;
        case '\\':
            out.append("\\\\", 2);
            break;
        case '\n':
            out.append("\\n", 2);
            break;
        case '\r':
            out.append("\\r", 2);
            break;
        case '\t':
            out.append("\\t", 2);
            break;
        default:
            if (byte < 0x20) {
                const char escaped[] = { '\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 0xf] };
                out.append(escaped, sizeof escaped);
            } else {
                out.append(c);
            }
        }
    }
    out.append('"');
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
    for (qsizetype i = 0; i < tasks.size(); ++i) {
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
    out.append('}');
    return out;
}
