// The LZW decoder alone: the first two bytes choose the destination size, the rest is the
// stream. The destination sits inside a larger buffer whose guard bytes must stay untouched.
#include "tiff/LZW_Module.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const size_t destSize = size_t(data[0]) << 8 | data[1];
    constexpr size_t Guard = 16;
    constexpr uint8_t GuardByte = 0xA5;
    std::vector<uint8_t> buffer(destSize + 2 * Guard, GuardByte);
    static stipplor::TLZW lzw;
    const stipplor::TLZWResult result =
        lzw.Decode({data + 2, size - 2}, {buffer.data() + Guard, destSize});
    if (result.Written > destSize)
        std::abort();
    for (size_t i = 0; i < Guard; ++i)
        if (buffer[i] != GuardByte || buffer[Guard + destSize + i] != GuardByte)
            std::abort();
    return 0;
}
