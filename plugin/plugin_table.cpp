// The plug-in table and the three configuration entry points.
#include "plugin/entry_points.h"
#include "plugin/version.h"

namespace {

// The filter list of the editor's save dialog: description and pattern pairs, an empty string last.
const char kFileFilter[] = "WMV File (*.wmv)\0*.wmv\0AllFile (*.*)\0*.*\0";

OutputPluginTable g_table = {
    0,
    kPluginDisplayName,
    kFileFilter,
    BREVLO_PRODUCT_NAME " version " BREVLO_VERSION_TEXT,
    nullptr,
    nullptr,
    Output,
    Config,
    ConfigGet,
    ConfigSet,
};

}  // namespace

extern "C" OutputPluginTable* __cdecl GetOutputPluginTable() { return &g_table; }
