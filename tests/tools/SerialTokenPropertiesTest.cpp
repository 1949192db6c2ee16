// The serial tester's tokens for any bytes: what the tester shows of a line
// types back as the same line, and each token means one byte.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <cstdio>

#include "core/tools/SerialTest.h"

namespace tarnvale {
namespace {

using Bytes = std::vector<std::uint8_t>;

RC_GTEST_PROP(SerialTokens, WhatIsShownParsesBackToTheSameBytes, (const Bytes& bytes)) {
  RC_ASSERT(ParseSerialLine(FormatSerialBytes(bytes)) == std::optional<Bytes>(bytes));
}

// Every byte in hex, upper or lower case, with one or two digits, and every
// character but the comma as itself, at any place in a line.
RC_GTEST_PROP(SerialTokens, EveryTokenFormIsOneByte, (const Bytes& bytes)) {
  std::string line;
  for (const std::uint8_t b : bytes) {
    if (!line.empty()) line += ',';
    char hex[8];
    const bool literal = b != ',' && b != 0 && *::rc::gen::arbitrary<bool>();
    switch (*::rc::gen::inRange(0, 3)) {
      case 0: std::snprintf(hex, sizeof hex, "0x%X", b); break;
      case 1: std::snprintf(hex, sizeof hex, "0X%x", b); break;
      default: std::snprintf(hex, sizeof hex, "0x%02x", b); break;
    }
    line += literal ? std::string(1, static_cast<char>(b)) : std::string(hex);
  }
  RC_ASSERT(ParseSerialLine(line) == std::optional<Bytes>(bytes));
}

}  // namespace
}  // namespace tarnvale
