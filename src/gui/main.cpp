// tarnvale: the desktop tool. Beyond --help and --version it takes no
// arguments of its own.
#include <iostream>

#include "gui/app/Application.h"
#include "gui/app/InfoOptions.h"

int main(int argc, char** argv) {
  if (const auto code = tarnvale::gui::AnswerInfoOptions(argc, argv, std::cout)) return *code;
  return tarnvale::gui::RunApplication(argc, argv);
}
