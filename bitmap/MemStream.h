#pragma once
// A seekable stream in memory that grows by linking blocks, so data once written never moves.
#include "bitmap/Streams.h"

#include <cstdint>
#include <memory>

namespace stipplor {

inline constexpr int32_t MemStreamBlockSize = 4096;

// One piece of a memory stream: Capacity data bytes and the link to the following block.
struct TMemBlock {
    TMemBlock() = default;
    explicit TMemBlock(int32_t capacity)
        : Capacity(capacity), Data(std::make_unique<uint8_t[]>(static_cast<size_t>(capacity))) {}
    TMemBlock(const TMemBlock&) = delete;
    TMemBlock& operator=(const TMemBlock&) = delete;
    // Frees the rest of the chain in a loop: a long chain would overflow the stack if each
    // block's destructor freed its successor recursively.
    ~TMemBlock();

    int32_t Capacity = 0;
    std::unique_ptr<TMemBlock> Next;
    std::unique_ptr<uint8_t[]> Data;
};

class TMemStream final : public TSeekableStream {
public:
    TMemStream();

    int32_t Write(const void* Buffer, int32_t Count) override;
    int32_t Read(void* Buffer, int32_t Count) override;
    int32_t Available() override { return dataSize_ - streamPos_; }
    int32_t Position() override { return streamPos_; }
    int32_t Size() override { return dataSize_; }
    void Seek(int32_t NewPosition) override;
    void Truncate() override;

    const TMemBlock* FirstBlock() const noexcept { return firstBlock_.get(); }
    const TMemBlock* CurrentBlock() const noexcept { return currentBlock_; }
    int32_t BlockPos() const noexcept { return blockPos_; }

    // The shared full block a new stream starts in: Capacity 0 and no Next, so the first write
    // always links a fresh block.
    static TMemBlock EmptyBlock;

private:
    std::unique_ptr<TMemBlock> firstBlock_;
    TMemBlock* currentBlock_ = &EmptyBlock;
    int32_t blockPos_ = 0;
    int32_t dataSize_ = 0;
    int32_t streamPos_ = 0;
};

} // namespace stipplor
