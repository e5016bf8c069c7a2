#include "WindowFrame.h"

#include <QDataStream>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QWidget>

#include <algorithm>

namespace {

// Whether a state is what QSplitter::saveState writes for a splitter like this one, read as
// restoreState would read it. The sizes are read here one by one, because restoreState trusts
// the stored count and reserves room for that many at once.
bool fits(const QByteArray &state, const QSplitter &splitter)
{
    constexpr qint32 splitterMagic = 0xff;
    QDataStream stream(state);
    stream.setVersion(QDataStream::Qt_5_0);
    qint32 marker = 0;
    qint32 version = 0;
    quint32 count = 0;
    stream >> marker >> version >> count;
    if (stream.status() != QDataStream::Ok || marker != splitterMagic || version < 0 || version > 1
        || count != quint32(splitter.count()))
        return false;
    for (quint32 pane = 0; pane < count; ++pane) {
        qint32 size = 0;
        stream >> size;
        if (size <= 0 || size > QWIDGETSIZE_MAX)
            return false;
    }
    bool collapsible = false;
    qint32 handleWidth = 0;
    bool opaqueResize = false;
    qint32 orientation = 0;
    stream >> collapsible >> handleWidth >> opaqueResize >> orientation;
    return stream.status() == QDataStream::Ok && orientation == splitter.orientation();
}

} // namespace

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

void cascadeWindow(QWidget *window, const QList<const QWidget *> &others)
{
    // About a title bar's height: each window's title stays in sight.
    constexpr int step = 28;
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    const auto covered = [&others](QPoint at) {
        return std::any_of(others.cbegin(), others.cend(), [at](const QWidget *other) {
            return other != nullptr && other->isVisible() && (other->pos() - at).manhattanLength() < step / 2;
        });
    };
    QPoint at = window->pos();
    for (qsizetype tries = 0; tries <= others.size() && covered(at); ++tries) {
        at += QPoint(step, step);
        if (available.isValid() && !available.contains(QRect(at, window->frameGeometry().size())))
            at = available.topLeft();
    }
    window->move(at);
}

void saveWindowFrame(const QWidget *window, const QString &key)
{
    QSettings().setValue(key, window->saveGeometry());
}

void restoreDividers(QSplitter *splitter, const QString &key)
{
    const QByteArray state = QSettings().value(key).toByteArray();
    if (!fits(state, *splitter))
        return;
    const bool collapsible = splitter->childrenCollapsible();
    const int handleWidth = splitter->handleWidth();
    const bool opaqueResize = splitter->opaqueResize();
    splitter->restoreState(state);
    splitter->setChildrenCollapsible(collapsible);
    splitter->setHandleWidth(handleWidth);
    splitter->setOpaqueResize(opaqueResize);
}

void saveDividers(const QSplitter *splitter, const QString &key)
{
    QSettings().setValue(key, splitter->saveState());
}

bool restoreViewChoice(const QString &key, bool byDefault)
{
    return QSettings().value(key, byDefault).toBool();
}

void saveViewChoice(const QString &key, bool choice)
{
    QSettings().setValue(key, choice);
}
