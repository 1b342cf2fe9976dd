// The registry store's file as anyone may have left it (edited by hand, cut short, from another
// program): the settings read from it are the stored set or all defaults, never a mixture; a write
// keeps every value it did not change, or, over a file that cannot be parsed, starts afresh and
// keeps the old file aside byte for byte. The store is the one in memory, which holds the same
// bytes as the file would.
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "settings/encoder_settings.h"
#include "settings/settings_registry.h"
#include "tests/common/settings_fields.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct RawValue {
    LONG status = ERROR_FILE_NOT_FOUND;
    DWORD type = 0;
    std::vector<BYTE> bytes;
    bool operator==(const RawValue& o) const { return status == o.status && type == o.type && bytes == o.bytes; }
};

// Every row's value as stored, each key opened once.
std::vector<RawValue> ReadAllRaw() {
    std::vector<RawValue> values(kSettingsRegistryRows);
    HKEY key = nullptr;
    LONG opened = ERROR_FILE_NOT_FOUND;
    for (size_t i = 0; i < kSettingsRegistryRows; ++i) {
        const SettingsRegistryRow& row = SettingsRegistryTable[i];
        if (i == 0 || std::strcmp(row.KeyPath, SettingsRegistryTable[i - 1].KeyPath) != 0) {
            if (key) RegCloseKey(key);
            key = nullptr;
            opened = RegOpenKeyExA(HKEY_CURRENT_USER, row.KeyPath, 0, KEY_READ, &key);
        }
        RawValue& v = values[i];
        v.status = opened;
        if (opened != ERROR_SUCCESS) continue;
        BYTE buffer[512];
        DWORD size = sizeof buffer;
        v.status = RegQueryValueExA(key, row.ValueName, nullptr, &v.type, buffer, &size);
        if (v.status == ERROR_SUCCESS) v.bytes.assign(buffer, buffer + size);
    }
    if (key) RegCloseKey(key);
    return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const EncoderSettings defaults = FuzzDefaults();
    FuzzReset();
    const std::string file(reinterpret_cast<const char*>(data), size);
    FUZZ_REQUIRE(standin::WriteRegistryStore(file), "the store is written");

    const std::vector<RawValue> before = ReadAllRaw();
    bool complete = true, unparsed = false;
    for (size_t i = 0; i < kSettingsRegistryRows; ++i) {
        const SettingsRegistryRow& row = SettingsRegistryTable[i];
        const RawValue& v = before[i];
        uint32_t value = 0;
        if (v.status == ERROR_SUCCESS && v.type == REG_DWORD && v.bytes.size() == 4) {
            std::memcpy(&value, v.bytes.data(), 4);
            if (row.Maximum != kNoMaximum && value > row.Maximum) complete = false;
        } else {
            complete = false;
        }
        if (v.status == ERROR_BADDB) unparsed = true;
    }
    if (unparsed) {
        for (const RawValue& v : before) FUZZ_REQUIRE(v.status == ERROR_BADDB, "a bad file fails every read");
    }

    // The stored set whole, or the defaults whole.
    EncoderSettings loaded;
    std::memset(&loaded, 0xCD, sizeof loaded);
    FUZZ_REQUIRE(LoadSettings(&loaded) == S_OK, "the settings load");
    for (size_t i = 0; i < kSettingsRegistryRows; ++i) {
        const SettingsRegistryRow& row = SettingsRegistryTable[i];
        uint32_t want = RecordField(&defaults, row.FieldOffset);
        if (complete) std::memcpy(&want, before[i].bytes.data(), 4);
        FUZZ_REQUIRE(RecordField(&loaded, row.FieldOffset) == want,
                     std::string(row.ValueName) + (complete ? " is not the stored value" : " is not the default"));
    }

    // One value written: it reads back, and nothing else changed, or a bad file went aside whole.
    const size_t changed = size ? data[size / 2] % kSettingsRegistryRows : 0;
    const SettingsRegistryRow& target = SettingsRegistryTable[changed];
    const uint32_t value = static_cast<uint32_t>(size * 2654435761u);
    FUZZ_REQUIRE(WriteRegistryDword(target.KeyPath, target.ValueName, value), "the write succeeds");
    const std::vector<RawValue> afterAll = ReadAllRaw();
    for (size_t i = 0; i < kSettingsRegistryRows; ++i) {
        const SettingsRegistryRow& row = SettingsRegistryTable[i];
        const RawValue& after = afterAll[i];
        if (i == changed) {
            RawValue written;
            written.status = ERROR_SUCCESS;
            written.type = REG_DWORD;
            written.bytes.resize(4);
            std::memcpy(written.bytes.data(), &value, 4);
            FUZZ_REQUIRE(after == written, std::string(row.ValueName) + " does not read back as written");
        } else if (unparsed) {
            FUZZ_REQUIRE(after.status == ERROR_FILE_NOT_FOUND,
                         std::string(row.ValueName) + " came from a file that could not be parsed");
        } else if (before[i].status == ERROR_SUCCESS) {
            FUZZ_REQUIRE(after == before[i], std::string(row.ValueName) + " changed by a write of another value");
        }
    }
    const std::vector<std::string> aside = standin::SetAsideRegistryStores();
    if (unparsed) {
        FUZZ_REQUIRE(aside.size() == 1 && aside[0] == file, "the bad file is kept aside whole");
    } else {
        FUZZ_REQUIRE(aside.empty(), "a parsed file was set aside");
    }
    RequireNothingLeft("after the registry's reads and write");
    return 0;
}
