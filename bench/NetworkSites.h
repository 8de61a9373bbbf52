#pragma once

// Boards behind ser2net seen from afar and in numbers, the further parts of tessor-bench-network: a
// console server at a remote site (a relay adding a delay each way) and one monitor watching many boards
// behind one ser2net. Each part prints its figures, never an assertion.

#include <string>
#include <vector>

namespace tessor::testsupport {
class Process;
}

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

// One accepter of ser2net: "telnet(rfc2217),tcp(nodelay)" or "tcp(nodelay)", its port, the device it connects
// to.
struct Accepter {
    std::string kind;
    int port;
    std::string tty;
    std::string Url() const {
        return (kind.rfind("telnet", 0) == 0 ? "rfc2217://127.0.0.1:" : "socket://127.0.0.1:") +
               std::to_string(port);
    }
};

// ser2net in the foreground with one connection per accepter, its files named after tag in o.workDir.
// Characters are not held back: chardelay is off, so ser2net does not gather what the board sends for up
// to 20 ms, and tcp(nodelay) in an accepter stops it holding each character until the last is
// acknowledged. True once every accepter listens.
bool StartSer2net(const NetworkSitesOptions& o, const std::string& tag,
                  const std::vector<Accepter>& accepters, testsupport::Process* ser2net);

// 7. PHY pass and status times through a relay adding delayMs each way in front of ser2net's raw and
// RFC 2217 accepters, against the pseudo-terminal plus one round trip per command counted on the wire.
void RemoteSite(const NetworkSitesOptions& o);

// 8. One monitor watching `boards` simulators behind one ser2net: its CPU and resident memory at rest,
// and each board's pass time against one board watched alone.
void ManyBoards(const NetworkSitesOptions& o);

} // namespace tessor::bench
