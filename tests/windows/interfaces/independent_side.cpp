// The independent side of the cross-check: one object per interface, built from mingw-w64's own
// declarations (their C form: a table of function pointers with the methods' names and types), or,
// for the four interfaces no header here declares, from the slot table of the runtime reference.
// Every entry records its slot and its arguments; nothing of platform/wm/ is seen here.
#define CINTERFACE
#include <windows.h>
#include <initguid.h>
#include <wmsdkidl.h>

#include <cstddef>
#include <map>

#include "tests/windows/interfaces/call_record.h"
#include "tests/windows/interfaces/method_names.h"

namespace {

CallRecord g_last;

template <int Slot, typename R, typename... A>
R STDMETHODCALLTYPE Entry(A... args) {
    g_last.slot = Slot;
    g_last.args = {ArgBits(args)...};
    return static_cast<R>(0x100 + Slot);
}

struct Built {
    void* object = nullptr;
    std::vector<std::string> names;  // by slot
    GUID iid{};
    bool mingw = true;
};

std::map<std::string, Built>& Objects() {
    static std::map<std::string, Built> objects;
    return objects;
}

template <int Slot, typename R, typename... A>
void Fill(R(STDMETHODCALLTYPE*& entry)(A...), std::vector<std::string>& names, const char* name) {
    entry = &Entry<Slot, R, A...>;
    names[Slot] = name;
}

// An object: its first word points to its table, as a COM object's does.
template <typename Table>
struct Object {
    const Table* table;
    Table entries;
};

#define M(NAME) Fill<offsetof(T, NAME) / sizeof(void*)>(o->entries.NAME, built.names, #NAME);
#define BUILD(I, TABLE, IID, MINGW)                                   \
    {                                                                 \
        using T = TABLE;                                              \
        auto* o = new Object<T>();                                    \
        o->table = &o->entries;                                       \
        Built& built = Objects()[#I];                                 \
        built.object = o;                                             \
        built.iid = IID;                                              \
        built.mingw = MINGW;                                          \
        built.names.assign(sizeof(T) / sizeof(void*), std::string()); \
        WM_METHODS_##I(M)                                             \
    }
#define BUILD_MINGW(I) BUILD(I, I##Vtbl, IID_##I, true)

// Written from the reference's slot table: IWMMediaProps' six slots, then slots 6 to 9.
struct ReferenceVideoMediaProps {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(void* self, REFIID iid, void** object);
    ULONG(STDMETHODCALLTYPE* AddRef)(void* self);
    ULONG(STDMETHODCALLTYPE* Release)(void* self);
    HRESULT(STDMETHODCALLTYPE* GetType)(void* self, GUID* type);
    HRESULT(STDMETHODCALLTYPE* GetMediaType)(void* self, WM_MEDIA_TYPE* type, DWORD* size);
    HRESULT(STDMETHODCALLTYPE* SetMediaType)(void* self, WM_MEDIA_TYPE* type);
    HRESULT(STDMETHODCALLTYPE* GetMaxKeyFrameSpacing)(void* self, LONGLONG* time);
    HRESULT(STDMETHODCALLTYPE* SetMaxKeyFrameSpacing)(void* self, LONGLONG time);
    HRESULT(STDMETHODCALLTYPE* GetQuality)(void* self, DWORD* quality);
    HRESULT(STDMETHODCALLTYPE* SetQuality)(void* self, DWORD quality);
};
static_assert(offsetof(ReferenceVideoMediaProps, GetMaxKeyFrameSpacing) == 6 * sizeof(void*), "slot 6");
static_assert(offsetof(ReferenceVideoMediaProps, SetQuality) == 9 * sizeof(void*), "slot 9");

// IWMStreamConfig's fourteen slots, then slots 14 to 19; IWMStreamConfig3 adds 20 and 21.
#define REFERENCE_STREAM_CONFIG2                                                                      \
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(void* self, REFIID iid, void** object);                \
    ULONG(STDMETHODCALLTYPE* AddRef)(void* self);                                                     \
    ULONG(STDMETHODCALLTYPE* Release)(void* self);                                                    \
    HRESULT(STDMETHODCALLTYPE* GetStreamType)(void* self, GUID* type);                                \
    HRESULT(STDMETHODCALLTYPE* GetStreamNumber)(void* self, WORD* number);                            \
    HRESULT(STDMETHODCALLTYPE* SetStreamNumber)(void* self, WORD number);                             \
    HRESULT(STDMETHODCALLTYPE* GetStreamName)(void* self, WCHAR* name, WORD* length);                 \
    HRESULT(STDMETHODCALLTYPE* SetStreamName)(void* self, LPCWSTR name);                              \
    HRESULT(STDMETHODCALLTYPE* GetConnectionName)(void* self, WCHAR* name, WORD* length);             \
    HRESULT(STDMETHODCALLTYPE* SetConnectionName)(void* self, LPCWSTR name);                          \
    HRESULT(STDMETHODCALLTYPE* GetBitrate)(void* self, DWORD* bitrate);                               \
    HRESULT(STDMETHODCALLTYPE* SetBitrate)(void* self, DWORD bitrate);                                \
    HRESULT(STDMETHODCALLTYPE* GetBufferWindow)(void* self, DWORD* window);                           \
    HRESULT(STDMETHODCALLTYPE* SetBufferWindow)(void* self, DWORD window);                            \
    HRESULT(STDMETHODCALLTYPE* GetTransportType)(void* self, int* type);  /* an enum, 0 or 1 */               \
    HRESULT(STDMETHODCALLTYPE* SetTransportType)(void* self, int type);                \
    HRESULT(STDMETHODCALLTYPE* AddDataUnitExtension)(void* self, GUID system, WORD dataSize, BYTE* info, \
                                                     DWORD infoSize);                                 \
    HRESULT(STDMETHODCALLTYPE* GetDataUnitExtensionCount)(void* self, WORD* count);                   \
    HRESULT(STDMETHODCALLTYPE* GetDataUnitExtension)(void* self, WORD number, GUID* system, WORD* dataSize, \
                                                     BYTE* info, DWORD* infoSize);                    \
    HRESULT(STDMETHODCALLTYPE* RemoveAllDataUnitExtensions)(void* self);
struct ReferenceStreamConfig2 {
    REFERENCE_STREAM_CONFIG2
};
struct ReferenceStreamConfig3 {
    REFERENCE_STREAM_CONFIG2
    HRESULT(STDMETHODCALLTYPE* GetLanguage)(void* self, WCHAR* language, WORD* length);
    HRESULT(STDMETHODCALLTYPE* SetLanguage)(void* self, LPCWSTR language);
};
static_assert(offsetof(ReferenceStreamConfig2, GetTransportType) == 14 * sizeof(void*), "slot 14");
static_assert(offsetof(ReferenceStreamConfig2, RemoveAllDataUnitExtensions) == 19 * sizeof(void*), "slot 19");
static_assert(offsetof(ReferenceStreamConfig3, GetLanguage) == 20 * sizeof(void*), "slot 20");
static_assert(offsetof(ReferenceStreamConfig3, SetLanguage) == 21 * sizeof(void*), "slot 21");

// IUnknown's three slots, then Advise and Unadvise.
struct ReferenceRegisterCallback {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(void* self, REFIID iid, void** object);
    ULONG(STDMETHODCALLTYPE* AddRef)(void* self);
    ULONG(STDMETHODCALLTYPE* Release)(void* self);
    HRESULT(STDMETHODCALLTYPE* Advise)(void* self, IWMStatusCallback* callback, void* context);
    HRESULT(STDMETHODCALLTYPE* Unadvise)(void* self, IWMStatusCallback* callback, void* context);
};
static_assert(offsetof(ReferenceRegisterCallback, Advise) == 3 * sizeof(void*), "slot 3");

// The documented identifiers of the four.
const GUID kIidRegisterCallback = {0xCF4B1F99, 0x4DE2, 0x4E49, {0xA3, 0x63, 0x25, 0x27, 0x40, 0xD9, 0x9B, 0xC1}};
const GUID kIidVideoMediaProps = {0x96406BCF, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
const GUID kIidStreamConfig2 = {0x7688D8CB, 0xFC0D, 0x43BD, {0x94, 0x59, 0x5A, 0x8D, 0xEC, 0x20, 0x0C, 0xFA}};
const GUID kIidStreamConfig3 = {0xCB164104, 0x3AA9, 0x45A7, {0x9A, 0xC9, 0x4D, 0xAE, 0xE1, 0x31, 0xD6, 0xE1}};

void BuildAll() {
    BUILD_MINGW(IWMProfileManager)
    BUILD_MINGW(IWMCodecInfo)
    BUILD_MINGW(IWMCodecInfo2)
    BUILD_MINGW(IWMCodecInfo3)
    BUILD_MINGW(IWMProfile)
    BUILD_MINGW(IWMStreamConfig)
    BUILD(IWMStreamConfig2, ReferenceStreamConfig2, kIidStreamConfig2, false)
    BUILD(IWMStreamConfig3, ReferenceStreamConfig3, kIidStreamConfig3, false)
    BUILD_MINGW(IWMMediaProps)
    BUILD(IWMVideoMediaProps, ReferenceVideoMediaProps, kIidVideoMediaProps, false)
    BUILD_MINGW(IWMInputMediaProps)
    BUILD_MINGW(IWMPropertyVault)
    BUILD_MINGW(IWMWriter)
    BUILD_MINGW(IWMWriterPreprocess)
    BUILD_MINGW(IWMHeaderInfo)
    BUILD_MINGW(IWMHeaderInfo2)
    BUILD_MINGW(IWMHeaderInfo3)
    BUILD_MINGW(IWMWriterAdvanced)
    BUILD_MINGW(IWMWriterSink)
    BUILD(IWMRegisterCallback, ReferenceRegisterCallback, kIidRegisterCallback, false)
    BUILD_MINGW(IWMStatusCallback)
    BUILD_MINGW(INSSBuffer)
}

const Built* Find(const char* iface) {
    if (Objects().empty()) BuildAll();
    auto it = Objects().find(iface);
    return it == Objects().end() ? nullptr : &it->second;
}

}  // namespace

const CallRecord& LastCall() { return g_last; }
void ForgetLastCall() { g_last = CallRecord(); }

void* IndependentObject(const char* iface) {
    const Built* b = Find(iface);
    return b ? b->object : nullptr;
}

std::string IndependentMethod(const char* iface, int slot) {
    const Built* b = Find(iface);
    if (!b || slot < 0 || slot >= static_cast<int>(b->names.size())) return std::string();
    return b->names[static_cast<size_t>(slot)];
}

int IndependentSlotCount(const char* iface) {
    const Built* b = Find(iface);
    return b ? static_cast<int>(b->names.size()) : 0;
}

bool IndependentIid(const char* iface, GUID* iid) {
    const Built* b = Find(iface);
    if (!b) return false;
    *iid = b->iid;
    return true;
}

bool IndependentStatusValue(const char* name, long* value) {
#define STATUS_ENTRY(N) {#N, N},
    static const std::map<std::string, long> kValues = {WM_STATUS_VALUES(STATUS_ENTRY)};
    auto it = kValues.find(name);
    if (it == kValues.end()) return false;
    *value = it->second;
    return true;
}

bool DeclaredByMingw(const char* iface) {
    const Built* b = Find(iface);
    return b && b->mingw;
}
