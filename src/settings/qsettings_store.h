#pragma once

#include "settings/store.h"

#include <QString>

namespace veloxa::settings {

// The store on Linux and macOS: QSettings in native format for organisation
// "KW" and application "Veloxa" (on Linux $XDG_CONFIG_HOME/KW/Veloxa.conf),
// values at the top level, a new QSettings object for every call.
class QSettingsStore final : public SettingsStore {
public:
    QSettingsStore();
    // A store kept in the given file instead of the user's location.
    explicit QSettingsStore(QString filePath);

    ReadResult read(const QString &name) const override;
    bool write(const QString &name, const QString &text) override;

    QString filePath() const { return m_filePath; }

private:
    QString m_filePath;
};

} // namespace veloxa::settings
