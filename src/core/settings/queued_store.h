#pragma once

#include "core/settings/file_store.h"

#include <memory>

namespace veloxa::settings {

// The panel's store: a FileStore whose writes are done by one writer thread,
// so the window never waits for the disk. The writer keeps the newest text
// for every name handed to it and writes what waits, in the order the names
// were first handed over, in one careful write of the file; meanwhile the
// window may hand over more. It touches no widget and nothing but the file.
//
// Reads see what still waits (as it will read once written), else the file.
// write() is true when the value was handed to the writer, false when it
// cannot be (no path, an empty name); whether the disk took it is told by
// waitForWrites(). A write the disk refuses is not tried again: the file
// keeps what it held, and reads then give that.
//
// Shut-down waits for the writer (waitForWrites, then the destructor, each
// bounded in time); a panel killed outright loses only what still waited,
// and the file on the disk is always a whole one.
class QueuedStore final : public SettingsStore {
public:
    // How long the destructor waits for the writer to finish what waits.
    static constexpr int kStopWaitMs = 5000;

    QueuedStore();
    explicit QueuedStore(QString filePath);
    ~QueuedStore() override;
    QueuedStore(const QueuedStore &) = delete;
    QueuedStore &operator=(const QueuedStore &) = delete;

    ReadResult read(const QString &name) const override;
    bool write(const QString &name, const QString &text) override;
    bool waitForWrites(int timeoutMs) override;

    QString filePath() const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace veloxa::settings
