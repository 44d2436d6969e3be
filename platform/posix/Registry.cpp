// The registry as files: key "A\B\C" is the folder A/B/C below the user's configuration
// folder ($XDG_CONFIG_HOME, else ~/.config), and its values are the file Values.reg in there
// (see RegistryFile.h). Readers take no lock: a writer never changes the file in place but
// renames a complete new version over it, so a reader sees the old file or the new one.
// Writers serialise on a lock file beside it and re-read the values under the lock, so that
// no other process's change is lost.
#include "platform/Registry.h"

#include "platform/File.h"
#include "platform/SystemError.h"
#include "platform/posix/RegistryFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace stipplor {

namespace {

constexpr std::string_view ValuesFile = "Values.reg";
constexpr std::string_view LockFile = ".Values.lock";
// The next version of the values, complete and on disk before it takes ValuesFile's place.
// Only the lock's holder writes it, so one fixed name will do; a killed writer's leftover is
// simply replaced.
constexpr std::string_view NextValuesFile = ".Values.new";

// Changes kept back by an update: a value to set, or nullopt to delete it.
using TChanges = std::map<std::string, std::optional<TRegistryData>, TRegistryNameLess>;

// Where a key lives: its folder, and its path as the file's section line names it.
struct TKeyLocation {
    std::string Folder;
    std::string Path;

    std::string File(std::string_view name) const { return Folder + '/' + std::string(name); }
};

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return home;
    passwd entry{};
    passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

// A relative $XDG_CONFIG_HOME is to be ignored, as the base directory rules say.
std::string ConfigFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/')
        return config;
    const std::string home = HomeFolder();
    return home.empty() ? home : home + "/.config";
}

bool IsFolderName(std::string_view name) noexcept {
    return !name.empty() && name != "." && name != ".." &&
           std::none_of(name.begin(), name.end(),
                        [](char c) { return c == '/' || static_cast<unsigned char>(c) < 0x20; });
}

// The folder of key KeyPath (without its leading backslash).
TRegistryStatus FindKeyFolder(std::string_view keyPath, std::string& folder) {
    folder = ConfigFolder();
    if (folder.empty())
        return ENOENT;
    if (keyPath.empty())
        return EINVAL; // the root itself holds no values here
    for (;;) {
        const size_t separator = keyPath.find('\\');
        const std::string_view name = keyPath.substr(0, separator);
        if (!IsFolderName(name))
            return EINVAL;
        folder.append("/").append(name);
        if (separator == std::string_view::npos)
            return 0;
        keyPath.remove_prefix(separator + 1);
    }
}

TRegistryStatus MakeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string prefix = folder.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
        if (slash == std::string::npos)
            return 0;
    }
}

TRegistryStatus CheckFolder(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

// The values the key's file holds now. A file that cannot be read, is not a regular file,
// is too large or changes while it is read holds none.
TRegistryValues ReadValues(const TKeyLocation& key) {
    try {
        // Opened non-blocking: a pipe put in the file's place must not hang the reader.
        TFile file =
            TFile::Open(key.File(ValuesFile), TFileAccess::Read, TFileCreation::OpenExisting);
        const int64_t size = file.Size();
        if (!file.IsRegularFile() || size < 0 || static_cast<uint64_t>(size) > MaxRegistryFileSize)
            return {};
        // One byte more than the size: a file that grew meanwhile is noticed.
        std::string text(static_cast<size_t>(size) + 1, '\0');
        text.resize(file.Read(text.data(), text.size()));
        if (text.size() != static_cast<size_t>(size))
            return {};
        return ParseRegistryFile(text, key.Path);
    } catch (const EOSError&) {
        return {};
    }
}

// The value as a reader sees it: a change kept back by an update, else the file's.
TRegistryStatus LookUp(const TKeyLocation& key, const TChanges& kept, std::string_view name,
                       TRegistryData& data) {
    if (const auto change = kept.find(name); change != kept.end()) {
        if (!change->second)
            return ENOENT;
        data = *change->second;
        return 0;
    }
    TRegistryValues values = ReadValues(key);
    const auto value = values.find(name);
    if (value == values.end())
        return ENOENT;
    data = std::move(value->second);
    return 0;
}

// Opens a folder or a lock file, which TFile does not open, as a handle that closes itself.
TFile OpenNative(const std::string& name, int flags) {
    return TFile::AdoptNativeHandle(::open(name.c_str(), flags | O_CLOEXEC | O_NOCTTY, 0600));
}

// The new file goes to disk under another name first and then takes the old one's place in
// one rename, so that a crash at any moment leaves one of the two whole.
TRegistryStatus ReplaceValuesFile(const TKeyLocation& key, std::string_view text) {
    const std::string next = key.File(NextValuesFile);
    TryRemoveFile(next);
    try {
        TFile file = TFile::CreateNew(next, TFileAccess::Write);
        if (!file.IsOpen())
            return EEXIST;
        if (file.Write(text.data(), text.size()) != text.size())
            RaiseOSError(ENOSPC);
        file.Flush();
        file.Close();
        if (::rename(next.c_str(), key.File(ValuesFile).c_str()) != 0)
            RaiseLastOSError();
    } catch (const EOSError& error) {
        TryRemoveFile(next);
        return error.Code();
    }
    // The rename itself reaches the disk with the folder; the new values are in place already.
    if (const TFile folder = OpenNative(key.Folder, O_RDONLY | O_DIRECTORY); folder.IsOpen())
        ::fsync(static_cast<int>(folder.NativeHandle()));
    return 0;
}

// Applies Change to the key's current values and writes them back, holding the writers' lock
// throughout. A change that answers with an error leaves the file as it is.
template <class F> TRegistryStatus Rewrite(const TKeyLocation& key, F&& Change) {
    const TFile lock = OpenNative(key.File(LockFile), O_RDWR | O_CREAT | O_NONBLOCK);
    if (!lock.IsOpen())
        return errno;
    int locked;
    do
        locked = ::flock(static_cast<int>(lock.NativeHandle()), LOCK_EX);
    while (locked != 0 && errno == EINTR);
    if (locked != 0)
        return errno;
    TRegistryValues values = ReadValues(key);
    if (const TRegistryStatus status = Change(values); status != 0)
        return status;
    const std::string text = FormatRegistryFile(values, key.Path);
    if (text.size() > MaxRegistryFileSize)
        return EFBIG;
    return ReplaceValuesFile(key, text);
}

void Remove(TRegistryValues& values, std::string_view name) {
    if (const auto value = values.find(name); value != values.end())
        values.erase(value);
}

} // namespace

struct TRegistryKey::TState {
    TKeyLocation Key;
    bool Writable = false;
    int UpdateDepth = 0;
    TChanges Kept;
};

TRegistryKey::TRegistryKey() noexcept = default;
TRegistryKey::TRegistryKey(TRegistryKey&&) noexcept = default;
TRegistryKey& TRegistryKey::operator=(TRegistryKey&&) noexcept = default;
TRegistryKey::~TRegistryKey() = default;

TRegistryStatus TRegistryKey::Open(std::string_view KeyPath, TRegistryAccess Access) {
    Close();
    if (KeyPath.starts_with('\\'))
        KeyPath.remove_prefix(1);
    auto state = std::make_unique<TState>();
    TRegistryStatus status = FindKeyFolder(KeyPath, state->Key.Folder);
    if (status == 0 && Access == TRegistryAccess::ReadWrite)
        status = MakeFolders(state->Key.Folder);
    if (status == 0)
        status = CheckFolder(state->Key.Folder);
    if (status != 0)
        return status;
    state->Key.Path = KeyPath;
    state->Writable = Access == TRegistryAccess::ReadWrite;
    state_ = std::move(state);
    return 0;
}

void TRegistryKey::Close() noexcept {
    state_.reset();
}

TRegistryStatus TRegistryKey::ReadValue(std::string_view Name, TRegistryData& Data) const {
    if (!state_)
        return EBADF;
    return LookUp(state_->Key, state_->Kept, Name, Data);
}

TRegistryStatus TRegistryKey::SetValue(std::string_view Name, TRegistryValueType Type,
                                       std::span<const uint8_t> Bytes) {
    if (!state_)
        return EBADF;
    if (!state_->Writable)
        return EACCES;
    if (!RegistryValueFits(Name, Bytes.size()))
        return EINVAL;
    TRegistryData data{Type, {Bytes.begin(), Bytes.end()}};
    if (state_->UpdateDepth > 0) {
        state_->Kept.insert_or_assign(std::string(Name), std::move(data));
        return 0;
    }
    return Rewrite(state_->Key, [&](TRegistryValues& values) {
        values.insert_or_assign(std::string(Name), std::move(data));
        return 0;
    });
}

TRegistryStatus TRegistryKey::DeleteValue(std::string_view Name) {
    if (!state_)
        return EBADF;
    if (!state_->Writable)
        return EACCES;
    if (state_->UpdateDepth > 0) {
        TRegistryData existing;
        if (const TRegistryStatus status = ReadValue(Name, existing); status != 0)
            return status;
        state_->Kept.insert_or_assign(std::string(Name), std::nullopt);
        return 0;
    }
    return Rewrite(state_->Key, [&](TRegistryValues& values) {
        const auto value = values.find(Name);
        if (value == values.end())
            return ENOENT;
        values.erase(value);
        return 0;
    });
}

void TRegistryKey::BeginUpdate() noexcept {
    if (state_)
        ++state_->UpdateDepth;
}

TRegistryStatus TRegistryKey::EndUpdate() {
    if (!state_ || state_->UpdateDepth == 0 || --state_->UpdateDepth > 0)
        return 0;
    const TChanges kept = std::exchange(state_->Kept, {});
    if (kept.empty())
        return 0;
    return Rewrite(state_->Key, [&](TRegistryValues& values) {
        for (const auto& [name, change] : kept)
            if (change)
                values.insert_or_assign(name, *change);
            else
                Remove(values, name);
        return 0;
    });
}

} // namespace stipplor
