#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class Project;

// Plans exchanged with other planners: MS Project's XML interchange format (MSPDI), GNOME
// Planner's own XML, and the table our CSV export writes. Every reader streams its XML through
// QXmlStreamReader, refuses document type declarations (so no entity is ever expanded), deep
// nesting, dates and lengths out of range, links to tasks the file does not hold and cycles, each
// with a ProjectFileError naming what and the line, and hands the plan to Project::load, whose
// repair drops the dependencies the stored times contradict.
namespace PlanExchange {

enum class Format { Mspdi, Planner, Csv };

// By the file name's extension, in any case: .xml, .planner, .csv; none for any other.
[[nodiscard]] std::optional<Format> formatForPath(const QString &path);
// The format's name as the user reads it: "MS Project XML".
[[nodiscard]] QString formatName(Format format);

struct Imported {
    std::unique_ptr<Project> project;
    // What was kept, the first line ("Imported 120 tasks and 140 dependencies."), and what was
    // changed or left out, one sentence a line, except what the load repair dropped, which the
    // project's deletedEdgesReport tells.
    QString kept;
    QStringList changes;
};

// The project of a file's bytes, named after the plan or, when the plan has no name, after
// fallbackName. progress as for readProject.
[[nodiscard]] Imported importPlan(const QByteArray &bytes, Format format, const QString &fallbackName,
    const std::function<bool(qint64 done, qint64 total)> &progress = {});

// A plan in MSPDI or Planner form. Dates count from the project's origin or, for a plan without
// one, from fallbackOrigin (see defaultOrigin). Throws ProjectFileError for a time the format
// cannot date.
[[nodiscard]] QByteArray exportPlan(const Project &project, Format format, const QDateTime &fallbackOrigin);
// Today at 08:00, local time: where a plan without a start date is exported from.
[[nodiscard]] QDateTime defaultOrigin();
// What an export of the project changes, for the user; empty when it keeps everything.
[[nodiscard]] QStringList exportChanges(const Project &project, const QDateTime &fallbackOrigin);

// Each format on its own (importPlan and exportPlan choose among them).
[[nodiscard]] QByteArray writeMspdi(const Project &project, const QDateTime &origin);
[[nodiscard]] QByteArray writePlanner(const Project &project, const QDateTime &origin);

} // namespace PlanExchange
