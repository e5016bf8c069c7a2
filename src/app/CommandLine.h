#pragma once

#include <QString>
#include <optional>

// The options that work without a display: --check FILE... and --export OUT FILE. They build
// only what they use: --check a QCoreApplication, --export a QGuiApplication on the offscreen
// platform for its fonts; never a widget, a window, a question, an update check or an autosave.
// Reports go to standard output, errors to standard error.
//
// The exit status of the run, or none when the arguments ask for neither option and the
// program should start as usual.
[[nodiscard]] std::optional<int> runCommandLine(int argc, char *argv[]);

// The lines --help adds for these options.
[[nodiscard]] QString commandLineHelp();
