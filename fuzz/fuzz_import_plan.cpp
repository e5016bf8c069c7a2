// Feeds arbitrary bytes to the importers of other planners' plans, the format told by the bytes
// as a person would tell it: a table starting "id,", an XML <project> for Planner, else MS Project
// XML. Besides crashes and sanitizer reports, it checks that every refusal has a message and that
// an accepted plan, once exported, comes back from its export as the same export.

#include "PlanExchange.h"
#include "Project.h"
#include "ProjectFile.h"

#include <QByteArray>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using PlanExchange::Format;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    qputenv("TZ", "UTC");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const Format format = bytes.startsWith("id,") ? Format::Csv
        : bytes.left(512).contains("<project")    ? Format::Planner
                                                  : Format::Mspdi;
    const QDateTime origin(QDate(2026, 1, 5), QTime(8, 0), Qt::LocalTime);
    PlanExchange::Imported imported;
    try {
        imported = PlanExchange::importPlan(bytes, format, QStringLiteral("fuzz"));
    } catch (const ProjectFileError &error) {
        if (error.message().isEmpty()) {
            std::fputs("import failed without a message\n", stderr);
            std::abort();
        }
        return 0;
    }
    for (const Format out : { Format::Mspdi, Format::Planner }) {
        QByteArray first;
        try {
            first = PlanExchange::exportPlan(*imported.project, out, origin);
        } catch (const ProjectFileError &) {
            continue; // a plan beyond the years dates hold
        }
        const QByteArray again = PlanExchange::exportPlan(
            *PlanExchange::importPlan(first, out, QStringLiteral("fuzz")).project, out, origin);
        if (again != first) {
            std::fprintf(stderr, "export changed on a second import:\n%s\n%s\n", first.constData(), again.constData());
            std::abort();
        }
    }
    return 0;
}
