#pragma once
// One client of the control endpoint, apart from its socket: the bytes it
// writes go in, the lines to answer come out, in the order of the requests.

#include "core/remote/line_reader.h"

#include <QByteArray>
#include <QByteArrayView>

namespace veloxa::remote {

class PanelOperations;

class ControlSession {
public:
    explicit ControlSession(PanelOperations &operations);

    // Carries out every whole request in `bytes` (with what came before) and
    // returns the answers. After an over-long line it answers that once and
    // wants the connection closed.
    QByteArray receive(QByteArrayView bytes);

    bool wantsClose() const { return m_wantsClose; }
    bool subscribed() const { return m_subscribed; }

private:
    QByteArray answer(QByteArrayView line);

    PanelOperations &m_operations;
    LineReader m_reader;
    bool m_subscribed = false;
    bool m_wantsClose = false;
};

} // namespace veloxa::remote
