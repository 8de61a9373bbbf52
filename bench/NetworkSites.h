#pragma once

// Boards behind ser2net seen from afar and in numbers, the further parts of tessor-bench-network: a
// console server at a remote site (a relay adding a delay each way) and one monitor watching many boards
// behind one ser2net. Each part prints its figures, never an assertion.

#include <string>

namespace tessor::bench {

struct NetworkSitesOptions {
    std::string workDir;
    std::string sim;
    std::string cli;
    std::string ser2net;
    int repeats = 5;       // tessor-cli status runs per path through the relay
    int delayMs = 20;      // the relay's delay, each way
    int proxySeconds = 15; // a monitor on each path through the relay
    int boards = 16;
    int restSeconds = 40; // the monitor of all boards at rest
};

// 7. PHY pass and status times through a relay adding delayMs each way in front of ser2net's raw and
// RFC 2217 accepters, against the pseudo-terminal plus one round trip per command counted on the wire.
void RemoteSite(const NetworkSitesOptions& o);

// 8. One monitor watching `boards` simulators behind one ser2net: its CPU and resident memory at rest,
// and each board's pass time against one board watched alone.
void ManyBoards(const NetworkSitesOptions& o);

} // namespace tessor::bench
