#pragma once
// A shared object opened with dlopen and closed when the owner goes. Objects
// whose code lives in the library must be gone before that.

#include <string>

namespace NatAgent {

class SharedLibrary {
  public:
    // Opens `path` (RTLD_NOW); throws AgentError with dlerror's text.
    explicit SharedLibrary(const std::string& path);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    void* handle() const noexcept { return handle_; }
    const std::string& path() const noexcept { return path_; }

    // The address of `name`; throws AgentError when the library lacks it.
    void* symbol(const char* name) const;
    template <class Function>
    Function* function(const char* name) const {
        return reinterpret_cast<Function*>(symbol(name));
    }

  private:
    std::string path_;
    void* handle_;
};

}  // namespace NatAgent
