#include "templates.h"

#include <dlfcn.h>

#include <map>
#include <memory>
#include <mutex>

namespace {

// Little-endian reads over [begin, begin + size) that never go past the end: a read that does not
// fit fails, and with it whatever was being read. Alignment is counted from `begin`, which is
// where Windows counts it from (the start of the template, or of the .res file).
class Reader {
public:
    Reader(const unsigned char* begin, size_t size) : begin_(begin), size_(size) {}

    size_t Offset() const { return pos_; }

    bool Seek(size_t pos) {
        if (pos > size_) return false;
        pos_ = pos;
        return true;
    }

    bool AlignDword() { return Seek(pos_ + (4 - pos_ % 4) % 4); }

    bool Byte(BYTE* out) {
        if (size_ - pos_ < 1) return false;
        *out = begin_[pos_++];
        return true;
    }

    bool Word(WORD* out) {
        if (size_ - pos_ < 2) return false;
        *out = static_cast<WORD>(begin_[pos_] | begin_[pos_ + 1] << 8);
        pos_ += 2;
        return true;
    }

    bool Short(short* out) {
        WORD w;
        if (!Word(&w)) return false;
        *out = static_cast<short>(w);
        return true;
    }

    bool Dword(DWORD* out) {
        if (size_ - pos_ < 4) return false;
        const unsigned char* p = begin_ + pos_;
        *out = static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
               static_cast<DWORD>(p[3]) << 24;
        pos_ += 4;
        return true;
    }

    // A zero-terminated UTF-16 string whose first unit has been read already.
    bool RestOfString(WORD first, std::u16string* out) {
        std::u16string text;
        for (WORD unit = first; unit != 0;) {
            text.push_back(static_cast<char16_t>(unit));
            if (!Word(&unit)) return false;
        }
        *out = std::move(text);
        return true;
    }

    bool String(std::u16string* out) {
        WORD first;
        return Word(&first) && RestOfString(first, out);
    }

    // sz_Or_Ord: 0x0000 (nothing), 0xFFFF followed by an ordinal, or a zero-terminated string.
    bool NameOrOrdinal(std::u16string* name, bool* isOrdinal, WORD* ordinal) {
        WORD first;
        if (!Word(&first)) return false;
        *isOrdinal = first == 0xFFFF;
        *ordinal = 0;
        name->clear();
        if (*isOrdinal) return Word(ordinal);
        return RestOfString(first, name);
    }

private:
    const unsigned char* begin_;
    size_t size_;
    size_t pos_ = 0;
};

std::u16string OrdinalText(WORD ordinal) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + ordinal % 10));
        ordinal /= 10;
    } while (ordinal != 0);
    return u"#" + digits;
}

// A menu, window class or text given as sz_Or_Ord; an ordinal becomes "#N".
bool ReadNameOrOrdinalText(Reader& r, std::u16string* out) {
    bool isOrdinal;
    WORD ordinal;
    if (!r.NameOrOrdinal(out, &isOrdinal, &ordinal)) return false;
    if (isOrdinal) *out = OrdinalText(ordinal);
    return true;
}

// A control's class: the predefined atoms by their names, other ordinals as "#N".
bool ReadItemClass(Reader& r, std::u16string* out) {
    static const char16_t* const kAtoms[] = {u"Button",  u"Edit",      u"Static",
                                             u"ListBox", u"ScrollBar", u"ComboBox"};
    bool isOrdinal;
    WORD ordinal;
    if (!r.NameOrOrdinal(out, &isOrdinal, &ordinal)) return false;
    if (isOrdinal) *out = ordinal >= 0x80 && ordinal <= 0x85 ? kAtoms[ordinal - 0x80] : OrdinalText(ordinal);
    return true;
}

bool ReadItem(Reader& r, bool extended, standin::DialogItemTemplate* item) {
    if (!r.AlignDword()) return false;
    item->helpId = 0;
    if (extended) {
        if (!r.Dword(&item->helpId) || !r.Dword(&item->exStyle) || !r.Dword(&item->style)) return false;
    } else {
        if (!r.Dword(&item->style) || !r.Dword(&item->exStyle)) return false;
    }
    if (!r.Short(&item->x) || !r.Short(&item->y) || !r.Short(&item->cx) || !r.Short(&item->cy)) return false;
    if (extended) {
        if (!r.Dword(&item->id)) return false;
    } else {
        WORD id;
        if (!r.Word(&id)) return false;
        item->id = id;
    }
    if (!ReadItemClass(r, &item->className) || !ReadNameOrOrdinalText(r, &item->text)) return false;
    // Creation data: a byte count, then that many bytes, which the controls here never use.
    WORD extra;
    return r.Word(&extra) && r.Seek(r.Offset() + extra);
}

struct RegisteredResources {
    const unsigned char* bytes;
    size_t size;
    // The dialogs looked up so far by id, null for an id the bytes have no dialog for. The bytes
    // do not change under a registration, so each dialog is read once for it, not for every sheet.
    std::map<WORD, std::shared_ptr<const standin::DialogTemplate>> dialogs;
};

// Never destroyed, so that a module's registration object may still unregister while the
// process shuts down, whatever the order of the destructors.
struct Registry {
    std::mutex mutex;
    std::map<const void*, RegisteredResources> modules;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

// The module's registration, or null; the caller holds the registry's mutex.
RegisteredResources* RegistrationOf(Registry& registry, HINSTANCE module) {
    auto found = registry.modules.find(module);
    return found == registry.modules.end() ? nullptr : &found->second;
}

const void* ModuleBase(const void* address) {
    Dl_info info;
    if (!address || dladdr(address, &info) == 0) return nullptr;
    return info.dli_fbase;
}

constexpr WORD kDialogResourceType = 5;  // RT_DIALOG

}  // namespace

namespace standin {

void RegisterModuleResources(const void* addressInModule, const unsigned char* res, size_t size) {
    const void* base = ModuleBase(addressInModule);
    if (!base || !res) return;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.modules[base] = RegisteredResources{res, size, {}};
}

void UnregisterModuleResources(const void* addressInModule) {
    const void* base = ModuleBase(addressInModule);
    if (!base) return;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.modules.erase(base);
}

HINSTANCE ModuleInstanceOf(const void* address) {
    return static_cast<HINSTANCE>(const_cast<void*>(ModuleBase(address)));
}

bool ModuleResources(HINSTANCE module, const unsigned char** res, size_t* size) {
    if (!module || !res || !size) return false;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    const RegisteredResources* resources = RegistrationOf(registry, module);
    if (!resources) return false;
    *res = resources->bytes;
    *size = resources->size;
    return true;
}

// Every entry has the header
//   DataSize, HeaderSize, TYPE and NAME (sz_Or_Ord), DWORD padding, DataVersion, MemoryFlags,
//   LanguageId, Version, Characteristics
// and its data follows at HeaderSize, each entry starting on a DWORD. The file starts with an
// empty entry (type and name ordinal 0), which the walk passes over like any other.
bool FindResourceData(const unsigned char* res, size_t size, WORD type, WORD id,
                      const unsigned char** data, size_t* dataSize, WORD* language) {
    if (!res || !data || !dataSize || !language) return false;
    // Each entry moves the walk on by at least its two sizes, so the walk ends.
    for (size_t entry = 0; entry <= size && size - entry >= 8;) {
        Reader r(res, size);
        DWORD entryDataSize, headerSize;
        if (!r.Seek(entry) || !r.Dword(&entryDataSize) || !r.Dword(&headerSize)) return false;
        if (headerSize < 8 || headerSize > size - entry) return false;
        const size_t dataStart = entry + headerSize;
        if (entryDataSize > size - dataStart) return false;

        Reader header(res, dataStart);  // the names may not run into the data
        std::u16string typeName, name;
        bool typeIsOrdinal, nameIsOrdinal;
        WORD entryType, entryId, entryLanguage;
        DWORD dataVersion, version, characteristics;
        WORD memoryFlags;
        if (!header.Seek(entry + 8) || !header.NameOrOrdinal(&typeName, &typeIsOrdinal, &entryType) ||
            !header.NameOrOrdinal(&name, &nameIsOrdinal, &entryId) || !header.AlignDword() ||
            !header.Dword(&dataVersion) || !header.Word(&memoryFlags) || !header.Word(&entryLanguage) ||
            !header.Dword(&version) || !header.Dword(&characteristics)) {
            return false;
        }
        if (typeIsOrdinal && entryType == type && nameIsOrdinal && entryId == id) {
            *data = res + dataStart;
            *dataSize = entryDataSize;
            *language = entryLanguage;
            return true;
        }
        entry = dataStart + entryDataSize;
        entry += (4 - entry % 4) % 4;
    }
    return false;
}

bool ParseDialogTemplate(const unsigned char* bytes, size_t size, DialogTemplate* out) {
    if (!bytes || !out) return false;
    Reader r(bytes, size);
    DialogTemplate t{};
    WORD version, signature;
    if (!r.Word(&version) || !r.Word(&signature)) return false;
    t.extended = signature == 0xFFFF;
    if (t.extended) {
        if (version != 1) return false;  // no other DLGTEMPLATEEX version exists
        if (!r.Dword(&t.helpId) || !r.Dword(&t.exStyle) || !r.Dword(&t.style)) return false;
    } else {
        r.Seek(0);
        if (!r.Dword(&t.style) || !r.Dword(&t.exStyle)) return false;
    }
    WORD count;
    if (!r.Word(&count) || !r.Short(&t.x) || !r.Short(&t.y) || !r.Short(&t.cx) || !r.Short(&t.cy)) {
        return false;
    }
    if (!ReadNameOrOrdinalText(r, &t.menu) || !ReadNameOrOrdinalText(r, &t.windowClass) ||
        !r.String(&t.caption)) {
        return false;
    }
    if (t.style & DS_SETFONT) {
        if (!r.Word(&t.pointSize)) return false;
        if (t.extended && (!r.Word(&t.weight) || !r.Byte(&t.italic) || !r.Byte(&t.charset))) return false;
        if (!r.String(&t.typeface)) return false;
    }
    for (WORD i = 0; i < count; ++i) {
        DialogItemTemplate item{};
        if (!ReadItem(r, t.extended, &item)) return false;
        t.items.push_back(std::move(item));
    }
    *out = std::move(t);
    return true;
}

std::shared_ptr<const DialogTemplate> SharedDialogTemplate(HINSTANCE module, WORD id) {
    if (!module) return nullptr;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    RegisteredResources* registration = RegistrationOf(registry, module);
    if (!registration) return nullptr;
    RegisteredResources& resources = *registration;
    auto known = resources.dialogs.find(id);
    if (known != resources.dialogs.end()) return known->second;
    std::shared_ptr<DialogTemplate> dialog = std::make_shared<DialogTemplate>();
    const unsigned char* data;
    size_t dataSize;
    WORD language;
    if (FindResourceData(resources.bytes, resources.size, kDialogResourceType, id, &data, &dataSize, &language) &&
        ParseDialogTemplate(data, dataSize, dialog.get())) {
        dialog->language = language;
    } else {
        dialog.reset();
    }
    resources.dialogs.emplace(id, dialog);
    return dialog;
}

bool FindDialogTemplate(HINSTANCE module, WORD id, DialogTemplate* out) {
    if (!out) return false;
    const std::shared_ptr<const DialogTemplate> dialog = SharedDialogTemplate(module, id);
    if (!dialog) return false;
    *out = *dialog;
    return true;
}

}  // namespace standin
