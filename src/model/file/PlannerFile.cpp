// GNOME Planner's XML: tasks nested under summary tasks, links inside their successors, resources
// allocated to tasks. Written with a calendar that works around the clock and every task fixed in
// duration and pinned to its start, so that Planner shows the times as they are.

#include "ExchangeWriting.h"
#include "PlanImport.h"
#include "Project.h"
#include "ProjectFile.h"
#include "TextForm.h"


namespace PlanExchange {

namespace detail {

namespace {

struct PlannerReader {
    XmlInput &in;
    SourcePlan plan;
    mutable LocalClock clock {};

    qint64 date(const QXmlStreamAttributes &attributes, QLatin1String name, const QString &what) const
    {
        const QStringView text = attributes.value(name);
        if (text.isEmpty())
            in.fail(QStringLiteral("The %1 has no %2").arg(what, name));
        if (const std::optional<qint64> at = parseDate(text, clock, true))
            return *at;
        in.fail(QStringLiteral("The %1 of %2, \"%3\", is not a date of the years 1 to 9999")
                    .arg(name, what, text.left(40)));
    }

    void read()
    {
        if (!in.nextChild() || in.name() != u"project")
            in.fail(QStringLiteral("The file is not a GNOME Planner plan: its first element is not <project>"));
        const QXmlStreamAttributes attributes = in.attributes();
        plan.name = attributes.value(QLatin1String("name")).toString();
        plan.origin = date(attributes, QLatin1String("project-start"), QStringLiteral("project"));
        while (in.nextChild()) {
            const QStringView name = in.name();
            if (name == u"tasks") {
                in.forEachChild(u"task", [this] { readTask(); });
            } else if (name == u"resources") {
                in.forEachChild(u"resource", [this] {
                    const QXmlStreamAttributes resource = in.attributes();
                    plan.resourceNames.insert(resource.value(QLatin1String("id")).toString(),
                        resource.value(QLatin1String("name")).toString());
                    in.skip();
                });
            } else if (name == u"allocations") {
                in.forEachChild(u"allocation", [this] {
                    const QXmlStreamAttributes allocation = in.attributes();
                    plan.assignments.emplace_back(allocation.value(QLatin1String("task-id")).toString(),
                        allocation.value(QLatin1String("resource-id")).toString());
                    in.skip();
                });
            } else {
                in.skip();
            }
        }
    }

    // A task and, after it in outline order, the tasks under it; one that has any is a summary.
    void readTask()
    {
        const QXmlStreamAttributes attributes = in.attributes();
        SourceTask task;
        task.line = in.line();
        task.key = attributes.value(QLatin1String("id")).toString();
        task.name = attributes.value(QLatin1String("name")).toString();
        const QString what = QStringLiteral("task %1").arg(TextForm::quoted(task.name.left(60)));
        if (task.key.isEmpty())
            in.fail(QStringLiteral("The %1 has no id").arg(what));
        task.start = date(attributes, QLatin1String("start"), what);
        task.finish = date(attributes, QLatin1String("end"), what);
        const size_t index = plan.tasks.size();
        const QString key = task.key;
        plan.tasks.push_back(std::move(task));
        while (in.nextChild()) {
            const QStringView name = in.name();
            if (name == u"task") {
                plan.tasks[index].summary = true;
                readTask();
            } else if (name == u"predecessors") {
                in.forEachChild(u"predecessor", [this, &key] {
                    plan.links.push_back(readLink(key));
                    in.skip();
                });
            } else {
                in.skip();
            }
        }
    }

    SourceLink readLink(const QString &successor) const
    {
        const QXmlStreamAttributes attributes = in.attributes();
        SourceLink link;
        link.line = in.line();
        link.successor = successor;
        link.predecessor = attributes.value(QLatin1String("predecessor-id")).toString();
        if (link.predecessor.isEmpty())
            in.fail(QStringLiteral("A predecessor names no task"));
        const QStringView type = attributes.value(QLatin1String("type"));
        if (type == u"SS")
            link.type = LinkType::StartToStart;
        else if (type == u"FF")
            link.type = LinkType::FinishToFinish;
        else if (type == u"SF")
            link.type = LinkType::StartToFinish;
        else if (!type.isEmpty() && type != u"FS")
            in.fail(QStringLiteral("A predecessor's type is \"%1\", not FS, SS, FF or SF").arg(type.left(20)));
        if (attributes.hasAttribute(QLatin1String("lag"))) {
            bool ok = false;
            const double lag = attributes.value(QLatin1String("lag")).toDouble(&ok);
            if (!ok || !(std::abs(lag) <= longestTime))
                in.fail(QStringLiteral("A predecessor's lag is \"%1\", not a length Quillfern can hold")
                            .arg(attributes.value(QLatin1String("lag")).left(40)));
            link.lag = lag != 0;
        }
        return link;
    }
};

} // namespace

SourcePlan readPlanner(const QByteArray &bytes, const std::function<bool(qint64, qint64)> &progress)
{
    XmlInput in(bytes, progress);
    PlannerReader reader { in, {}, {} };
    reader.read();
    return std::move(reader.plan);
}

} // namespace detail

QByteArray writePlanner(const Project &project, const QDateTime &origin)
{
    const detail::ExportPlan plan(project, origin);
    detail::XmlDocument document(16 * 1024 + project.tasks().size() * 400, 2);
    QXmlStreamWriter &xml = document.writer();
    // Planner moves a task that starts before the project to its start.
    const qint64 projectStart = std::min<qint64>(0, plan.earliestStart());
    xml.writeStartElement(QStringLiteral("project"));
    xml.writeAttribute(QStringLiteral("name"), detail::xmlSafe(project.name()));
    xml.writeAttribute(QStringLiteral("company"), QString());
    xml.writeAttribute(QStringLiteral("manager"), QString());
    xml.writeAttribute(QStringLiteral("phase"), QString());
    xml.writeAttribute(QStringLiteral("project-start"), plan.dateText(projectStart, true));
    xml.writeAttribute(QStringLiteral("mrproject-version"), QStringLiteral("2"));
    xml.writeAttribute(QStringLiteral("calendar"), QStringLiteral("1"));
    xml.writeEmptyElement(QStringLiteral("properties"));
    xml.writeEmptyElement(QStringLiteral("phases"));

    xml.writeStartElement(QStringLiteral("calendars"));
    xml.writeStartElement(QStringLiteral("day-types"));
    const char *dayTypes[][2] = { { "Working", "A default working day" }, { "Nonworking", "A default non working day" },
        { "Use base", "Use day from base calendar" } };
    for (int id = 0; id < 3; ++id) {
        xml.writeEmptyElement(QStringLiteral("day-type"));
        xml.writeAttribute(QStringLiteral("id"), QString::number(id));
        xml.writeAttribute(QStringLiteral("name"), QLatin1String(dayTypes[id][0]));
        xml.writeAttribute(QStringLiteral("description"), QLatin1String(dayTypes[id][1]));
    }
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("calendar"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("1"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("Around the clock"));
    xml.writeEmptyElement(QStringLiteral("default-week"));
    for (const char *day : { "mon", "tue", "wed", "thu", "fri", "sat", "sun" })
        xml.writeAttribute(QLatin1String(day), QStringLiteral("0"));
    xml.writeStartElement(QStringLiteral("overridden-day-types"));
    xml.writeStartElement(QStringLiteral("overridden-day-type"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("0"));
    xml.writeEmptyElement(QStringLiteral("interval"));
    xml.writeAttribute(QStringLiteral("start"), QStringLiteral("0000"));
    xml.writeAttribute(QStringLiteral("end"), QStringLiteral("2400"));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEmptyElement(QStringLiteral("days"));
    xml.writeEndElement();
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("tasks"));
    const TaskList &tasks = project.tasks();
    for (qsizetype row = 0; row < tasks.size(); ++row) {
        const Task &task = *tasks[row];
        const qint64 start = plan.startOf(row);
        const qint64 end = plan.endOf(row);
        const QString startText = plan.dateText(start, true);
        const QString length = QString::number(end - start);
        xml.writeStartElement(QStringLiteral("task"));
        xml.writeAttribute(QStringLiteral("id"), QString::number(plan.uidOf(row)));
        xml.writeAttribute(QStringLiteral("name"), detail::xmlSafe(task.name()));
        xml.writeAttribute(QStringLiteral("note"), QString());
        xml.writeAttribute(QStringLiteral("work"), length);
        xml.writeAttribute(QStringLiteral("duration"), length);
        xml.writeAttribute(QStringLiteral("start"), startText);
        xml.writeAttribute(QStringLiteral("end"), plan.dateText(end, true));
        xml.writeAttribute(QStringLiteral("work-start"), startText);
        xml.writeAttribute(QStringLiteral("percent-complete"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("priority"), QStringLiteral("0"));
        xml.writeAttribute(
            QStringLiteral("type"), end == start ? QStringLiteral("milestone") : QStringLiteral("normal"));
        xml.writeAttribute(QStringLiteral("scheduling"), QStringLiteral("fixed-duration"));
        xml.writeEmptyElement(QStringLiteral("constraint"));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("must-start-on"));
        xml.writeAttribute(QStringLiteral("time"), startText);
        if (!task.predecessors().isEmpty()) {
            xml.writeStartElement(QStringLiteral("predecessors"));
            qint64 link = 0;
            for (const TaskPtr &predecessor : task.predecessors()) {
                xml.writeEmptyElement(QStringLiteral("predecessor"));
                xml.writeAttribute(QStringLiteral("id"), QString::number(++link));
                xml.writeAttribute(QStringLiteral("predecessor-id"), QString::number(plan.uidOf(*predecessor)));
                xml.writeAttribute(QStringLiteral("type"), QStringLiteral("FS"));
            }
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();

    xml.writeEmptyElement(QStringLiteral("resource-groups"));
    xml.writeStartElement(QStringLiteral("resources"));
    for (qsizetype i = 0; i < plan.groups().size(); ++i) {
        xml.writeEmptyElement(QStringLiteral("resource"));
        xml.writeAttribute(QStringLiteral("id"), QString::number(i + 1));
        xml.writeAttribute(QStringLiteral("name"), detail::xmlSafe(plan.groups()[i]));
        xml.writeAttribute(QStringLiteral("short-name"), detail::xmlSafe(plan.groups()[i]));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("1"));
        xml.writeAttribute(QStringLiteral("units"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("email"), QString());
        xml.writeAttribute(QStringLiteral("note"), QString());
        xml.writeAttribute(QStringLiteral("std-rate"), QStringLiteral("0"));
    }
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("allocations"));
    for (qsizetype row = 0; row < tasks.size(); ++row) {
        if (const int resource = plan.resourceOf(row)) {
            xml.writeEmptyElement(QStringLiteral("allocation"));
            xml.writeAttribute(QStringLiteral("task-id"), QString::number(plan.uidOf(row)));
            xml.writeAttribute(QStringLiteral("resource-id"), QString::number(resource));
            xml.writeAttribute(QStringLiteral("units"), QStringLiteral("100"));
        }
    }
    xml.writeEndElement();
    xml.writeEndElement();
    return document.finish();
}

} // namespace PlanExchange
