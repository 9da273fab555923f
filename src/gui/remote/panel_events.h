#pragma once
// The panel's events as a script watches them: each datagram sent or refused,
// each arrival, each change of the link state and of any control, whatever
// caused it. Every event is written as a JSON object with "time" (UTC,
// milliseconds) and "kind".

#include "core/link/channel.h"
#include "gui/window/panel_controls.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>

#include <array>
#include <initializer_list>
#include <utility>

namespace veloxa::window {
class LinkView;
}

namespace veloxa::remote {

class PanelOperations;

// An event's time as written: ISO 8601 in UTC to the millisecond. The part up
// to the second is formatted once a second; one writer per thread.
class EventTimes {
public:
    QString text(qint64 msecsSinceEpoch);

private:
    qint64 m_second = -1;
    QString m_secondText; // "yyyy-MM-ddTHH:mm:ss."
};

// One event as the window's thread makes it: its time, its kind and a few
// fields, cheap to make and to copy. Whoever sends it on writes it out, on
// its own thread if it has one.
class PanelEvent {
public:
    struct Field {
        QLatin1String name;
        QJsonValue value;
    };
    static constexpr std::size_t kMostFields = 3;

    PanelEvent(QLatin1String kind, std::initializer_list<Field> fields);

    QLatin1String kind() const { return m_kind; }
    // The field of that name; undefined when the event has none.
    QJsonValue value(QLatin1String name) const;
    // {"time": …, "kind": …, and the fields}, the time written by `times`.
    QJsonObject toJson(EventTimes &times) const;

private:
    qint64 m_msecs;
    QLatin1String m_kind;
    std::array<Field, kMostFields> m_fields;
    std::size_t m_count = 0;
};

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
    void happened(const veloxa::remote::PanelEvent &event);

private:
    void watchControls(const window::PanelControls &controls);
    // Reports every control whose state differs from the one last reported.
    void reportChanges();
    void reportDatagram(QLatin1String kind, const link::Datagram &datagram, const QString &reason = {});

    const PanelOperations &m_operations;
    QHash<QString, QJsonValue> m_reported;
    QSet<const void *> m_watchers;
    bool m_watched = false;
    static constexpr qsizetype kMeaningsKept = 64;
    QHash<link::Datagram, std::pair<QString, QString>> m_meanings; // bytes in hex, meaning
};

} // namespace veloxa::remote
