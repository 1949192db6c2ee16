#include "sim/Tn835Command.h"

#include <cstdio>
#include <iostream>
#include <thread>

namespace tarnvale::sim {

bool ParseTn835Faults(const std::vector<std::string>& texts, Tn835Options& options,
                      std::string& error) {
  for (const std::string& text : texts) {
    const auto fault = ParseFault(text, error);
    if (!fault) return false;
    options.faults.push_back(*fault);
  }
  return true;
}

bool SaveBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

int ServeTn835Bench(const Tn835Options& controller, const BoxOptions& box, const LinkOptions& link,
                    int stopFd, const std::string& saveFlash, const std::string& saveBoot,
                    std::ostream& out, std::ostream& err) {
  Tn835Device tn835(controller);
  Tn835Cpu cpu;
  BoxDevice programmer(box);
  programmer.AttachTn835(&cpu);
  LinkOptions each = link;
  each.port = 0;
  SimLink controllerLink(tn835, each);
  SimLink boxLink(programmer, each);
  std::string controllerEndpoint, boxEndpoint, error;
  if (!controllerLink.Open(controllerEndpoint, error) || !boxLink.Open(boxEndpoint, error)) {
    err << error << "\n";
    return 1;
  }
  out << "controller " << controllerEndpoint << "\nprogrammer " << boxEndpoint << std::endl;
  err << "TN835 bench simulator ready: controller " << controllerEndpoint << ", programmer "
      << boxEndpoint << "; Ctrl-C ends it\n";
  std::thread boxThread([&] { boxLink.Run(stopFd); });
  controllerLink.Run(stopFd);
  boxThread.join();
  int code = 0;
  if (!saveFlash.empty() && !SaveBytes(saveFlash, tn835.Flash().Bytes())) {
    err << "cannot write " << saveFlash << "\n";
    code = 1;
  }
  if (!saveBoot.empty() && !SaveBytes(saveBoot, cpu.Flash().Bytes())) {
    err << "cannot write " << saveBoot << "\n";
    code = 1;
  }
  return code;
}

Tn835Command::Tn835Command(CLI::App& app) {
  cmd_ = app.add_subcommand("tn835", "A simulated TN835 controller taking its application and test images");
  auto* ptyOpt = cmd_->add_flag("--pty", pty_, "Serve on a new pseudo-terminal (the default)");
  cmd_->add_option("--tcp", tcp_, "Serve on a loopback TCP endpoint ADDR:PORT (port 0: any free)")
      ->excludes(ptyOpt);
  cmd_->add_option("--baud", baud_, "Pace the link as a serial line of this speed (8N1)");
  cmd_->add_option("--erase-ms", options_.eraseMs, "Time a flash erase takes (default 1000)");
  cmd_->add_option("--ack-delay-ms", options_.ackDelayMs, "Delay every programming acknowledgement");
  cmd_->add_option("--fault", faults_, "ack:N=C, erase:C, silent-after:N, stray:N=HH or close-after:N");
  cmd_->add_option("--save-flash", savePath_,
                   "Write the flash image (offsets 0 to 0x21FFF) to this file at exit");
}

int Tn835Command::Run(int stopFd) {
  std::string error;
  if (!ParseTn835Faults(faults_, options_, error)) {
    std::cerr << error << "\n";
    return 2;
  }
  LinkOptions link;
  if (!LinkFromOptions(tcp_, baud_, link, std::cerr)) return 2;
  Tn835Device device(options_);
  SimLink sim(device, link);
  if (OpenAndServe(sim, "TN835 simulator", stopFd, std::cout, std::cerr) != 0) return 1;
  if (!savePath_.empty() && !SaveBytes(savePath_, device.Flash().Bytes())) {
    std::cerr << "cannot write " << savePath_ << "\n";
    return 1;
  }
  return 0;
}

}  // namespace tarnvale::sim
