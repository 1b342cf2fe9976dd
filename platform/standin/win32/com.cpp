#include "com.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "../fail_points.h"
#include "../leaks.h"
#include "text.h"

namespace {

standin::FailPoints g_failPoints;

#define MLANG_FAIL_POINT(method)                                  \
    do {                                                          \
        HRESULT injected_ = S_OK;                                 \
        if (g_failPoints.Hit(method, &injected_)) return injected_; \
    } while (0)

// ---- BSTR -----------------------------------------------------------------------------------

std::mutex g_bstrMutex;
std::set<const void*> g_liveBstrs;
long g_badFrees = 0;

// ---- Locale table ---------------------------------------------------------------------------

struct LocaleRow {
    LCID lcid;
    std::u16string_view tag;   // of literals, so that data() ends with a terminator
    std::u16string_view name;
    const char* posix;  // the environment's spelling of the locale, "" when it has none
};

const LocaleRow kLocales[] = {
    {0x0401, u"ar-sa", u"Arabic (Saudi Arabia)", "ar_SA"},
    {0x0402, u"bg", u"Bulgarian (Bulgaria)", "bg_BG"},
    {0x0403, u"ca", u"Catalan (Spain)", "ca_ES"},
    {0x0404, u"zh-tw", u"Chinese (Taiwan)", "zh_TW"},
    {0x0405, u"cs", u"Czech (Czech Republic)", "cs_CZ"},
    {0x0406, u"da", u"Danish (Denmark)", "da_DK"},
    {0x0407, u"de", u"German (Germany)", "de_DE"},
    {0x0408, u"el", u"Greek (Greece)", "el_GR"},
    {0x0409, u"en-us", u"English (United States)", "en_US"},
    {0x0409, u"en-us", u"English", ""},
    {0x040A, u"es", u"Spanish (Traditional Sort)", ""},
    {0x040B, u"fi", u"Finnish (Finland)", "fi_FI"},
    {0x040C, u"fr", u"French (France)", "fr_FR"},
    {0x040D, u"he", u"Hebrew (Israel)", "he_IL"},
    {0x040E, u"hu", u"Hungarian (Hungary)", "hu_HU"},
    {0x040F, u"is", u"Icelandic (Iceland)", "is_IS"},
    {0x0410, u"it", u"Italian (Italy)", "it_IT"},
    {0x0411, u"ja", u"Japanese (Japan)", "ja_JP"},
    {0x0412, u"ko", u"Korean (Korea)", "ko_KR"},
    {0x0413, u"nl", u"Dutch (Netherlands)", "nl_NL"},
    {0x0414, u"nb", u"Norwegian Bokm\u00e5l (Norway)", "nb_NO"},
    {0x0415, u"pl", u"Polish (Poland)", "pl_PL"},
    {0x0416, u"pt", u"Portuguese (Brazil)", "pt_BR"},
    {0x0418, u"ro", u"Romanian (Romania)", "ro_RO"},
    {0x0419, u"ru", u"Russian (Russia)", "ru_RU"},
    {0x041A, u"hr", u"Croatian (Croatia)", "hr_HR"},
    {0x041B, u"sk", u"Slovak (Slovakia)", "sk_SK"},
    {0x041C, u"sq", u"Albanian (Albania)", "sq_AL"},
    {0x041D, u"sv", u"Swedish (Sweden)", "sv_SE"},
    {0x041E, u"th", u"Thai (Thailand)", "th_TH"},
    {0x041F, u"tr", u"Turkish (Turkey)", "tr_TR"},
    {0x0421, u"id", u"Indonesian (Indonesia)", "id_ID"},
    {0x0422, u"uk", u"Ukrainian (Ukraine)", "uk_UA"},
    {0x0424, u"sl", u"Slovenian (Slovenia)", "sl_SI"},
    {0x0425, u"et", u"Estonian (Estonia)", "et_EE"},
    {0x0426, u"lv", u"Latvian (Latvia)", "lv_LV"},
    {0x0427, u"lt", u"Lithuanian (Lithuania)", "lt_LT"},
    {0x042A, u"vi", u"Vietnamese (Vietnam)", "vi_VN"},
    {0x042D, u"eu", u"Basque (Spain)", "eu_ES"},
    {0x0436, u"af", u"Afrikaans (South Africa)", "af_ZA"},
    {0x0439, u"hi", u"Hindi (India)", "hi_IN"},
    {0x043E, u"ms", u"Malay (Malaysia)", "ms_MY"},
    {0x0804, u"zh-cn", u"Chinese (PRC)", "zh_CN"},
    {0x0807, u"de-ch", u"German (Switzerland)", "de_CH"},
    {0x0809, u"en-gb", u"English (United Kingdom)", "en_GB"},
    {0x080A, u"es-mx", u"Spanish (Mexico)", "es_MX"},
    {0x080C, u"fr-be", u"French (Belgium)", "fr_BE"},
    {0x0810, u"it-ch", u"Italian (Switzerland)", "it_CH"},
    {0x0813, u"nl-be", u"Dutch (Belgium)", "nl_BE"},
    {0x0814, u"nn-no", u"Norwegian Nynorsk (Norway)", "nn_NO"},
    {0x0816, u"pt-pt", u"Portuguese (Portugal)", "pt_PT"},
    {0x0C04, u"zh-hk", u"Chinese (Hong Kong SAR)", "zh_HK"},
    {0x0C07, u"de-at", u"German (Austria)", "de_AT"},
    {0x0C09, u"en-au", u"English (Australia)", "en_AU"},
    {0x0C0A, u"es-es", u"Spanish (Modern Sort)", "es_ES"},
    {0x0C0C, u"fr-ca", u"French (Canada)", "fr_CA"},
    {0x1004, u"zh-sg", u"Chinese (Singapore)", "zh_SG"},
    {0x1009, u"en-ca", u"English (Canada)", "en_CA"},
    {0x100C, u"fr-ch", u"French (Switzerland)", "fr_CH"},
    {0x1409, u"en-nz", u"English (New Zealand)", "en_NZ"},
};
constexpr size_t kLocaleCount = sizeof(kLocales) / sizeof(kLocales[0]);

std::atomic<LCID> g_fixedLcid{0};

// The locale an environment value names by the part before its '.' or '@' ("ja_JP.UTF-8" is
// ja_JP), or US English.
LCID LcidOfEnvironmentValue(const char* value) {
    for (const LocaleRow& row : kLocales) {
        if (!row.posix[0]) continue;
        size_t i = 0;
        while (row.posix[i] && value[i] == row.posix[i]) ++i;
        if (!row.posix[i] && (value[i] == '\0' || value[i] == '.' || value[i] == '@')) return row.lcid;
    }
    return 0x0409;
}

LCID LcidFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && v[0]) return LcidOfEnvironmentValue(v);
    }
    return 0x0409;
}

const LocaleRow* FindLocale(LCID lcid) {
    if (lcid == 0 || lcid == LOCALE_USER_DEFAULT || lcid == LOCALE_SYSTEM_DEFAULT) lcid = GetSystemDefaultLCID();
    for (const LocaleRow& row : kLocales) {
        if (row.lcid == lcid) return &row;
    }
    return nullptr;
}

// The table's texts all end well within the room; a longer one would be cut.
void CopyWide(WCHAR* dst, size_t room, std::u16string_view src) {
    const size_t n = std::min(src.size(), room - 1);
    std::memcpy(dst, src.data(), n * sizeof(WCHAR));
    dst[n] = 0;
}

void FillInfo(const LocaleRow& row, RFC1766INFO& info) {
    info.lcid = row.lcid;
    CopyWide(info.wszRfc1766, MAX_RFC1766_NAME, row.tag);
    CopyWide(info.wszLocaleName, MAX_LOCALE_NAME, row.name);
}

// ---- COM objects ----------------------------------------------------------------------------

std::atomic<long> g_liveObjects{0};
std::atomic<long> g_objectBaseline{0};  // objects a previous test leaked are reported once only
std::atomic<bool> g_registered{true};
std::atomic<bool> g_initialisedByHost{true};
thread_local long t_comInits = 0;

template <typename Interface>
class Object : public Interface {
public:
    Object() { ++g_liveObjects; }
    virtual ~Object() { --g_liveObjects; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

protected:
    HRESULT Answer(REFIID iid, REFIID own, void** out) {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == own) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }

private:
    std::atomic<ULONG> refs_{1};
};

class LocaleEnumerator final : public Object<IEnumRfc1766> {
public:
    explicit LocaleEnumerator(size_t position) : position_(position) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return Answer(iid, IID_IEnumRfc1766, out);
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumRfc1766** copy) override {
        if (!copy) return E_POINTER;
        *copy = new LocaleEnumerator(position_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, PRFC1766INFO items, ULONG* fetched) override {
        MLANG_FAIL_POINT("IEnumRfc1766::Next");
        if (!items || (!fetched && count != 1)) return E_FAIL;
        ULONG n = 0;
        while (n < count && position_ < kLocaleCount) FillInfo(kLocales[position_++], items[n++]);
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        size_t left = kLocaleCount - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }

private:
    size_t position_;
};

class MultiLanguage final : public Object<IMultiLanguage> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return Answer(iid, IID_IMultiLanguage, out);
    }
    // Code-page services: nothing in the system asks for them.
    HRESULT STDMETHODCALLTYPE GetNumberOfCodePageInfo(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCodePageInfo(UINT, PMIMECPINFO) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFamilyCodePage(UINT, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumCodePages(DWORD, IEnumCodePage**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCharsetInfo(BSTR, PMIMECSETINFO) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsConvertible(DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConvertString(DWORD*, DWORD, DWORD, BYTE*, UINT*, BYTE*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ConvertStringToUnicode(DWORD*, DWORD, CHAR*, UINT*, WCHAR*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ConvertStringFromUnicode(DWORD*, DWORD, WCHAR*, UINT*, CHAR*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ConvertStringReset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateConvertCharset(UINT, UINT, DWORD, IMLangConvertCharset**) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE GetRfc1766FromLcid(LCID locale, BSTR* tag) override {
        if (!tag) return E_INVALIDARG;
        const LocaleRow* row = FindLocale(locale);
        if (!row) return E_FAIL;  // *tag stays as the caller left it
        BSTR s = SysAllocString(row->tag.data());
        if (!s) return E_OUTOFMEMORY;
        *tag = s;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLcidFromRfc1766(LCID* locale, BSTR tag) override {
        if (!locale || !tag) return E_INVALIDARG;
        for (const LocaleRow& row : kLocales) {
            const char16_t* rowTag = row.tag.data();
            size_t i = 0;
            auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; };
            while (rowTag[i] && lower(tag[i]) == rowTag[i]) ++i;
            if (!rowTag[i] && !tag[i]) {
                *locale = row.lcid;
                return S_OK;
            }
        }
        return E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE EnumRfc1766(IEnumRfc1766** list) override {
        if (!list) return E_INVALIDARG;
        *list = nullptr;
        MLANG_FAIL_POINT("IMultiLanguage::EnumRfc1766");
        *list = new LocaleEnumerator(0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRfc1766Info(LCID locale, PRFC1766INFO info) override {
        if (!info) return E_INVALIDARG;
        const LocaleRow* row = FindLocale(locale);
        if (!row) return E_FAIL;
        FillInfo(*row, *info);
        return S_OK;
    }
};

struct ComProbe {
    ComProbe() {
        standin::RegisterLeakProbe("mlang", [] {
            long n = g_liveObjects.load() - g_objectBaseline.load();
            return n ? std::to_string(n) + " MLang object(s) not released" : std::string();
        });
        standin::RegisterLeakProbe("bstr", [] {
            std::lock_guard<std::mutex> lock(g_bstrMutex);
            std::string out;
            if (!g_liveBstrs.empty()) out = std::to_string(g_liveBstrs.size()) + " BSTR(s) not freed";
            if (g_badFrees) {
                out += (out.empty() ? "" : "; ") + std::to_string(g_badFrees) +
                       " SysFreeString call(s) on something that was not a live BSTR";
            }
            return out;
        });
        standin::RegisterReset("com", [] {
            g_registered = true;
            g_initialisedByHost = true;
            g_fixedLcid = 0;
            g_failPoints.Reset();
            g_objectBaseline = g_liveObjects.load();
            std::lock_guard<std::mutex> lock(g_bstrMutex);
            g_badFrees = 0;
            // Forget leaked strings so one test's leak is not reported again for the next.
            for (const void* p : g_liveBstrs) std::free(const_cast<char*>(static_cast<const char*>(p)) - 4);
            g_liveBstrs.clear();
        });
    }
} g_comProbe;

}  // namespace

HRESULT WINAPI CoInitializeEx(LPVOID, DWORD) { return t_comInits++ == 0 ? S_OK : S_FALSE; }
HRESULT WINAPI CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }
void WINAPI CoUninitialize() {
    if (t_comInits > 0) --t_comInits;
}

HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD, REFIID iid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    MLANG_FAIL_POINT("CoCreateInstance");
    if (!g_initialisedByHost && t_comInits == 0) return CO_E_NOTINITIALIZED;
    if (clsid != CLSID_CMultiLanguage || !g_registered) return REGDB_E_CLASSNOTREG;
    if (outer) return CLASS_E_NOAGGREGATION;
    MultiLanguage* ml = new MultiLanguage;
    HRESULT hr = ml->QueryInterface(iid, object);
    ml->Release();
    return hr;
}

BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length) {
    size_t bytes = size_t(length) * sizeof(OLECHAR);
    if (bytes > 0x7FFFFFF0u) return nullptr;
    char* block = static_cast<char*>(std::malloc(4 + bytes + sizeof(OLECHAR)));
    if (!block) return nullptr;
    uint32_t prefix = static_cast<uint32_t>(bytes);
    std::memcpy(block, &prefix, 4);
    BSTR s = reinterpret_cast<BSTR>(block + 4);
    if (text) std::memcpy(s, text, bytes);
    s[length] = 0;
    std::lock_guard<std::mutex> lock(g_bstrMutex);
    g_liveBstrs.insert(s);
    return s;
}

BSTR WINAPI SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(lstrlenW(text)));
}

void WINAPI SysFreeString(BSTR text) {
    if (!text) return;
    std::lock_guard<std::mutex> lock(g_bstrMutex);
    if (g_liveBstrs.erase(text) == 0) {
        ++g_badFrees;  // freeing it would corrupt the heap; keep the evidence instead
        return;
    }
    std::free(reinterpret_cast<char*>(text) - 4);
}

UINT WINAPI SysStringByteLen(BSTR text) {
    if (!text) return 0;
    uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(text) - 4, 4);
    return prefix;
}

UINT WINAPI SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

LCID WINAPI GetSystemDefaultLCID() {
    LCID fixed = g_fixedLcid.load();
    return fixed ? fixed : LcidFromEnvironment();
}

namespace standin {
void SetMultiLanguageRegistered(bool registered) { g_registered = registered; }
void SetComInitialisedByHost(bool initialised) { g_initialisedByHost = initialised; }
void SetSystemDefaultLcid(LCID lcid) { g_fixedLcid = lcid; }
long MultiLanguageLiveObjects() { return g_liveObjects.load() - g_objectBaseline.load(); }
long LiveBstrs() {
    std::lock_guard<std::mutex> lock(g_bstrMutex);
    return static_cast<long>(g_liveBstrs.size());
}
size_t LocaleTableSize() { return kLocaleCount; }
void FailMLangCall(const std::string& method, long n, HRESULT code) { g_failPoints.Arm(method, n, code); }
std::map<std::string, long> MLangCallCounts() { return g_failPoints.Counts(); }
}  // namespace standin
