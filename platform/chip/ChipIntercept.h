// The chip side of the test hooks: what every entry point calls first.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ChipCalls.h"
#include "ChipStatus.h"

namespace Chip::Hooks {

// Builds the canonical argument text of one call (format in ChipTestHooks.h).
class ArgText {
  public:
    ArgText& number(std::string_view name, uint64_t value);
    ArgText& text(std::string_view name, std::string_view value);
    // `bytes` of `size`; positions whose bit is set in `paddingMask` print as "--".
    ArgText& bytes(std::string_view name, const void* data, std::size_t size,
                   uint32_t paddingMask = 0);
    ArgText& null(std::string_view name);
    ArgText& optionalOut(std::string_view name, const void* pointer);
    // Starts "name=[" so a caller can append list items with item().
    ArgText& openList(std::string_view name);
    ArgText& item(std::string_view item);
    ArgText& item(uint64_t id, uint64_t value);
    ArgText& closeList();

    std::string take() { return std::move(out_); }

  private:
    void separate(std::string_view name);

    std::string out_;
    bool listEmpty_ = true;
};

using ArgWriter = void (*)(const void* context, ArgText& out);

// Set while the log is on or a fault is pending.
extern std::atomic<bool> gArmed;

Status interceptArmed(Call call, ArgWriter writer, const void* context);

// Logs the call when the log is on and returns an injected status, or 0 to go on.
// `writeArgs(ArgText&)` runs only when the log is on.
template <class WriteArgs>
inline Status intercept(Call call, const WriteArgs& writeArgs) {
    if (!gArmed.load(std::memory_order_relaxed)) [[likely]] {
        return kSuccess;
    }
    return interceptArmed(
        call,
        [](const void* context, ArgText& out) { (*static_cast<const WriteArgs*>(context))(out); },
        &writeArgs);
}

enum class ObjectKind : uint8_t { Key, Data, Attributes };
void objectCreated(ObjectKind kind);
void objectDestroyed(ObjectKind kind);

}  // namespace Chip::Hooks
