// The whole TIFF reader over a file image: refusals are fine, anything else is a finding.
#include "core/Exception.h"
#include "tiff/TIFFBMP.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    stipplor::TTIFFBitMap bitmap;
    // The last byte picks whether CMYK is converted, so both paths are explored.
    bitmap.SetConvertCMYK(size > 0 && (data[size - 1] & 1) != 0);
    try {
        bitmap.LoadFromMemory({data, size});
    } catch (const stipplor::Exception&) {
    }
    return 0;
}
