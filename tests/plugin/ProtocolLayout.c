/* The protocol's records as a C host compiles them, for the tests to hold against C++ and
 * against the layout the protocol describes. */
#include "plugin/OrvalisPlugins.h"

#include <stddef.h>

size_t ProtocolLayoutC(int what) {
    switch (what) {
    case 0:
        return sizeof(TPluginInfo);
    case 1:
        return sizeof(TPluginImage);
    case 2:
        return offsetof(TPluginImage, Map);
    case 3:
        return offsetof(TPluginImage, Palette);
    case 4:
        return offsetof(TPluginImage, Reserved);
    case 5:
        return sizeof(TPluginDocumentInfo);
    case 6:
        return offsetof(TPluginDocumentInfo, FileName);
    case 7:
        return offsetof(TPluginDocumentInfo, ImageMap);
    case 8:
        return sizeof(TPluginNewImage);
    case 9:
        return offsetof(TPluginNewImage, Image);
    case 10:
        return sizeof(TPluginGammaInfo);
    case 11:
        return sizeof(THostWindow);
    default:
        return 0;
    }
}
