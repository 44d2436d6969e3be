#pragma once
// Test support: a fresh folder that serves as the user's configuration folder
// ($XDG_CONFIG_HOME) while the object lives, so that no test touches the real one.
#include "support/TemporaryFolder.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace stipplor::testsupport {

class ConfigFolder {
public:
    ConfigFolder() {
        if (const char* old = std::getenv("XDG_CONFIG_HOME"))
            previous_ = old;
        ::setenv("XDG_CONFIG_HOME", Path().c_str(), 1);
    }
    ConfigFolder(const ConfigFolder&) = delete;
    ConfigFolder& operator=(const ConfigFolder&) = delete;
    ~ConfigFolder() {
        if (previous_)
            ::setenv("XDG_CONFIG_HOME", previous_->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }

    const std::string& Path() const { return folder_.Path(); }
    bool Empty() const { return folder_.Empty(); }

    // The folder of registry key KeyPath ("A\B" is <folder>/A/B).
    std::string KeyFolder(std::string_view KeyPath) const {
        std::string path = Path() + "/" + std::string(KeyPath);
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }

    // The file that holds the values of key KeyPath.
    std::string KeyFile(std::string_view KeyPath) const {
        return KeyFolder(KeyPath) + "/Values.reg";
    }

private:
    TemporaryFolder folder_;
    std::optional<std::string> previous_;
};

} // namespace stipplor::testsupport
