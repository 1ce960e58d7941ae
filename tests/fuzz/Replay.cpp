// Runs a fuzz target without the fuzzing engine, so that every test run checks
// what the target checks: over each file of its seed corpus, then over inputs a
// fixed generator derives from them (bytes changed, the input cut or grown) or
// makes up. Shared memory goes under a prefix of its own, removed at the end.
// Usage: fuzz_replay_TARGET CORPUS_DIR [INPUTS]

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [INPUTS]\n", argv[0]);
        return 2;
    }
    const std::string prefix = "replay" + std::to_string(::getpid());
    ::setenv("OLVANE_SHM_PREFIX", prefix.c_str(), 1);
    std::vector<std::vector<std::uint8_t>> corpus;
    for (const auto& file : std::filesystem::directory_iterator(argv[1])) {
        std::ifstream in(file.path(), std::ios::binary);
        corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::sort(corpus.begin(), corpus.end());  // the same order on every file system
    for (const auto& input : corpus) LLVMFuzzerTestOneInput(input.data(), input.size());

    std::mt19937 random(1);
    const auto below = [&](std::size_t n) { return n == 0 ? 0 : random() % n; };
    for (long count = argc > 2 ? std::atol(argv[2]) : 20000; count > 0; --count) {
        std::vector<std::uint8_t> input;
        if (corpus.empty() || below(4) == 0) {
            input.resize(below(64));
            for (std::uint8_t& byte : input) byte = static_cast<std::uint8_t>(random());
        } else {
            input = corpus[below(corpus.size())];
            for (std::size_t n = 1 + below(4); n > 0 && !input.empty(); --n)
                input[below(input.size())] = static_cast<std::uint8_t>(random());
        }
        if (below(4) == 0)
            input.resize(below(input.size() + 32), static_cast<std::uint8_t>(random()));
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    for (const auto& file : std::filesystem::directory_iterator("/dev/shm"))
        if (file.path().filename().string().starts_with(prefix))
            ::shm_unlink(("/" + file.path().filename().string()).c_str());
    return 0;
}
