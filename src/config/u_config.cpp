// The settings record and its registry persistence.
#include "config/u_config.h"

TPluginSettings PluginSettings;
