#include "tiff/LZW_Module.h"

#include <cstring>

namespace stipplor {

namespace {

// Codes most significant bit first, straight from the source bytes.
class TCodeReader {
public:
    explicit TCodeReader(std::span<const uint8_t> source) noexcept
        : next_(source.data()), end_(source.data() + source.size()) {}

    // False when fewer than `width` bits are left.
    bool Read(unsigned width, uint32_t& code) noexcept {
        while (bitCount_ < width) {
            if (next_ == end_)
                return false;
            bits_ = bits_ << 8 | *next_++;
            bitCount_ += 8;
        }
        bitCount_ -= width;
        code = (bits_ >> bitCount_) & ((1u << width) - 1);
        return true;
    }

private:
    const uint8_t* next_;
    const uint8_t* end_;
    uint32_t bits_ = 0; // never holds more than 19 meaningful bits
    unsigned bitCount_ = 0;
};

} // namespace

TLZWResult TLZW::Decode(std::span<const uint8_t> Source, std::span<uint8_t> Dest) noexcept {
    TCodeReader reader(Source);
    uint8_t* const begin = Dest.data();
    const size_t capacity = Dest.size();
    size_t written = 0;
    unsigned width = 9;
    uint32_t lastCode = EndOfInformation;
    bool havePrevious = false; // false after a clear code: the next code adds no entry
    Entry previous{};

    const auto result = [&](TLZWStop stop) { return TLZWResult{written, stop}; };

    for (;;) {
        uint32_t code;
        if (!reader.Read(width, code))
            return result(TLZWStop::EndOfInput);
        if (code == EndOfInformation)
            return result(TLZWStop::EndOfInformation);
        if (code == ClearCode) {
            width = 9;
            lastCode = EndOfInformation;
            havePrevious = false;
            continue;
        }

        Entry string;
        if (code < 256) {
            string = {written, 1};
        } else if (code <= lastCode) {
            string = table_[code];
        } else if (code == lastCode + 1 && havePrevious) {
            // The string being added right now: the previous one and its own first byte.
            string = {written, previous.Length + 1};
        } else {
            return result(TLZWStop::InvalidCode);
        }
        if (string.Length > capacity - written)
            return result(TLZWStop::OutputFull);

        if (havePrevious) {
            if (lastCode == MaxTableCode)
                return result(TLZWStop::TableFull);
            // The previous string followed by this one's first byte, written next.
            table_[++lastCode] = {previous.Offset, previous.Length + 1};
            // The width grows one code early, as TIFF encoders do it.
            if (lastCode == 510 || lastCode == 1022 || lastCode == 2046)
                ++width;
        }

        uint8_t* out = begin + written;
        if (code < 256) {
            *out = static_cast<uint8_t>(code);
        } else if (string.Offset == written) {
            // Not yet in the output: copy the previous string, then repeat its first byte.
            std::memcpy(out, begin + previous.Offset, previous.Length);
            out[previous.Length] = begin[previous.Offset];
        } else {
            // An earlier string lies wholly before `out`, so the ranges never overlap.
            std::memcpy(out, begin + string.Offset, string.Length);
        }
        previous = {written, string.Length};
        written += string.Length;
        havePrevious = true;
    }
}

} // namespace stipplor
