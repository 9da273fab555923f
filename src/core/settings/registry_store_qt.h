#pragma once

#include "core/settings/registry_store.h"
#include "core/settings/store.h"

namespace veloxa::settings {

// The store on Windows: the values under HKEY_LOCAL_MACHINE\SOFTWARE\KW\Veloxa
// in the 32-bit registry view (see registry_store.h). Names and texts are
// converted to and from the system's ANSI code page; a character the code page
// cannot hold is written as that code page's default character ("?").
class RegistryStore final : public SettingsStore {
public:
    RegistryStore() = default;
    // A store on another key, for tests.
    explicit RegistryStore(AnsiRegistryStore registry);
    // A named unit's panel's store: the subkey <unit> of the panel's key; the
    // panel's own key for an empty unit.
    static RegistryStore forUnit(const QString &unit);

    ReadResult read(const QString &name) const override;
    bool write(const QString &name, const QString &text) override;

private:
    AnsiRegistryStore m_registry;
};

} // namespace veloxa::settings
