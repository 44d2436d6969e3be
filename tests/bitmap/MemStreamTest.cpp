#include "bitmap/MemStream.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using namespace stipplor;
using testsupport::MessageOf;

TEST(MemStream, SeekAndReadLimits) {
    TMemStream s;
    const uint8_t ten[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    s.Write(ten, 10);
    s.Seek(2);
    for (int32_t bad : {11, -1}) {
        EXPECT_EQ(MessageOf([&] { s.Seek(bad); }), "Error moving stream pointer");
        EXPECT_EQ(s.Position(), 2);
    }

    uint8_t buffer[20];
    s.Seek(0);
    EXPECT_EQ(MessageOf([&] { s.Read(buffer, 20); }), "Error reading from stream - TMemStream");
    s.SetFailOnShortRead(false);
    s.Seek(0);
    EXPECT_EQ(s.Read(buffer, 20), 10);
}

// Random writes, seeks, reads and truncations compared with a byte vector, crossing block
// boundaries in every way (overwrites inside the data included).
TEST(MemStream, BehavesLikeAByteVector) {
    std::mt19937 random(12345);
    auto upTo = [&](size_t most) { return std::uniform_int_distribution<size_t>(0, most)(random); };
    TMemStream s;
    s.SetFailOnShortRead(false);
    std::vector<uint8_t> model;
    size_t position = 0;
    for (int step = 0; step < 3000; ++step) {
        const size_t action = upTo(9);
        if (action < 4) {
            std::vector<uint8_t> bytes(upTo(step % 50 == 0 ? 9000 : 300));
            for (uint8_t& b : bytes)
                b = static_cast<uint8_t>(random());
            s.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
            model.resize(std::max(model.size(), position + bytes.size()));
            std::copy(bytes.begin(), bytes.end(), model.begin() + static_cast<ptrdiff_t>(position));
            position += bytes.size();
        } else if (action < 6) {
            position = upTo(model.size());
            s.Seek(static_cast<int32_t>(position));
        } else if (action < 9) {
            std::vector<uint8_t> bytes(upTo(5000));
            const auto got = static_cast<size_t>(s.Read(bytes.data(), int32_t(bytes.size())));
            ASSERT_EQ(got, std::min(bytes.size(), model.size() - position));
            ASSERT_TRUE(std::equal(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(got),
                                   model.begin() + static_cast<ptrdiff_t>(position)));
            position += got;
        } else {
            s.Truncate();
            model.resize(position);
        }
        ASSERT_EQ(s.Size(), static_cast<int32_t>(model.size())) << "step " << step;
        ASSERT_EQ(s.Position(), static_cast<int32_t>(position)) << "step " << step;
    }
}
