#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/win32.h"

TEST(MessageBox, RecordsTheBoxAndShowsItAsUtf8) {
    HWND owner = reinterpret_cast<HWND>(0x1234);
    testing::internal::CaptureStderr();
    SetLastError(55);
    EXPECT_EQ(MessageBoxA(owner, "\x82\xA0\x82\xA2", "Cap\x83\x65", MB_ICONERROR), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "second", nullptr, MB_OK), IDOK);
    std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_EQ(GetLastError(), 55u);
    EXPECT_NE(shown.find("[Cap\u30C6] \u3042\u3044"), std::string::npos) << shown;

    auto boxes = standin::ShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].owner, owner);
    EXPECT_EQ(boxes[0].text, "\x82\xA0\x82\xA2");
    EXPECT_EQ(boxes[0].caption, "Cap\x83\x65");
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(boxes[1].caption, "Error");  // what Windows shows without a caption
    EXPECT_EQ(standin::Utf8FromCodePage932("a\x82"), "a\\x82");
}

TEST(DebugOutput, IsRecordedAndPrintedOnlyWhenAsked) {
    unsetenv("BREVLO_DEBUG_OUTPUT");
    testing::internal::CaptureStderr();
    OutputDebugStringW(u"TamselVideo1");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    setenv("BREVLO_DEBUG_OUTPUT", "1", 1);
    testing::internal::CaptureStderr();
    OutputDebugStringW(u"\u3042");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("\u3042"), std::string::npos);
    unsetenv("BREVLO_DEBUG_OUTPUT");
    auto lines = standin::DebugOutput();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], u"TamselVideo1");
}
