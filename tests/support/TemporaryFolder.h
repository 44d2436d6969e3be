#pragma once
// Test support: a fresh folder that serves as TMPDIR while the object lives, and the files a
// process holds open in it (an unlinked file shows as "<path> (deleted)").
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>

namespace stipplor::testsupport {

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "stipplor-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
        if (const char* old = std::getenv("TMPDIR"))
            previous_ = old;
        ::setenv("TMPDIR", path_.c_str(), 1);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder() {
        if (previous_)
            ::setenv("TMPDIR", previous_->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
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
    std::string path_;
    std::optional<std::string> previous_;
};

} // namespace stipplor::testsupport
