#include "bench/Measure.h"

#include "bench/Loopback.h"
#include "bench/Process.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace tessor::bench {

int FreeLoopbackPort() {
    int port = 0;
    const int fd = ListenOnLoopback(1, &port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

double MedianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size()))) - 1;
    return values[std::min(at, values.size() - 1)];
}

double CpuSeconds(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream in(stat.substr(close + 2)); // fields from the third on: the name may hold blanks
    std::string field;
    unsigned long long ticks = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i >= 14) // utime, stime
            ticks += std::stoull(field);
    }
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long StatusKb(pid_t pid, const std::string& key) {
    std::istringstream in(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + ":", 0) == 0)
            return std::stol(line.substr(key.size() + 1));
    }
    return -1;
}

} // namespace tessor::bench
