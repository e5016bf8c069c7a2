#pragma once

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

class QWidget;

namespace corvane {

// The numbering of the desktop toolkit this program was first drawn for; stored and compared as numbers.
enum class AlertStyle : int { Warning = 0, Informational = 1, Critical = 2 };

// The answer of an alert: the button added first answers FirstButton, the next ones count up.
enum AlertResponse : int { FirstButton = 1000, SecondButton = 1001, ThirdButton = 1002 };

struct Alert {
    AlertStyle style = AlertStyle::Warning;
    QString message;
    QString informativeText;
    // In the order they are added. Empty means the toolkit's single default button.
    QStringList buttons;
    // The window the alert belongs to; none for an application-wide alert. Not owned.
    QWidget *parent = nullptr;
    // Behind the box's Show Details button: the whole of what the informative text shows a part of.
    QString detailedText = {};

    friend bool operator==(const Alert &a, const Alert &b)
    {
        return a.style == b.style && a.message == b.message && a.informativeText == b.informativeText
            && a.detailedText == b.detailedText && a.buttons == b.buttons && a.parent == b.parent;
    }
};

struct FilePanel {
    QString title;
    QString directory;
    // Save panels: the name offered first; open panels ignore it.
    QString suggestedName;
    // A QFileDialog name filter such as "Projects (*.quillfern)"; empty means every file.
    QString nameFilter;
    // Save panels: appended to a chosen name that has no suffix, without the dot.
    QString defaultSuffix;
    QWidget *parent = nullptr;

    friend bool operator==(const FilePanel &, const FilePanel &) = default;
};

// Every modal alert, question and file panel of the program runs through the installed presenter,
// always on the UI thread, so that tests can answer them and see what was shown.
class Presenter {
public:
    virtual ~Presenter() = default;
    // Runs the alert modally and returns the response of the button that closed it.
    virtual int runAlert(const Alert &alert) = 0;
    // Return the chosen file's path, or nothing when the user cancels.
    virtual std::optional<QString> runOpenPanel(const FilePanel &panel) = 0;
    virtual std::optional<QString> runSavePanel(const FilePanel &panel) = 0;
    // An open panel that leaves the program working while it is up: returns at once, and
    // completion gets the chosen path, or nothing, later on the UI thread. By default a posted
    // runOpenPanel of the presenter installed by then.
    virtual void beginOpenPanel(const FilePanel &panel, std::function<void(std::optional<QString>)> completion);
};

// The presenter in use: the installed one, else the production presenter.
[[nodiscard]] Presenter &presenter();
// Installs a presenter for the whole process; nullptr restores the production presenter. The
// presenter is not owned and must outlive its installation. Returns the presenter installed before.
Presenter *installPresenter(Presenter *presenter);

// Whether an alert, question or file panel is up through the seam. Work that must not run inside
// one, such as a quit request, waits until this is false.
[[nodiscard]] bool isPresenting();

// Counts one presentation for isPresenting while it lives. Every presenter holds one while it
// shows something; a test presenter that keeps a question up for a while must hold one too.
class PresentationScope {
public:
    PresentationScope();
    ~PresentationScope();
    PresentationScope(const PresentationScope &) = delete;
    PresentationScope &operator=(const PresentationScope &) = delete;
};

// Installs a presenter for the lifetime of this object and restores the previous one afterwards.
class ScopedPresenter {
public:
    explicit ScopedPresenter(Presenter &presenter)
        : m_previous(installPresenter(&presenter))
    { }
    ~ScopedPresenter() { installPresenter(m_previous); }
    ScopedPresenter(const ScopedPresenter &) = delete;
    ScopedPresenter &operator=(const ScopedPresenter &) = delete;

private:
    Presenter *m_previous;
};

// QMessageBox and QFileDialog. Needs a QApplication; without one it shows nothing, logs the alert,
// and answers as if the user had pressed Escape.
class WidgetPresenter final : public Presenter {
public:
    int runAlert(const Alert &alert) override;
    std::optional<QString> runOpenPanel(const FilePanel &panel) override;
    std::optional<QString> runSavePanel(const FilePanel &panel) override;
    void beginOpenPanel(const FilePanel &panel, std::function<void(std::optional<QString>)> completion) override;
};

// For runs nobody watches (scripts, tests of the whole program): logs every alert and answers it as
// Escape would, with its last button, the most cautious choice; every file panel is cancelled.
// An alert that offers one of the preferred answers is answered with the first of them it offers.
class UnattendedPresenter final : public Presenter {
public:
    explicit UnattendedPresenter(QStringList preferredAnswers = {})
        : m_preferred(std::move(preferredAnswers))
    { }
    int runAlert(const Alert &alert) override;
    std::optional<QString> runOpenPanel(const FilePanel &panel) override;
    std::optional<QString> runSavePanel(const FilePanel &panel) override;

private:
    QStringList m_preferred;
};

// For tests: records everything shown and answers with scripted responses, in order. Without a
// scripted response an alert answers FirstButton and a panel is cancelled. Used on the UI thread.
class RecordingPresenter final : public Presenter {
public:
    int runAlert(const Alert &alert) override;
    std::optional<QString> runOpenPanel(const FilePanel &panel) override;
    std::optional<QString> runSavePanel(const FilePanel &panel) override;

    void scriptAlertResponse(int response) { m_alertResponses.push_back(response); }
    void scriptOpenPanelResult(std::optional<QString> path) { m_openResults.push_back(std::move(path)); }
    void scriptSavePanelResult(std::optional<QString> path) { m_saveResults.push_back(std::move(path)); }

    [[nodiscard]] const QList<Alert> &alerts() const { return m_alerts; }
    [[nodiscard]] const QList<FilePanel> &openPanels() const { return m_openPanels; }
    [[nodiscard]] const QList<FilePanel> &savePanels() const { return m_savePanels; }
    // Responses and results scripted but not yet used up.
    [[nodiscard]] std::size_t unusedScript() const
    {
        return m_alertResponses.size() + m_openResults.size() + m_saveResults.size();
    }
    void clear();

private:
    QList<Alert> m_alerts;
    QList<FilePanel> m_openPanels;
    QList<FilePanel> m_savePanels;
    std::deque<int> m_alertResponses;
    std::deque<std::optional<QString>> m_openResults;
    std::deque<std::optional<QString>> m_saveResults;
};

} // namespace corvane
