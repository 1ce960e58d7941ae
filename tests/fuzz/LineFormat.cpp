// The agent's operation lines: any byte string is either a clean parse, a
// blank or comment line, or a LineError naming what is wrong.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "agent/LineFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        if (const auto parsed = NatAgent::parseLine(text, 1)) {
            for (const NatAgent::Field& field : parsed->fields) {
                if (field.name.empty() || parsed->field(field.name) == nullptr)
                    __builtin_trap();
            }
        }
    } catch (const NatAgent::LineError&) {
    }
    return 0;
}
