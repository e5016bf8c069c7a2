#pragma once

#include "Task.h"

class Project;
class QWidget;

namespace Linking {

// Makes other a predecessor of reference (isSucc false) or its successor (isSucc true), one undo
// step. A refusal is shown on window as "Illegal Dependency" with the project's reason, any other
// failure as the platform's error alert; either way the project stays as it was. Every way of
// making a dependency by hand goes through here, so they refuse alike. Returns whether the
// dependency was made.
bool makeDependency(Project &project, const TaskPtr &reference, const TaskPtr &other, bool isSucc, QWidget *window);

} // namespace Linking
