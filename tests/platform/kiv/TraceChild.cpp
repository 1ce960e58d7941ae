// The trace tests' fresh process: kiv_trace_child NAME:LEVEL:TEXT... traces each TEXT on
// handle NAME at LEVEL, printing "NAME=<its level>" when it creates the handle.

#include <cstdio>
#include <cstring>
#include <deque>

#include "kiv/Trace.h"

int main(int argc, char** argv) {
    std::deque<Kiv::TraceHandle> handles;
    for (int i = 1; i < argc; ++i) {
        char* colon = std::strchr(argv[i], ':');
        *colon = '\0';  // argv[i] is the name now, which lives as long as its handle
        Kiv::TraceHandle* handle = Kiv::TraceHandle::named(argv[i]);
        if (!handle) {
            handle = &handles.emplace_back(argv[i]);
            std::printf("%s=%d\n", argv[i], handle->level());
            std::fflush(stdout);  // keeps the order when stdout and stderr share a pipe
        }
        KIV_TRACE(*handle, colon[1] - '0', colon + 3);
    }
    return 0;
}
