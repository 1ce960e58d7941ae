#include "SharedLibrary.h"

#include <dlfcn.h>

#include "AgentError.h"

namespace NatAgent {

SharedLibrary::SharedLibrary(const std::string& path)
    : path_(path), handle_(::dlopen(path.c_str(), RTLD_NOW)) {
    if (handle_ == nullptr) {
        throw AgentError("cannot load " + path + ": " + ::dlerror());
    }
}

SharedLibrary::~SharedLibrary() {
    ::dlclose(handle_);
}

void* SharedLibrary::symbol(const char* name) const {
    ::dlerror();
    void* found = ::dlsym(handle_, name);
    if (found == nullptr) {
        throw AgentError(path_ + " has no symbol " + name);
    }
    return found;
}

}  // namespace NatAgent
