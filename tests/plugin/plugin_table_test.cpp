#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/standin/win32/registry.h"
#include "plugin/entry_points.h"
#include "plugin/version.h"

TEST(PluginTable, IsOneStaticTableWithTheListedStrings) {
    OutputPluginTable* table = GetOutputPluginTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(GetOutputPluginTable(), table);
    EXPECT_EQ(table->Flags, 0u);
    EXPECT_STREQ(table->DisplayName, "Brevlo(VFR)");
    EXPECT_STREQ(table->Information, "Brevlo(VFR) version " BREVLO_VERSION_TEXT);
    const char filter[] = "WMV File (*.wmv)\0*.wmv\0AllFile (*.*)\0*.*\0";  // and the final NUL
    EXPECT_EQ(std::memcmp(table->FileFilter, filter, sizeof filter), 0);
    EXPECT_EQ(table->InitEntry, nullptr);
    EXPECT_EQ(table->ExitEntry, nullptr);
    EXPECT_EQ(table->OutputEntry, &Output);
    EXPECT_EQ(table->ConfigEntry, &Config);
    EXPECT_EQ(table->ConfigGetEntry, &ConfigGet);
    EXPECT_EQ(table->ConfigSetEntry, &ConfigSet);
}

namespace {

std::string RegistryStore() {
    std::ifstream in(standin::RegistryFilePath(), std::ios::binary);
    if (!in) return "<no store>";
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace

TEST(ConfigEntries, AnswerTheFixedSizesAndTouchNothingOutsideTheRecord) {
    std::vector<unsigned char> buffer(4096, 0xAB);
    EXPECT_EQ(ConfigGet(nullptr, 104), 104);
    EXPECT_EQ(ConfigGet(nullptr, 0), 104);
    EXPECT_EQ(ConfigGet(buffer.data(), 103), 104);
    EXPECT_EQ(buffer, std::vector<unsigned char>(4096, 0xAB));  // too small: nothing written
    EXPECT_EQ(ConfigGet(buffer.data(), 4096), 104);
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin() + 104, buffer.end()), std::vector<unsigned char>(4096 - 104, 0xAB));
    std::vector<unsigned char> first(buffer.begin(), buffer.begin() + 104);
    std::fill(buffer.begin(), buffer.begin() + 104, 0xAB);
    EXPECT_EQ(ConfigGet(buffer.data(), -1), 104);  // 0xFFFFFFFF counts as large enough
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + 104), first);

    std::vector<unsigned char> blob(105, 0);
    const std::string store = RegistryStore();
    EXPECT_EQ(ConfigSet(blob.data(), 103), 0);
    EXPECT_EQ(ConfigSet(blob.data(), 105), 0);
    EXPECT_EQ(ConfigSet(blob.data(), 0), 0);
    EXPECT_EQ(ConfigSet(blob.data(), -1), 0);
    EXPECT_EQ(RegistryStore(), store);  // a wrong size stores nothing
    EXPECT_EQ(ConfigSet(blob.data(), 104), 104);
}
