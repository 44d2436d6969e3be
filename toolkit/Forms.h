#pragma once
// Everything a dialog needs: the widget model with its forms (toolkit/Controls.h), the
// application object and cursor, message boxes and the file-open dialog.
#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/Dialogs.h"
