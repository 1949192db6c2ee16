#include "sim/Rq750Command.h"

#include <filesystem>
#include <fstream>
#include <iostream>

#include "sim/Rq750Device.h"
#include "sim/SimLink.h"

namespace tarnvale::sim {

Rq750Command::Rq750Command(CLI::App& app) {
  cmd_ = app.add_subcommand("rq750", "A simulated RQ750 controller in Data Backup mode");
  auto* ptyOpt = cmd_->add_flag("--pty", pty_, "Serve on a new pseudo-terminal (the default)");
  cmd_->add_option("--tcp", tcp_, "Serve on a loopback TCP endpoint ADDR:PORT (port 0: any free)")
      ->excludes(ptyOpt);
  cmd_->add_option("--model", model_, "Model string the controller reports (default RQ750-24)");
  cmd_->add_option("--protocol", protocol_, "Communications protocol version: 3.1 or 3.2 (default)")
      ->check(CLI::IsMember({"3.1", "3.2"}));
  cmd_->add_option("--seed", seed_, "Other content of the same shape (default 1)");
  cmd_->add_flag("--empty", empty_, "A replaced controller: parameter names with value 0, no materials, no parts");
  cmd_->add_option("--data", dataPath_, "Load the content from this JSON file");
  cmd_->add_option("--save-data", savePath_, "Write the content as JSON to this file at exit");
  cmd_->add_option("--baud", baud_, "Pace the link as a serial line of this speed (8N1)");
  cmd_->add_option("--log", logPath_, "Write every command received to this file at exit");
  cmd_->add_option("--fault", faults_,
                   "silent-after:N, close-after:N, busy:PST=N, wrong-model, address:NN, lower-hex, "
                   "bad-checksum:N or no-answer:NST=N");
}

int Rq750Command::Run() {
  Rq750Options options;
  options.model = model_;
  options.protocol = protocol_;
  for (const auto& f : faults_) {
    std::string error;
    if (!ApplyRq750Fault(f, options, error)) {
      std::cerr << error << "\n";
      return 2;
    }
  }
  const bool shear = protocol_ != "3.1";
  Rq750Content content = empty_ ? MakeEmptyRq750Content(shear) : MakeRq750Content(seed_, shear);
  if (!dataPath_.empty()) {
    std::ifstream in(dataPath_);
    std::string error;
    nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
    if (!in.is_open() || j.is_discarded() || !ContentFromJson(j, content, error)) {
      std::cerr << "cannot load the content " << dataPath_ << (error.empty() ? "" : ": " + error) << "\n";
      return 1;
    }
  }

  LinkOptions link;
  if (!LinkFromOptions(tcp_, baud_, link, std::cerr)) return 2;
  const int stopFd = InstallStopSignals();
  if (stopFd < 0) return 1;

  Rq750Device device(options, std::move(content));
  SimLink sim(device, link);
  if (OpenAndServe(sim, "RQ750 simulator in Data Backup mode", stopFd, std::cout, std::cerr) != 0) return 1;

  int code = 0;
  if (!savePath_.empty()) {
    const std::string temp = savePath_ + ".part";
    std::ofstream out(temp);
    // Values are the controller's 8-bit bytes: a byte that is not UTF-8
    // must not end the simulator.
    out << ContentToJson(device.Content()).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    out.close();
    std::error_code ec;
    if (!out || (std::filesystem::rename(temp, savePath_, ec), ec)) {
      std::cerr << "cannot write " << savePath_ << "\n";
      code = 1;
    }
  }
  if (!logPath_.empty()) {
    std::ofstream log(logPath_);
    for (const auto& c : device.Received()) log << c << "\n";
  }
  return code;
}

}  // namespace tarnvale::sim
