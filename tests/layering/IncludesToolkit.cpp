// Compiles only where the toolkit's headers are visible (see CMakeLists.txt).
#include "toolkit/Graphics.h"

int ToolkitBitsPerPixel() {
    return toolkit::BitsPerPixel(toolkit::pf8bit);
}
