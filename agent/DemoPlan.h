#pragma once
// The demo's table: a twice-NAT table generated from a seed, as operation
// lines. The same seed gives the same lines in every process, so the
// restarted agent knows what it must find.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace NatAgent {

struct DemoPlan {
    std::vector<std::string> load;    // one add per entry
    std::vector<std::string> modify;  // a new action for a share of the entries
    std::vector<std::string> remove;  // del for another share
    std::string defaultLine;
    // What the table holds after all of the above: an add line per entry.
    std::vector<std::string> final;
    std::map<std::string, std::uint64_t> loadByAction;
};

DemoPlan makeDemoPlan(std::uint32_t entries, std::uint64_t seed);

// The lines as one text, for the line reader.
std::string joinLines(const std::vector<std::string>& lines);

}  // namespace NatAgent
