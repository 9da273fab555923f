#include "core/settings/queued_store.h"

#include <QHash>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace veloxa::settings {

// Held by the store and by its writer thread: a writer still busy with a
// disk that does not answer when the store is destroyed keeps it alive, and
// the store does not wait for it longer than kStopWaitMs.
struct QueuedStore::Shared {
    explicit Shared(QString path)
        : file(std::move(path))
    {
    }

    FileStore file;
    std::mutex mutex;
    std::condition_variable changed;
    QHash<QString, QString> waiting; // newest text per name, until it is on the disk
    QStringList order; // the names of `waiting`, in the order first handed over
    bool busy = false; // a careful write is under way
    bool failed = false; // a write failed since the last waitForWrites
    bool stopping = false;
    bool stopped = false;

    void run();
};

void QueuedStore::Shared::run()
{
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return stopping || !order.isEmpty(); });
        if (order.isEmpty())
            break; // stopping, nothing left
        QList<QPair<QString, QString>> batch;
        for (const QString &name : std::as_const(order))
            batch.append({name, waiting.value(name)});
        busy = true;
        lock.unlock();
        const bool ok = file.writeAll(batch);
        lock.lock();
        busy = false;
        if (!ok)
            failed = true;
        // What was written (or refused) leaves the queue, unless the window
        // handed over a newer text meanwhile: that one waits for the next round.
        for (const auto &[name, text] : batch) {
            const auto it = waiting.constFind(name);
            if (it != waiting.constEnd() && *it == text) {
                waiting.erase(it);
                order.removeOne(name);
            }
        }
        changed.notify_all();
    }
    stopped = true;
    changed.notify_all();
}

QueuedStore::QueuedStore()
    : QueuedStore(FileStore::userStorePath())
{
}

QueuedStore::QueuedStore(QString filePath)
    : m_shared(std::make_shared<Shared>(std::move(filePath)))
{
    std::thread([shared = m_shared] { shared->run(); }).detach();
}

QueuedStore::~QueuedStore()
{
    std::unique_lock lock(m_shared->mutex);
    m_shared->stopping = true;
    m_shared->changed.notify_all();
    m_shared->changed.wait_for(lock, std::chrono::milliseconds(kStopWaitMs), [this] { return m_shared->stopped; });
}

QString QueuedStore::filePath() const
{
    return m_shared->file.filePath();
}

ReadResult QueuedStore::read(const QString &name) const
{
    {
        std::lock_guard lock(m_shared->mutex);
        const auto it = m_shared->waiting.constFind(name);
        if (it != m_shared->waiting.constEnd())
            return readBack(*it);
    }
    return m_shared->file.read(name);
}

bool QueuedStore::write(const QString &name, const QString &text)
{
    if (name.isEmpty() || m_shared->file.filePath().isEmpty())
        return false;
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->stopping)
        return false;
    if (!m_shared->waiting.contains(name))
        m_shared->order.append(name);
    m_shared->waiting.insert(name, text);
    m_shared->changed.notify_all();
    return true;
}

bool QueuedStore::waitForWrites(int timeoutMs)
{
    std::unique_lock lock(m_shared->mutex);
    const bool done = m_shared->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                                 [this] { return m_shared->order.isEmpty() && !m_shared->busy; });
    const bool ok = done && !m_shared->failed;
    if (done)
        m_shared->failed = false;
    return ok;
}

} // namespace veloxa::settings
