#include "WindowFrame.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

void restoreWindowFrame(QWidget *window, QSize size, const QString &key)
{
    window->resize(size);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size);
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    window->restoreGeometry(QSettings().value(key).toByteArray());
}

void saveWindowFrame(const QWidget *window, const QString &key)
{
    QSettings().setValue(key, window->saveGeometry());
}
