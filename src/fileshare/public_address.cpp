// The public address of this computer for the download link.
#include "fileshare/public_address.h"

#include "fileshare/EncodeIP.h"

namespace {

constexpr long kHighestPort = 65535;

std::optional<int> PortText(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const long value = std::stol(text);
    if (value < 1 || value > kHighestPort) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

// One of the four numbers of a dotted address: 1 to 3 decimal digits, 0 to 255, no leading
// zero (which some readers take for octal).
bool AddressNumber(const std::string& text) {
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos ||
        (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    return std::stoi(text) <= 255;
}

}  // namespace

std::string DottedAddress(const std::string& body) {
    constexpr char kBlanks[] = " \t\r\n";
    const std::size_t first = body.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        return {};
    }
    std::string address = body.substr(first, body.find_last_not_of(kBlanks) - first + 1);
    std::size_t start = 0;
    for (int number = 0; number < 4; ++number) {
        const std::size_t dot = address.find('.', start);
        const bool last = number == 3;
        if (last != (dot == std::string::npos) ||
            !AddressNumber(address.substr(start, last ? std::string::npos : dot - start))) {
            return {};
        }
        start = dot + 1;
    }
    return address;
}

THostPort SplitHostPort(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        if (const std::optional<int> port = PortText(text.substr(colon + 1))) {
            return {text.substr(0, colon), *port};
        }
        return {text.substr(0, colon), kHttpPort};
    }
    return {text, kHttpPort};
}

TAddressHosts AddressHosts(const TPluginSettings::Fs& settings) {
    TAddressHosts hosts;
    if (!settings.echohost.empty()) {
        hosts.EchoHost = settings.echohost;
    }
    if (!settings.webhost.empty()) {
        hosts.WebHost = settings.webhost;
    }
    return hosts;
}

std::string TAddressLookup::GetPublicAddress(const TAddressHosts& hosts) {
    const std::chrono::milliseconds start = clock_.Now();
    const THostPort echo = SplitHostPort(hosts.EchoHost);
    if (echo.Host.empty() || !http_.Probe(echo.Host, echo.Port, ProbeTimeout(holdBound_))) {
        return {};
    }
    const std::chrono::milliseconds left = LookupBudget(holdBound_) - (clock_.Now() - start);
    const THostPort web = SplitHostPort(hosts.WebHost);
    if (left <= std::chrono::milliseconds::zero() || web.Host.empty()) {
        return {};
    }
    return DottedAddress(http_.Get(web.Host, web.Port, kCheckIpPath, left).value_or(std::string()));
}

std::string TAddressLookup::GetEncodedAddress(char kind, const IListenerState& listener,
                                              const TAddressHosts& hosts) {
    if (!listener.Listening()) {
        return {};
    }
    const std::string address = GetPublicAddress(hosts);
    if (address.empty()) {
        return {};
    }
    std::string plain(1, kind);
    plain += '1';
    plain += address;
    plain += ':';
    plain += std::to_string(listener.ListenerPort());
    return EncodeAddress(plain + ":::");
}
