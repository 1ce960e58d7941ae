#include "Progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace NatAgent {

namespace {

constexpr std::uint64_t kBarWidth = 40;
constexpr std::uint64_t kSteps = 100;

}  // namespace

ProgressBar::ProgressBar(std::string label, std::uint64_t total)
    : label_(std::move(label)), total_(total), enabled_(total > 0 && ::isatty(STDERR_FILENO)) {}

ProgressBar::~ProgressBar() {
    if (enabled_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
}

void ProgressBar::draw() {
    const std::uint64_t done = std::min(done_, total_);
    const std::uint64_t filled = done * kBarWidth / total_;
    std::string bar(filled, '#');
    bar.resize(kBarWidth, '.');
    std::fprintf(stderr, "\r%s [%s] %3llu%% %llu/%llu", label_.c_str(), bar.c_str(),
                 static_cast<unsigned long long>(done * 100 / total_),
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_));
    std::fflush(stderr);
    nextDraw_ = done_ + std::max<std::uint64_t>(1, total_ / kSteps);
}

}  // namespace NatAgent
