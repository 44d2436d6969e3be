#include "host/Picture.h"

#include <leptonica/allheaders.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace orvalis {

namespace {

// The largest pixel block a plug-in image may have: its size is a 32-bit number.
constexpr int64_t MaxImageBytes = 2147483646;

struct TPixFree {
    void operator()(PIX* pix) const noexcept { pixDestroy(&pix); }
};
using TPix = std::unique_ptr<PIX, TPixFree>;

struct TFileClose {
    void operator()(FILE* file) const noexcept { std::fclose(file); }
};
using TFile = std::unique_ptr<FILE, TFileClose>;

TFile OpenFile(const std::string& path, const char* mode) {
    TFile file(std::fopen(path.c_str(), mode));
    if (!file)
        throw EPicture(std::strerror(errno));
    return file;
}

// What the decoders say while they work. Leptonica reports through a handler; libpng and
// libjpeg, below it, write to standard error themselves, which is caught in a temporary file
// for the time of one decoding, so that a failure ends in one line of our own.
class TDecoderMessages {
public:
    TDecoderMessages() {
        leptonicaMessage().clear();
        leptSetStderrHandler(&Collect);
        std::fflush(stderr);
        capture_.reset(std::tmpfile());
        saved_ = capture_ ? ::dup(STDERR_FILENO) : -1;
        if (saved_ >= 0)
            ::dup2(::fileno(capture_.get()), STDERR_FILENO);
    }
    ~TDecoderMessages() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
        }
    }
    TDecoderMessages(const TDecoderMessages&) = delete;
    TDecoderMessages& operator=(const TDecoderMessages&) = delete;

    // The decoders' first line, to follow a reason in parentheses (empty when they said
    // nothing).
    std::string Detail() {
        std::string text;
        if (capture_) {
            std::fflush(stderr);
            std::rewind(capture_.get());
            std::array<char, 256> line{};
            if (std::fgets(line.data(), int(line.size()), capture_.get()))
                text = line.data();
        }
        if (text.empty())
            text = leptonicaMessage();
        // Leptonica names its function: "Error in pixReadMemBmp: size incommensurate ..."
        if (const size_t colon = text.find(": ");
            text.starts_with("Error in ") && colon != text.npos)
            text.erase(0, colon + 2);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
            text.pop_back();
        return text.empty() ? text : " (" + text + ")";
    }

private:
    static std::string& leptonicaMessage() {
        static std::string message;
        return message;
    }
    static void Collect(const char* message) {
        if (leptonicaMessage().empty())
            leptonicaMessage() = message;
    }

    TFile capture_;
    int saved_ = -1;
};

const char* FormatName(TPictureFormat format) {
    switch (format) {
    case TPictureFormat::PNG:
        return "PNG";
    case TPictureFormat::JPEG:
        return "JPEG";
    case TPictureFormat::TIFF:
        return "TIFF";
    case TPictureFormat::BMP:
        return "BMP";
    case TPictureFormat::Unknown:
        break;
    }
    return "unknown";
}

PIX* Decode(TPictureFormat format, FILE* file) {
    switch (format) {
    case TPictureFormat::PNG:
        return pixReadStreamPng(file);
    case TPictureFormat::JPEG: {
        l_int32 warnings = 0;
        // Hint 0: damaged data fails instead of giving a part of the picture.
        return pixReadStreamJpeg(file, 0, 1, &warnings, 0);
    }
    case TPictureFormat::TIFF:
        return pixReadStreamTiff(file, 0);
    case TPictureFormat::BMP:
        return pixReadStreamBmp(file);
    case TPictureFormat::Unknown:
        break;
    }
    return nullptr;
}

TPix Checked(PIX* pix) {
    if (!pix)
        throw EPicture("out of memory");
    return TPix(pix);
}

THostPicture IndexedPicture(PIX* pix, const PIXCMAP* colormap) {
    THostPicture picture(pixGetWidth(pix), pixGetHeight(pix), 1);
    picture.Palette.assign(768, 0);
    const l_int32 count = std::min(pixcmapGetCount(colormap), 256);
    for (l_int32 i = 0; i < count; ++i) {
        l_int32 r = 0, g = 0, b = 0;
        pixcmapGetColor(const_cast<PIXCMAP*>(colormap), i, &r, &g, &b);
        picture.Palette[size_t(3 * i)] = uint8_t(b);
        picture.Palette[size_t(3 * i + 1)] = uint8_t(g);
        picture.Palette[size_t(3 * i + 2)] = uint8_t(r);
    }
    return picture;
}

void CopyBytes(PIX* pix8, THostPicture& picture) {
    const l_uint32* data = pixGetData(pix8);
    const l_int32 wpl = pixGetWpl(pix8);
    for (int32_t y = 0; y < picture.Height; ++y) {
        const l_uint32* line = data + size_t(y) * size_t(wpl);
        uint8_t* row = picture.Row(y);
        for (int32_t x = 0; x < picture.Width; ++x)
            row[x] = uint8_t(GET_DATA_BYTE(line, x));
    }
}

void CopyRGB(PIX* pix32, THostPicture& picture) {
    const l_uint32* data = pixGetData(pix32);
    const l_int32 wpl = pixGetWpl(pix32);
    for (int32_t y = 0; y < picture.Height; ++y) {
        const l_uint32* line = data + size_t(y) * size_t(wpl);
        uint8_t* out = picture.Row(y);
        for (int32_t x = 0; x < picture.Width; ++x, out += 3) {
            out[0] = uint8_t(line[x] >> L_BLUE_SHIFT);
            out[1] = uint8_t(line[x] >> L_GREEN_SHIFT);
            out[2] = uint8_t(line[x] >> L_RED_SHIFT);
        }
    }
}

THostPicture ToHostPicture(PIX* pix) {
    const l_int32 depth = pixGetDepth(pix);
    if (const PIXCMAP* colormap = pixGetColormap(pix)) {
        TPix indexed = Checked(depth == 8 ? pixClone(pix) : pixConvertTo8(pix, 1));
        THostPicture picture = IndexedPicture(indexed.get(), colormap);
        CopyBytes(indexed.get(), picture);
        return picture;
    }
    if (depth <= 16 && pixGetSpp(pix) == 1) {
        TPix grey = Checked(depth == 8    ? pixClone(pix)
                            : depth == 16 ? pixConvert16To8(pix, L_MS_BYTE)
                                          : pixConvertTo8(pix, 0));
        THostPicture picture(pixGetWidth(pix), pixGetHeight(pix), 1);
        CopyBytes(grey.get(), picture);
        return picture;
    }
    // Transparent parts are paper: laid on white.
    TPix rgb = Checked(pixGetSpp(pix) == 4 ? pixAlphaBlendUniform(pix, 0xffffff00)
                       : depth == 32       ? pixClone(pix)
                                           : pixConvertTo32(pix));
    THostPicture picture(pixGetWidth(pix), pixGetHeight(pix), 3);
    CopyRGB(rgb.get(), picture);
    return picture;
}

bool RecordDescribesPicture(const TPluginImage& image) {
    const bool knownType = image.PixelType == 1 || image.PixelType == 3 || image.PixelType == 4;
    return knownType && image.Width >= 1 && image.Height >= 1 && image.Map != nullptr &&
           image.BytesPerLine >= int64_t{image.Width} * image.PixelType &&
           int64_t{image.BytesPerLine} * image.Height <= MaxImageBytes;
}

TPix PixFromRecord(const TPluginImage& image) {
    const bool indexed = image.PixelType == 1;
    TPix pix = Checked(pixCreate(image.Width, image.Height, indexed ? 8 : 32));
    l_uint32* data = pixGetData(pix.get());
    const l_int32 wpl = pixGetWpl(pix.get());
    for (int32_t y = 0; y < image.Height; ++y) {
        const uint8_t* in = image.Map + size_t(y) * size_t(image.BytesPerLine);
        l_uint32* line = data + size_t(y) * size_t(wpl);
        if (indexed) {
            for (int32_t x = 0; x < image.Width; ++x)
                SET_DATA_BYTE(line, x, in[x]);
        } else {
            for (int32_t x = 0; x < image.Width; ++x, in += image.PixelType)
                line[x] = (l_uint32(in[2]) << L_RED_SHIFT) | (l_uint32(in[1]) << L_GREEN_SHIFT) |
                          (l_uint32(in[0]) << L_BLUE_SHIFT);
        }
    }
    if (indexed) {
        PIXCMAP* colormap = pixcmapCreate(8);
        for (int i = 0; i < 256; ++i) {
            const uint8_t* entry = image.Palette ? image.Palette + 3 * i : nullptr;
            if (entry)
                pixcmapAddColor(colormap, entry[2], entry[1], entry[0]);
            else
                pixcmapAddColor(colormap, i, i, i);
        }
        pixSetColormap(pix.get(), colormap);
    } else {
        pixSetSpp(pix.get(), 3);
    }
    return pix;
}

} // namespace

THostPicture::THostPicture(int32_t width, int32_t height, int32_t pixelType)
    : Width(width), Height(height), PixelType(pixelType) {
    const int64_t rowBytes = (int64_t{width} * pixelType + 3) & ~int64_t{3};
    if (width < 1 || height < 1 || rowBytes * height > MaxImageBytes)
        throw EPicture("the picture is larger than a plug-in image may be");
    BytesPerLine = int32_t(rowBytes);
    Pixels.assign(size_t(rowBytes) * size_t(height), 0);
}

TPluginImage THostPicture::Record() const {
    TPluginImage image{};
    image.Width = Width;
    image.Height = Height;
    image.BytesPerLine = BytesPerLine;
    image.PixelType = PixelType;
    image.Map = Pixels.data();
    image.Palette = Palette.empty() ? nullptr : Palette.data();
    return image;
}

std::string THostPicture::Kind() const {
    if (PixelType == 3)
        return "24-bit";
    return Palette.empty() ? "8-bit grey" : "8-bit palette";
}

TPictureFormat SniffPictureFormat(const std::string& path) {
    TFile file = OpenFile(path, "rb");
    std::array<uint8_t, 8> head{};
    const size_t n = std::fread(head.data(), 1, head.size(), file.get());
    if (std::ferror(file.get()))
        throw EPicture(std::strerror(errno));
    if (n == 0)
        throw EPicture("the file is empty");
    auto startsWith = [&](std::initializer_list<uint8_t> magic) {
        return n >= magic.size() && std::equal(magic.begin(), magic.end(), head.begin());
    };
    if (startsWith({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}))
        return TPictureFormat::PNG;
    if (startsWith({0xFF, 0xD8, 0xFF}))
        return TPictureFormat::JPEG;
    if (startsWith({'I', 'I', 42, 0}) || startsWith({'M', 'M', 0, 42}) ||
        startsWith({'I', 'I', 43, 0}) || startsWith({'M', 'M', 0, 43}))
        return TPictureFormat::TIFF;
    if (startsWith({'B', 'M'}))
        return TPictureFormat::BMP;
    return TPictureFormat::Unknown;
}

THostPicture ReadPicture(const std::string& path) {
    const TPictureFormat format = SniffPictureFormat(path);
    if (format == TPictureFormat::Unknown)
        throw EPicture("not a PNG, JPEG, TIFF or BMP picture");
    TFile file = OpenFile(path, "rb");
    TDecoderMessages messages;
    TPix pix(Decode(format, file.get()));
    if (!pix)
        throw EPicture(std::string("damaged or incomplete ") + FormatName(format) + " picture" +
                       messages.Detail());
    return ToHostPicture(pix.get());
}

void SavePng(const TPluginImage& image, const std::string& path) {
    if (!RecordDescribesPicture(image))
        throw EPicture("the image record describes no picture");
    TPix pix = PixFromRecord(image);
    TFile file = OpenFile(path, "wb");
    TDecoderMessages messages;
    if (pixWriteStreamPng(file.get(), pix.get(), 0) != 0 || std::fflush(file.get()) != 0)
        throw EPicture("cannot write the PNG file" + messages.Detail());
}

} // namespace orvalis
