// The running settings record.
#include "common/plugin_settings.h"

TPluginSettings PluginSettings;
