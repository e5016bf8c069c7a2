#pragma once

#include <QSize>
#include <QString>

class QWidget;

// A window first appears at its size in the middle of the screen; after that, where it was last
// closed. Every window of one kind shares the frame kept under its key.
void restoreWindowFrame(QWidget *window, QSize size, const QString &key);
void saveWindowFrame(const QWidget *window, const QString &key);
