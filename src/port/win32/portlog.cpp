#include "port/win32/portlog.h"

#include <cstdio>

namespace {
PortLogSink g_sink = nullptr;
}

void PortSetLogSink(PortLogSink sink) { g_sink = sink; }

void PortLog(PortLogLevel level, const std::string& text) {
    if (g_sink) {
        g_sink(level, text);
        return;
    }
    const char* word = level == PortLogLevel::Error ? "error" : level == PortLogLevel::Warning ? "warning" : "info";
    std::fprintf(stderr, "[port %s] %s\n", word, text.c_str());
}
