#pragma once

#include <QByteArray>

class Project;

// The project's tasks as a table for spreadsheets, RFC 4180: UTF-8, CRLF after every record, a
// header record, one record per task in row order. Times are in whole minutes as the panels show
// them: the start and end counted from the project's end, as "Start at: " counts, and the
// duration. Predecessors are the ids of the task's predecessors, separated by spaces. Fields
// holding a comma, a quotation mark or a line break are quoted, quotation marks doubled.
[[nodiscard]] QByteArray writeProjectCsv(const Project &project);

// The header records, without their line break: a plan with dates gets two more columns.
inline constexpr char projectCsvHeader[] = "id,name,start,duration,end,exclusion group,predecessors";
inline constexpr char datedProjectCsvHeader[]
    = "id,name,start,duration,end,exclusion group,predecessors,start date,end date";
