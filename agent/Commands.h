#pragma once
// The commands, one file each. Each returns the process's exit status.

#include <string>

#include "Options.h"

namespace NatAgent {

int runProgram(const Options& options);
int runShow(const Options& options);
int runStats(const Options& options);
int runAudit(const Options& options);
// `self` is the path to start the restarted agent from.
int runDemo(const Options& options, const std::string& self);

}  // namespace NatAgent
