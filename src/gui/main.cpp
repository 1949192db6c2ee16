// tarnvale: the desktop tool. It takes no arguments.
#include "gui/app/Application.h"

int main(int argc, char** argv) { return tarnvale::gui::RunApplication(argc, argv); }
