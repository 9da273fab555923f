#pragma once
// The panel's events as a script watches them: each datagram sent or refused,
// each arrival, each change of the link state and of any control, whatever
// caused it. Every event is a JSON object with "time" (UTC, milliseconds) and
// "kind".

#include "core/link/channel.h"
#include "gui/window/panel_controls.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>

#include <utility>

namespace veloxa::window {
class LinkView;
}

namespace veloxa::remote {

class PanelOperations;

class PanelEvents : public QObject {
    Q_OBJECT
public:
    PanelEvents(const window::PanelControls &controls, const PanelOperations &operations, link::Channel &channel,
                window::LinkView &linkView);

    // Events are made only while someone watches (the endpoint's subscribers,
    // the broker bridge); changes are still followed, so that the first event
    // after a pause reports against the true state.
    void setWatched(const void *watcher, bool watched);

signals:
    void happened(const QJsonObject &event);

private:
    void watchControls(const window::PanelControls &controls);
    // Reports every control whose state differs from the one last reported.
    void reportChanges();
    void report(const QString &kind, QJsonObject fields);
    QJsonObject datagramFields(const link::Datagram &datagram);
    QString timeNow();

    const PanelOperations &m_operations;
    QHash<QString, QJsonValue> m_reported;
    QSet<const void *> m_watchers;
    bool m_watched = false;
    static constexpr qsizetype kMeaningsKept = 64;
    QHash<link::Datagram, std::pair<QString, QString>> m_meanings; // bytes in hex, meaning
    qint64 m_second = -1;
    QString m_secondText; // "yyyy-MM-ddTHH:mm:ss."
};

} // namespace veloxa::remote
