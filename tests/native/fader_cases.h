// Fader cases shared by the native suite and the Windows suite.
//
// The expected texts follow the fader's rules worked through in exact rational arithmetic,
// rounding every extended-precision operation to a 64-bit significand and the step to a double.
// Those marked `hostPrecisionMatters` come out differently when the divisions and products are
// rounded to 53 or 24 bits, as they are in a host that lowered the x87 precision control.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>

#include "announce/u_fader.h"

struct TFadeCase {
    const char* name;
    const char* text;
    TFadeColors colors;
    int count;
    bool wavy;
    bool hostPrecisionMatters;
    const char* expected;
};

inline void PrintTo(const TFadeCase& c, std::ostream* os) {
    *os << c.name;
}

inline const std::array kFadeCases = {
    TFadeCase{"TwoCharactersRedToBlue", "ab",
              TFadeColors{0x000000FF, 0x00FF0000, 0x00000000, 0x00000000, 0x00000000, 0x00000000,
                          0x00000000, 0x00000000, 0x00000000, 0x00000000},
              2, false, false, "<font color=\"#FF0000\">a<font color=\"#80007F\">b"},
    TFadeCase{"TwoCharactersRedToBlueWavy", "ab",
              TFadeColors{0x000000FF, 0x00FF0000, 0x00000000, 0x00000000, 0x00000000, 0x00000000,
                          0x00000000, 0x00000000, 0x00000000, 0x00000000},
              2, true, false, "<sub><font color=\"#FF0000\">a</sub><font color=\"#80007F\">b"},
    TFadeCase{
        "TenColoursOverTenCharacters", "0123456789",
        TFadeColors{0x000000FF, static_cast<std::int32_t>(0xFF0080FFu), 0x0000FFFF, 0x0000FF00,
                    0x00FFFF00, 0x00FF0000, 0x00FF0080, 0x00FF00FF, 0x0032C864, 0x003C64C8},
        10, false, true,
        "<font color=\"#FF0000\">0<font color=\"#FF8000\">1<font color=\"#FFFF00\">2<font "
        "color=\"#00FF00\">3<font color=\"#00FFFF\">4<font color=\"#0000FF\">5<font "
        "color=\"#8000FF\">6<font color=\"#FF00FF\">7<font color=\"#64C832\">8<font "
        "color=\"#BD6F3A\">9"},
    TFadeCase{"FourColoursOverFourCharacters", "abcd",
              TFadeColors{0x000000FF, 0x0000FF00, 0x00FF0000, 0x00FFFFFF, 0x00000000, 0x00000000,
                          0x00000000, 0x00000000, 0x00000000, 0x00000000},
              4, false, true,
              "<font color=\"#FF0000\">a<font color=\"#00FF00\">b<font color=\"#0000FF\">c<font "
              "color=\"#FFFFFF\">d"},
    TFadeCase{
        "TextShorterThanTheCount", "hi",
        TFadeColors{0x000000FF, static_cast<std::int32_t>(0xFF0080FFu), 0x0000FFFF, 0x0000FF00,
                    0x00FFFF00, 0x00FF0000, 0x00FF0080, 0x00FF00FF, 0x0032C864, 0x003C64C8},
        5, true, false, "<sub><font color=\"#FF0000\">h</sub><font color=\"#FF8000\">i"},
    TFadeCase{
        "GradientWithBlanksWavy", "Hi there, you",
        TFadeColors{0x000000FF, static_cast<std::int32_t>(0xFF0080FFu), 0x0000FFFF, 0x0000FF00,
                    0x00FFFF00, 0x00FF0000, 0x00FF0080, 0x00FF00FF, 0x0032C864, 0x003C64C8},
        3, true, false,
        "<sub><font color=\"#FF0000\">H</sub><font color=\"#FF1300\">i<sup><font "
        "color=\"#FF2700\"> </sup><font color=\"#FF3B00\">t<sub><font "
        "color=\"#FF4E00\">h</sub><font color=\"#FF6200\">e<sup><font "
        "color=\"#FF8000\">r</sup><font color=\"#FF9300\">e<sub><font "
        "color=\"#FFA700\">,</sub><font color=\"#FFBA00\"> <sup><font "
        "color=\"#FFCE00\">y</sup><font color=\"#FFE100\">o<sub><font color=\"#FFF500\">u</sub>"},
    TFadeCase{
        "CountOneKeepsColourOne", "abc",
        TFadeColors{0x000000FF, static_cast<std::int32_t>(0xFF0080FFu), 0x0000FFFF, 0x0000FF00,
                    0x00FFFF00, 0x00FF0000, 0x00FF0080, 0x00FF00FF, 0x0032C864, 0x003C64C8},
        1, false, false,
        "<font color=\"#FF0000\">a<font color=\"#FF0000\">b<font color=\"#FF0000\">c"},
    TFadeCase{
        "CountAboveTenActsAsTen", "0123456789",
        TFadeColors{0x000000FF, static_cast<std::int32_t>(0xFF0080FFu), 0x0000FFFF, 0x0000FF00,
                    0x00FFFF00, 0x00FF0000, 0x00FF0080, 0x00FF00FF, 0x0032C864, 0x003C64C8},
        11, false, true,
        "<font color=\"#FF0000\">0<font color=\"#FF8000\">1<font color=\"#FFFF00\">2<font "
        "color=\"#00FF00\">3<font color=\"#00FFFF\">4<font color=\"#0000FF\">5<font "
        "color=\"#8000FF\">6<font color=\"#FF00FF\">7<font color=\"#64C832\">8<font "
        "color=\"#BD6F3A\">9"},
    TFadeCase{
        "CountBelowOneActsAsOne", "xy",
        TFadeColors{0x000000FF, static_cast<std::int32_t>(0xFF0080FFu), 0x0000FFFF, 0x0000FF00,
                    0x00FFFF00, 0x00FF0000, 0x00FF0080, 0x00FF00FF, 0x0032C864, 0x003C64C8},
        -3, true, false, "<sub><font color=\"#FF0000\">x</sub><font color=\"#FF0000\">y"},
    TFadeCase{
        "ThirtyOneCharactersOverTenColoursWavy", "Song Title - Artist Name (Live)",
        TFadeColors{0x000000FF, static_cast<std::int32_t>(0xFF0080FFu), 0x0000FFFF, 0x0000FF00,
                    0x00FFFF00, 0x00FF0000, 0x00FF0080, 0x00FF00FF, 0x0032C864, 0x003C64C8},
        10, true, true,
        "<sub><font color=\"#FF0000\">S</sub><font color=\"#FF2500\">o<sup><font "
        "color=\"#FF4A00\">n</sup><font color=\"#FF8000\">g<sub><font color=\"#FFA400\"> "
        "</sub><font color=\"#FFC900\">T<sup><font color=\"#FFFF00\">i</sup><font "
        "color=\"#B5FF00\">t<sub><font color=\"#6BFF00\">l</sub><font "
        "color=\"#21FF00\">e<sup><font color=\"#00FF00\"> </sup><font "
        "color=\"#00FF4A\">-<sub><font color=\"#00FF94\"> </sub><font "
        "color=\"#00FFFF\">A<sup><font color=\"#00B5FF\">r</sup><font "
        "color=\"#006BFF\">t<sub><font color=\"#0021FF\">i</sub><font "
        "color=\"#0000FF\">s<sup><font color=\"#2500FF\">t</sup><font color=\"#4A00FF\"> "
        "<sub><font color=\"#8000FF\">N</sub><font color=\"#A400FF\">a<sup><font "
        "color=\"#C900FF\">m</sup><font color=\"#EE00FF\">e<sub><font color=\"#FF00FF\"> "
        "</sub><font color=\"#D33AC4\">(<sup><font color=\"#A67488\">L</sup><font "
        "color=\"#64C832\">i<sub><font color=\"#81AB34\">v</sub><font "
        "color=\"#9E8E37\">e<sup><font color=\"#BB713A\">)</sup>"},
};
