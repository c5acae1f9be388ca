// The record the host reads: version, description and the three entries.
#include <gtest/gtest.h>

#include <cstring>

#include "plugin/u_brenloplug3.h"

TEST(PluginRecord, CarriesVersion16TheDescriptionAndTheHostEntries) {
    EXPECT_EQ(PluginRecord.version, 16);
    EXPECT_STREQ(PluginRecord.description, "BrenloPlug, Bringt Musik ins AOL");
    EXPECT_EQ(PluginRecord.init, &HostInit);
    EXPECT_EQ(PluginRecord.config, &HostConfig);
    EXPECT_EQ(PluginRecord.quit, &HostQuit);
    EXPECT_EQ(PluginRecord.hwndParent, nullptr);
    EXPECT_EQ(PluginRecord.hDllInstance, nullptr);
}
