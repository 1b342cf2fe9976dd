// Linux stand-in: the dialog templates of a module, as Windows reads them from its resources.
//
// The Linux build compiles the module's resource script with windres into a .res file and links
// those bytes into the module; a static registration hands them to the engine under the module's
// base address, which is the module's HINSTANCE here as on Windows. Templates are parsed from the
// bytes in the DLGTEMPLATE / DLGTEMPLATEEX layouts Windows reads, so both builds show the same
// dialogs from one description.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "dialogs.h"

namespace standin {

struct DialogItemTemplate {
    DWORD helpId;
    DWORD exStyle;
    DWORD style;
    short x, y, cx, cy;
    // A DLGITEMTEMPLATEEX id is a DWORD, a DLGITEMTEMPLATE id a WORD: a label's -1 reads back as
    // 0xFFFFFFFF from the one and as 0xFFFF from the other. The engine reports both as -1.
    DWORD id;
    std::u16string className;  // predefined atoms 0x0080..0x0085 as "Button", "Edit", "Static",
                               // "ListBox", "ScrollBar", "ComboBox"; a class named by a string
                               // comes as written (windres upper-cases it: "MSCTLS_TRACKBAR32"),
                               // so compare class names without regard to case, as Windows does
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
// the base of the module that holds `addressInModule`. A second registration for the same module
// replaces the first.
void RegisterModuleResources(const void* addressInModule, const unsigned char* res, size_t size);

// Forgets the resources of the module that holds `addressInModule`; called when the module is
// unloaded, so that no lookup reaches bytes that are gone.
void UnregisterModuleResources(const void* addressInModule);

// The HINSTANCE of the loaded module (executable or shared object) that holds `address`.
HINSTANCE ModuleInstanceOf(const void* address);

// The .res bytes registered for the module. False when the module registered none.
bool ModuleResources(HINSTANCE module, const unsigned char** res, size_t* size);

// In .res bytes, the data of the resource with integer type `type` and integer name `id` in any
// language, as LoadResource gives it, and the entry's language. False when there is none, or when
// an entry on the way is malformed (sizes past the end, names running into the data).
bool FindResourceData(const unsigned char* res, size_t size, WORD type, WORD id,
                      const unsigned char** data, size_t* dataSize, WORD* language);

// Reads a whole dialog template (DLGTEMPLATE or DLGTEMPLATEEX). False on bytes that are not one:
// a truncated template, a string without its terminator, a DLGTEMPLATEEX of a version other than
// 1. Without DS_SETFONT the font fields are 0 and the typeface empty; a DLGTEMPLATE has no weight,
// italic or charset (0) and no help ids (0). `out` is written only on success.
bool ParseDialogTemplate(const unsigned char* bytes, size_t size, DialogTemplate* out);

// The dialog with integer id `id` of the module, in any language, read once for the module's
// registration and shared by all that show it. Null when the module has none.
std::shared_ptr<const DialogTemplate> SharedDialogTemplate(HINSTANCE module, WORD id);

// A copy of the dialog SharedDialogTemplate gives. False when the module has none.
bool FindDialogTemplate(HINSTANCE module, WORD id, DialogTemplate* out);

}  // namespace standin
