#include "platform/SystemError.h"

namespace stipplor {

void RaiseOSError(int code) {
    throw EOSError(code, SysErrorMessage(code));
}

void RaiseOSError(TOSError Error) {
    RaiseOSError(OSErrorCode(Error));
}

void RaiseLastOSError() {
    RaiseOSError(LastOSError());
}

} // namespace stipplor
