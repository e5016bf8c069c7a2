#include "ProjectCsv.h"

#include "Project.h"
#include "TextForm.h"

namespace {

void appendField(QByteArray &out, const QByteArray &field)
{
    const bool quoted = field.contains(',') || field.contains('"') || field.contains('\r') || field.contains('\n');
    if (!quoted) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace

QByteArray writeProjectCsv(const Project &project)
{
    QByteArray out;
    // Most plans' names are short; a guess that spares most regrowth of the buffer.
    out.reserve(64 + project.tasks().size() * 64);
    // A plan with dates gets its times as local ISO 8601 dates as well, in two more columns.
    const bool dated = project.origin().has_value();
    out += dated ? datedProjectCsvHeader : projectCsvHeader;
    out += "\r\n";
    const double end = project.end();
    for (const TaskPtr &task : project.tasks()) {
        out += QByteArray::number(task->id());
        out += ',';
        appendField(out, task->name().toUtf8());
        out += ',';
        out += TextForm::wholeMinutes(task->start() - end).toLatin1();
        out += ',';
        out += TextForm::wholeMinutes(task->duration()).toLatin1();
        out += ',';
        out += TextForm::wholeMinutes(task->end() - end).toLatin1();
        out += ',';
        if (task->exclusionGroup())
            appendField(out, task->exclusionGroup()->toUtf8());
        out += ',';
        bool first = true;
        for (const TaskPtr &predecessor : task->predecessors()) {
            if (!first)
                out += ' ';
            first = false;
            out += QByteArray::number(predecessor->id());
        }
        if (dated) {
            for (const double time : { task->start(), task->end() }) {
                out += ',';
                if (const std::optional<QDateTime> at = project.dateTimeAt(time))
                    out += Project::originText(*at).toLatin1();
            }
        }
        out += "\r\n";
    }
    return out;
}
