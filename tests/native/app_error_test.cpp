// The application's error handler: silent aborts are dropped, other failures reach the display.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/app_error.h"
#include "common/errors.h"

namespace {

struct RecordingDisplay : testing::Test {
    std::vector<std::string> shown;
    void SetUp() override {
        SetErrorDisplay([this](const std::string& m) { shown.push_back(m); });
    }
    void TearDown() override { SetErrorDisplay(nullptr); }
};

TEST_F(RecordingDisplay, GuardedCallbackShowsTheFailureTextAndDropsSilentAborts) {
    GuardCallback([] { throw EBrenloError("Asynchroner Socket-Fehler 10054"); });
    GuardCallback([] { throw EAbort(); });
    GuardCallback([] { throw 42; });
    GuardCallback([] {});
    EXPECT_EQ(shown,
              (std::vector<std::string>{"Asynchroner Socket-Fehler 10054", "Unbekannter Fehler"}));
}

TEST_F(RecordingDisplay, AFailingDisplayDoesNotEscape) {
    SetErrorDisplay([](const std::string&) { throw std::runtime_error("display broke"); });
    EXPECT_NO_THROW(GuardCallback([] { throw EBrenloError("x"); }));
}

}  // namespace
