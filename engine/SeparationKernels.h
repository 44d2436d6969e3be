#pragma once
// The row kernels of the separation. The plain loops in ColorSeparation.cpp are the reference;
// a vector kernel does whole groups of pixels from the start of a row and leaves the rest to
// them.
#include <array>
#include <cstdint>

namespace stipplor {

// The tables of one separation: the gamma table of the channels and the black table.
struct TCMYKTables {
    const std::array<uint8_t, 256>* Gamma = nullptr;
    const std::array<uint8_t, 256>* Black = nullptr;
};

// Separates pixels 0.. of a row (blue, green, red per pixel) into the four plane rows and
// returns the first pixel it did not do. Needs AVX-512 with byte and word instructions; on
// other builds it does nothing and returns 0.
int32_t SeparateCMYKRowAvx512(const TCMYKTables& Tables, const uint8_t* Source, uint8_t* C,
                              uint8_t* M, uint8_t* Y, uint8_t* K, int32_t Width);

// The grey plane of a 24-bit row with gamma 1, Round((2 * red + 3 * green + blue) / 6), from
// pixel 0 on; returns the first pixel it did not do. AVX-512 as above.
int32_t GreyRowAvx512(const uint8_t* Source, uint8_t* Grey, int32_t Width);

// The red, green and blue bytes of a 24-bit row into their planes, from pixel 0 on; returns
// the first pixel it did not do. AVX-512 as above.
int32_t SplitRowAvx512(const uint8_t* Source, uint8_t* R, uint8_t* G, uint8_t* B, int32_t Width);

// Bytes[i] := Table[Bytes[i]] from i = 0 on; returns the first byte it did not map. AVX-512 as
// above.
int64_t MapBytesAvx512(const std::array<uint8_t, 256>& Table, uint8_t* Bytes, int64_t Count);

} // namespace stipplor
