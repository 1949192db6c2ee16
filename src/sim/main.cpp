// tarnvale-sim: simulated devices for trying the tool without hardware.
#include <CLI/CLI.hpp>

int main(int argc, char** argv) {
  CLI::App app{"Tarnvale device simulator"};
  app.require_subcommand(1);
  CLI11_PARSE(app, argc, argv);
  return 0;
}
