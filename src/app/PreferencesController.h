#pragma once

#include "PreferencesView.h"

#include <QObject>
#include <QPointer>

#include <memory>

// The preferences window: at most one at a time, and while it is open the Preferences command is
// disabled.
class PreferencesController : public QObject {
    Q_OBJECT

public:
    ~PreferencesController() override;

    // The controller of the open preferences window, or none.
    [[nodiscard]] static PreferencesController *currentPreferencesController();
    // Opens the window unless one is open already; the open one is left where it is.
    static void openPreferencesWindow();

    [[nodiscard]] QWidget *window() const { return m_window.get(); }
    [[nodiscard]] PreferencesView *view() const { return m_view; }

    // After the window has closed: the slot is emptied and the controller released.
    void windowWillClose();

private:
    PreferencesController() = default;

    std::unique_ptr<QWidget> m_window;
    QPointer<PreferencesView> m_view;
};
