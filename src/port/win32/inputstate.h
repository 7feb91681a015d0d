// Internal: running totals of the input that arrives as window events, read by
// the DirectInput devices as differences since their last read.
#pragma once

#include <cstdint>

struct PortInputTotals {
    int64_t mouseX = 0;       // relative motion, pixels
    int64_t mouseY = 0;
    int64_t wheel = 0;        // WHEEL_DELTA units
    uint64_t focusLost = 0;   // times a window of the program lost the input focus
};

PortInputTotals& PortInputState();
