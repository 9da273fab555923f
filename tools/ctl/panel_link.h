#pragma once
// A running panel as veloxa2-ctl reaches it: through its control endpoint
// (--panel) or through a broker (--mqtt). The same plan runs on either.

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <variant>

namespace veloxa::ctl {

class PanelLink {
public:
    virtual ~PanelLink() = default;
    PanelLink() = default;
    PanelLink(const PanelLink &) = delete;
    PanelLink &operator=(const PanelLink &) = delete;

    // One request ("get", "set", "click", "enter") and its answer: its
    // "result", or the failure in words.
    virtual std::variant<QJsonValue, QString> call(const QString &method, const QJsonObject &params) = 0;
    // Starts the stream of events; the failure in words, if any.
    virtual std::optional<QString> watch() = 0;
    // The next event (with "unit" when several units are watched); nothing
    // once the panel or the broker went away.
    virtual std::optional<QJsonObject> nextEvent() = 0;
    // Why the events ended, for the user.
    virtual QString eventsEnded() const { return QStringLiteral("the panel closed its endpoint"); }
};

} // namespace veloxa::ctl
