// The MLang stand-in, BSTRs and the system locale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/holders.h"
#include "platform/standin/leaks.h"

namespace {

ComRef<IMultiLanguage> CreateMultiLanguage() {
    ComRef<IMultiLanguage> ml;
    EXPECT_EQ(CoCreateInstance(CLSID_CMultiLanguage, nullptr, CLSCTX_ALL, IID_IMultiLanguage, ml.OutVoid()), S_OK);
    return ml;
}

std::u16string TagOf(IMultiLanguage* ml, LCID lcid) {
    BSTR tag = nullptr;
    if (ml->GetRfc1766FromLcid(lcid, &tag) != S_OK) return u"<failed>";
    std::u16string s(tag, SysStringLen(tag));
    SysFreeString(tag);
    return s;
}

// Sets or clears an environment variable for the length of a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (had_) {
            setenv(name_, old_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    bool had_;
    std::string old_;
};

}  // namespace

TEST(MultiLanguageStandIn, ConvertsKnownLocalesAndFailsOnUnknownOnesWithoutTouchingTheOutput) {
    ComRef<IMultiLanguage> ml = CreateMultiLanguage();
    ASSERT_TRUE(ml);
    EXPECT_EQ(TagOf(ml.Get(), 0x0411), u"ja");
    EXPECT_EQ(TagOf(ml.Get(), 0x0409), u"en-us");
    EXPECT_EQ(TagOf(ml.Get(), 0x0C0A), u"es-es");
    EXPECT_EQ(TagOf(ml.Get(), 0x0404), u"zh-tw");

    for (LCID unknown : {0x1234u, 0x1000u, 0x0C00u, 0xFFFFu}) {
        BSTR untouched = reinterpret_cast<BSTR>(0x1);
        EXPECT_EQ(ml->GetRfc1766FromLcid(unknown, &untouched), E_FAIL) << std::hex << unknown;
        EXPECT_EQ(untouched, reinterpret_cast<BSTR>(0x1));
    }
    EXPECT_EQ(ml->GetRfc1766FromLcid(0x0411, nullptr), E_INVALIDARG);

    // The neutral and default locales resolve to the system's.
    standin::SetSystemDefaultLcid(0x0411);
    EXPECT_EQ(TagOf(ml.Get(), 0), u"ja");
    EXPECT_EQ(TagOf(ml.Get(), LOCALE_SYSTEM_DEFAULT), u"ja");

    BSTR tag = SysAllocString(u"DE-ch");
    LCID lcid = 0;
    EXPECT_EQ(ml->GetLcidFromRfc1766(&lcid, tag), S_OK);
    EXPECT_EQ(lcid, 0x0807u);
    SysFreeString(tag);
}

TEST(MultiLanguageStandIn, EnumeratesTheTableInOrderWithOneConsecutiveDuplicate) {
    ComRef<IMultiLanguage> ml = CreateMultiLanguage();
    ComRef<IEnumRfc1766> list;
    ASSERT_EQ(ml->EnumRfc1766(list.Out()), S_OK);

    std::vector<RFC1766INFO> rows;
    RFC1766INFO batch[7];
    ULONG fetched = 0;
    HRESULT hr;
    while ((hr = list->Next(7, batch, &fetched)) == S_OK || fetched > 0) {
        rows.insert(rows.end(), batch, batch + fetched);
        if (hr != S_OK) break;
    }
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(list->Next(1, batch, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    ASSERT_EQ(rows.size(), standin::LocaleTableSize());

    int duplicates = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        WCHAR* tagEnd = rows[i].wszRfc1766 + MAX_RFC1766_NAME;
        WCHAR* nameEnd = rows[i].wszLocaleName + MAX_LOCALE_NAME;
        EXPECT_NE(std::find(+rows[i].wszRfc1766, tagEnd, WCHAR(0)), tagEnd);
        EXPECT_NE(std::find(+rows[i].wszLocaleName, nameEnd, WCHAR(0)), nameEnd);
        EXPECT_NE(rows[i].wszLocaleName[0], 0);
        if (i == 0) continue;
        EXPECT_LE(rows[i - 1].lcid, rows[i].lcid);
        if (rows[i - 1].lcid == rows[i].lcid) ++duplicates;
    }
    EXPECT_EQ(duplicates, 1);

    // A clone continues where its source stands; Reset starts over.
    ASSERT_EQ(list->Reset(), S_OK);
    ASSERT_EQ(list->Skip(2), S_OK);
    ComRef<IEnumRfc1766> copy;
    ASSERT_EQ(list->Clone(copy.Out()), S_OK);
    ASSERT_EQ(copy->Next(1, batch, nullptr), S_OK);
    EXPECT_EQ(batch[0].lcid, rows[2].lcid);
    EXPECT_EQ(list->Next(1, nullptr, &fetched), E_FAIL);
}

TEST(MultiLanguageStandIn, ActivationFailuresAreThoseOfTheRealClass) {
    ComRef<IUnknown> unknown;
    EXPECT_EQ(CoCreateInstance(CLSID_CMultiLanguage, nullptr, CLSCTX_ALL, IID_IMultiLanguage2, unknown.OutVoid()),
              E_NOINTERFACE);
    EXPECT_FALSE(unknown);
    EXPECT_EQ(CoCreateInstance(IID_IMultiLanguage, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.OutVoid()),
              REGDB_E_CLASSNOTREG);

    standin::SetMultiLanguageRegistered(false);
    EXPECT_EQ(CoCreateInstance(CLSID_CMultiLanguage, nullptr, CLSCTX_ALL, IID_IMultiLanguage, unknown.OutVoid()),
              REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(unknown);
    standin::SetMultiLanguageRegistered(true);

    standin::SetComInitialisedByHost(false);
    EXPECT_EQ(CoCreateInstance(CLSID_CMultiLanguage, nullptr, CLSCTX_ALL, IID_IMultiLanguage, unknown.OutVoid()),
              CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_CMultiLanguage, nullptr, CLSCTX_ALL, IID_IMultiLanguage, unknown.OutVoid()),
              S_OK);
    unknown.Reset();
    CoUninitialize();
    EXPECT_EQ(standin::MultiLanguageLiveObjects(), 0);
}

TEST(BstrStandIn, HasTheLengthPrefixLayoutAndReportsMisuse) {
    BSTR s = SysAllocString(u"en-us");
    ASSERT_NE(s, nullptr);
    uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
    EXPECT_EQ(prefix, 10u);
    EXPECT_EQ(s[5], 0);
    EXPECT_EQ(SysStringLen(s), 5u);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(standin::LiveBstrs(), 1);
    SysFreeString(s);
    SysFreeString(nullptr);
    EXPECT_EQ(standin::LiveBstrs(), 0);
    EXPECT_TRUE(standin::CollectLeaks().empty());

    WCHAR notABstr[4] = {u'a', 0};
    SysFreeString(notABstr);
    SysAllocString(u"leaked");
    std::vector<std::string> leaks = standin::CollectLeaks();
    std::string all;
    for (const std::string& l : leaks) all += l + "\n";
    EXPECT_NE(all.find("1 BSTR(s) not freed"), std::string::npos) << all;
    EXPECT_NE(all.find("not a live BSTR"), std::string::npos) << all;
    standin::ResetAll();
}

TEST(SystemLocale, ComesFromTheProcessLocaleUnlessFixed) {
    ScopedEnv lcAll("LC_ALL", "ja_JP.UTF-8");
    ScopedEnv lcType("LC_CTYPE", "de_CH.UTF-8");
    ScopedEnv lang("LANG", "fr_CA");
    EXPECT_EQ(GetSystemDefaultLCID(), 0x0411u);
    {
        ScopedEnv empty("LC_ALL", "");  // an empty variable counts as unset
        EXPECT_EQ(GetSystemDefaultLCID(), 0x0807u);
        ScopedEnv noType("LC_CTYPE", nullptr);
        EXPECT_EQ(GetSystemDefaultLCID(), 0x0C0Cu);
        ScopedEnv c("LANG", "C.UTF-8");
        EXPECT_EQ(GetSystemDefaultLCID(), 0x0409u);
        ScopedEnv unknown("LANG", "xx_YY@euro");
        EXPECT_EQ(GetSystemDefaultLCID(), 0x0409u);
    }
    standin::SetSystemDefaultLcid(0x0C0A);
    EXPECT_EQ(GetSystemDefaultLCID(), 0x0C0Au);
}
