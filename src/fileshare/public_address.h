// The public address of this computer for the download link: one reachability probe of the
// address-echo service's host and one HTTP GET of the address script on the product's web server,
// bounded in time because it runs on the player's thread at every announced song change.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "common/clock.h"
#include "common/plugin_settings.h"

// The address script's path on the product's web server.
inline constexpr char kCheckIpPath[] = "/BrenloPlug/checkip.php";
// Host names used when the registry names none ("fs" values "echohost" and "webhost").
inline constexpr char kDefaultEchoHost[] = "checkip.brenlostools.de";
inline constexpr char kDefaultWebHost[] = "www.brenlostools.de";
inline constexpr int kHttpPort = 80;

// The longest one lookup may hold its caller, probe and GET together; the calls share a budget
// a little below it, the rest is left for starting and ending them. The probe gets up to half.
inline constexpr std::chrono::milliseconds kHoldBound{2000};
constexpr std::chrono::milliseconds LookupBudget(std::chrono::milliseconds holdBound) {
    return holdBound * 19 / 20;
}
constexpr std::chrono::milliseconds ProbeTimeout(std::chrono::milliseconds holdBound) {
    return LookupBudget(holdBound) / 2;
}

// The HTTP client of the lookup. Each call returns within its time-out, whatever the network
// or the other side does.
class IHttpClient {
  public:
    virtual ~IHttpClient() = default;
    // Opens a TCP connection to host:port and closes it again; true when it was made in time.
    virtual bool Probe(const std::string& host, int port, std::chrono::milliseconds timeout) = 0;
    // GET http://host:port + path. The body, unchanged, when the server answered with status
    // 200 and the whole body within the time-out; nothing otherwise (no connection, an error
    // status, a redirect, which is not followed, a broken or late reply).
    virtual std::optional<std::string> Get(const std::string& host, int port,
                                           const std::string& path,
                                           std::chrono::milliseconds timeout) = 0;
};

// The file server's listener as the lookup sees it.
class IListenerState {
  public:
    virtual ~IListenerState() = default;
    virtual bool Listening() const = 0;
    virtual int ListenerPort() const = 0;
};

// The reply of the address script as an address: the body without the blanks and line ends
// around it, when that is a dotted IPv4 address (four decimal numbers 0 to 255); empty for
// anything else (an HTML page of a captive portal or a proxy, an error text).
std::string DottedAddress(const std::string& body);

// A host name with an optional ":port" (a hand-made registry value may name a test server).
struct THostPort {
    std::string Host;
    int Port = kHttpPort;
    bool operator==(const THostPort&) const = default;
};

// Splits "host" or "host:port"; a missing or invalid port gives port 80.
THostPort SplitHostPort(const std::string& text);

struct TAddressHosts {
    std::string EchoHost = kDefaultEchoHost;
    std::string WebHost = kDefaultWebHost;
};

// The hosts named by the settings, the defaults where a value is empty.
TAddressHosts AddressHosts(const TPluginSettings::Fs& settings);

class TAddressLookup {
  public:
    // `holdBound` is the longest one lookup may hold its caller: the plug-in's is kHoldBound.
    TAddressLookup(IHttpClient& http, IClock& clock,
                   std::chrono::milliseconds holdBound = kHoldBound)
        : http_(http), clock_(clock), holdBound_(holdBound) {}

    std::chrono::milliseconds HoldBound() const { return holdBound_; }

    // The public address the address script returns (DottedAddress of its reply), or empty: when
    // the reply is no address, the probe fails, the GET fails, or the time budget is spent.
    // Every call asks again; nothing is cached.
    std::string GetPublicAddress(const TAddressHosts& hosts);

    // The link token for `kind`: empty without a lookup when the listener is not listening, and
    // empty when no address came back; otherwise the encoding of
    // kind + "1" + address + ":" + port + ":::".
    std::string GetEncodedAddress(char kind, const IListenerState& listener,
                                  const TAddressHosts& hosts);

  private:
    IHttpClient& http_;
    IClock& clock_;
    std::chrono::milliseconds holdBound_;
};
