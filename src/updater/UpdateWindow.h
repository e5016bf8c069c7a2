#pragma once

#include <QProgressDialog>

class UpdateJob;

// The updater's window: what the run is doing, a bar where the step has a measure, and the
// "Cancel Update" button, which ends the run unless the swap has begun. The job outlives the window.
class UpdateWindow : public QProgressDialog {
    Q_OBJECT

public:
    UpdateWindow(UpdateJob &job, const QString &appName, QWidget *parent = nullptr);
};
