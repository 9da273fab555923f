#pragma once
// Where a running panel's control endpoint is. On Linux a local socket,
// $XDG_RUNTIME_DIR/veloxa2-gui/control, in a folder only its user may enter;
// on Windows the named pipe "veloxa2-gui-control-<user name>", open to its
// user only. The panel of a named unit (--unit NAME) has its own:
// $XDG_RUNTIME_DIR/veloxa2-gui/NAME/control, or the pipe's name + "-NAME".

#include <QString>

namespace veloxa::remote {

// A unit's name: 1 to 64 letters, digits, '-', '_' and '.', and not "." or
// "..", so that it is safe as a file name, a registry key and an MQTT topic level.
bool isUnitName(const QString &name);
// One character a unit's name may hold.
bool isUnitNameCharacter(QChar c);

// The name QLocalServer::listen and QLocalSocket::connectToServer take; an
// empty unit is the panel without --unit.
QString endpointName(const QString &unit = {});

#ifndef Q_OS_WIN
// The folder of the socket.
QString endpointFolder(const QString &unit = {});

// Makes the folder when it is missing (mode 0700) and checks it: a folder,
// not a link, owned by this user, with no access for anyone else. Empty when
// it may hold the endpoint, else why not.
QString checkPrivateFolder(const QString &folder);

// checkPrivateFolder for the folder of the socket at `endpoint` and, when it
// is a unit's, for the panel's folder above it first.
QString checkEndpointFolders(const QString &endpoint);
#endif

} // namespace veloxa::remote
