#include "Opening.h"

#include "Alerts.h"
#include "Project.h"
#include "ProjectController.h"
#include "ProjectFile.h"
#include "RecentDocuments.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>

namespace Opening {

void newDocument()
{
    ProjectController::open(std::make_unique<Project>())->showWindow();
}

void openDocument()
{
    corvane::FilePanel panel;
    panel.title = QApplication::translate("Opening", "Open Project");
    panel.parent = QApplication::activeWindow();
    if (const std::optional<QString> path = corvane::presenter().runOpenPanel(panel); path && !path->isEmpty())
        openProject(*path);
}

bool openProject(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QFile file(absolute);
    if (!file.open(QIODevice::ReadOnly)) {
        corvane::showSystemError(corvane::SystemError::fromFile(corvane::SystemError::FileOperation::Read, file));
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        corvane::showSystemError(corvane::SystemError::fromFile(corvane::SystemError::FileOperation::Read, file));
        return false;
    }
    std::unique_ptr<Project> project;
    try {
        project = readProject(bytes);
    } catch (const ProjectFileError &error) {
        corvane::showSystemError(corvane::SystemError(error.message(),
            QApplication::translate("Opening", "The file is not a Quillfern project, or it is damaged."),
            { { QStringLiteral("File"), absolute } }));
        return false;
    }
    // Asked directly rather than posted, so the user reads it before the window appears.
    if (const std::optional<ConsistencyReport> report = project->deletedEdgesReport()) {
        corvane::Alert alert;
        alert.style = corvane::AlertStyle::Warning;
        alert.message = report->message;
        alert.informativeText = report->informativeText;
        corvane::presenter().runAlert(alert);
    }
    ProjectController::open(std::move(project), absolute)->showWindow();
    RecentDocuments::note(absolute);
    return true;
}

} // namespace Opening
