// The configuration dialog's pages as plain data and the preview drawing.
#include "config/u_configdialog_pages.h"

#include <algorithm>

TGeneralPage FillGeneralPage(const TPluginSettings::General& g) {
    TGeneralPage p;
    p.chk_enablechat = g.enablechat;
    p.chk_enablefade = g.enablefade;
    p.edt_presongtitle = g.presongtitle;
    p.edt_postsongtitle = g.postsongtitle;
    p.chk_preposttitlefade = g.preposttitlefade;
    p.chk_extsonginfo = g.extsonginfo;
    p.chk_enablefontformat = g.enablefontformat;
    p.edt_fontface = g.fontface;
    p.chk_bold = g.bold;
    p.chk_italic = g.italic;
    p.chk_underline = g.underline;
    p.chk_strikeout = g.strikeout;
    return p;
}

TAolPage FillAolPage(const TPluginSettings::Aol& a) {
    TAolPage p;
    p.chk_enableaol = a.enableaol;
    p.chk_aoladvertising = a.aoladvertising;
    p.chk_aolwavyscroll = a.aolwavyscroll;
    p.chk_aolfs = a.aolfs;
    p.edt_fsport = a.fsport;
    return p;
}

TFaderPage FillFaderPage(const TPluginSettings::Fader& f) {
    TFaderPage p;
    p.bar_fadecolors = std::clamp(f.fadecolors, TFaderPage::kMinColors, TFaderPage::kMaxColors);
    return p;
}

void StoreGeneralPage(const TGeneralPage& p, TPluginSettings::General& g) {
    g.enablechat = p.chk_enablechat;
    g.enablefade = p.chk_enablefade;
    g.presongtitle = p.edt_presongtitle;
    g.postsongtitle = p.edt_postsongtitle;
    g.preposttitlefade = p.chk_preposttitlefade;
    g.extsonginfo = p.chk_extsonginfo;
    g.enablefontformat = p.chk_enablefontformat;
    g.fontface = p.edt_fontface;
    g.bold = p.chk_bold;
    g.italic = p.chk_italic;
    g.underline = p.chk_underline;
    g.strikeout = p.chk_strikeout;
}

void StoreAolPage(const TAolPage& p, TPluginSettings::Aol& a) {
    a.enableaol = p.chk_enableaol;
    a.aoladvertising = p.chk_aoladvertising;
    a.aolwavyscroll = p.chk_aolwavyscroll;
    a.aolfs = p.chk_aolfs;
    a.fsport = p.edt_fsport;
}

void StoreFaderPage(const TFaderPage& p, TPluginSettings::Fader& f) {
    f.fadecolors = p.bar_fadecolors;
}

bool ColorPanelVisible(int panel, int position) {
    return panel <= position;
}
