#pragma once

#include <QWidget>

class Preferences;
class QCheckBox;

// The preferences window's content: the one switch, applied as soon as it is toggled.
class PreferencesView : public QWidget {
    Q_OBJECT

public:
    explicit PreferencesView(Preferences *pref, QWidget *parent = nullptr);

    [[nodiscard]] Preferences *pref() const { return m_pref; }
    [[nodiscard]] QCheckBox *checkForUpdate() const { return m_checkForUpdate; }

private:
    Preferences *m_pref;
    QCheckBox *m_checkForUpdate;
};
