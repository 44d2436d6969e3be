#pragma once
// Plain, slow implementations of the engine's formulas, written straight from their
// definitions (one pixel at a time, literal searches, no tables). The fast paths are pinned
// to these bit for bit.
#include "bitmap/LinarBitmap.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

namespace reference {

struct Image {
    int W = 0, H = 0, C = 1; // C bytes per pixel; rows are W*C bytes
    std::vector<uint8_t> px;
    Image() = default;
    Image(int w, int h, int c = 1, uint8_t fill = 0)
        : W(w), H(h), C(c), px(size_t(w) * h * c, fill) {}
    uint8_t& at(int x, int y, int ch = 0) { return px[(size_t(y) * W + x) * C + ch]; }
    uint8_t at(int x, int y, int ch = 0) const { return px[(size_t(y) * W + x) * C + ch]; }
    bool operator==(const Image&) const = default;
};

inline Image FromBitmap(const stipplor::TLinearBitmap& b) {
    Image im(b.Width(), b.Height(), b.PixelSize());
    for (int y = 0; y < b.Height(); ++y)
        for (int i = 0; i < b.Width() * b.PixelSize(); ++i)
            im.px[size_t(y) * b.Width() * b.PixelSize() + i] = b.RowPointer(y)[i];
    return im;
}

inline void ToBitmap(const Image& im, stipplor::TLinearBitmap& b) {
    using namespace stipplor;
    b.Allocate(im.W, im.H, im.C == 1 ? PixelFormat8 : PixelFormat24, 0);
    if (im.C == 1)
        b.SetPalette(GrayPalette.data());
    for (int y = 0; y < im.H; ++y)
        for (int i = 0; i < im.W * im.C; ++i)
            b.RowPointer(y)[i] = im.px[size_t(y) * im.W * im.C + i];
}

// Degrees to radians as the dialog does it: the product in long double, then a double.
inline double Radians(double degrees) {
    return static_cast<double>(static_cast<long double>(degrees) * 0.017453292519943295769L);
}

inline double Round(double v) {
    return std::nearbyint(v);
}

inline double Normalize(double a) {
    const double twoPi = 2 * std::numbers::pi;
    while (a < 0)
        a = a + twoPi;
    return a - twoPi * std::trunc(a / twoPi);
}

inline double ScreenAngle(double a) {
    const double pi = std::numbers::pi;
    double t = Normalize(a);
    if (std::fabs(t - pi) < 0.0001 || std::fabs(t - 3 * pi / 2) < 0.0001 ||
        std::fabs(t - pi / 2) < 0.0001)
        t = 0;
    return t;
}

inline void TurnedSize(int w, int h, double t, int& ow, int& oh) {
    double cx = w / 2.0, cy = h / 2.0;
    long long sx = 0, sy = 0;
    double xs[4] = {0, double(w), 0, double(w)}, ys[4] = {0, 0, double(h), double(h)};
    for (int i = 0; i < 4; ++i) {
        long long X =
            (long long)Round((std::cos(t) * (xs[i] - cx) - std::sin(t) * (ys[i] - cy)) * 1.0 * 2);
        long long Y =
            (long long)Round((std::sin(t) * (xs[i] - cx) + std::cos(t) * (ys[i] - cy)) * 1.0 * 2);
        sx = std::max(sx, std::llabs(X));
        sy = std::max(sy, std::llabs(Y));
    }
    ow = int(sx);
    oh = int(sy);
}

// Bilinear inverse mapping in 8-bit fixed point; positions outside the source give 0.
inline Image Rotate(const Image& s, int dw, int dh, double t) {
    Image d(dw, dh, s.C, 0);
    double c = std::cos(t), sn = std::sin(t);
    int csx = s.W / 2, csy = s.H / 2, cdx = dw / 2, cdy = dh / 2;
    for (int i = 0; i < dh; ++i)
        for (int o = 0; o < dw; ++o) {
            double rx = o - cdx, ry = i - cdy;
            double sx = csx + c * rx - sn * ry;
            double sy = csy + sn * rx + c * ry;
            long long j = (long long)std::trunc(sx), k = (long long)std::trunc(sy);
            long long u, v;
            if (j == s.W - 1) {
                j = j - 1;
                u = 256;
            } else {
                u = (long long)std::trunc((sx - j) * 256 + 0.5);
                if (u < 0)
                    u = 0;
            }
            if (k == s.H - 1) {
                k = k - 1;
                v = 256;
            } else {
                v = (long long)std::trunc((sy - k) * 256 + 0.5);
                if (v < 0)
                    v = 0;
            }
            if (j < 0 || j >= s.W || k < 0 || k >= s.H)
                continue;
            for (int ch = 0; ch < s.C; ++ch) {
                uint32_t a = s.at(j, k, ch), b = s.at(j + 1, k, ch), cc = s.at(j, k + 1, ch),
                         dd = s.at(j + 1, k + 1, ch);
                uint32_t U = uint32_t(u), V = uint32_t(v);
                d.at(o, i, ch) = uint8_t(
                    (V * ((256 - U) * cc + U * dd) + (256 - V) * ((256 - U) * a + U * b)) >> 16);
            }
        }
    return d;
}

// Packed: W is bytes per line; content pw x ph pixels. Outside the content gives 0.
inline Image RotatePacked(const Image& p, int pw, int ph, int dw, int dh, double t) {
    Image d(dw, dh, 1, 0);
    double c = std::cos(t), s = std::sin(t);
    long long csx = pw / 2, csy = ph / 2, cdx = dw / 2, cdy = dh / 2;
    for (long long y = 0; y < dh; ++y) {
        double d2y = double(2 * (y - cdy) + 1);
        for (long long x = 0; x < dw; ++x) {
            double d2x = double(2 * (x - cdx) + 1);
            long long sx = ((long long)Round(d2x * c - d2y * s) - 1) / 2 + csx;
            long long sy = ((long long)Round(d2x * s + d2y * c) - 1) / 2 + csy;
            if (0 <= sx && sx < pw && 0 <= sy && sy < ph)
                d.at(int(x), int(y)) = (p.at(int(sx >> 3), int(sy)) >> (sx & 7)) & 1 ? 255 : 0;
        }
    }
    return d;
}

struct Dots {
    int N = 0;
    std::vector<Image> image = std::vector<Image>(256);
    std::vector<int> level = std::vector<int>(256);
};

// The literal search: the nearest clear pixel, strictly smaller distances replacing.
inline Dots MakeDots(int N, int shape) {
    Dots t;
    t.N = N;
    Image b(N, N);
    double c = (N - 1) / 2.0;
    int count = int(Round(N * N / 2.0));
    t.image[0] = b;
    t.level[0] = 0;
    int i = 0;
    for (int j = 1; j <= count; ++j) {
        double best = std::numeric_limits<double>::infinity();
        int bx = -1, by = -1;
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x) {
                if (b.at(x, y) != 0)
                    continue;
                double d = shape == 0 ? (x - c) * (x - c) + (y - c) * (y - c)
                                      : std::fabs(x - c) + std::fabs(y - c);
                if (d < best) {
                    best = d;
                    bx = x;
                    by = y;
                }
            }
        b.at(bx, by) = 255;
        while (i < Round(double(j) / count * 128)) {
            ++i;
            t.image[i] = b;
            t.level[i] = int(Round(double(j) / (N * N) * 255));
        }
    }
    int h = N / 2;
    for (int k = 129; k <= 255; ++k) {
        Image m(N, N);
        const Image& src = t.image[255 - k];
        int offs[4][2] = {{-h, -h}, {N - h, -h}, {-h, N - h}, {N - h, N - h}};
        for (auto& o : offs)
            for (int y = 0; y < N; ++y)
                for (int x = 0; x < N; ++x) {
                    int tx = x + o[0], ty = y + o[1];
                    if (tx >= 0 && tx < N && ty >= 0 && ty < N)
                        m.at(tx, ty) = src.at(x, y);
                }
        int n = 0;
        for (auto& v : m.px) {
            v = uint8_t(~v);
            n += v != 0;
        }
        t.image[k] = m;
        t.level[k] = int(Round(double(n) / (N * N) * 255));
    }
    return t;
}

// The whole screen: choose dots with the row carry, paste (or pack and turn back).
inline Image Screen(const Image& planeIn, int N, int shape, double angle) {
    Dots dots = MakeDots(N, shape);
    double t = ScreenAngle(angle);
    int outW = planeIn.W * N, outH = planeIn.H * N;
    Image plane = planeIn;
    if (t > 0) {
        int w2, h2;
        TurnedSize(plane.W, plane.H, -t, w2, h2);
        plane = Rotate(planeIn, w2, h2, -t);
    }
    int bpl = (std::max(7, N) + plane.W * N) / 8;
    Image target = t > 0 ? Image(bpl, plane.H * N) : Image(outW, outH);
    for (int y = 0; y < plane.H; ++y) {
        int carry = 0;
        for (int x = 0; x < plane.W; ++x) {
            int A = std::min(255, std::max(0, plane.at(x, y) + carry));
            carry = A - dots.level[A];
            const Image& dot = dots.image[A];
            for (int r = 0; r < N; ++r)
                for (int i = 0; i < N; ++i) {
                    if (t == 0) {
                        target.at(x * N + i, y * N + r) = dot.at(i, r);
                    } else if (dot.at(i, r)) {
                        long long X = (long long)x * N + i;
                        target.at(int(X >> 3), y * N + r) |= uint8_t(1 << (X & 7));
                    }
                }
        }
    }
    if (t == 0)
        return target;
    return RotatePacked(target, plane.W * N, plane.H * N, outW, outH, t);
}

} // namespace reference
