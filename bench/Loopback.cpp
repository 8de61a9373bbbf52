#include "bench/Loopback.h"

#include <arpa/inet.h>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace tessor::bench {

sockaddr_in LoopbackAddress(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

int ListenOnLoopback(int backlog, int* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(0);
    socklen_t size = sizeof a;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, backlog) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0) {
        *port = ntohs(a.sin_port);
        return fd;
    }
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool ListensOnLoopback(int port) {
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port);
    std::ifstream table("/proc/net/tcp");
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string slot, address, remote, state;
        fields >> slot >> address >> remote >> state;
        if (address == local && state == "0A") // 0A: listening
            return true;
    }
    return false;
}

} // namespace tessor::bench
