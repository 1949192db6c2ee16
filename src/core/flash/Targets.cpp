#include "core/flash/Targets.h"

namespace tarnvale {

TargetParams ParamsForTarget(int target) {
  switch (target) {
    case 1: return {0x03C00000, 0x03FFFFFF, 2, 100, 3};  // RQ700 controller
    case 2: return {0, 0x7FFF, 1, 100, 3};               // PIC18F252
    case 3: return {0, 0x7FFF, 1, 25, 1};                // dsPIC30F
    case 4: return {0x03FFC000, 0x03FFFFFF, 1, 25, 1};   // 80386EX boot flash
    case 5: return {0, 0x21FFF, 1, 25, 1};               // production controller images
    case 6: return {0x40000, 0x41FFF, 1, 25, 2};         // production controller via JTAG
    default: return {0, 0, 1, 10, 1};                    // no device
  }
}

}  // namespace tarnvale
