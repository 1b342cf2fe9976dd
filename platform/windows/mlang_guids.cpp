// mlang.h declares the MLang interface identifiers but no import library defines them (libuuid
// has CLSID_CMultiLanguage only), so the module carries its own copies.
#include "platform/win32.h"

extern "C" const IID IID_IMultiLanguage = {0x275C23E1, 0x3747, 0x11D0, {0x9F, 0xEA, 0x00, 0xAA, 0x00, 0x3F, 0x86, 0x46}};
extern "C" const IID IID_IEnumRfc1766 = {0x3DC39D1D, 0xC030, 0x11D0, {0xB8, 0x1B, 0x00, 0xC0, 0x4F, 0xC9, 0xB3, 0x1F}};
