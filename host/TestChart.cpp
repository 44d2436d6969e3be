#include "host/TestChart.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace orvalis {

namespace {

struct TRgb {
    uint8_t R = 0, G = 0, B = 0;
};

constexpr TRgb White{255, 255, 255};
constexpr TRgb Black{0, 0, 0};

struct TRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    int32_t Width() const { return Right - Left; }
    int32_t Height() const { return Bottom - Top; }
    // Part of the rectangle between two fractions (in thousandths) of its height or width.
    TRect Rows(int32_t from, int32_t to) const {
        return {Left, Top + Height() * from / 1000, Right, Top + Height() * to / 1000};
    }
    TRect Columns(int32_t from, int32_t to) const {
        return {Left + Width() * from / 1000, Top, Left + Width() * to / 1000, Bottom};
    }
    // Cell i of n equal columns.
    TRect Column(int32_t i, int32_t n) const {
        return {Left + Width() * i / n, Top, Left + Width() * (i + 1) / n, Bottom};
    }
    TRect Row(int32_t i, int32_t n) const {
        return {Left, Top + Height() * i / n, Right, Top + Height() * (i + 1) / n};
    }
    TRect Inset(int32_t d) const { return {Left + d, Top + d, Right - d, Bottom - d}; }
    // The largest square centred in the rectangle.
    TRect Square() const {
        const int32_t side = std::min(Width(), Height());
        const int32_t left = Left + (Width() - side) / 2, top = Top + (Height() - side) / 2;
        return {left, top, left + side, top + side};
    }
};

class TCanvas {
public:
    explicit TCanvas(THostPicture& picture) : picture_(picture) {}

    void Set(int32_t x, int32_t y, TRgb c) {
        if (x < 0 || y < 0 || x >= picture_.Width || y >= picture_.Height)
            return;
        uint8_t* p = picture_.Row(y) + 3 * size_t(x);
        p[0] = c.B;
        p[1] = c.G;
        p[2] = c.R;
    }
    void Fill(const TRect& r, TRgb c) {
        for (int32_t y = r.Top; y < r.Bottom; ++y)
            for (int32_t x = r.Left; x < r.Right; ++x)
                Set(x, y, c);
    }
    // A one-pixel line from (x0, y0) to (x1, y1), both ends included.
    void Line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, TRgb c) {
        const int32_t dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
        const int32_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        for (int32_t error = dx + dy;;) {
            Set(x0, y0, c);
            if (x0 == x1 && y0 == y1)
                return;
            const int32_t twice = 2 * error;
            if (twice >= dy) {
                error += dy;
                x0 += sx;
            }
            if (twice <= dx) {
                error += dx;
                y0 += sy;
            }
        }
    }
    // A one-pixel circle outline.
    void Circle(double cx, double cy, double radius, TRgb c) {
        for (int32_t y = int32_t(cy - radius - 1); y <= int32_t(cy + radius + 1); ++y)
            for (int32_t x = int32_t(cx - radius - 1); x <= int32_t(cx + radius + 1); ++x)
                if (std::abs(std::hypot(x - cx, y - cy) - radius) < 0.5)
                    Set(x, y, c);
    }

private:
    THostPicture& picture_;
};

uint8_t Level(int32_t percent) {
    return uint8_t((255 * percent + 50) / 100);
}

uint8_t Mix(uint8_t from, uint8_t to, double t) {
    return uint8_t(std::lround(from + (to - from) * t));
}

TRgb Mix(TRgb from, TRgb to, double t) {
    return {Mix(from.R, to.R, t), Mix(from.G, to.G, t), Mix(from.B, to.B, t)};
}

// The fully saturated colour of a hue in degrees.
TRgb Hue(double degrees) {
    const double h = std::fmod(degrees, 360.0) / 60.0;
    const double x = 1.0 - std::abs(std::fmod(h, 2.0) - 1.0);
    std::array<double, 3> rgb{};
    switch (int(h)) {
    case 0:
        rgb = {1, x, 0};
        break;
    case 1:
        rgb = {x, 1, 0};
        break;
    case 2:
        rgb = {0, 1, x};
        break;
    case 3:
        rgb = {0, x, 1};
        break;
    case 4:
        rgb = {x, 0, 1};
        break;
    default:
        rgb = {1, 0, x};
        break;
    }
    return {uint8_t(std::lround(255 * rgb[0])), uint8_t(std::lround(255 * rgb[1])),
            uint8_t(std::lround(255 * rgb[2]))};
}

// Five framed rows of 21 patches, 0 to 100 % in 5 % steps: C, M and Y as ink tints, K as black
// ink, and grey as brightness from black to white.
void StepWedges(TCanvas& canvas, const TRect& band) {
    for (int32_t wedge = 0; wedge < 5; ++wedge) {
        TRect row = band.Row(wedge, 5);
        row.Bottom -= std::max(2, row.Height() / 8);
        // A hairline frame, so that the 0 % patch shows where the paper is.
        canvas.Fill(row.Inset(-1), Black);
        for (int32_t step = 0; step <= 20; ++step) {
            const uint8_t ink = uint8_t(255 - Level(5 * step));
            const uint8_t light = Level(5 * step);
            const std::array<TRgb, 5> colours = {TRgb{ink, 255, 255}, TRgb{255, ink, 255},
                                                 TRgb{255, 255, ink}, TRgb{ink, ink, ink},
                                                 TRgb{light, light, light}};
            canvas.Fill(row.Column(step, 21), colours[size_t(wedge)]);
        }
    }
}

void GreyRamp(TCanvas& canvas, const TRect& band) {
    const int32_t span = std::max(1, band.Width() - 1);
    for (int32_t x = band.Left; x < band.Right; ++x) {
        const uint8_t v = uint8_t((255 * (x - band.Left) + span / 2) / span);
        canvas.Fill({x, band.Top, x + 1, band.Bottom}, {v, v, v});
    }
}

// Hues across; down the band each runs from white to the full colour and on to black.
void HueSweep(TCanvas& canvas, const TRect& band) {
    const double rows = std::max(1, band.Height() - 1);
    for (int32_t x = band.Left; x < band.Right; ++x) {
        const TRgb colour = Hue(360.0 * (x - band.Left) / band.Width());
        for (int32_t y = band.Top; y < band.Bottom; ++y) {
            const double t = (y - band.Top) / rows;
            canvas.Set(x, y, t < 0.5 ? Mix(White, colour, 2 * t) : Mix(colour, Black, 2 * t - 1));
        }
    }
}

void Patches(TCanvas& canvas, const TRect& area) {
    const std::array<TRgb, 6> saturated = {TRgb{255, 0, 0},   TRgb{0, 255, 0},   TRgb{0, 0, 255},
                                           TRgb{0, 255, 255}, TRgb{255, 0, 255}, TRgb{255, 255, 0}};
    const std::array<TRgb, 6> skin = {TRgb{255, 224, 196}, TRgb{241, 194, 167}, TRgb{224, 172, 105},
                                      TRgb{198, 134, 66},  TRgb{141, 85, 36},   TRgb{92, 51, 23}};
    const int32_t gap = std::max(1, area.Width() / 60);
    for (int32_t i = 0; i < 6; ++i) {
        canvas.Fill(area.Row(0, 2).Column(i, 6).Inset(gap), saturated[size_t(i)]);
        canvas.Fill(area.Row(1, 2).Column(i, 6).Inset(gap), skin[size_t(i)]);
    }
}

// One-pixel lines every 18 degrees through the centre of a circle.
void LineStar(TCanvas& canvas, const TRect& square) {
    const double cx = square.Left + square.Width() / 2.0, cy = square.Top + square.Height() / 2.0;
    const double radius = square.Width() / 2.0 - 1;
    for (int32_t degrees = 0; degrees < 180; degrees += 18) {
        const double a = degrees * std::numbers::pi / 180;
        const double dx = radius * std::cos(a), dy = radius * std::sin(a);
        canvas.Line(int32_t(std::lround(cx - dx)), int32_t(std::lround(cy - dy)),
                    int32_t(std::lround(cx + dx)), int32_t(std::lround(cy + dy)), Black);
    }
    canvas.Circle(cx, cy, radius, Black);
}

// Parallel one-pixel lines at an angle (degrees from the horizontal), four pixels apart.
void ParallelLines(TCanvas& canvas, const TRect& square, int32_t degrees) {
    const double normal = (degrees + 90) * std::numbers::pi / 180;
    const double nx = std::cos(normal), ny = std::sin(normal);
    for (int32_t y = square.Top; y < square.Bottom; ++y)
        for (int32_t x = square.Left; x < square.Right; ++x) {
            const double t = (x - square.Left) * nx + (y - square.Top) * ny;
            const bool onLine = std::fmod(std::floor(t) + 4096.0, 4.0) == 0;
            canvas.Set(x, y, onLine ? Black : White);
        }
}

void RegistrationMark(TCanvas& canvas, int32_t cx, int32_t cy, int32_t radius) {
    canvas.Circle(cx, cy, radius * 0.6, Black);
    canvas.Line(cx - radius, cy, cx + radius, cy, Black);
    canvas.Line(cx, cy - radius, cx, cy + radius, Black);
}

} // namespace

THostPicture MakeTestChart(int32_t Width, int32_t Height) {
    if (Width < TestChartMinSide || Height < TestChartMinSide || Width > TestChartMaxSide ||
        Height > TestChartMaxSide)
        throw EPicture("the test chart's sides must be from " + std::to_string(TestChartMinSide) +
                       " to " + std::to_string(TestChartMaxSide) + " pixels");
    THostPicture chart(Width, Height, 3);
    TCanvas canvas(chart);
    canvas.Fill({0, 0, Width, Height}, White);

    const int32_t margin = std::max(2, std::min(Width, Height) / 40);
    const TRect area{margin, margin, Width - margin, Height - margin};
    StepWedges(canvas, area.Rows(0, 420));
    GreyRamp(canvas, area.Rows(440, 500));
    HueSweep(canvas, area.Rows(520, 680));
    const TRect bottom = area.Rows(700, 1000);
    Patches(canvas, bottom.Columns(0, 520));
    const TRect lines = bottom.Columns(540, 1000);
    LineStar(canvas, lines.Columns(0, 450).Square().Inset(1));
    const TRect groups = lines.Columns(480, 1000);
    const std::array<int32_t, 6> angles = {0, 30, 45, 60, 90, 135};
    for (int32_t i = 0; i < 6; ++i)
        ParallelLines(canvas, groups.Row(i / 3, 2).Column(i % 3, 3).Square().Inset(2),
                      angles[size_t(i)]);

    if (margin >= 10) {
        const int32_t r = margin / 2 - 1, near = margin / 2;
        for (int32_t cx : {near, Width - 1 - near})
            for (int32_t cy : {near, Height - 1 - near})
                RegistrationMark(canvas, cx, cy, r);
    }
    return chart;
}

} // namespace orvalis
