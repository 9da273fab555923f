#pragma once

#include <QObject>

namespace veloxa::app {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the event loop, so a
// panel ended politely still runs its shut-down and keeps its settings.
class PoliteEnd : public QObject {
    Q_OBJECT
public:
    explicit PoliteEnd(QObject *parent = nullptr);
    ~PoliteEnd() override;

signals:
    void requested();
};

} // namespace veloxa::app
