// A helper process for the trace tests, whose settings come from the environment
// once per process. Usage: kiv_trace_child NAME:LEVEL:TEXT...
// For each argument it writes TEXT on handle NAME at LEVEL through KIV_TRACE, first
// creating the handle and printing "NAME=<its level>" on stdout when NAME is new.

#include <cstdio>
#include <deque>
#include <string>

#include "kiv/Trace.h"

int main(int argc, char** argv) {
    std::deque<std::string> names;  // handles keep a pointer to their name
    std::deque<Kiv::TraceHandle> handles;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string name = arg.substr(0, arg.find(':'));
        Kiv::TraceHandle* handle = Kiv::TraceHandle::named(name);
        if (!handle) {
            handle = &handles.emplace_back(names.emplace_back(name).c_str());
            std::printf("%s=%d\n", name.c_str(), handle->level());
            std::fflush(stdout);  // keeps the order when stdout and stderr share a pipe
        }
        KIV_TRACE(*handle, arg[name.size() + 1] - '0', arg.substr(name.size() + 3));
    }
    return 0;
}
