// The address lookup over a scripted HTTP client and clock: what is asked, in which order, within
// which time budget, and which token comes out for the replies the address script can give.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "fileshare/DecodeIP.h"
#include "fileshare/EncodeIP.h"
#include "fileshare/public_address.h"
#include "plugin/addressed_file_server.h"

namespace {

using std::chrono::milliseconds;

struct FakeClock : IClock {
    milliseconds now{5000};
    milliseconds Now() override { return now; }
};

// Answers from a script; each call takes the time it is told to and records what was asked.
struct ScriptedHttp : IHttpClient {
    explicit ScriptedHttp(FakeClock& clock) : clock(clock) {}

    bool Probe(const std::string& host, int port, milliseconds timeout) override {
        calls.push_back("probe " + host + ":" + std::to_string(port));
        probeTimeout = timeout;
        clock.now += probeTakes;
        return probeConnects;
    }
    std::optional<std::string> Get(const std::string& host, int port, const std::string& path,
                                   milliseconds timeout) override {
        calls.push_back("get " + host + ":" + std::to_string(port) + path);
        getTimeout = timeout;
        clock.now += getTakes;
        return reply;
    }

    FakeClock& clock;
    bool probeConnects = true;
    milliseconds probeTakes{30};
    std::optional<std::string> reply = "84.132.7.201";
    milliseconds getTakes{40};
    std::vector<std::string> calls;
    milliseconds probeTimeout{-1};
    milliseconds getTimeout{-1};
};

struct Listener : IListenerState {
    bool listening = true;
    int port = 1000;
    bool Listening() const override { return listening; }
    int ListenerPort() const override { return port; }
};

class AddressLookup : public ::testing::Test {
  protected:
    FakeClock clock;
    ScriptedHttp http{clock};
    Listener listener;
    TAddressHosts hosts;
    TAddressLookup lookup{http, clock};
};

TEST_F(AddressLookup, ProbesTheEchoHostThenGetsTheScriptFromTheWebServer) {
    EXPECT_EQ(lookup.GetPublicAddress(hosts), "84.132.7.201");
    EXPECT_EQ(http.calls,
              (std::vector<std::string>{"probe checkip.brenlostools.de:80",
                                        "get www.brenlostools.de:80/BrenloPlug/checkip.php"}));
}

TEST_F(AddressLookup, HostsMayNameAPortAndSettingsOverrideTheDefaults) {
    TPluginSettings::Fs fs;
    fs.webhost = "127.0.0.1:8080";
    hosts = AddressHosts(fs);
    EXPECT_EQ(hosts.EchoHost, kDefaultEchoHost);
    lookup.GetPublicAddress(hosts);
    EXPECT_EQ(http.calls.back(), "get 127.0.0.1:8080/BrenloPlug/checkip.php");

    EXPECT_EQ(SplitHostPort("example.org"), (THostPort{"example.org", 80}));
    EXPECT_EQ(SplitHostPort("localhost:45001"), (THostPort{"localhost", 45001}));
    EXPECT_EQ(SplitHostPort("localhost:0"), (THostPort{"localhost", 80}));
    EXPECT_EQ(SplitHostPort("localhost:99999"), (THostPort{"localhost", 80}));
}

TEST_F(AddressLookup, AFailedProbeEndsTheLookupWithoutAGet) {
    http.probeConnects = false;
    EXPECT_EQ(lookup.GetPublicAddress(hosts), "");
    EXPECT_EQ(http.calls.size(), 1u);
}

TEST_F(AddressLookup, ProbeAndGetShareTheTwoSecondBudget) {
    // The probe gets up to half of the 2 s the README promises; what it took is the GET's less.
    std::vector<milliseconds> getTimeouts;
    for (const milliseconds took : {milliseconds(300), milliseconds(700)}) {
        http.probeTakes = took;
        lookup.GetPublicAddress(hosts);
        EXPECT_LE(http.probeTimeout, milliseconds(1000));
        EXPECT_LE(took + http.getTimeout, milliseconds(2000));
        getTimeouts.push_back(http.getTimeout);
    }
    EXPECT_EQ(getTimeouts[0] - getTimeouts[1], milliseconds(400));

    // A probe that used up the whole 2 s leaves no time for the GET.
    http.calls.clear();
    http.probeTakes = milliseconds(2000);
    EXPECT_EQ(lookup.GetPublicAddress(hosts), "");
    EXPECT_EQ(http.calls.size(), 1u);
}

TEST_F(AddressLookup, ThePluginsLookupHoldsAtMostTwoSecondsAndAShorterBoundScalesBothCalls) {
    EXPECT_EQ(lookup.HoldBound(), milliseconds(2000));
    http.probeTakes = milliseconds(0);
    lookup.GetPublicAddress(hosts);
    EXPECT_EQ(http.probeTimeout, milliseconds(950));
    EXPECT_EQ(http.getTimeout, milliseconds(1900));

    TAddressLookup shorter{http, clock, milliseconds(400)};
    http.probeTakes = milliseconds(100);
    shorter.GetPublicAddress(hosts);
    EXPECT_EQ(http.probeTimeout, milliseconds(190));
    EXPECT_EQ(http.getTimeout, milliseconds(380 - 100));
}

TEST_F(AddressLookup, ListenerNotListeningGivesAnEmptyTokenWithoutALookup) {
    listener.listening = false;
    EXPECT_EQ(lookup.GetEncodedAddress('1', listener, hosts), "");
    EXPECT_TRUE(http.calls.empty());
}

TEST_F(AddressLookup, TokenEncodesKindOneAddressPortAndThreeColons) {
    http.reply = "1.2.3.4";
    // "11" + "1.2.3.4" + ":" + "1000" + ":::" has 17 characters: padded with one ":".
    const std::string token = lookup.GetEncodedAddress('1', listener, hosts);
    EXPECT_EQ(token, EncodeAddress("111.2.3.4:1000:::"));
    EXPECT_EQ(token.size(), 18u);
    EXPECT_EQ(DecodeAddress(token), "111.2.3.4:1000::::");

    listener.port = 45123;
    http.reply = "84.132.7.201";
    EXPECT_EQ(ParseDownloadLink(lookup.GetEncodedAddress('1', listener, hosts)),
              (TLinkAddress{"84.132.7.201", 45123}));
}

// Each reply of the address script and the address taken from it ("" for none).
struct ReplyCase {
    std::optional<std::string> reply;
    std::string address;
};

TEST_F(AddressLookup, OnlyADottedAddressBetweenBlanksAndLineEndsIsTaken) {
    const std::vector<ReplyCase> cases = {
        {"84.132.7.201", "84.132.7.201"},
        {" \t84.132.7.201\r\n", "84.132.7.201"},
        {"0.0.0.0", "0.0.0.0"},
        {"255.255.255.255", "255.255.255.255"},
        {std::nullopt, ""},
        {"", ""},
        {" \r\n", ""},
        {"error", ""},
        {"1234:5678\r\n", ""},
        {"<html><body>Deine IP: 84.132.7.201.</body></html>\n", ""},
        {"<html><head><title>IP 1.0</title></head><body>84.132.7.201</body></html>", ""},
        {"84.132.7.201\r\n84.132.7.202", ""},
        {"84.132.7", ""},
        {"84.132.7.201.5", ""},
        {"84.132.7.", ""},
        {".84.132.7", ""},
        {"84..7.201", ""},
        {"84.132.7.256", ""},
        {"84.132.7.2011", ""},
        {"84.132.07.201", ""},
        {"84.132.-7.201", ""},
        {"84.132.+7.201", ""},
        {"84.132. 7.201", ""},
        {"84.132.7.201:80", ""},
        {"84.132.7.201x", ""},
    };
    for (const ReplyCase& c : cases) {
        const std::string shown = c.reply.value_or("(none)");
        http.reply = c.reply;
        EXPECT_EQ(lookup.GetPublicAddress(hosts), c.address) << shown;
        const std::string token = lookup.GetEncodedAddress('1', listener, hosts);
        if (c.address.empty()) {
            EXPECT_EQ(token, "") << shown;
        } else {
            // The token peers have always decoded: that of the bare address.
            EXPECT_EQ(token, EncodeAddress("11" + c.address + ":1000:::")) << shown;
            EXPECT_EQ(ParseDownloadLink(token), (TLinkAddress{c.address, 1000})) << shown;
        }
    }
}

TEST_F(AddressLookup, EveryCallAsksAgainSoAChangedAddressShowsAtOnce) {
    http.reply = "1.2.3.4";
    const std::string first = lookup.GetEncodedAddress('1', listener, hosts);
    http.reply = "5.6.7.8";
    const std::string second = lookup.GetEncodedAddress('1', listener, hosts);
    EXPECT_NE(first, second);
    EXPECT_EQ(http.calls.size(), 4u);
    EXPECT_EQ(ParseDownloadLink(second)->Address, "5.6.7.8");
}

// The composer's seam: window calls pass through, the token comes from the lookup with the hosts
// the settings name at the moment of the call.
TEST_F(AddressLookup, TheComposersSeamAsksTheListenerAndReadsTheHostsAtEachCall) {
    struct Window : IFileServerLink {
        std::vector<std::string> calls;
        void SetTrayIcon(bool visible) override {
            calls.push_back(visible ? "tray on" : "tray off");
        }
        void SetServedFile(const std::string& f) override { calls.push_back("file " + f); }
        void SetServerPort(int port) override { calls.push_back("port " + std::to_string(port)); }
        void RejectServerPort(const std::string& text) override {
            calls.push_back("reject " + text);
        }
        std::string GetEncodedAddress(char) override { return "window's own"; }
    } window;
    TPluginSettings settings;
    TAddressedFileServer link(lookup, settings);

    EXPECT_EQ(link.GetEncodedAddress('1'), "") << "no window, no listener: no lookup";
    link.SetTrayIcon(true);
    EXPECT_TRUE(http.calls.empty());

    link.Attach(&window, &listener);
    link.SetTrayIcon(true);
    link.SetServedFile("C:\\song.mp3");
    link.SetServerPort(1234);
    link.RejectServerPort("12ab");
    EXPECT_EQ(window.calls, (std::vector<std::string>{"tray on", "file C:\\song.mp3", "port 1234",
                                                      "reject 12ab"}));

    settings.fs.echohost = "127.0.0.1:4000";
    EXPECT_EQ(link.GetEncodedAddress('1'), EncodeAddress("1184.132.7.201:1000:::"));
    EXPECT_EQ(http.calls.front(), "probe 127.0.0.1:4000");

    listener.listening = false;
    http.calls.clear();
    EXPECT_EQ(link.GetEncodedAddress('1'), "");
    EXPECT_TRUE(http.calls.empty());
}

}  // namespace
