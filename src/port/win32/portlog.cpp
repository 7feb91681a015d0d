#include "port/win32/portlog.h"

#include "Logger/Logger.h"

namespace {
PortLogSink g_sink = nullptr;
}

void PortSetLogSink(PortLogSink sink) { g_sink = sink; }

void PortLogAt(PortLogLevel level, const std::string& text, int line, const char* file, const char* function) {
    if (g_sink) {
        g_sink(level, text);
        return;
    }
    // Platform failures are reported as warnings: an error message would
    // throw out of the middle of a drawing call.
    const logger::TypeMessage type = level == PortLogLevel::Info ? logger::Info : logger::Warning;
    if (!logger::Logger::WouldCommit(type)) return;
    logger::Logger::Message message(type, level == PortLogLevel::Info ? "info" : "warning", line, file, function);
    message << text;
    message.Commit();
}
