// Properties a printer relies on, checked on real photographs.
#include "engine/ColorSeparation.h"
#include "engine/HalftoneScreen.h"

#include "support/EngineReference.h"
#include "support/SamplePictures.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace stipplor;

namespace {

// The photographs are part of the repository: a missing one is a failure.
#define REQUIRE_SAMPLE(name, picture)                                                              \
    ASSERT_TRUE(samples::Load(name, picture))                                                      \
        << "sample " << name << " missing or unreadable in " << samples::Directory()

double MeanTone(const reference::Image& im, int x0, int y0, int x1, int y1) {
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            sum += im.at(x, y) ? 255 : 0;
    return sum / (double(x1 - x0) * (y1 - y0));
}

double MeanPlane(const reference::Image& im) {
    double sum = 0;
    for (uint8_t v : im.px)
        sum += v;
    return sum / double(im.px.size());
}

reference::Image Screen(const reference::Image& plane, int N, double angle) {
    TLinearBitmap source, dest;
    reference::ToBitmap(plane, source);
    MakeRasterPattern(source, dest, N, DotShapeCircle, angle);
    return reference::FromBitmap(dest);
}

} // namespace

TEST(ScreenProperties, PhotographScreensAreBilevelAndKeepTheirTone) {
    for (const char* name :
         {"coffee.png", "chelsea.png", "astronaut.png", "camera.png", "coffee-palette.png"}) {
        TLinearBitmap picture, grey;
        REQUIRE_SAMPLE(name, picture);
        MakeGreyPlane(picture, grey, 1.0f);
        const reference::Image plane = reference::FromBitmap(grey);
        const int N = 6;
        const reference::Image straight = Screen(plane, N, 0.0);
        ASSERT_EQ(straight.W, plane.W * N);
        ASSERT_TRUE(std::all_of(straight.px.begin(), straight.px.end(), [](uint8_t v) {
            return v == 0 || v == 255;
        })) << name;
        // The carry keeps the printed tone of the whole picture within half a level.
        EXPECT_NEAR(MeanTone(straight, 0, 0, straight.W, straight.H), MeanPlane(plane), 0.5)
            << name;
        for (double deg : {22.0, 45.0, 67.0}) {
            const reference::Image turned = Screen(plane, N, reference::Radians(deg));
            ASSERT_EQ(turned.H, plane.H * N);
            ASSERT_TRUE(std::all_of(turned.px.begin(), turned.px.end(),
                                    [](uint8_t v) { return v == 0 || v == 255; }))
                << name << " at " << deg;
            // Turned screens print the same overall tone within 2 levels (borders included).
            EXPECT_NEAR(MeanTone(turned, 0, 0, turned.W, turned.H),
                        MeanTone(straight, 0, 0, straight.W, straight.H), 2.0)
                << name << " at " << deg;
        }
    }
}
