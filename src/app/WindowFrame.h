#pragma once

#include <QList>
#include <QSize>
#include <QString>

class QSplitter;
class QWidget;

// A window first appears at its size in the middle of the screen; after that, where it was last
// closed. Every window of one kind shares the frame kept under its key.
void restoreWindowFrame(QWidget *window, QSize size, const QString &key);
void saveWindowFrame(const QWidget *window, const QString &key);
// Moves a window that would open exactly where one of the others is down and to the right, step
// by step, back to the screen's corner where it would leave the screen.
void cascadeWindow(QWidget *window, const QList<const QWidget *> &others);

// The divider positions of a split area, kept and shared like a frame. A stored state that does
// not fit the splitter (other panes, another direction, a pane without width) is passed over,
// leaving the splitter as it is; so is every setting of the splitter's own besides the positions.
void restoreDividers(QSplitter *splitter, const QString &key);
void saveDividers(const QSplitter *splitter, const QString &key);

// A choice of the window's View menu, kept and shared like a frame.
[[nodiscard]] bool restoreViewChoice(const QString &key, bool byDefault);
void saveViewChoice(const QString &key, bool choice);
