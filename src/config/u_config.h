// The registry persistence of the running settings record (common/plugin_settings.h).
#pragma once

#include <string>

#include "common/plugin_settings.h"

// Registry persistence under HKEY_CURRENT_USER "Software\BrenlosTools\BrenloPlug3", one subkey
// per group ("general", "aol" with "fs" for the port, "fader"), through the registry installed
// with SetSettingsRegistry (config/registry.h). "echohost" and "webhost" in "fs" are optional
// overrides made by hand: they are read after "fsport" and never written.
//
// Reading never reports anything: a value that is absent or of the wrong type ends its group
// silently, the fields from it on keep what they held. A failed write throws EBrenloError with
// the text "Fehler beim Setzen der Daten f\xFCr '<value name>'" and ends the whole save there.
inline constexpr const char* kProductKey = "Software\\BrenlosTools\\BrenloPlug3";

// True when the product key does not exist yet (it is not created by asking).
bool IsFirstStart();
void LoadSettings();  // the three group loads in order
void SaveSettings();  // the three group saves in order

void LoadGeneralSettings();
void LoadAolSettings();
void LoadFaderSettings();
void SaveGeneralSettings();
void SaveAolSettings();
void SaveFaderSettings();
