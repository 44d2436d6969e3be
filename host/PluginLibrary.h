#pragma once
// A plug-in library loaded as the host application loads one: opened, its two exports looked
// up, kept for the host's lifetime and closed at the end.
#include "plugin/OrvalisPlugins.h"

#include <stdexcept>
#include <string>

namespace orvalis {

// A library that cannot be loaded or lacks an export; the message is the reason.
class EPluginLibrary : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TPluginLibrary {
public:
    explicit TPluginLibrary(const std::string& path);
    ~TPluginLibrary();
    TPluginLibrary(const TPluginLibrary&) = delete;
    TPluginLibrary& operator=(const TPluginLibrary&) = delete;

    TRegisterPlugin RegisterPlugin = nullptr;
    TProcessImage ProcessImage = nullptr;

private:
    void* handle_ = nullptr;
};

// The plug-in built beside this program: libstipplor.so in the folder of the executable.
std::string DefaultPluginPath();

} // namespace orvalis
