#include "settings/qsettings_store.h"

#include "settings/stored_value.h"

#include <QSettings>

namespace veloxa::settings {

namespace {
QString userStorePath()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("KW"), QStringLiteral("Veloxa"))
        .fileName();
}
} // namespace

QSettingsStore::QSettingsStore()
    : m_filePath(userStorePath())
{
}

QSettingsStore::QSettingsStore(QString filePath)
    : m_filePath(std::move(filePath))
{
}

ReadResult QSettingsStore::read(const QString &name) const
{
    QSettings settings(m_filePath, QSettings::NativeFormat);
    if (settings.status() != QSettings::NoError)
        return {};
    const QByteArray bytes = settings.value(name).toString().toUtf8();
    const auto text = acceptStoredBytes(std::string_view(bytes.constData(), bytes.size()));
    if (!text)
        return {};
    return {true, QString::fromStdString(*text)};
}

bool QSettingsStore::write(const QString &name, const QString &text)
{
    QSettings settings(m_filePath, QSettings::NativeFormat);
    settings.setValue(name, text);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace veloxa::settings
