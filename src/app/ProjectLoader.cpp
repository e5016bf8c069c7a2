#include "ProjectLoader.h"

#include "Project.h"
#include "ProjectFile.h"
#include "Task.h"
#include "WorkerThread.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>

namespace ProjectLoader {

namespace {

// From the start of the read, so that the window is up before half a second has passed.
std::atomic<qint64> defaultDelayMs { 400 };

// What the reading thread and the waiting UI thread share; whichever lets go last frees it,
// and that is always the UI thread once the read has finished (the wake-up call holds it).
struct Read {
    std::mutex mutex;
    std::condition_variable finishedChange;
    bool finished = false;
    std::optional<Loaded> result;
    std::exception_ptr error;
    // Progress in thousandths: the read's bytes count for a tenth, the parse for the rest.
    std::atomic<int> permille { 0 };
    std::atomic<bool> cancelled { false };
    // Set and read on the UI thread only.
    QEventLoop *loop = nullptr;
};

// The project's objects were made on the reading thread; they are handed to the UI thread,
// which is the only one to touch them from now on.
void handOver(Project &project, QThread *uiThread)
{
    for (const TaskPtr &task : project.tasks())
        task->moveToThread(uiThread);
    project.moveToThread(uiThread);
}

void run(const std::shared_ptr<Read> &read, const QString &path, std::optional<PlanExchange::Format> import,
    QThread *uiThread)
{
    std::optional<Loaded> result;
    std::exception_ptr error;
    try {
        Loaded loaded;
        ReadOptions options;
        options.stamp = &loaded.stamp;
        options.progress = [&read](qint64 done, qint64 total) {
            read->permille.store(int(100 * done / std::max<qint64>(total, 1)), std::memory_order_relaxed);
            return !read->cancelled.load(std::memory_order_relaxed);
        };
        const QByteArray bytes = readWholeFile(path, options);
        const auto parsed = [&read](qint64 done, qint64 total) {
            read->permille.store(100 + int(900 * done / std::max<qint64>(total, 1)), std::memory_order_relaxed);
            return !read->cancelled.load(std::memory_order_relaxed);
        };
        if (import) {
            PlanExchange::Imported imported
                = PlanExchange::importPlan(bytes, *import, QFileInfo(path).completeBaseName(), parsed);
            loaded.project = std::move(imported.project);
            loaded.kept = std::move(imported.kept);
            loaded.changes = std::move(imported.changes);
        } else {
            loaded.project = readProject(bytes, parsed);
        }
        if (!read->cancelled.load()) {
            handOver(*loaded.project, uiThread);
            result = std::move(loaded);
        }
    } catch (...) {
        error = std::current_exception();
    }
    {
        const std::lock_guard guard(read->mutex);
        read->result = std::move(result);
        read->error = error;
        read->finished = true;
    }
    read->finishedChange.notify_all();
}

} // namespace

std::chrono::milliseconds setDefaultProgressDelay(std::chrono::milliseconds delay)
{
    return std::chrono::milliseconds(defaultDelayMs.exchange(delay.count()));
}

std::optional<Loaded> load(const QString &path, const Options &options)
{
    QElapsedTimer started;
    started.start();
    auto read = std::make_shared<Read>();
    QThread *uiThread
        = QCoreApplication::instance() ? QCoreApplication::instance()->thread() : QThread::currentThread();
    corvane::startWorkerThread(
        QStringLiteral("project reader"), [read, path, uiThread, import = options.import]() mutable {
            run(read, path, import, uiThread);
            // Wakes the waiting loop, and lets go of the read on the UI thread, where its project lives.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [read = std::move(read)] {
                    if (read->loop)
                        read->loop->quit();
                },
                Qt::QueuedConnection);
        });

    // Most files are read before anyone would notice the wait; only a longer read turns to the
    // event loop, so that windows stay drawn and answering.
    constexpr auto briefly = std::chrono::milliseconds(40);
    std::unique_lock lock(read->mutex);
    if (!read->finishedChange.wait_for(lock, briefly, [&read] { return read->finished; })) {
        lock.unlock();
        QEventLoop loop;
        read->loop = &loop;
        // Made now, hidden: the first window of a run takes a while to make, and the plan being
        // opened may be that first window.
        QProgressDialog progress(QCoreApplication::translate("ProjectLoader", "Reading \u201c%1\u201d\u2026")
                                     .arg(QFileInfo(path).fileName()),
            QCoreApplication::translate("ProjectLoader", "Cancel"), 0, 1000, options.window);
        progress.setWindowTitle(QCoreApplication::translate("ProjectLoader", "Quillfern"));
        progress.setWindowModality(options.window ? Qt::WindowModal : Qt::NonModal);
        // Shown by the timer below, never by the dialog's own guess.
        progress.setMinimumDuration(std::numeric_limits<int>::max());
        progress.setAutoClose(false);
        progress.setAutoReset(false);
        QObject::connect(&progress, &QProgressDialog::canceled, &loop, [&] {
            read->cancelled = true;
            loop.quit();
        });
        const qint64 delay = options.progressDelay.value_or(std::chrono::milliseconds(defaultDelayMs.load())).count();
        QTimer show;
        show.setSingleShot(true);
        show.setInterval(int(std::max<qint64>(delay - started.elapsed(), 0)));
        QObject::connect(&show, &QTimer::timeout, &loop, [&] {
            progress.setValue(read->permille.load());
            progress.show();
        });
        QTimer tick;
        tick.setInterval(50);
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (progress.isVisible())
                progress.setValue(read->permille.load());
        });
        show.start();
        tick.start();
        loop.exec();
        read->loop = nullptr;
        lock.lock();
        // The application is ending, or the user stopped the read: it runs out on its own.
        if (!read->finished) {
            read->cancelled = true;
            return std::nullopt;
        }
    }
    if (read->cancelled)
        return std::nullopt;
    if (read->error)
        std::rethrow_exception(read->error);
    return std::move(read->result);
}

void runInBackground(QWidget *window, const QString &label, const std::function<void()> &work)
{
    struct Run {
        std::mutex mutex;
        std::condition_variable finishedChange;
        bool finished = false;
        std::exception_ptr error;
        QEventLoop *loop = nullptr;
    };
    auto run = std::make_shared<Run>();
    corvane::startWorkerThread(QStringLiteral("project writer"), [run, work]() mutable {
        std::exception_ptr error;
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        {
            const std::lock_guard guard(run->mutex);
            run->error = error;
            run->finished = true;
        }
        run->finishedChange.notify_all();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [run = std::move(run)] {
                if (run->loop)
                    run->loop->quit();
            },
            Qt::QueuedConnection);
    });
    std::unique_lock lock(run->mutex);
    if (!run->finishedChange.wait_for(lock, std::chrono::milliseconds(40), [&run] { return run->finished; })) {
        lock.unlock();
        // Edits now would be lost to the file being written and yet marked saved.
        const QPointer<QWidget> blocked = window;
        const QPointer<QWidget> focused = QApplication::focusWidget();
        if (blocked)
            blocked->setEnabled(false);
        QEventLoop loop;
        run->loop = &loop;
        std::optional<QProgressDialog> progress;
        // The greyed window says it is busy; a window of progress, whose first showing in a run
        // costs a pause of its own, only for a write that outlasts most saves of a large plan.
        QTimer::singleShot(std::chrono::milliseconds(defaultDelayMs.load() * 5 / 2), &loop, [&] {
            progress.emplace(label, QString(), 0, 0, window);
            progress->setCancelButton(nullptr);
            // Not modal: the window takes no input already, and a modal window over a large plan's
            // window costs its views a long pause.
            progress->setWindowModality(Qt::NonModal);
            progress->setMinimumDuration(0);
            progress->show();
        });
        // The run may have ended between the wait and the loop.
        QTimer::singleShot(0, &loop, [&] {
            const std::lock_guard guard(run->mutex);
            if (run->finished)
                loop.quit();
        });
        while (true) {
            loop.exec();
            const std::lock_guard guard(run->mutex);
            if (run->finished)
                break;
        }
        run->loop = nullptr;
        progress.reset();
        if (blocked)
            blocked->setEnabled(true);
        if (focused)
            focused->setFocus();
        lock.lock();
    }
    if (run->error)
        std::rethrow_exception(run->error);
}

} // namespace ProjectLoader
