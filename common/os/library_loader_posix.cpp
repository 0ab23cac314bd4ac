#include "os/library_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string>

namespace {

std::string executableDirectory() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string exe(path, static_cast<size_t>(n));
    size_t slash = exe.rfind('/');
    return slash == std::string::npos ? "." : exe.substr(0, slash);
}

}  // namespace

void* LoadModule(const char* name) {
    std::string dir = executableDirectory();
    std::string file = std::string("lib") + name + ".so";
    for (const std::string& candidate : {dir + "/" + file, dir + "/../lib/" + file,
                                         dir + "/../" STEPTOOLS_PRIVATE_LIBDIR "/" + file}) {
        if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
    }
    return nullptr;
}

void* FindFunction(void* module, const char* name) {
    return dlsym(module, name);
}
