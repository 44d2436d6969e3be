#include "bitmap/MemStream.h"

#include "platform/SystemError.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace stipplor {

TMemBlock TMemStream::EmptyBlock;

TMemBlock::~TMemBlock() {
    std::unique_ptr<TMemBlock> rest = std::move(Next);
    while (rest)
        rest = std::move(rest->Next);
}

TMemStream::TMemStream() {
    canRead_ = true;
    canWrite_ = true;
}

int32_t TMemStream::Write(const void* Buffer, int32_t Count) {
    if (Count <= 0)
        return 0;
    if (Count > std::numeric_limits<int32_t>::max() - streamPos_)
        throw EInOutError("Error writing to stream - " +
                          SysErrorMessage(OSErrorCode(TOSError::FileTooLarge)));
    const auto* source = static_cast<const uint8_t*>(Buffer);
    int32_t remaining = Count;
    while (remaining > 0) {
        if (blockPos_ == currentBlock_->Capacity) {
            if (currentBlock_->Next) {
                currentBlock_ = currentBlock_->Next.get();
            } else {
                auto block = std::make_unique<TMemBlock>(std::max(MemStreamBlockSize, remaining));
                std::unique_ptr<TMemBlock>& link = firstBlock_ ? currentBlock_->Next : firstBlock_;
                link = std::move(block);
                currentBlock_ = link.get();
            }
            blockPos_ = 0;
        }
        const int32_t part = std::min(remaining, currentBlock_->Capacity - blockPos_);
        std::memcpy(currentBlock_->Data.get() + blockPos_, source, static_cast<size_t>(part));
        blockPos_ += part;
        source += part;
        remaining -= part;
    }
    streamPos_ += Count;
    dataSize_ = std::max(dataSize_, streamPos_);
    return Count;
}

int32_t TMemStream::Read(void* Buffer, int32_t Count) {
    auto* dest = static_cast<uint8_t*>(Buffer);
    int32_t done = 0;
    while (done < Count && streamPos_ < dataSize_) {
        if (blockPos_ == currentBlock_->Capacity) {
            if (!currentBlock_->Next)
                break;
            currentBlock_ = currentBlock_->Next.get();
            blockPos_ = 0;
        }
        const int32_t part =
            std::min({Count - done, dataSize_ - streamPos_, currentBlock_->Capacity - blockPos_});
        std::memcpy(dest + done, currentBlock_->Data.get() + blockPos_, static_cast<size_t>(part));
        blockPos_ += part;
        streamPos_ += part;
        done += part;
    }
    if (done < Count && FailOnShortRead())
        throw EInOutError("Error reading from stream - TMemStream");
    return done;
}

void TMemStream::Seek(int32_t NewPosition) {
    if (NewPosition == streamPos_)
        return;
    if (NewPosition < 0 || NewPosition > dataSize_)
        throw EInOutError("Error moving stream pointer");
    if (NewPosition < streamPos_) {
        streamPos_ = 0;
        currentBlock_ = firstBlock_.get();
        blockPos_ = 0;
    }
    bool firstStep = true;
    while (streamPos_ < NewPosition) {
        if (blockPos_ == currentBlock_->Capacity) {
            if (!currentBlock_->Next)
                throw Exception(firstStep ? "Error in MemStream.Seek"
                                          : "Error in MemStream.Seek 2");
            currentBlock_ = currentBlock_->Next.get();
            blockPos_ = 0;
        }
        const int32_t step =
            std::min(currentBlock_->Capacity - blockPos_, NewPosition - streamPos_);
        blockPos_ += step;
        streamPos_ += step;
        firstStep = false;
    }
}

void TMemStream::Truncate() {
    if (currentBlock_->Next) // EmptyBlock is shared and never written
        currentBlock_->Next.reset();
    dataSize_ = streamPos_;
}

} // namespace stipplor
