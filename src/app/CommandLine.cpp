#include "CommandLine.h"

#include "Log.h"

#include "ChartExport.h"
#include "ChartGeometry.h"
#include "Exception.h"
#include "FileAccess.h"
#include "PlanExchange.h"
#include "Project.h"
#include "ProjectFile.h"
#include "SystemError.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <variant>

namespace {

enum ExitStatus { Consistent = 0, Dropped = 1, Unreadable = 2 };
// --export: the output could not be made; its input or its arguments were wrong.
enum ExportStatus { Exported = 0, NotWritten = 1, BadInput = 2 };

// Names come from the file system and projects from anyone: no escape sequence of theirs reaches
// the terminal.
void print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = corvane::escapedControls(text, true).toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fputc('\n', stream);
}

void printError(const corvane::SystemError &error)
{
    QString text = error.description();
    if (error.recoverySuggestion())
        text += u'\n' + *error.recoverySuggestion();
    for (const auto &[key, value] : error.userInfo())
        text += u'\n' + key + QLatin1String(": ") + corvane::describeValue(value);
    print(stderr, text);
}

// The project in a file, or why it could not be had: the system's reason, or the reader's with
// the position it gave up at. Read as the window reads files, so that a pipe, a device or a file
// too large is refused rather than waited on.
std::variant<std::unique_ptr<Project>, QString> read(const QString &path)
{
    try {
        const QByteArray bytes = readWholeFile(path);
        // Other planners' plans come in as File > Import... brings them, and say what changed.
        if (const std::optional<PlanExchange::Format> format = PlanExchange::formatForPath(path)) {
            PlanExchange::Imported imported
                = PlanExchange::importPlan(bytes, *format, QFileInfo(path).completeBaseName());
            print(stderr, corvane::escapedControls(path) + QLatin1String(": ") + imported.kept);
            for (const QString &change : std::as_const(imported.changes))
                print(stderr, change);
            return std::move(imported.project);
        }
        return readProject(bytes);
    } catch (const FileAccessError &error) {
        return error.advice().isEmpty() ? error.reason() : error.reason() + u' ' + error.advice();
    } catch (const ProjectFileError &error) {
        return error.message();
    }
}

// The process ends right after the report: taking a plan of 100,000 tasks apart one object at a
// time would cost a good part of the run. Held from a global, so it is not a leak.
void keepUntilExit(std::unique_ptr<Project> project)
{
    static auto *kept = new std::unique_ptr<Project>();
    *kept = std::move(project);
}

QString counted(qsizetype count, const char *one, const char *many)
{
    return QString::number(count) + u' ' + QLatin1String(count == 1 ? one : many);
}

int check(const QStringList &files)
{
    if (files.isEmpty()) {
        print(stderr, QStringLiteral("--check needs at least one project file."));
        return Unreadable;
    }
    int status = Consistent;
    for (const QString &path : files) {
        auto result = read(path);
        if (const QString *error = std::get_if<QString>(&result)) {
            print(stderr, corvane::escapedControls(path) + QLatin1String(": ") + *error);
            status = Unreadable;
            continue;
        }
        std::unique_ptr<Project> &loaded = std::get<std::unique_ptr<Project>>(result);
        const Project &project = *loaded;
        if (const std::optional<ConsistencyReport> report = project.deletedEdgesReport()) {
            print(stdout, corvane::escapedControls(path) + QLatin1String(": ") + report->message);
            print(stdout, report->informativeText);
            status = std::max<int>(status, Dropped);
        } else {
            print(stdout,
                path + QLatin1String(": ok, ") + counted(project.tasks().size(), "task", "tasks") + QLatin1String(", ")
                    + counted(project.edges().size(), "dependency", "dependencies"));
        }
        keepUntilExit(std::move(loaded));
    }
    return status;
}

int exportChart(const QCommandLineParser &parser)
{
    const QString out = parser.value(QStringLiteral("export"));
    const QStringList inputs = parser.positionalArguments();
    if (out.isEmpty() || inputs.size() != 1) {
        print(stderr, QStringLiteral("Usage: quillfern --export OUT FILE [--zoom Z] [--paper a4|letter]"));
        return BadInput;
    }
    ChartExport::Request request;
    if (const std::optional<ChartExport::Format> format = ChartExport::formatForPath(out)) {
        request.format = *format;
    } else {
        print(stderr, out + QLatin1String(": the name must end in .pdf, .svg, .png, .csv, .xml or .planner."));
        return BadInput;
    }
    double zoom = 1.0;
    if (parser.isSet(QStringLiteral("zoom"))) {
        bool ok = false;
        zoom = parser.value(QStringLiteral("zoom")).toDouble(&ok);
        if (!ok || !std::isfinite(zoom) || zoom < 1.0) {
            print(stderr, QStringLiteral("--zoom needs a number of at least 1."));
            return BadInput;
        }
    }
    request.totalWidth = ChartGeometry::totalWidthFor(ChartExport::defaultChartWidth) * zoom;
    if (parser.isSet(QStringLiteral("paper"))) {
        const QString paper = parser.value(QStringLiteral("paper")).toLower();
        if (paper == QLatin1String("a4")) {
            request.paper = QPageSize(QPageSize::A4);
        } else if (paper == QLatin1String("letter")) {
            request.paper = QPageSize(QPageSize::Letter);
        } else {
            print(stderr, QStringLiteral("--paper is a4 or letter."));
            return BadInput;
        }
    }
    request.appearance.font = QGuiApplication::font();
    if (zoom > 1.0)
        request.appearance.zoomedWidth = request.totalWidth;

    auto result = read(inputs.first());
    if (const QString *error = std::get_if<QString>(&result)) {
        print(stderr, corvane::escapedControls(inputs.first()) + QLatin1String(": ") + *error);
        return BadInput;
    }
    std::unique_ptr<Project> &loaded = std::get<std::unique_ptr<Project>>(result);
    const Project &project = *loaded;
    // The plan is exported as opening it shows it, repaired; what the repair dropped is said.
    if (const std::optional<ConsistencyReport> report = project.deletedEdgesReport())
        print(stderr,
            corvane::escapedControls(inputs.first()) + QLatin1String(": ") + report->message + u'\n'
                + report->informativeText);
    try {
        ChartExport::write(out, project, request);
    } catch (const corvane::SystemError &error) {
        printError(error);
        return NotWritten;
    } catch (const corvane::Exception &error) {
        print(stderr, error.message() + u'\n' + error.information().value_or(QString()));
        return NotWritten;
    }
    if (request.format == ChartExport::Format::Mspdi || request.format == ChartExport::Format::Planner)
        for (const QString &change : PlanExchange::exportChanges(project, PlanExchange::defaultOrigin()))
            print(stdout, corvane::escapedControls(out) + QLatin1String(": ") + change);
    keepUntilExit(std::move(loaded));
    return Exported;
}

bool hasArgument(int argc, char *argv[], const char *name)
{
    const std::size_t length = std::strlen(name);
    for (int i = 1; i < argc; ++i) {
        // "--" ends the options: what follows are file names, whatever they look like.
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strncmp(argv[i], name, length) == 0 && (argv[i][length] == '\0' || argv[i][length] == '='))
            return true;
    }
    return false;
}

// The usual --help of the program is printed by its own parser, which ends the process; these
// lines follow it.
void printHelpAtExit()
{
    static const QByteArray lines = commandLineHelp().toUtf8();
    std::atexit([] {
        std::fwrite(lines.constData(), 1, std::size_t(lines.size()), stdout);
        std::fflush(stdout);
    });
}

} // namespace

QString commandLineHelp()
{
    return QStringLiteral("\nWithout a window (no display needed):\n"
                          "  --check <files...>          Read each project file with the repair opening does and\n"
                          "                              report it: ok with its tasks and dependencies, the\n"
                          "                              dependencies dropped, or why it cannot be read. Exit status\n"
                          "                              0 when all are consistent, 1 when something was dropped, 2\n"
                          "                              when a file cannot be read.\n"
                          "  --export <out> <file>       Write the plan of <file> to <out> as PDF, SVG, PNG, CSV,\n"
                          "                              MS Project XML (.xml) or GNOME Planner (.planner),\n"
                          "                              chosen by the extension of <out>. A <file> ending in\n"
                          "                              .xml, .planner or .csv is imported as Import... does.\n"
                          "  --zoom <factor>             With --export: the chart <factor> times as wide as at fit\n"
                          "                              (at least 1); PDF pages are never narrower per hour.\n"
                          "  --paper <a4|letter>         With --export to PDF: the paper, by default the locale's.\n");
}

std::optional<int> runCommandLine(int argc, char *argv[])
{
    const bool checking = hasArgument(argc, argv, "--check");
    const bool exporting = hasArgument(argc, argv, "--export");
    if (!checking && !exporting) {
        if (hasArgument(argc, argv, "--help") || hasArgument(argc, argv, "-h") || hasArgument(argc, argv, "-?"))
            printHelpAtExit();
        return std::nullopt;
    }

    QCommandLineParser parser;
    parser.addOption(QCommandLineOption(QStringLiteral("check")));
    parser.addOption(QCommandLineOption(QStringLiteral("export"), QString(), QStringLiteral("out")));
    parser.addOption(QCommandLineOption(QStringLiteral("zoom"), QString(), QStringLiteral("factor")));
    parser.addOption(QCommandLineOption(QStringLiteral("paper"), QString(), QStringLiteral("paper")));
    const auto parse = [&] {
        if (parser.parse(decodedArguments(argc, argv)))
            return true;
        print(stderr, parser.errorText());
        return false;
    };
    if (checking && exporting) {
        print(stderr, QStringLiteral("--check and --export cannot be used together."));
        return int(Unreadable);
    }
    if (checking) {
        const QCoreApplication application(argc, argv);
        if (!parse())
            return int(Unreadable);
        return check(parser.positionalArguments());
    }
    // Fonts need a GUI application; a display it must not, whatever the environment names.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QGuiApplication application(argc, argv);
    if (!parse())
        return int(BadInput);
    return exportChart(parser);
}
