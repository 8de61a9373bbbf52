#pragma once

// Figures the benchmark programs share: a free port on the loopback address, a median, and what a running
// process has used (CPU time, memory) from /proc.

#include <string>
#include <sys/types.h>
#include <vector>

namespace tessor::bench {

// A TCP port on 127.0.0.1 that was free a moment ago; 0 when none could be had.
int FreeLoopbackPort();

// The middle value (the upper one of an even count); 0 for none.
double MedianOf(std::vector<double> values);

// The value at share p (0 to 1) of the sorted values, nearest rank (p 0.5 a median, 1 the largest); 0 for
// none.
double Percentile(std::vector<double> values, double p);

// CPU seconds (user + system) a process has used so far, from /proc/PID/stat; 0 when it cannot be read.
double CpuSeconds(pid_t pid);

// An entry of /proc/PID/status in kB ("VmRSS", "VmHWM"); -1 when absent.
long StatusKb(pid_t pid, const std::string& key);

} // namespace tessor::bench
