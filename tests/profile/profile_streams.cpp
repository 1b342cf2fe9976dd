#include "tests/profile/profile_streams.h"

#include <gtest/gtest.h>

#include <cstring>

namespace profiletest {

uint32_t Property::Dword() const {
    uint32_t v = 0;
    if (value.size() == 4) std::memcpy(&v, value.data(), 4);
    return v;
}

std::u16string Property::Text() const {
    std::u16string out;
    for (size_t i = 0; i + 1 < value.size(); i += 2) {
        char16_t c = static_cast<char16_t>(value[i] | (value[i + 1] << 8));
        if (c == 0) break;
        out.push_back(c);
    }
    return out;
}

ComRef<IWMProfile> NewProfile() {
    ComRef<IWMProfileManager> manager;
    EXPECT_EQ(WMCreateProfileManager(manager.Out()), S_OK);
    ComRef<IWMProfile> profile;
    if (manager) {
        EXPECT_EQ(manager->CreateEmptyProfile(WMT_VER_9_0, profile.Out()), S_OK);
    }
    return profile;
}

ComRef<IWMStreamConfig> StreamAt(IWMProfile* profile, DWORD index) {
    ComRef<IWMStreamConfig> stream;
    EXPECT_EQ(profile->GetStream(index, stream.Out()), S_OK);
    return stream;
}

std::u16string StreamName(IWMStreamConfig* stream) {
    WCHAR name[300] = {};
    WORD units = 300;
    EXPECT_EQ(stream->GetStreamName(name, &units), S_OK);
    return std::u16string(reinterpret_cast<const char16_t*>(name));
}

std::u16string ConnectionName(IWMStreamConfig* stream) {
    WCHAR name[300] = {};
    WORD units = 300;
    EXPECT_EQ(stream->GetConnectionName(name, &units), S_OK);
    return std::u16string(reinterpret_cast<const char16_t*>(name));
}

std::u16string Language(IWMStreamConfig* stream) {
    ComRef<IWMStreamConfig3> config3;
    EXPECT_EQ(QueryInterfaceInto(stream, IID_IWMStreamConfig3, config3), S_OK);
    if (!config3) return u"";
    WCHAR tag[100] = {};
    WORD units = 100;
    EXPECT_EQ(config3->GetLanguage(tag, &units), S_OK);
    return std::u16string(reinterpret_cast<const char16_t*>(tag));
}

GUID StreamType(IWMStreamConfig* stream) {
    GUID type{};
    EXPECT_EQ(stream->GetStreamType(&type), S_OK);
    return type;
}

DWORD Bitrate(IWMStreamConfig* stream) {
    DWORD v = 0;
    EXPECT_EQ(stream->GetBitrate(&v), S_OK);
    return v;
}

DWORD BufferWindow(IWMStreamConfig* stream) {
    DWORD v = 0;
    EXPECT_EQ(stream->GetBufferWindow(&v), S_OK);
    return v;
}

std::vector<uint8_t> MediaType(IWMStreamConfig* stream) {
    ComRef<IWMMediaProps> props;
    EXPECT_EQ(QueryInterfaceInto(stream, IID_IWMMediaProps, props), S_OK);
    if (!props) return {};
    DWORD size = 0;
    EXPECT_EQ(props->GetMediaType(nullptr, &size), S_OK);
    std::vector<uint8_t> block(size);
    EXPECT_EQ(props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(block.data()), &size), S_OK);
    return block;
}

std::vector<Property> Properties(IWMStreamConfig* stream) {
    std::vector<Property> out;
    ComRef<IWMPropertyVault> vault;
    if (FAILED(QueryInterfaceInto(stream, IID_IWMPropertyVault, vault))) return out;
    DWORD count = 0;
    EXPECT_EQ(vault->GetPropertyCount(&count), S_OK);
    for (DWORD i = 0; i < count; ++i) {
        WCHAR name[200] = {};
        DWORD nameUnits = 200;
        WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
        BYTE value[200] = {};
        DWORD size = sizeof(value);
        EXPECT_EQ(vault->GetPropertyByIndex(i, name, &nameUnits, &type, value, &size), S_OK);
        out.push_back({std::u16string(reinterpret_cast<const char16_t*>(name)), type,
                       std::vector<uint8_t>(value, value + size)});
    }
    return out;
}

}  // namespace profiletest
