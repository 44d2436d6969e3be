#pragma once
// The host's side of the protocol: its answers to the plug-in's requests for one picture.
//   3  the picture's document name; 4  the host's main window;
//   5  a progress bar on standard error, answering "stop" from a chosen percentage on;
//   10 the picture's gamma when one was given, else none;
//   2  each new image saved as a PNG file named after its title.
// One session at a time: the callback reaches the session that is alive.
#include "host/Picture.h"
#include "plugin/OrvalisPlugins.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace orvalis {

struct THostOptions {
    std::string DocumentName;        // answered to request 3
    std::optional<float> Gamma;      // answered to request 10
    std::optional<int32_t> CancelAt; // request 5 answers "stop" from this percentage on
    std::string OutputFolder = ".";  // where request 2 saves
};

// The window handle the host gives as its main window (it has no real one).
inline constexpr THostWindow HostMainWindow = 0x0A110C;

// The file a new image titled Title is saved as: the title's last path part, without blanks
// around it ("untitled" when nothing is left), with ".png".
std::string FileNameForTitle(const std::string& Title);

class THostSession {
public:
    THostSession(THostOptions options, const THostPicture& picture, std::ostream& out,
                 std::ostream& err);
    ~THostSession();
    THostSession(const THostSession&) = delete;
    THostSession& operator=(const THostSession&) = delete;

    // The callback handed to RegisterPlugin.
    static int32_t STIPPLOR_PLUGIN_CALL Callback(int32_t request, void* record);

    bool StopAnswered() const noexcept { return stopAnswered_; }
    int SaveFailures() const noexcept { return saveFailures_; }
    const std::vector<std::string>& SavedFiles() const noexcept { return saved_; }
    // Ends a progress line that is still open.
    void EndProgress();

private:
    int32_t Answer(int32_t request, void* record);
    int32_t Register(const TPluginInfo& info);
    int32_t SaveNewImage(const TPluginNewImage& image);
    int32_t Document(TPluginDocumentInfo& info);
    int32_t Progress(int32_t percent);
    int32_t ImageGamma(TPluginGammaInfo& info);

    THostOptions options_;
    const THostPicture& picture_;
    std::ostream& out_;
    std::ostream& err_;
    bool stopAnswered_ = false;
    bool progressOpen_ = false;
    bool progressOnTerminal_ = false;
    int saveFailures_ = 0;
    std::vector<std::string> saved_;
};

} // namespace orvalis
