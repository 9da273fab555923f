#pragma once

#include "core/settings/store.h"
#include "core/settings/stored_value.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QStringList>

namespace veloxa::settings {

// A store in memory that keeps a log of every access, for tests and benchmarks.
class MemoryStore final : public SettingsStore {
public:
    ReadResult read(const QString &name) const override
    {
        reads.append(name);
        const auto it = values.constFind(name);
        if (it == values.constEnd())
            return {};
        const QByteArray bytes = it->toUtf8();
        const auto text = acceptStoredBytes(std::string_view(bytes.constData(), bytes.size()));
        if (!text)
            return {};
        return {true, QString::fromStdString(*text)};
    }

    bool write(const QString &name, const QString &text) override
    {
        writes.append({name, text});
        if (failWrites)
            return false;
        values.insert(name, text);
        return true;
    }

    QMap<QString, QString> values;
    mutable QStringList reads;
    QList<QPair<QString, QString>> writes;
    bool failWrites = false;
};

} // namespace veloxa::settings
