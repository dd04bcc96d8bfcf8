#pragma once

#include <QByteArray>

// Local stream sockets by address, for what Qt's names cannot express: a path relative to the
// working directory (pinned to the folder entered, whatever is renamed since) and a socket made
// reachable by every local user without changing its mode by path afterwards. An address that
// begins with '\0' lies in the abstract namespace.

// A descriptor connected to `address`, or -1 with errno set (ENOENT, ECONNREFUSED: nobody listens).
int connectLocal(const QByteArray &address, int timeoutMs);
// The address the socket at the other end of `descriptor` was bound to, as its owner gave it.
QByteArray peerAddress(int descriptor);
// A descriptor listening on `address`, which any local user may connect to, or -1 with errno set
// (EADDRINUSE: the address is taken).
int listenLocal(const QByteArray &address);
