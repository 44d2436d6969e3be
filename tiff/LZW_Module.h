#pragma once
// Decoder for TIFF LZW strips (compression 5): codes of 9 to 12 bits, most significant bit
// first, with the code width growing one code early. The string table lives in the object,
// so a decoder serves any number of strips without allocating.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace stipplor {

// Why Decode stopped.
enum class TLZWStop : uint8_t {
    EndOfInformation, // the stream's end code: the normal end
    EndOfInput,       // the source ran out before an end code
    OutputFull,       // the next string would not fit into the destination (nothing of it written)
    InvalidCode,      // a code that names no string yet
    TableFull,        // the table would grow past MaxTableCode without a clear code
};

struct TLZWResult {
    size_t Written; // bytes written to the front of the destination
    TLZWStop Stop;
};

class TLZW final {
public:
    static constexpr uint16_t ClearCode = 256;
    static constexpr uint16_t EndOfInformation = 257;
    static constexpr uint16_t FirstFreeCode = 258;
    // Conforming encoders clear the table before it grows past this code.
    static constexpr uint16_t MaxTableCode = 4093;

    // Decodes one strip from Source into Dest. Never reads outside Source nor writes outside
    // Dest; each call starts from a fresh table, so strips are independent.
    TLZWResult Decode(std::span<const uint8_t> Source, std::span<uint8_t> Dest) noexcept;

private:
    // Every string of the table has already been written to the destination: an entry is the
    // previous code's string followed by the first byte of the next one, which is exactly
    // where the two sit in the output. So an entry is a place in the destination, and emitting
    // it is one copy instead of a walk along prefix links.
    struct Entry {
        size_t Offset; // where the string starts in the destination
        size_t Length;
    };

    std::array<Entry, 4096> table_;
};

} // namespace stipplor
