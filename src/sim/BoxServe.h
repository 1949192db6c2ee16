#pragma once
// Serving the simulated box alone, or beside an RQ700 controller as a bench
// (one process, two endpoints), until `stopFd` becomes readable.

#include <iosfwd>

#include "sim/BoxDevice.h"
#include "sim/SimLink.h"

namespace tarnvale::sim {

// Prints "pty /dev/pts/N" or "tcp 127.0.0.1:PORT" as its first line.
int ServeBox(const BoxOptions& box, const LinkOptions& link, int stopFd, std::ostream& out,
             std::ostream& err);
// Prints "controller <endpoint>" and "programmer <endpoint>" as its first lines.
int ServeBench(const DeviceOptions& controller, const BoxOptions& box, const LinkOptions& link,
               int stopFd, std::ostream& out, std::ostream& err);

}  // namespace tarnvale::sim
