#pragma once

#include "PreferencesController.h"
#include "ProjectController.h"
#include "Updater.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>
#include <QWidget>
#include <QWindow>

// What the tests of the application's controllers share.
namespace AppTest {

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The title as the title bar gets it, the mark of unsaved changes included.
inline QString shownTitle(const QWidget *window)
{
    return window->windowHandle() ? window->windowHandle()->title() : QString();
}

// Posted alerts, queued calls and deferred deletes of closed windows, and what they post in turn.
inline void deliverPostedWork()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Every project window and the preferences window, closed without questions; also lets the quit
// that closing the last window starts run out.
inline void closeEveryWindow()
{
    for (ProjectController *controller : ProjectController::openControllers())
        controller->closeWindowWithoutAsking();
    if (PreferencesController *preferences = PreferencesController::currentPreferencesController())
        preferences->window()->close();
    deliverPostedWork();
}

// Checks must not overlap: a second start would be refused.
inline void waitForChecksToEnd()
{
    QTRY_VERIFY_WITH_TIMEOUT(!corvane::Updater::isCheckRunning(), 20000);
}

} // namespace AppTest
