#include "core/settings/registry_store_qt.h"

#include <QByteArray>

#include <utility>

namespace veloxa::settings {

namespace {

// On Windows, QString's local 8-bit encoding is the ANSI code page.
std::string ansi(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

} // namespace

RegistryStore::RegistryStore(AnsiRegistryStore registry)
    : m_registry(std::move(registry))
{
}

RegistryStore RegistryStore::forUnit(const QString &unit)
{
    if (unit.isEmpty())
        return {};
    return RegistryStore(
        AnsiRegistryStore(HKEY_LOCAL_MACHINE, std::string(kRegistryKeyPath) + '\\' + unit.toStdString()));
}

ReadResult RegistryStore::read(const QString &name) const
{
    const auto text = m_registry.read(ansi(name));
    if (!text)
        return {};
    return {true, QString::fromLocal8Bit(text->data(), qsizetype(text->size()))};
}

bool RegistryStore::write(const QString &name, const QString &text)
{
    return m_registry.write(ansi(name), ansi(text));
}

} // namespace veloxa::settings
