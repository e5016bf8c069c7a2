// MS Project's XML interchange format: the tasks with their dates, links and resources read; a
// plan written with elapsed durations, a calendar that works around the clock and every task
// pinned to its start, so that another program shows the same times.

#include "ExchangeWriting.h"
#include "PlanImport.h"
#include "Project.h"
#include "ProjectFile.h"
#include "TextForm.h"

#include <cmath>

namespace PlanExchange {

namespace detail {

namespace {

struct MspdiReader {
    XmlInput &in;
    SourcePlan plan;
    QString title;
    QString fileName;
    qsizetype nulls = 0;
    LocalClock clock {};

    [[nodiscard]] qint64 date(const QString &text, const char *what, const QString &task, qint64 line)
    {
        if (const std::optional<qint64> at = parseDate(text, clock))
            return *at;
        in.fail(QStringLiteral("The %1 of %2, \"%3\", is not a date of the years 1 to 9999")
                    .arg(QLatin1String(what), task, text.left(40)),
            line);
    }

    void read()
    {
        if (!in.nextChild() || in.name() != u"Project")
            in.fail(QStringLiteral("The file is not MS Project XML: its first element is not <Project>"));
        while (in.nextChild()) {
            const QStringView name = in.name();
            if (name == u"Name") {
                fileName = in.text();
            } else if (name == u"Title") {
                title = in.text();
            } else if (name == u"StartDate") {
                const qint64 line = in.line();
                plan.origin = date(in.text(), "start date", QStringLiteral("the project"), line);
            } else if (name == u"Tasks") {
                in.forEachChild(u"Task", [this] { readTask(); });
            } else if (name == u"Resources") {
                in.forEachChild(u"Resource", [this] { readResource(); });
            } else if (name == u"Assignments") {
                in.forEachChild(u"Assignment", [this] { readAssignment(); });
            } else {
                in.skip();
            }
        }
        plan.name = !title.trimmed().isEmpty()                              ? title
            : fileName.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive) ? fileName.chopped(4)
                                                                            : fileName;
        if (nulls)
            plan.changes.append(nulls == 1 ? QStringLiteral("Left out 1 empty task.")
                                           : QStringLiteral("Left out %1 empty tasks.").arg(nulls));
    }

    void readTask()
    {
        SourceTask task;
        task.line = in.line();
        QString start, finish, duration;
        bool isNull = false;
        qint64 durationLine = 0;
        std::vector<SourceLink> links;
        while (in.nextChild()) {
            const QStringView name = in.name();
            if (name == u"UID") {
                task.key = in.text().trimmed();
            } else if (name == u"Name") {
                task.name = in.text();
            } else if (name == u"Start") {
                start = in.text();
            } else if (name == u"Finish") {
                finish = in.text();
            } else if (name == u"Duration") {
                durationLine = in.line();
                duration = in.text();
            } else if (name == u"Summary") {
                task.summary = in.text().trimmed() == u"1";
            } else if (name == u"IsNull") {
                isNull = in.text().trimmed() == u"1";
            } else if (name == u"PredecessorLink") {
                links.push_back(readLink());
            } else {
                in.skip();
            }
        }
        if (isNull) {
            ++nulls;
            return;
        }
        const QString what = task.name.isEmpty() ? QStringLiteral("a task") : TextForm::quoted(task.name.left(60));
        if (task.key.isEmpty())
            in.fail(QStringLiteral("The task %1 has no <UID>").arg(what), task.line);
        std::optional<double> length;
        if (!duration.isEmpty()) {
            length = parseDuration(duration);
            if (!length)
                in.fail(QStringLiteral("The duration of %1, \"%2\", is not a length Quillfern can hold")
                            .arg(what, duration.left(40)),
                    durationLine);
        }
        if (start.isEmpty())
            in.fail(QStringLiteral("The task %1 has no <Start>").arg(what), task.line);
        task.start = date(start, "start", what, task.line);
        if (!finish.isEmpty())
            task.finish = date(finish, "finish", what, task.line);
        else if (length)
            task.finish = task.start + qint64(std::llround(*length * 1000));
        else
            in.fail(QStringLiteral("The task %1 has neither <Finish> nor <Duration>").arg(what), task.line);
        for (SourceLink &link : links) {
            link.successor = task.key;
            plan.links.push_back(std::move(link));
        }
        plan.tasks.push_back(std::move(task));
    }

    SourceLink readLink()
    {
        SourceLink link;
        link.line = in.line();
        while (in.nextChild()) {
            const QStringView name = in.name();
            if (name == u"PredecessorUID") {
                link.predecessor = in.text().trimmed();
            } else if (name == u"Type") {
                const QString type = in.text().trimmed();
                // 0 finish-to-finish, 1 finish-to-start, 2 start-to-finish, 3 start-to-start.
                if (type == u"0")
                    link.type = LinkType::FinishToFinish;
                else if (type == u"2")
                    link.type = LinkType::StartToFinish;
                else if (type == u"3")
                    link.type = LinkType::StartToStart;
                else if (type != u"1")
                    in.fail(QStringLiteral("A link's type is \"%1\", not one of 0 to 3").arg(type.left(20)));
            } else if (name == u"LinkLag") {
                const QString lag = in.text().trimmed();
                bool ok = false;
                const double tenths = lag.toDouble(&ok);
                if (!ok || !(std::abs(tenths) <= longestTime * 600))
                    in.fail(
                        QStringLiteral("A link's lag is \"%1\", not a length Quillfern can hold").arg(lag.left(40)));
                link.lag = tenths != 0;
            } else {
                in.skip();
            }
        }
        if (link.predecessor.isEmpty())
            in.fail(QStringLiteral("A link names no <PredecessorUID>"), link.line);
        return link;
    }

    void readResource()
    {
        QString uid, name;
        while (in.nextChild()) {
            if (in.name() == u"UID")
                uid = in.text().trimmed();
            else if (in.name() == u"Name")
                name = in.text();
            else
                in.skip();
        }
        if (!uid.isEmpty())
            plan.resourceNames.insert(uid, name);
    }

    void readAssignment()
    {
        QString task, resource;
        while (in.nextChild()) {
            if (in.name() == u"TaskUID")
                task = in.text().trimmed();
            else if (in.name() == u"ResourceUID")
                resource = in.text().trimmed();
            else
                in.skip();
        }
        plan.assignments.emplace_back(std::move(task), std::move(resource));
    }
};

} // namespace

SourcePlan readMspdi(const QByteArray &bytes, const std::function<bool(qint64, qint64)> &progress)
{
    XmlInput in(bytes, progress);
    MspdiReader reader { in, {}, {}, {}, 0, {} };
    reader.read();
    return std::move(reader.plan);
}

} // namespace detail

namespace {

// PT36H0M0S, and the elapsed unit MS Project shows it in: days, hours or minutes.
QString mspdiDuration(qint64 seconds, int &format)
{
    format = seconds % 86400 == 0 ? 8 : seconds % 3600 == 0 ? 6 : 4;
    const qint64 magnitude = seconds < 0 ? -seconds : seconds;
    return QStringLiteral("%1PT%2H%3M%4S")
        .arg(seconds < 0 ? QStringLiteral("-") : QString())
        .arg(magnitude / 3600)
        .arg(magnitude / 60 % 60)
        .arg(magnitude % 60);
}

} // namespace

QByteArray writeMspdi(const Project &project, const QDateTime &origin)
{
    const detail::ExportPlan plan(project, origin);
    detail::XmlDocument document(64 * 1024 + project.tasks().size() * 700, 1);
    QXmlStreamWriter &xml = document.writer();
    xml.writeDefaultNamespace(QStringLiteral("http://schemas.microsoft.com/project"));
    xml.writeStartElement(QStringLiteral("Project"));
    xml.writeTextElement(QStringLiteral("SaveVersion"), QStringLiteral("14"));
    xml.writeTextElement(QStringLiteral("Name"), detail::xmlSafe(project.name()) + QLatin1String(".xml"));
    xml.writeTextElement(QStringLiteral("Title"), detail::xmlSafe(project.name()));
    xml.writeTextElement(QStringLiteral("ScheduleFromStart"), QStringLiteral("1"));
    xml.writeTextElement(QStringLiteral("StartDate"), plan.dateText(0, false));
    xml.writeTextElement(QStringLiteral("FinishDate"), plan.dateText(plan.latestEnd(), false));
    xml.writeTextElement(QStringLiteral("CalendarUID"), QStringLiteral("1"));

    // Every day worked from midnight to midnight, as MS Project's own "24 Hours" calendar.
    xml.writeStartElement(QStringLiteral("Calendars"));
    xml.writeStartElement(QStringLiteral("Calendar"));
    xml.writeTextElement(QStringLiteral("UID"), QStringLiteral("1"));
    xml.writeTextElement(QStringLiteral("Name"), QStringLiteral("24 Hours"));
    xml.writeTextElement(QStringLiteral("IsBaseCalendar"), QStringLiteral("1"));
    xml.writeTextElement(QStringLiteral("BaseCalendarUID"), QStringLiteral("-1"));
    xml.writeStartElement(QStringLiteral("WeekDays"));
    for (int day = 1; day <= 7; ++day) {
        xml.writeStartElement(QStringLiteral("WeekDay"));
        xml.writeTextElement(QStringLiteral("DayType"), QString::number(day));
        xml.writeTextElement(QStringLiteral("DayWorking"), QStringLiteral("1"));
        xml.writeStartElement(QStringLiteral("WorkingTimes"));
        xml.writeStartElement(QStringLiteral("WorkingTime"));
        xml.writeTextElement(QStringLiteral("FromTime"), QStringLiteral("00:00:00"));
        xml.writeTextElement(QStringLiteral("ToTime"), QStringLiteral("00:00:00"));
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("Tasks"));
    const TaskList &tasks = project.tasks();
    for (qsizetype row = 0; row < tasks.size(); ++row) {
        const Task &task = *tasks[row];
        const qint64 start = plan.startOf(row);
        const qint64 end = plan.endOf(row);
        int format = 0;
        const QString duration = mspdiDuration(end - start, format);
        const QString startText = plan.dateText(start, false);
        xml.writeStartElement(QStringLiteral("Task"));
        xml.writeTextElement(QStringLiteral("UID"), QString::number(plan.uidOf(row)));
        xml.writeTextElement(QStringLiteral("ID"), QString::number(row + 1));
        xml.writeTextElement(QStringLiteral("Name"), detail::xmlSafe(task.name()));
        xml.writeTextElement(QStringLiteral("Type"), QStringLiteral("1"));
        xml.writeTextElement(QStringLiteral("OutlineLevel"), QStringLiteral("1"));
        xml.writeTextElement(QStringLiteral("Start"), startText);
        xml.writeTextElement(QStringLiteral("Finish"), plan.dateText(end, false));
        xml.writeTextElement(QStringLiteral("Duration"), duration);
        xml.writeTextElement(QStringLiteral("DurationFormat"), QString::number(format));
        xml.writeTextElement(QStringLiteral("Summary"), QStringLiteral("0"));
        // Must start on: the other program keeps the time rather than moving it to the first
        // moment its links allow.
        xml.writeTextElement(QStringLiteral("ConstraintType"), QStringLiteral("2"));
        xml.writeTextElement(QStringLiteral("ConstraintDate"), startText);
        for (const TaskPtr &predecessor : task.predecessors()) {
            xml.writeStartElement(QStringLiteral("PredecessorLink"));
            xml.writeTextElement(QStringLiteral("PredecessorUID"), QString::number(plan.uidOf(*predecessor)));
            xml.writeTextElement(QStringLiteral("Type"), QStringLiteral("1"));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("Resources"));
    for (qsizetype i = 0; i < plan.groups().size(); ++i) {
        xml.writeStartElement(QStringLiteral("Resource"));
        xml.writeTextElement(QStringLiteral("UID"), QString::number(i + 1));
        xml.writeTextElement(QStringLiteral("ID"), QString::number(i + 1));
        xml.writeTextElement(QStringLiteral("Name"), detail::xmlSafe(plan.groups()[i]));
        xml.writeTextElement(QStringLiteral("Type"), QStringLiteral("1"));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("Assignments"));
    qint64 assignment = 0;
    for (qsizetype row = 0; row < tasks.size(); ++row) {
        if (const int resource = plan.resourceOf(row)) {
            xml.writeStartElement(QStringLiteral("Assignment"));
            xml.writeTextElement(QStringLiteral("UID"), QString::number(++assignment));
            xml.writeTextElement(QStringLiteral("TaskUID"), QString::number(plan.uidOf(row)));
            xml.writeTextElement(QStringLiteral("ResourceUID"), QString::number(resource));
            xml.writeTextElement(QStringLiteral("Units"), QStringLiteral("1"));
            xml.writeEndElement();
        }
    }
    xml.writeEndElement();
    xml.writeEndElement();
    return document.finish();
}

} // namespace PlanExchange
