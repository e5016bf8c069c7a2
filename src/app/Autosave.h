#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Project;
class QLockFile;
class QWidget;

// One recovery copy in the recovery folder: "<id>.recovery" holds a header line of JSON (the
// project's own file, its name, when the copy was written) and after it the project's file bytes
// as Save writes them; "<id>.lock" is held by the Quillfern that owns the copy while it runs.
struct RecoveryCopy {
    QString id;
    // The project's own file when the copy was written; none for a project never saved.
    std::optional<QString> path;
    QString name;
    QDateTime written;
    // Held by this process: no other Quillfern offers the copy meanwhile.
    std::shared_ptr<QLockFile> lock;
};

namespace Recovery {

// ~/.local/share/Quillfern/recovery
[[nodiscard]] QString folder();
// The copies no running Quillfern owns, because the one that wrote them ended without removing
// them, oldest first; each is locked by this process from now on.
[[nodiscard]] std::vector<RecoveryCopy> takeOrphanedCopies();
// The project file bytes a copy holds; none when it cannot be read.
[[nodiscard]] std::optional<QByteArray> projectBytes(const RecoveryCopy &copy);
// Deletes the copy, after every write queued before, and then gives up its lock.
void remove(RecoveryCopy copy);
// Returns once every queued write and removal is done: before the run ends, and in tests.
void waitForWrites();
// How long after the first change a copy is written: QUILLFERN_AUTOSAVE_SECONDS, else 60 s.
[[nodiscard]] std::chrono::milliseconds interval();

} // namespace Recovery

// Keeps a recovery copy of a project's unsaved work. The first change after a save or a copy
// starts the interval; when it has passed, or the window loses focus, the copy is written. The
// project's bytes are taken on the UI thread, written, synced and renamed into place on a writer
// thread. The copy goes when the project is saved or its window closes; the controller owns this.
class Autosave : public QObject {
    Q_OBJECT

public:
    // path gives the project's own file as it is now.
    Autosave(Project *project, std::function<std::optional<QString>()> path, QObject *parent = nullptr);
    // Keeps the copy: a run that ends without closing the window leaves it for the next start.
    ~Autosave() override;

    // Writes at once when this window loses focus.
    void watchWindow(QWidget *window);
    // Goes on writing into a copy the project was restored from.
    void adopt(RecoveryCopy copy);
    // Writes the copy now if the project changed since the last one.
    void writeNow();
    // The project's changes are saved or thrown away: the copy goes.
    void removeCopy();

    [[nodiscard]] bool isDue() const { return m_due; }
    [[nodiscard]] const std::optional<RecoveryCopy> &copy() const { return m_copy; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void noteChange();

    Project *m_project;
    std::function<std::optional<QString>()> m_path;
    QTimer m_timer;
    bool m_due = false;
    std::optional<RecoveryCopy> m_copy;
    QPointer<QWidget> m_window;
};
