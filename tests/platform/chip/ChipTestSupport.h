// Support for suites that run on the simulated chip: a private shared-memory prefix per
// test process, the PD library loaded by dlopen, and scoped test hooks.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "chip/ChipRegistry.h"
#include "chip/ChipTestHooks.h"

namespace ChipTest {

inline constexpr uint32_t kDevicesUsedByTests = 8;
inline constexpr uint32_t kTestSessions = 9;

// Gives the process its own chips ("/olvtest<pid>_chip_dev<N>") and removes them, and
// every hook setting, when the process ends.
class ChipEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("OLVANE_SHM_PREFIX", ("olvtest" + std::to_string(::getpid())).c_str(), 1);
        // The chip serves open sessions only; the tests pass handles 1 to kTestSessions.
        for (uint32_t handle = 0; handle < kTestSessions;)
            if (Chip::sessionOpen(&handle) != Chip::kSuccess)
                break;
    }
    void TearDown() override { wipeAll(); }

    static void wipeAll() {
        for (uint32_t dev = 0; dev < kDevicesUsedByTests; ++dev) Chip::wipe(dev);
        Chip::TestHooks::reset();
    }
};

// Registers ChipEnvironment once per process, however often it is called.
inline bool registerChipEnvironment() {
    static const bool registered =
        (::testing::AddGlobalTestEnvironment(new ChipEnvironment), true);  // gtest owns it
    return registered;
}
[[maybe_unused]] inline const bool kChipEnvironmentRegistered = registerChipEnvironment();

// Fixture that starts and ends every test on blank chips with the hooks off.
class ChipFixture : public ::testing::Test {
  protected:
    void SetUp() override { ChipEnvironment::wipeAll(); }
    void TearDown() override { ChipEnvironment::wipeAll(); }
};

// A shared object opened with dlopen and closed when this goes.
class SharedLibrary {
  public:
    explicit SharedLibrary(const std::string& name) : handle_(::dlopen(name.c_str(), RTLD_NOW)) {
        if (handle_ == nullptr)
            throw std::runtime_error("dlopen " + name + ": " + ::dlerror());
    }
    ~SharedLibrary() { ::dlclose(handle_); }
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    void* handle() const { return handle_; }
    template <class Function>
    Function* symbol(const char* name) const {
        if (void* found = ::dlsym(handle_, name))
            return reinterpret_cast<Function*>(found);
        throw std::runtime_error(std::string("missing symbol ") + name);
    }

  private:
    void* handle_;
};

// Switches the call log on, empty, for the scope.
class ScopedCallLog {
  public:
    ScopedCallLog() {
        Chip::TestHooks::callLogClear();
        Chip::TestHooks::callLogEnable(true);
    }
    ~ScopedCallLog() {
        Chip::TestHooks::callLogEnable(false);
        Chip::TestHooks::callLogClear();
    }
    ScopedCallLog(const ScopedCallLog&) = delete;
    ScopedCallLog& operator=(const ScopedCallLog&) = delete;

    std::vector<std::string> texts() const { return Chip::TestHooks::callLogTexts(); }
};

}  // namespace ChipTest
