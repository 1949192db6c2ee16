#include "sim/BoxServe.h"

#include "sim/Tn835Device.h"

#include <cstdio>
#include <memory>
#include <ostream>
#include <thread>

namespace tarnvale::sim {

int ServeBox(const BoxOptions& box, const LinkOptions& link, int stopFd, std::ostream& out,
             std::ostream& err) {
  BoxDevice device(box);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> log(nullptr, std::fclose);
  if (!box.logPath.empty()) {
    log.reset(std::fopen(box.logPath.c_str(), "w"));
    if (!log) {
      err << "cannot write the log " << box.logPath << "\n";
      return 1;
    }
    device.SetLog([f = log.get()](const std::string& line) {
      std::fprintf(f, "%s\n", line.c_str());
      std::fflush(f);
    });
  }
  Tn835Cpu tn835;
  device.AttachTn835(&tn835);
  SimLink sim(device, link);
  return OpenAndServe(sim, "Universal Programmer simulator", stopFd, out, err);
}

int ServeBench(const DeviceOptions& controller, const BoxOptions& box, const LinkOptions& link,
               int stopFd, std::ostream& out, std::ostream& err) {
  Rq700Device rq(controller);
  BoxDevice programmer(box);
  Tn835Cpu tn835;
  programmer.AttachTn835(&tn835);
  // Each endpoint on its own ephemeral port when serving TCP.
  LinkOptions each = link;
  each.port = 0;
  SimLink rqLink(rq, each);
  SimLink boxLink(programmer, each);
  std::string rqEndpoint, boxEndpoint, error;
  if (!rqLink.Open(rqEndpoint, error) || !boxLink.Open(boxEndpoint, error)) {
    err << error << "\n";
    return 1;
  }
  out << "controller " << rqEndpoint << "\nprogrammer " << boxEndpoint << std::endl;
  err << "Bench simulator ready: controller " << rqEndpoint << ", programmer " << boxEndpoint
      << "; Ctrl-C ends it\n";
  // Both links watch the same stop pipe; a pty hang-up ends only its own link.
  std::thread boxThread([&] { boxLink.Run(stopFd); });
  rqLink.Run(stopFd);
  boxThread.join();
  return 0;
}

}  // namespace tarnvale::sim
