#pragma once

#include <QObject>

// The user's one preference: whether Quillfern looks for a newer release by itself. Kept in the
// settings under "check version", inverted, so that a missing key means checking is on.
class Preferences : public QObject {
    Q_OBJECT

public:
    // The process-wide instance, created on first use from any thread; it lives on the UI thread.
    [[nodiscard]] static Preferences &shared();

    [[nodiscard]] bool isCheckVersion() const { return m_isCheckVersion; }
    // Stores the choice; switching it on starts a check at once. Switching it off stops nothing
    // that is already running.
    void setCheckVersion(bool checkVersion);

    // Starts one update check in the background; an error in getting it going is shown.
    static void startUpdateCheck();

    // Reads the stored choice again, as the next run of the program will.
    void reload();

Q_SIGNALS:
    // Sent before every assignment, also when the value does not change.
    void checkVersionAboutToChange(bool checkVersion);
    void checkVersionChanged(bool checkVersion);

private:
    Preferences();

    bool m_isCheckVersion = true;
};
