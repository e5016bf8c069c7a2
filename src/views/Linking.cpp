#include "Linking.h"

#include "Alerts.h"
#include "Project.h"
#include "ShownText.h"

#include <QCoreApplication>

bool Linking::makeDependency(
    Project &project, const TaskPtr &reference, const TaskPtr &other, bool isSucc, QWidget *window)
{
    try {
        if (isSucc)
            project.addDependency(reference, other);
        else
            project.addDependency(other, reference);
        return true;
    } catch (const ConsistencyError &error) {
        corvane::Alert alert;
        alert.style = corvane::AlertStyle::Warning;
        alert.message = QCoreApplication::translate("Linking", "Illegal Dependency");
        // The reason quotes the names whole.
        alert.informativeText = corvane::ShownText::cutLines(error.msg);
        alert.parent = window;
        corvane::presenter().runAlert(alert);
    } catch (const std::exception &error) {
        corvane::showError(error);
    }
    return false;
}
