#pragma once

// The loopback address as the benchmarks and their tests use it: every server they start listens on
// 127.0.0.1 only.

#include <netinet/in.h>

namespace tessor::bench {

// 127.0.0.1 with a port (0: any free one, for bind).
sockaddr_in LoopbackAddress(int port);

// A socket listening on a free port of 127.0.0.1 (close-on-exec), its port in *port; -1 when none could
// be had.
int ListenOnLoopback(int backlog, int* port);

// Whether a socket listens on 127.0.0.1:port, from the kernel's table rather than by connecting: a
// connection would make a console server open its device and read from it for a while.
bool ListensOnLoopback(int port);

} // namespace tessor::bench
