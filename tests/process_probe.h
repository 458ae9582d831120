#pragma once
// What a test can read of a running process: its descriptors (handles on
// Windows), its CPU time and, where /proc tells it, its memory.

#include <string>

int openDescriptors(int pid);
// User and system time of the process, in ticks of 10 ms.
long cpuTicks(int pid);
// A "Vm..." line of /proc/PID/status ("VmRSS", "VmSize"), in kibibytes; -1
// when gone. Linux only.
long statusKiB(int pid, const std::string& key);
