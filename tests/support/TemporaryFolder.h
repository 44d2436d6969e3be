#pragma once
// Test support: a fresh folder that serves as the system's temporary folder (TMPDIR, or TMP on
// Windows) while the object lives, and the files a process holds open in it (an unlinked file
// shows as "<path> (deleted)"; Linux only).
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace stipplor::testsupport {

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const auto candidate =
                std::filesystem::temp_directory_path() / ("stipplor-" + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error))
                path_ = candidate.string();
        }
        if (const char* old = std::getenv(Variable))
            previous_ = old;
        SetVariable(path_.c_str());
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder() {
        SetVariable(previous_ ? previous_->c_str() : nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::string& Path() const { return path_; }
    bool Empty() const { return std::filesystem::is_empty(path_); }

    // Descriptor number -> target, for the descriptors of process `pid` ("self") in here.
    std::map<int, std::string> OpenFiles(const std::string& pid = "self") const {
        std::map<int, std::string> files;
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator("/proc/" + pid + "/fd", error)) {
            const auto target = std::filesystem::read_symlink(entry.path(), error).string();
            if (!error && target.starts_with(path_ + "/"))
                files[std::stoi(entry.path().filename().string())] = target;
        }
        return files;
    }

private:
#ifdef _WIN32
    static constexpr const char* Variable = "TMP";
    static void SetVariable(const char* value) {
        ::_putenv_s(Variable, value ? value : "");
    }
#else
    static constexpr const char* Variable = "TMPDIR";
    static void SetVariable(const char* value) {
        if (value)
            ::setenv(Variable, value, 1);
        else
            ::unsetenv(Variable);
    }
#endif

    std::string path_;
    std::optional<std::string> previous_;
};

} // namespace stipplor::testsupport
