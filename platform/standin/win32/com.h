// Linux stand-in: COM activation, BSTR, MLang's IMultiLanguage and the system locale
// (declarations follow the Windows SDK).
//
// CoCreateInstance knows one class, CLSID_CMultiLanguage. Its locale list is a built-in table in
// ascending LCID order with one consecutive duplicate row, as MLang's own list has them.
#pragma once
#include <map>
#include <string>

#include "base.h"

typedef IUnknown* LPUNKNOWN;

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_MULTITHREADED 0x0

#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)

HRESULT WINAPI CoInitialize(LPVOID reserved);
HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD flags);
void WINAPI CoUninitialize();
HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object);

// ---- BSTR: UTF-16 text preceded by its byte length (4 bytes) and followed by a NUL ------------
BSTR WINAPI SysAllocString(const OLECHAR* text);
BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length);
void WINAPI SysFreeString(BSTR text);
UINT WINAPI SysStringLen(BSTR text);
UINT WINAPI SysStringByteLen(BSTR text);

// ---- MLang ------------------------------------------------------------------------------------
#define MAX_RFC1766_NAME 6
#define MAX_LOCALE_NAME 32

struct tagRFC1766INFO {
    LCID lcid;
    WCHAR wszRfc1766[MAX_RFC1766_NAME];
    WCHAR wszLocaleName[MAX_LOCALE_NAME];
};
typedef tagRFC1766INFO RFC1766INFO;
typedef tagRFC1766INFO* PRFC1766INFO;
static_assert(sizeof(RFC1766INFO) == 80, "RFC1766INFO is 80 bytes");
static_assert(offsetof(RFC1766INFO, wszRfc1766) == 4, "RFC1766INFO.wszRfc1766");
static_assert(offsetof(RFC1766INFO, wszLocaleName) == 16, "RFC1766INFO.wszLocaleName");

// Only passed by pointer here; nothing in the system uses them.
struct tagMIMECPINFO;
typedef tagMIMECPINFO MIMECPINFO;
typedef tagMIMECPINFO* PMIMECPINFO;
struct tagMIMECSETINFO;
typedef tagMIMECSETINFO MIMECSETINFO;
typedef tagMIMECSETINFO* PMIMECSETINFO;
struct IEnumCodePage;
struct IMLangConvertCharset;

inline constexpr CLSID CLSID_CMultiLanguage = {0x275C23E2, 0x3747, 0x11D0, {0x9F, 0xEA, 0x00, 0xAA, 0x00, 0x3F, 0x86, 0x46}};
inline constexpr IID IID_IMultiLanguage = {0x275C23E1, 0x3747, 0x11D0, {0x9F, 0xEA, 0x00, 0xAA, 0x00, 0x3F, 0x86, 0x46}};
inline constexpr IID IID_IMultiLanguage2 = {0xDCCFC164, 0x2B38, 0x11D2, {0xB7, 0xEC, 0x00, 0xC0, 0x4F, 0x8F, 0x5D, 0x9A}};
inline constexpr IID IID_IEnumRfc1766 = {0x3DC39D1D, 0xC030, 0x11D0, {0xB8, 0x1B, 0x00, 0xC0, 0x4F, 0xC9, 0xB3, 0x1F}};

struct IEnumRfc1766 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumRfc1766** copy) = 0;
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, PRFC1766INFO items, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
};

struct IMultiLanguage : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfCodePageInfo(UINT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCodePageInfo(UINT codePage, PMIMECPINFO info) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFamilyCodePage(UINT codePage, UINT* family) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumCodePages(DWORD flags, IEnumCodePage** codePages) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCharsetInfo(BSTR charset, PMIMECSETINFO info) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsConvertible(DWORD source, DWORD destination) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConvertString(DWORD* mode, DWORD source, DWORD destination, BYTE* src,
                                                    UINT* srcSize, BYTE* dst, UINT* dstSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConvertStringToUnicode(DWORD* mode, DWORD encoding, CHAR* src, UINT* srcSize,
                                                             WCHAR* dst, UINT* dstSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConvertStringFromUnicode(DWORD* mode, DWORD encoding, WCHAR* src,
                                                               UINT* srcSize, CHAR* dst, UINT* dstSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConvertStringReset() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRfc1766FromLcid(LCID locale, BSTR* tag) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLcidFromRfc1766(LCID* locale, BSTR tag) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumRfc1766(IEnumRfc1766** list) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRfc1766Info(LCID locale, PRFC1766INFO info) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateConvertCharset(UINT srcCodePage, UINT dstCodePage, DWORD property,
                                                           IMLangConvertCharset** converter) = 0;
};

// ---- The system locale --------------------------------------------------------------------------
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800

// The locale of the process environment (LC_ALL, else LC_CTYPE, else LANG: "ja_JP.UTF-8" gives
// 0x0411); 0x0409 when none is set or the locale is not in the table.
LCID WINAPI GetSystemDefaultLCID();

namespace standin {

// CoCreateInstance answers REGDB_E_CLASSNOTREG for MLang while false.
void SetMultiLanguageRegistered(bool registered);
// While false, CoCreateInstance answers CO_E_NOTINITIALIZED on threads that did not call
// CoInitialize(Ex) themselves. True by default: the host's thread is taken as initialised.
void SetComInitialisedByHost(bool initialised);
// Fixes what GetSystemDefaultLCID answers; 0 goes back to the environment.
void SetSystemDefaultLcid(LCID lcid);

// MLang objects (IMultiLanguage, IEnumRfc1766) alive; BSTRs allocated and not freed.
long MultiLanguageLiveObjects();
long LiveBstrs();

// Number of rows of the built-in locale list (duplicates included).
size_t LocaleTableSize();

// Makes the n-th call (1 = the next) of "CoCreateInstance", "IMultiLanguage::EnumRfc1766" or
// "IEnumRfc1766::Next" answer `code` without doing anything; n <= 0 disarms it.
void FailMLangCall(const std::string& method, long n, HRESULT code);
// Those methods called since the last reset, with their number of calls.
std::map<std::string, long> MLangCallCounts();

}  // namespace standin
