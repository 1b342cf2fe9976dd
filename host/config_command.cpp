// The config command: the editor's "settings" button. The host calls the module's Config with
// its own window, and acts on the sheet the module shows as the user would, through the dialog
// driver: it prints both pages as a person reads them, performs the actions of the command line
// in order (each one the clicks and keys a user makes on Windows), and prints the pages again
// before pressing OK or Cancel. After the sheet it prints the settings the module keeps.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/host_options.h"
#include "host/host_platform.h"
#include "host/host_text.h"
#include "host/module_loader.h"
#include "platform/standin/leaks.h"
#include "platform/standin/ui/driver.h"
#include "platform/standin/utf8.h"
#include "settings/encoder_settings.h"

namespace {

using standin::ControlState;

std::string Utf8(const std::u16string& text) { return standin::Utf8FromUtf16(text); }

// The command line's text (UTF-8) as the controls hold it.
std::u16string Utf16(const std::string& text) { return WideFromCodePage(CP_UTF8, 0, text); }

bool IsClass(const ControlState& c, const char* name) {
    std::string a = Utf8(c.className), b = name;
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}
bool IsLabel(const ControlState& c) { return IsClass(c, "Static"); }
bool IsGroupBox(const ControlState& c) {
    return IsClass(c, "Button") && (c.style & BS_TYPEMASK) == static_cast<DWORD>(BS_GROUPBOX);
}
bool IsCheckBox(const ControlState& c) {
    DWORD kind = c.style & BS_TYPEMASK;
    return IsClass(c, "Button") && (kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX);
}

std::string LabelText(const ControlState& c) {
    std::string text = Utf8(c.text);
    if (!text.empty() && text.back() == ':') text.pop_back();
    return text;
}

// The middle of a control's row; a combo box's height in the template is that of its open list.
int RowMiddle(const ControlState& c) { return c.y + (IsClass(c, "ComboBox") ? 6 : c.cy / 2); }

bool HasLetters(const std::string& text) {
    for (char ch : text) {
        if (std::isalnum(static_cast<unsigned char>(ch)) || (ch & 0x80)) return true;
    }
    return false;
}

// What a person reads as a control's name: its own text (check boxes), else the nearest label
// (or check box) left of it on its row, else the label just above it, else the innermost group
// box around it.
std::string BaseNameOf(const std::vector<ControlState>& all, const ControlState& c) {
    if (IsCheckBox(c)) return LabelText(c);
    const ControlState* best = nullptr;
    int middle = RowMiddle(c);
    for (const ControlState& l : all) {
        if (!(IsLabel(l) || IsCheckBox(l)) || l.x >= c.x || !HasLetters(Utf8(l.text))) continue;
        int lm = RowMiddle(l);
        if (lm < middle - 6 || lm > middle + 6) continue;
        if (!best || l.x > best->x) best = &l;
    }
    for (const ControlState& l : all) {
        if (best) break;
        if (IsLabel(l) && l.y < c.y && c.y - l.y <= 16 && l.x >= c.x - 4 && l.x <= c.x + 8) best = &l;
    }
    if (!best) {
        for (const ControlState& g : all) {
            if (!IsGroupBox(g) || c.x < g.x || c.y < g.y || c.x > g.x + g.cx || c.y > g.y + g.cy) continue;
            if (!best || g.cx * g.cy < best->cx * best->cy) best = &g;
        }
    }
    return best ? LabelText(*best) : std::string();
}

// Names are made unique on a page by a count: "Aspect ratio", "Aspect ratio (2)".
std::string NameOf(const std::vector<ControlState>& all, const ControlState& c) {
    std::string name = BaseNameOf(all, c);
    int same = 0;
    for (const ControlState& other : all) {
        if (&other == &c) break;
        if (other.id >= 0 && !IsLabel(other) && !IsGroupBox(other) && BaseNameOf(all, other) == name) ++same;
    }
    return same ? name + " (" + std::to_string(same + 1) + ")" : name;
}

// The unit shown right of a control on its row ("bps", "ms").
std::string UnitOf(const std::vector<ControlState>& all, const ControlState& c) {
    int middle = RowMiddle(c);
    for (const ControlState& l : all) {
        int lm = RowMiddle(l);
        if (IsLabel(l) && l.x >= c.x + c.cx && l.x <= c.x + c.cx + 6 && lm >= middle - 6 && lm <= middle + 6) {
            return " " + Utf8(l.text);
        }
    }
    return std::string();
}

std::vector<ControlState> ReadPage(HWND page) {
    std::vector<ControlState> all;
    for (HWND control : standin::DialogControls(page)) all.push_back(standin::ReadControl(control));
    return all;
}

void PrintPage(HWND sheet, int tab) {
    HWND page = standin::SheetPage(sheet, tab);
    std::printf("[%s]\n", Utf8(standin::SheetTabText(sheet, tab)).c_str());
    std::vector<ControlState> all = ReadPage(page);
    for (const ControlState& c : all) {
        if (c.id < 0 || IsLabel(c) || IsGroupBox(c)) continue;
        std::string name = NameOf(all, c), value;
        if (IsCheckBox(c)) {
            value = c.checked == BST_CHECKED ? "[x]" : "[ ]";
        } else if (IsClass(c, "ComboBox")) {
            value = c.selection >= 0 ? "\"" + Utf8(c.entries[static_cast<size_t>(c.selection)].text) + "\""
                                     : std::string("(nothing selected)");
            if (c.entries.size() <= 8) {
                std::string list;
                for (const standin::ComboEntry& e : c.entries) list += (list.empty() ? "" : " | ") + Utf8(e.text);
                value += "  of: " + (list.empty() ? std::string("(empty)") : list);
            } else {
                value += "  (" + std::to_string(c.entries.size()) + " entries)";
            }
        } else if (IsClass(c, "msctls_trackbar32")) {
            value = std::to_string(c.position) + " in " + std::to_string(c.rangeMin) + ".." + std::to_string(c.rangeMax);
        } else {
            value = "\"" + Utf8(c.text) + "\"" + UnitOf(all, c);
        }
        std::printf("  %-22s %4d  %s%s\n", (name + ":").c_str(), c.id, value.c_str(), c.enabled ? "" : "  (disabled)");
    }
}

void PrintSheet(HWND sheet, const std::string& when) {
    std::printf("%s: %s\n", when.c_str(), Utf8(standin::SheetCaption(sheet)).c_str());
    for (int tab = 0; tab < standin::SheetTabCount(sheet); ++tab) {
        if (standin::SheetPage(sheet, tab)) PrintPage(sheet, tab);
    }
}

// A control of the active page named by its id or by what a person reads as its name.
HWND FindControl(HWND sheet, const std::string& name) {
    HWND page = standin::SheetPage(sheet, standin::SheetActiveTab(sheet));
    std::vector<HWND> controls = standin::DialogControls(page);
    std::vector<ControlState> all = ReadPage(page);
    std::string wanted = name;
    if (!wanted.empty() && wanted.back() == ':') wanted.pop_back();
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].id >= 0 && std::to_string(all[i].id) == wanted) return controls[i];
    }
    auto lower = [](std::string s) {
        for (char& ch : s) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
        return s;
    };
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].id < 0 || IsLabel(all[i]) || IsGroupBox(all[i])) continue;
        if (lower(NameOf(all, all[i])) == lower(wanted)) return controls[i];
    }
    return nullptr;
}

struct ConfigRun {
    const HostOptions* options = nullptr;
    std::string error;
    bool ended = false;
};

bool SplitAssignment(const std::string& argument, std::string& name, std::string& value) {
    size_t at = argument.find('=');
    if (at == std::string::npos) return false;
    name = argument.substr(0, at);
    value = argument.substr(at + 1);
    return true;
}

// One action of the command line; false with the reason in run.error.
bool Act(HWND sheet, const ConfigAction& action, ConfigRun& run) {
    if (action.verb == "ok" || action.verb == "cancel") {
        PrintSheet(sheet, action.verb == "ok" ? "before OK" : "before Cancel");
        bool done = action.verb == "ok" ? standin::PressSheetOk(sheet) : standin::PressSheetCancel(sheet);
        if (!done) run.error = "the sheet refused " + action.verb;
        run.ended = done;
        return done;
    }
    if (action.verb == "hold") {
        // A pause for someone looking at the sheet (the Windows suite takes its screenshots here):
        // one line on standard input, or its end, lets the actions go on.
        std::printf("hold %s\n", action.argument.c_str());
        std::fflush(stdout);
        char line[256];
        if (!std::fgets(line, sizeof line, stdin)) std::clearerr(stdin);
        return true;
    }
    if (action.verb == "tab") {
        for (int tab = 0; tab < standin::SheetTabCount(sheet); ++tab) {
            if (Utf8(standin::SheetTabText(sheet, tab)) == action.argument || std::to_string(tab) == action.argument) {
                if (standin::SelectSheetTab(sheet, tab)) return true;
                run.error = "the sheet refused to show tab " + action.argument;
                return false;
            }
        }
        run.error = "no tab " + action.argument;
        return false;
    }
    std::string name = action.argument, value;
    bool assigned = SplitAssignment(action.argument, name, value);
    HWND control = FindControl(sheet, name);
    std::string tab = Utf8(standin::SheetTabText(sheet, standin::SheetActiveTab(sheet)));
    if (!control) {
        run.error = "no control \"" + name + "\" on the " + tab + " page (--tab switches pages)";
        return false;
    }
    ControlState c = standin::ReadControl(control);
    if (!c.enabled) {
        run.error = "\"" + name + "\" (" + std::to_string(c.id) + ") is disabled";
        return false;
    }
    bool done = false;
    if (action.verb == "pick" && assigned) {
        if (value.size() > 1 && value[0] == '#') {
            done = standin::PickComboEntry(control, std::atoi(value.c_str() + 1));
        } else {
            done = standin::PickComboText(control, Utf16(value));
        }
        if (!done) run.error = "\"" + name + "\" has no entry " + value;
    } else if (action.verb == "type" && assigned) {
        // Typed over the whole text, as a user selects it and types; an empty text deletes it.
        done = standin::SelectAllText(control) &&
               (value.empty() ? standin::PressBackspace(control) : standin::TypeText(control, Utf16(value)));
        std::string shown = Utf8(standin::WindowText(control));
        if (done && shown != value) {
            std::printf("note: \"%s\" shows \"%s\" after typing \"%s\"\n", name.c_str(), shown.c_str(), value.c_str());
        }
    } else if (action.verb == "check") {
        done = IsCheckBox(c) && standin::ClickButton(control);
        if (!done) run.error = "\"" + name + "\" is not a check box";
    } else if ((action.verb == "slide" || action.verb == "key-slide") && assigned) {
        int position = std::atoi(value.c_str());
        const bool slider = IsClass(c, "msctls_trackbar32");
        if (slider && (position < c.rangeMin || position > c.rangeMax)) {
            run.error = "\"" + name + "\" goes from " + std::to_string(c.rangeMin) + " to " + std::to_string(c.rangeMax) +
                        ", not to " + value;
            return false;
        }
        done = slider && (action.verb == "slide" ? standin::DragSlider(control, position)
                                                 : standin::KeySlider(control, position));
        if (!done) run.error = "\"" + name + "\" is not a slider";
    } else {
        run.error = "--" + action.verb + " needs ID=VALUE";
    }
    if (!done && run.error.empty()) run.error = "--" + action.verb + " " + action.argument + " did nothing";
    return done;
}

void PrintStoredSettings(const OutputPluginTable& table) {
    EncoderSettings s{};
    int32_t size = table.ConfigGetEntry ? table.ConfigGetEntry(&s, sizeof s) : 0;
    if (size != static_cast<int32_t>(sizeof s)) {
        std::printf("stored settings: ConfigGet answered size %d\n", size);
        return;
    }
    std::printf(
        "stored settings:\n"
        "  CompressionMode=%d Bitrate=%u BufferWindow=%u PeakBitrate=%u PeakBuffer=%u Quality=%d\n"
        "  DecoderComplexity=%d DecoderLevel=%u Performance=%d KeyFrameInterval=%u VideoLanguage=0x%04X\n"
        "  EnableResizeTo=%d ResizeToW=%u ResizeToH=%u\n"
        "  AudioCodec=%d AudioFormat=%d AudioVBREnable=%d AudioNumberOfPasses=%d AudioBufferWindow=%u "
        "AudioLanguage=0x%04X\n",
        s.CompressionMode, s.Bitrate, s.BufferWindow, s.PeakBitrate, s.PeakBuffer, s.Quality, s.DecoderComplexity,
        s.DecoderLevel, s.Performance, s.KeyFrameInterval, s.VideoLanguage, s.EnableResizeTo, s.ResizeToW,
        s.ResizeToH, s.AudioCodec, s.AudioFormat, s.AudioVBREnable, s.AudioNumberOfPasses, s.AudioBufferWindow,
        s.AudioLanguage);
}

}  // namespace

int ConfigCommand(const LoadedModule& module, const HostOptions& options) {
    const OutputPluginTable& table = *module.table;
    if (!table.ConfigEntry) {
        std::fprintf(stderr, "brevlo-host: the module has no Config entry\n");
        return 1;
    }
    ConfigRun run;
    run.options = &options;
    bool shown = false;
    standin::SetSheetDriver([&](HWND sheet) {
        shown = true;
        // Both pages, as a person looks at each tab, then back to the first.
        int start = standin::SheetActiveTab(sheet);
        for (int tab = 0; tab < standin::SheetTabCount(sheet); ++tab) standin::SelectSheetTab(sheet, tab);
        standin::SelectSheetTab(sheet, start);
        PrintSheet(sheet, "shown");
        for (const ConfigAction& action : options.configActions) {
            if (!Act(sheet, action, run)) break;
        }
        if (!run.ended) {
            if (run.error.empty()) PrintSheet(sheet, "before Cancel");
            standin::PressSheetCancel(sheet);
        }
    });
    HWND owner = standin::CreateOwnerWindow(u"brevlo-host");
    int32_t answer = table.ConfigEntry(owner, static_cast<HINSTANCE>(module.instance));
    DestroyWindow(owner);
    standin::SetSheetDriver(nullptr);
    std::printf("Config returned %d%s\n", answer, shown ? "" : " without showing a sheet");
    if (!shown) {
        for (const std::string& cause : CausesThePlatformKeeps(std::string())) {
            std::fprintf(stderr, "brevlo-host: %s\n", cause.c_str());
        }
    }
    PrintStoredSettings(table);

    std::string leftOver;
    for (const std::string& leak : standin::CollectLeaks()) leftOver += (leftOver.empty() ? "" : "; ") + leak;
    if (!run.error.empty()) std::fprintf(stderr, "brevlo-host: config: %s; the sheet was cancelled\n", run.error.c_str());
    if (!leftOver.empty()) {
        std::fprintf(stderr, "brevlo-host: left over after Config: %s\n", leftOver.c_str());
        return 3;
    }
    return run.error.empty() ? 0 : 1;
}
