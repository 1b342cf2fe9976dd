// Settings put in the store before a run, as the sheet would leave them.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "settings/encoder_settings.h"
#include "settings/settings_registry.h"

// Stores the defaults with `change` made.
inline void StoreSettings(const std::function<void(EncoderSettings&)>& change) {
    EncoderSettings s;
    std::memset(&s, 0, sizeof s);
    ASSERT_EQ(LoadSettings(&s), S_OK);
    change(s);
    ASSERT_TRUE(WriteSettingsToRegistry(&s));
}
