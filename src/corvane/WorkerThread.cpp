#include "WorkerThread.h"

#include <QThread>

#include <pthread.h>
#include <thread>

namespace corvane {

void startWorkerThread(const QString &label, std::function<void()> work)
{
    std::thread([label, work = std::move(work)] {
        // The kernel keeps at most 15 bytes of a thread's name.
        pthread_setname_np(pthread_self(), label.toUtf8().left(15).constData());
        QThread::currentThread()->setObjectName(label);
        work();
    }).detach();
}

} // namespace corvane
