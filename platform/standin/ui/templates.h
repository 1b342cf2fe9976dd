// Linux stand-in: the dialog templates of a module, as Windows reads them from its resources.
//
// The Linux build compiles the module's resource script with windres into a .res file and links
// those bytes into the module; a static registration hands them to the engine under the module's
// base address, which is the module's HINSTANCE here as on Windows. Templates are parsed from the
// bytes in the DLGTEMPLATE / DLGTEMPLATEEX layouts Windows reads, so both builds show the same
// dialogs from one description.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "dialogs.h"

namespace standin {

struct DialogItemTemplate {
    DWORD helpId;
    DWORD exStyle;
    DWORD style;
    short x, y, cx, cy;
    DWORD id;
    std::u16string className;  // predefined atoms 0x0080..0x0085 as "Button", "Edit", "Static",
                               // "ListBox", "ScrollBar", "ComboBox"
    std::u16string text;       // an ordinal text (an icon's resource id) as "#N"
};

struct DialogTemplate {
    bool extended;  // DLGTEMPLATEEX
    DWORD helpId;
    DWORD exStyle;
    DWORD style;
    short x, y, cx, cy;
    std::u16string menu;
    std::u16string windowClass;
    std::u16string caption;
    WORD pointSize;  // only with DS_SETFONT
    WORD weight;
    BYTE italic;
    BYTE charset;
    std::u16string typeface;
    WORD language;  // of the resource entry
    std::vector<DialogItemTemplate> items;
};

// Hands a module's compiled resources (.res bytes, kept alive by the caller) to the engine, under
// the base of the module that holds `addressInModule`.
void RegisterModuleResources(const void* addressInModule, const unsigned char* res, size_t size);

// The HINSTANCE of the loaded module (executable or shared object) that holds `address`.
HINSTANCE ModuleInstanceOf(const void* address);

// Reads a whole dialog template (DLGTEMPLATE or DLGTEMPLATEEX). False on bytes that are not one.
bool ParseDialogTemplate(const unsigned char* bytes, size_t size, DialogTemplate* out);

// The dialog with integer id `id` of the module, in any language. False when the module has none.
bool FindDialogTemplate(HINSTANCE module, WORD id, DialogTemplate* out);

}  // namespace standin
