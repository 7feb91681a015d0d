// Internal: how the port layer reports problems. Messages go to the program's
// logger with the source location of the report, so that each place is
// counted on its own when the logger writes every location only once.
#pragma once

#include <string>

enum class PortLogLevel { Error = 1, Warning = 2, Info = 3 };

void PortLogAt(PortLogLevel level, const std::string& text, int line, const char* file, const char* function);

#define PortLog(level, text) PortLogAt((level), (text), __LINE__, __FILE__, __PRETTY_FUNCTION__)

// A sink that takes the messages instead of the logger (tests); null restores
// the logger.
using PortLogSink = void (*)(PortLogLevel level, const std::string& text);
void PortSetLogSink(PortLogSink sink);
