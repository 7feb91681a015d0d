// Internal: how the port layer reports problems. One function, so the whole
// layer can be pointed at the program's logger in one place.
#pragma once

#include <string>

enum class PortLogLevel { Error = 1, Warning = 2, Info = 3 };

void PortLog(PortLogLevel level, const std::string& text);

// A sink installed by the program (its logger); without one, messages go to
// standard error. Passing null restores standard error.
using PortLogSink = void (*)(PortLogLevel level, const std::string& text);
void PortSetLogSink(PortLogSink sink);
