#pragma once
// The panel's settings between runs: named text values, one value per call,
// nothing cached in the program beyond writes still on their way to the disk.

#include <QString>

namespace veloxa::settings {

struct ReadResult {
    bool found = false;
    QString text; // empty whenever found is false
};

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual ReadResult read(const QString &name) const = 0;
    // True when the store took the value: written, or for a store that
    // writes in the background (QueuedStore), handed to its writer. A store
    // that writes at once reports the outcome here.
    virtual bool write(const QString &name, const QString &text) = 0;
    // Waits at most timeoutMs until every value taken so far is on the disk.
    // True when all of them were written; false when one could not be, or
    // time ran out. Each call reports on the writes since the call before.
    // A store that writes at once has nothing to wait for.
    virtual bool waitForWrites(int timeoutMs)
    {
        Q_UNUSED(timeoutMs);
        return true;
    }
};

// The value names, exactly as the store holds them.
namespace names {
inline const QString Left = QStringLiteral("Left");
inline const QString Top = QStringLiteral("Top");
inline const QString IpAddress = QStringLiteral("IP Address");
inline const QString Frequency = QStringLiteral("Frequency");
inline const QString SystemClock = QStringLiteral("System Clock");
inline const QString Polarity = QStringLiteral("Polarity");
inline const QString DisplayContrast = QStringLiteral("Display Contrast");
inline const QString Gain = QStringLiteral("Gain (CP current)");
inline const QString RampRate = QStringLiteral("Ramp Rate");
inline const QString RampStep = QStringLiteral("Ramp Step");
inline const QString RampStopFreq = QStringLiteral("Ramp Stop Freq");
} // namespace names

} // namespace veloxa::settings
