#pragma once

#include <QProgressDialog>

#include <functional>

class UpdateJob;

// The updater's window: what the run is doing, a bar where the step has a measure, and the
// "Cancel Update" button, which ends the run unless the swap has begun. The job outlives the window.
class UpdateWindow : public QProgressDialog {
    Q_OBJECT

public:
    UpdateWindow(UpdateJob &job, const QString &appName, QWidget *parent = nullptr);
};

// How the updater program ends a run: hides the window, shows why the run failed through the
// presenter (unless nobody watches or Cancel Update was pressed, which needs no alert), then calls
// ended with the exit status, 0 or 1. window may be null.
void endRunWhenFinished(UpdateJob &job, UpdateWindow *window, bool showFailure, std::function<void(int)> ended);
