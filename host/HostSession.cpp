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

int32_t ORVALIS_CALL THostSession::Callback(int32_t request, void* record) {
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
    case ORVALIS_REQUEST_REGISTER:
        return Register(*static_cast<const orvalis_plugin_info*>(record));
    case ORVALIS_REQUEST_NEW_IMAGE:
        return SaveNewImage(*static_cast<const orvalis_new_image*>(record));
    case ORVALIS_REQUEST_DOCUMENT_INFO:
        return Document(*static_cast<orvalis_document_info*>(record));
    case ORVALIS_REQUEST_MAIN_WINDOW:
        *static_cast<orvalis_window*>(record) = HostMainWindow;
        return 1;
    case ORVALIS_REQUEST_PROGRESS:
        return Progress(*static_cast<const int32_t*>(record));
    case ORVALIS_REQUEST_IMAGE_GAMMA:
        return ImageGamma(*static_cast<orvalis_gamma_info*>(record));
    default:
        err_ << "orvalis-host: unknown request " << request << '\n';
        return 0;
    }
}

int32_t THostSession::Register(const orvalis_plugin_info& info) {
    out_ << "plug-in: " << TextOr(info.name, "(unnamed)") << " in the " << TextOr(info.menu, "(no)")
         << " menu: " << TextOr(info.description, "") << '\n';
    return 1;
}

int32_t THostSession::SaveNewImage(const orvalis_new_image& image) {
    EndProgress();
    const std::string title = TextOr(image.title, "");
    const std::string path =
        (std::filesystem::path(options_.OutputFolder) / FileNameForTitle(title)).string();
    try {
        SavePng(image.image, path);
    } catch (const EPicture& e) {
        ++saveFailures_;
        err_ << "orvalis-host: cannot save the image \"" << title << "\" as " << path << ": "
             << e.what() << '\n';
        return 0;
    }
    saved_.push_back(path);
    out_ << "saved \"" << title << "\" as " << path << " (" << image.image.width << " x "
         << image.image.height << ")\n";
    return 1;
}

int32_t THostSession::Document(orvalis_document_info& info) {
    if (info.index != 0)
        return 0;
    info.file_name = options_.DocumentName.c_str();
    info.image_map = picture_.Pixels.data();
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

int32_t THostSession::ImageGamma(orvalis_gamma_info& info) {
    if (!options_.Gamma || info.size < int32_t(sizeof info))
        return 0;
    info.gamma = *options_.Gamma;
    info.size = int32_t(sizeof info);
    return 1;
}

void THostSession::EndProgress() {
    if (progressOpen_) {
        err_ << '\n';
        progressOpen_ = false;
    }
}

} // namespace orvalis
