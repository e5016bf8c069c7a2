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
    out += "id,name,start,duration,end,exclusion group,predecessors\r\n";
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
        out += "\r\n";
    }
    return out;
}
