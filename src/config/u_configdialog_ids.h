// Resource identifiers of the configuration dialog, named after its controls.
//
// The resource compiler sees them as macros; C++ sees the same numbers as constants in the
// namespace cfgid, so that control names do not turn into macros in code that also uses the
// language texts' fields of the same names. Each page has its own block of numbers; the dialog
// templates are numbered 53xx so that they cannot collide with other dialogs of the module. No
// control uses 1000 or 1001: a combo box numbers its own list and edit field so.
#pragma once

#ifdef RC_INVOKED

#define IDD_MAINFORM 5300
#define tsh_general 5310
#define tsh_aol 5320
#define tsh_fader 5330
#define tsh_filesharing 5340

#define PageControl1 1010
#define edt_preview 1011
#define btn_applyconfig 1012
#define btn_close 1013

#define chk_enablechat 1101
#define chk_enablefade 1102
#define grp_titleformat 1103
#define edt_presongtitle 1104
#define lbl_songtitle 1105
#define edt_postsongtitle 1106
#define chk_preposttitlefade 1107
#define chk_extsonginfo 1108
#define chk_enablefontformat 1109
#define lbl_fontface 1110
#define edt_fontface 1111
#define chk_bold 1112
#define chk_underline 1113
#define chk_italic 1114
#define chk_strikeout 1115
#define btn_choosefont 1116
#define lbl_copyright 1117
#define lbl_updatesnote 1118
#define lbl_germanweb 1119
#define lbl_webenglish 1120

#define chk_enableaol 1201
#define chk_aoladvertising 1202
#define chk_aolwavyscroll 1203
#define chk_aolfs 1204
#define lbl_fsport 1205
#define edt_fsport 1206

#define lbl_colorbar 1301
#define bar_fadecolors 1302
#define pnl_fadecolor1 1311
#define pnl_fadecolor2 1312
#define pnl_fadecolor3 1313
#define pnl_fadecolor4 1314
#define pnl_fadecolor5 1315
#define pnl_fadecolor6 1316
#define pnl_fadecolor7 1317
#define pnl_fadecolor8 1318
#define pnl_fadecolor9 1319
#define pnl_fadecolor10 1320

#else

namespace cfgid {

inline constexpr int IDD_MAINFORM = 5300;
inline constexpr int tsh_general = 5310;
inline constexpr int tsh_aol = 5320;
inline constexpr int tsh_fader = 5330;
inline constexpr int tsh_filesharing = 5340;

inline constexpr int PageControl1 = 1010;
inline constexpr int edt_preview = 1011;
inline constexpr int btn_applyconfig = 1012;
inline constexpr int btn_close = 1013;

inline constexpr int chk_enablechat = 1101;
inline constexpr int chk_enablefade = 1102;
inline constexpr int grp_titleformat = 1103;
inline constexpr int edt_presongtitle = 1104;
inline constexpr int lbl_songtitle = 1105;
inline constexpr int edt_postsongtitle = 1106;
inline constexpr int chk_preposttitlefade = 1107;
inline constexpr int chk_extsonginfo = 1108;
inline constexpr int chk_enablefontformat = 1109;
inline constexpr int lbl_fontface = 1110;
inline constexpr int edt_fontface = 1111;
inline constexpr int chk_bold = 1112;
inline constexpr int chk_underline = 1113;
inline constexpr int chk_italic = 1114;
inline constexpr int chk_strikeout = 1115;
inline constexpr int btn_choosefont = 1116;
inline constexpr int lbl_copyright = 1117;
inline constexpr int lbl_updatesnote = 1118;
inline constexpr int lbl_germanweb = 1119;
inline constexpr int lbl_webenglish = 1120;

inline constexpr int chk_enableaol = 1201;
inline constexpr int chk_aoladvertising = 1202;
inline constexpr int chk_aolwavyscroll = 1203;
inline constexpr int chk_aolfs = 1204;
inline constexpr int lbl_fsport = 1205;
inline constexpr int edt_fsport = 1206;

inline constexpr int lbl_colorbar = 1301;
inline constexpr int bar_fadecolors = 1302;
// pnl_fadecolor1 to pnl_fadecolor10 follow one another.
inline constexpr int pnl_fadecolor1 = 1311;
inline constexpr int pnl_fadecolor10 = 1320;
inline constexpr int pnl_fadecolor(int n) {
    return pnl_fadecolor1 + n - 1;
}

}  // namespace cfgid

#endif
