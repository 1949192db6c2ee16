#pragma once
// The board record lives with the image readers that stamp it into a boot
// image (formats/ sits below device/ and flash/, which hand it on); this
// name stays for the programmer code that includes it.
#include "core/formats/BoardInfoRecord.h"
