#pragma once
// The commands, one file each. Each returns the process's exit status
// (AgentError.h); the failures they throw are mapped to one by main.

#include <string>

#include "AgentError.h"
#include "EntryText.h"
#include "Options.h"

namespace NatAgent {

// The format --json and --table ask for.
EntryFormat entryFormat(const Options& options);

// --yes, or the operator's answer at a terminal; UsageError without either.
bool confirmed(const Options& options, const std::string& question);

int runProgram(const Options& options);
// sync FILE and diff FILE (read only).
int runSync(const Options& options);
int runGet(const Options& options);
int runFlush(const Options& options);
int runInit(const Options& options);
int runResetKeys(const Options& options);
int runShow(const Options& options);
int runStats(const Options& options);
int runAudit(const Options& options);
// `self` is the path to start the restarted agent from.
int runDemo(const Options& options, const std::string& self);

}  // namespace NatAgent
