#include "bitmap/MemStream.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using namespace stipplor;
using testsupport::MessageOf;

namespace {

std::vector<int32_t> BlockCapacities(const TMemStream& s) {
    std::vector<int32_t> capacities;
    for (const TMemBlock* b = s.FirstBlock(); b != nullptr; b = b->Next.get())
        capacities.push_back(b->Capacity);
    return capacities;
}

} // namespace

TEST(MemStream, GrowsByBlocksAndTruncateFreesTheTail) {
    std::vector<uint8_t> data(10000, 0x5A);
    TMemStream big;
    big.Write(data.data(), 5000);
    EXPECT_EQ(BlockCapacities(big), std::vector<int32_t>{5000});

    TMemStream small;
    EXPECT_EQ(small.CurrentBlock(), &TMemStream::EmptyBlock);
    for (int i = 0; i < 5000; ++i)
        small.Write(&data[0], 1);
    EXPECT_EQ(BlockCapacities(small), (std::vector<int32_t>{4096, 4096}));
    // A big write fills the current block, then takes one block of exactly the rest.
    small.Write(data.data(), 10000);
    EXPECT_EQ(BlockCapacities(small), (std::vector<int32_t>{4096, 4096, 6808}));
    small.Seek(4196);
    small.Truncate();
    EXPECT_EQ(BlockCapacities(small), (std::vector<int32_t>{4096, 4096}));
    EXPECT_EQ(small.Size(), 4196);
}

TEST(MemStream, SeekAndReadLimits) {
    TMemStream s;
    const uint8_t ten[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    s.Write(ten, 10);
    s.Seek(2);
    for (int32_t bad : {11, -1}) {
        EXPECT_THROW(s.Seek(bad), EInOutError);
        EXPECT_EQ(MessageOf([&] { s.Seek(bad); }), "Error moving stream pointer");
        EXPECT_EQ(s.Position(), 2);
    }
    s.Seek(10);
    EXPECT_TRUE(s.AtEnd());

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
