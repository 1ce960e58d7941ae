// A helper process for the trace tests: the trace settings come from the
// environment once per process, so each setting is tried in a fresh one.
//
// Usage: kiv_trace_child NAME:LEVEL:TEXT...
// For each argument it writes TEXT on handle NAME at LEVEL through KIV_TRACE,
// creating the handle on first use and then printing "NAME=<its level>" on
// stdout.

#include <cstdio>
#include <deque>
#include <memory>
#include <string>

#include "kiv/Trace.h"

int main(int argc, char** argv) {
    std::deque<std::string> names;  // handles keep a pointer to their name
    std::deque<Kiv::TraceHandle> handles;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto colon = arg.find(':');
        const std::string name = arg.substr(0, colon);
        const int level = arg[colon + 1] - '0';
        const std::string text = arg.substr(colon + 3);
        Kiv::TraceHandle* handle = Kiv::TraceHandle::named(name);
        if (!handle) {
            handle = &handles.emplace_back(names.emplace_back(name).c_str());
            std::printf("%s=%d\n", name.c_str(), handle->level());
        }
        KIV_TRACE(*handle, level, text);
    }
    return 0;
}
