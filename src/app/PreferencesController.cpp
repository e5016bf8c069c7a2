#include "PreferencesController.h"

#include "AppDelegate.h"
#include "Preferences.h"
#include "WindowFrame.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

const QString geometryKey = QStringLiteral("Preferences Window");
constexpr QSize initialSize(480, 300);

PreferencesController *current = nullptr;

// The Preferences command's enabling, and the end of the run, depend on this window.
void windowsChanged()
{
    if (AppDelegate *delegate = AppDelegate::instance())
        delegate->windowsChanged();
}

class PreferencesWindow final : public QWidget {
public:
    explicit PreferencesWindow(PreferencesController *controller)
        : m_controller(controller)
    { }

protected:
    void closeEvent(QCloseEvent *event) override
    {
        saveWindowFrame(this, geometryKey);
        event->accept();
        m_controller->windowWillClose();
    }

private:
    PreferencesController *m_controller;
};

// A window of its own to readers, not the plain widget's "filler".
QAccessibleInterface *preferencesWindowFactory(const QString &key, QObject *object)
{
    if (key == QLatin1String("QWidget") && dynamic_cast<PreferencesWindow *>(object))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

PreferencesController::~PreferencesController()
{
    if (current == this)
        current = nullptr;
}

PreferencesController *PreferencesController::currentPreferencesController()
{
    return current;
}

void PreferencesController::openPreferencesWindow()
{
    if (current)
        return;
    // After the application's own factories, which answer for any QWidget and are asked last
    // installed first.
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(preferencesWindowFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    current = new PreferencesController;
    current->m_window = std::make_unique<PreferencesWindow>(current);
    QWidget *window = current->m_window.get();
    current->m_view = new PreferencesView(&Preferences::shared());
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(current->m_view);
    window->setWindowTitle(PreferencesController::tr("Quillfern Preferences"));
    // The window has no menus; it closes the way dialogs do.
    for (const QKeySequence &keys : { QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::Key_Escape) })
        QObject::connect(new QShortcut(keys, window), &QShortcut::activated, window, &QWidget::close);

    restoreWindowFrame(window, initialSize, geometryKey);
    window->show();
    window->raise();
    window->activateWindow();
    windowsChanged();
}

void PreferencesController::windowWillClose()
{
    if (current != this)
        return;
    current = nullptr;
    // Released once the close event that called us has returned.
    deleteLater();
    windowsChanged();
}
