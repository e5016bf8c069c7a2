#pragma once

#include <QtGlobal>

class GanttView;
class IntPublisher;

// Screen readers see a chart as a list named "Chart" with one item per task in the project's
// order: the task's name; its start, from the project's start, and its duration, in whole minutes,
// and its exclusion group; whether it is the window's selection; and where its box is on screen.
// The item's Press action selects the task.
//
// Items are made when a reader asks for one, so a chart of any size costs nothing until then, and
// an item whose task has left the project is withdrawn rather than left dangling.
//
// This tells readers when the selection or the rows change. What it makes belongs to the chart;
// the selection must outlive the chart.
void attachChartAccessibility(GanttView *chart, IntPublisher *selection);

// How many chart items exist now, over all charts: those readers asked for and still hold.
[[nodiscard]] qsizetype chartAccessibleItemCount();
