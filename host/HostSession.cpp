#include "host/HostSession.h"

#include <unistd.h>

#include <algorithm>
#include <exception>
#include <filesystem>

namespace orvalis {

namespace {

THostSession* current = nullptr;

constexpr int BarWidth = 30;

std::string TextOr(const char* text, const char* fallback) {
    return text ? text : fallback;
}

} // namespace

std::string FileNameForTitle(const std::string& Title) {
    const size_t slash = Title.find_last_of("/\\");
    std::string name = slash == std::string::npos ? Title : Title.substr(slash + 1);
    const size_t first = name.find_first_not_of(" \t");
    if (first == std::string::npos)
        name.clear();
    else
        name = name.substr(first, name.find_last_not_of(" \t") + 1 - first);
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 32)
            c = '_';
    return (name.empty() ? "untitled" : name) + ".png";
}

THostSession::THostSession(THostOptions options, const THostPicture& picture, std::ostream& out,
                           std::ostream& err)
    : options_(std::move(options)), picture_(picture), out_(out), err_(err),
      progressOnTerminal_(::isatty(STDERR_FILENO) != 0) {
    current = this;
}

THostSession::~THostSession() {
    current = nullptr;
}

int32_t STIPPLOR_PLUGIN_CALL THostSession::Callback(int32_t request, void* record) {
    if (!current || !record)
        return 0;
    // The plug-in is C on this side: nothing may leave the callback.
    try {
        return current->Answer(request, record);
    } catch (const std::exception& e) {
        current->err_ << "orvalis-host: request " << request << " failed: " << e.what() << '\n';
    } catch (...) {
        current->err_ << "orvalis-host: request " << request << " failed\n";
    }
    return 0;
}

int32_t THostSession::Answer(int32_t request, void* record) {
    switch (request) {
    case prRegister:
        return Register(*static_cast<const TPluginInfo*>(record));
    case prNewImage:
        return SaveNewImage(*static_cast<const TPluginNewImage*>(record));
    case prDocumentInfo:
        return Document(*static_cast<TPluginDocumentInfo*>(record));
    case prMainWindow:
        *static_cast<THostWindow*>(record) = HostMainWindow;
        return 1;
    case prProgress:
        return Progress(*static_cast<const int32_t*>(record));
    case prImageGamma:
        return ImageGamma(*static_cast<TPluginGammaInfo*>(record));
    default:
        err_ << "orvalis-host: unknown request " << request << '\n';
        return 0;
    }
}

int32_t THostSession::Register(const TPluginInfo& info) {
    out_ << "plug-in: " << TextOr(info.EntryName, "(unnamed)") << " in the "
         << TextOr(info.MenuName, "(no)") << " menu: " << TextOr(info.Description, "") << '\n';
    return 1;
}

int32_t THostSession::SaveNewImage(const TPluginNewImage& image) {
    EndProgress();
    const std::string title = TextOr(image.Title, "");
    const std::string path =
        (std::filesystem::path(options_.OutputFolder) / FileNameForTitle(title)).string();
    try {
        SavePng(image.Image, path);
    } catch (const EPicture& e) {
        ++saveFailures_;
        err_ << "orvalis-host: cannot save the image \"" << title << "\" as " << path << ": "
             << e.what() << '\n';
        return 0;
    }
    saved_.push_back(path);
    out_ << "saved \"" << title << "\" as " << path << " (" << image.Image.Width << " x "
         << image.Image.Height << ")\n";
    return 1;
}

int32_t THostSession::Document(TPluginDocumentInfo& info) {
    if (info.Index != 0)
        return 0;
    info.FileName = options_.DocumentName.c_str();
    info.ImageMap = picture_.Pixels.data();
    return 1;
}

int32_t THostSession::Progress(int32_t percent) {
    const bool stop = options_.CancelAt && percent >= *options_.CancelAt;
    const int32_t shown = std::clamp(percent, 0, 100);
    if (progressOnTerminal_) {
        const int filled = shown * BarWidth / 100;
        err_ << "\rStipplor [" << std::string(size_t(filled), '#')
             << std::string(size_t(BarWidth - filled), ' ') << "] " << percent << " %"
             << std::flush;
        progressOpen_ = true;
        if (percent >= 100 || stop)
            EndProgress();
    } else {
        err_ << "progress " << percent << " %\n";
    }
    if (stop) {
        stopAnswered_ = true;
        err_ << "orvalis-host: answering stop at " << percent << " %\n";
        return 0;
    }
    return 1;
}

int32_t THostSession::ImageGamma(TPluginGammaInfo& info) {
    if (!options_.Gamma || info.Size < int32_t(sizeof info))
        return 0;
    info.Gamma = *options_.Gamma;
    info.Size = int32_t(sizeof info);
    return 1;
}

void THostSession::EndProgress() {
    if (progressOpen_) {
        err_ << '\n';
        progressOpen_ = false;
    }
}

} // namespace orvalis
