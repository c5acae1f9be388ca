// The fader's preview typed into a real rich-text control.
#include <windows.h>
// after windows.h, whose types it uses
#include <richedit.h>

#include <gtest/gtest.h>

#include <string>

#include "announce/u_fader_win32.h"

namespace {

struct RichEdit : testing::Test {
    HMODULE library = nullptr;
    HWND control = nullptr;

    void SetUp() override {
        library = LoadLibraryA("riched20.dll");
        ASSERT_NE(library, nullptr);
        control = CreateWindowExA(0, RICHEDIT_CLASSA, "", WS_POPUP | ES_MULTILINE, 0, 0, 200, 50,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(control, nullptr);
    }
    void TearDown() override {
        if (control != nullptr) {
            DestroyWindow(control);
        }
        if (library != nullptr) {
            FreeLibrary(library);
        }
    }
    std::string Text() const {
        char buffer[256] = {};
        GetWindowTextA(control, buffer, sizeof(buffer));
        return buffer;
    }
    COLORREF ColorAt(int index) const {
        SendMessageA(control, EM_SETSEL, index, index + 1);
        CHARFORMATA format{};
        format.cbSize = sizeof(format);
        SendMessageA(control, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        return format.crTextColor;
    }
};

const TFadeColors kRedToBlue{0x000000FF, 0x00FF0000};

TEST_F(RichEdit, ReceivesEveryCharacterInItsGradientColour) {
    const std::string faded = FadeTextToControl("ab", kRedToBlue, 2, false, control);
    EXPECT_EQ(faded, "<font color=\"#FF0000\">a<font color=\"#80007F\">b");
    EXPECT_EQ(Text(), "ab");
    EXPECT_EQ(ColorAt(0), 0x000000FFu);
    EXPECT_EQ(ColorAt(1), 0x007F0080u);
}

TEST_F(RichEdit, GetsNothingForATextShorterThanTheCountOrWithoutAHandle) {
    FadeTextToControl("a", kRedToBlue, 2, false, control);
    EXPECT_EQ(FadeTextToControl("ab", kRedToBlue, 2, false, nullptr),
              "<font color=\"#FF0000\">a<font color=\"#80007F\">b");
    EXPECT_EQ(Text(), "");
}

}  // namespace
