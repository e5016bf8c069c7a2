#pragma once

#include <QString>

// Starting work on a project: a new one, or one read from a file. Each opens the project's window.
namespace Opening {

// A new, empty project in its own window.
void newDocument();

// Asks for a file to open; opens it when one was chosen.
void openDocument();

// Reads the file and opens its window. A file that cannot be read or decoded is reported and
// opens nothing; dependencies dropped while loading are reported before the window opens.
// A file open already opens again as an independent project.
bool openProject(const QString &path);

} // namespace Opening
