#include "host/PluginLibrary.h"

#include <dlfcn.h>

#include <filesystem>

namespace orvalis {

namespace {

void* Export(void* handle, const char* name) {
    void* function = ::dlsym(handle, name);
    if (!function)
        throw EPluginLibrary(std::string("it does not export ") + name);
    return function;
}

} // namespace

TPluginLibrary::TPluginLibrary(const std::string& path) {
    // A bare name would be looked up in the system's folders: a path names this file.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* reason = ::dlerror();
        throw EPluginLibrary(reason ? reason : "it cannot be loaded");
    }
    try {
        RegisterPlugin = reinterpret_cast<TRegisterPlugin>(Export(handle_, "RegisterPlugin"));
        ProcessImage = reinterpret_cast<TProcessImage>(Export(handle_, "ProcessImage"));
    } catch (...) {
        ::dlclose(handle_);
        throw;
    }
}

TPluginLibrary::~TPluginLibrary() {
    ::dlclose(handle_);
}

std::string DefaultPluginPath() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::filesystem::path folder = error ? std::filesystem::path(".") : self.parent_path();
    return (folder / "libstipplor.so").string();
}

} // namespace orvalis
