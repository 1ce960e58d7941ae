#pragma once
// Output helpers shared by the commands: aligned text tables, JSON Lines
// objects and short renderings of counts, durations and rates.

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace NatAgent {

// Columns sized to their widest cell; numbers are right-aligned.
class TextTable {
  public:
    explicit TextTable(std::vector<std::string> header);
    void row(std::vector<std::string> cells);
    void print(std::ostream& out) const;

  private:
    std::vector<std::vector<std::string>> rows_;
};

// One JSON object on one line; keys are written in the order given.
class JsonLine {
  public:
    JsonLine& field(std::string_view name, std::string_view text);
    JsonLine& field(std::string_view name, std::uint64_t number);
    JsonLine& flag(std::string_view name, bool value);
    std::string str() const { return text_ + "}"; }

  private:
    void key(std::string_view name);
    std::string text_ = "{";
};

std::string jsonQuoted(std::string_view text);

using Seconds = std::chrono::duration<double>;
// "1.23 s", "45.6 ms" or "12 us".
std::string durationText(Seconds seconds);
// "12345 entries/s"; "-" when no time passed.
std::string rateText(std::uint64_t count, Seconds seconds);
std::string hexText(std::uint32_t value);

class Stopwatch {
  public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    Seconds elapsed() const { return std::chrono::steady_clock::now() - start_; }

  private:
    std::chrono::steady_clock::time_point start_;
};

}  // namespace NatAgent
