#pragma once
// A progress bar on stderr for long loads, drawn only when stderr is a
// terminal: piped output stays free of carriage returns.

#include <cstdint>
#include <string>

namespace NatAgent {

class ProgressBar {
  public:
    ProgressBar(std::string label, std::uint64_t total);
    // Clears the bar's line.
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void advance(std::uint64_t done = 1) {
        done_ += done;
        // Redrawn once per percent, so the load itself stays the cost.
        if (enabled_ && done_ >= nextDraw_) {
            draw();
        }
    }

  private:
    void draw();

    std::string label_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    std::uint64_t nextDraw_ = 0;
    bool enabled_;
};

}  // namespace NatAgent
