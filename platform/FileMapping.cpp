#include "platform/FileMapping.h"

#include "platform/SystemError.h"

namespace stipplor {

void EnsureFileSize(TFile& File, int64_t Size) {
    if (Size < 0)
        RaiseOSError(TOSError::InvalidArgument);
    if (File.Size() < Size)
        File.SetSize(Size);
}

} // namespace stipplor
