#pragma once

// Figures of this process, read from the kernel.

// Resident memory (VmRSS of /proc/self/status) in KiB; -1 when unreadable.
long residentKiB();
// The most resident memory the process held so far, in KiB.
long peakResidentKiB();
// CPU time used so far by every thread of the process, user plus system.
double cpuSeconds();
