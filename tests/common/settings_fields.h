// A settings record's fields by the offsets the registry table gives: every one is 32 bits. Unlike
// the pages' SettingsField, these read const records and copy, so any buffer may hold the record.
// Header-only, so that the fuzz targets can use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline uint32_t RecordField(const void* record, size_t offset) {
    uint32_t value;
    std::memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof value);
    return value;
}

inline void SetRecordField(void* record, size_t offset, uint32_t value) {
    std::memcpy(static_cast<unsigned char*>(record) + offset, &value, sizeof value);
}
