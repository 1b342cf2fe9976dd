// Reading back what a built profile holds, through the runtime's own interfaces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/holders.h"
#include "platform/win32.h"
#include "platform/wm/wm.h"

namespace profiletest {

struct Property {
    std::u16string name;
    WMT_ATTR_DATATYPE type;
    std::vector<uint8_t> value;
    uint32_t Dword() const;
    std::u16string Text() const;
};

ComRef<IWMProfile> NewProfile();
ComRef<IWMStreamConfig> StreamAt(IWMProfile* profile, DWORD index);
std::u16string StreamName(IWMStreamConfig* stream);
std::u16string ConnectionName(IWMStreamConfig* stream);
std::u16string Language(IWMStreamConfig* stream);
GUID StreamType(IWMStreamConfig* stream);
DWORD Bitrate(IWMStreamConfig* stream);
DWORD BufferWindow(IWMStreamConfig* stream);
// The stream's media type with its format bytes.
std::vector<uint8_t> MediaType(IWMStreamConfig* stream);
// The encoder properties in the order the vault lists them.
std::vector<Property> Properties(IWMStreamConfig* stream);

}  // namespace profiletest
