#pragma once
// Where a running panel's control endpoint is. On Linux a local socket,
// $XDG_RUNTIME_DIR/veloxa2-gui/control, in a folder only its user may enter;
// on Windows the named pipe "veloxa2-gui-control-<user name>", open to its
// user only.

#include <QString>

namespace veloxa::remote {

// The name QLocalServer::listen and QLocalSocket::connectToServer take.
QString endpointName();

#ifndef Q_OS_WIN
// The folder of the socket.
QString endpointFolder();

// Makes the folder when it is missing (mode 0700) and checks it: a folder,
// not a link, owned by this user, with no access for anyone else. Empty when
// it may hold the endpoint, else why not.
QString checkPrivateFolder(const QString &folder);
#endif

} // namespace veloxa::remote
