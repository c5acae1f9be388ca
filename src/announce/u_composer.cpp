// The announcement composer: turns one song change into the chat line handed to the chat driver.
#include "announce/u_composer.h"

#include <cstdint>
#include <exception>
#include <string>

#include "announce/u_fader.h"
#include "common/errors.h"
#include "fileshare/EncodeIP.h"

namespace {

constexpr char kAddressKind = '1';
constexpr long long kLowestPort = 1;
constexpr long long kHighestPort = 65535;

// Runs one file server call; whatever escapes it other than our own failures becomes one.
template <typename Call>
auto FileServerCall(const char* what, Call call) -> decltype(call()) {
    try {
        return call();
    } catch (const EBrenloError&) {
        throw;
    } catch (const EAbort&) {
        throw;
    } catch (const std::exception& e) {
        throw EBrenloError(std::string("Dateiserver: Fehler ") + what + ": " + e.what());
    } catch (...) {
        throw EBrenloError(std::string("Dateiserver: Fehler ") + what + ".");
    }
}

}  // namespace

std::optional<int> ParsePort(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    long long value = 0;
    for (; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch < '0' || ch > '9') {
            return std::nullopt;
        }
        value = value * 10 + (ch - '0');
        if (value > kHighestPort) {
            return std::nullopt;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value < kLowestPort) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

std::string ExtendedSongInfo(std::int32_t lengthSeconds, std::int32_t bitrate) {
    // The watcher only reports songs of known, positive length; anything else shows as 0:00.
    const std::int32_t length = lengthSeconds > 0 ? lengthSeconds : 0;
    const std::string seconds = std::to_string(length % 60 + 100);
    return " [ " + std::to_string(length / 60) + ":" + seconds.substr(seconds.size() - 2) +
           " min - " + std::to_string(bitrate) + " Kb/s ]";
}

std::optional<TAnnouncement> ComposeAnnouncement(const TSongInfo& song,
                                                 const TPluginSettings& settings,
                                                 IFileServerLink& fileServer) {
    const auto& general = settings.general;
    const auto& aol = settings.aol;
    if (!general.enablechat) {
        return std::nullopt;
    }

    std::string title = song.Title;
    if (general.extsonginfo) {
        title += ExtendedSongInfo(song.Length, song.Bitrate);
    }

    TAnnouncement announcement;
    TAolMessage& message = announcement.Message;
    if (general.preposttitlefade) {
        message.Text = general.presongtitle + title + general.postsongtitle;
    } else {
        message.Text = title;
        message.PreText = general.presongtitle;
        message.PostText = general.postsongtitle;
    }

    if (general.enablefontformat) {
        message.FontFormat = true;
        message.FontFace = general.fontface;
        message.Bold = general.bold;
        message.Italic = general.italic;
        message.Underline = general.underline;
        message.StrikeOut = general.strikeout;
    }

    if (general.enablefade) {
        message.Text = FadeText(message.Text, settings.fader.fadecolor, settings.fader.fadecolors,
                                aol.aolwavyscroll, nullptr);
    }

    message.Advertising = aol.aoladvertising;
    message.AdvertLine = kAdvertLine;

    FileServerCall("beim Anzeigen des Tray-Symbols", [&] { fileServer.SetTrayIcon(aol.aolfs); });
    if (aol.aolfs) {
        FileServerCall("beim Bereitstellen der Datei",
                       [&] { fileServer.SetServedFile(song.FileName); });
        const std::optional<int> port = ParsePort(aol.fsport);
        if (port) {
            FileServerCall("beim Wechseln des Ports", [&] { fileServer.SetServerPort(*port); });
        } else {
            FileServerCall("beim Wechseln des Ports",
                           [&] { fileServer.RejectServerPort(aol.fsport); });
        }
        announcement.Link = true;
        announcement.Token = FileServerCall("beim Ermitteln der Adresse", [&] {
            return fileServer.EncodedAddressCall(kAddressKind);
        });
    }
    return announcement;
}

TAolMessage FinishAnnouncement(const TAnnouncement& announcement) {
    TAolMessage message = announcement.Message;
    if (announcement.Link) {
        const std::string token =
            announcement.Token
                ? FileServerCall("beim Ermitteln der Adresse", [&] { return announcement.Token(); })
                : std::string();
        message.Text += DownloadLinkText(token);
    }
    return message;
}

std::optional<TAolMessage> ComposeAolMessage(const TSongInfo& song, const TPluginSettings& settings,
                                             IFileServerLink& fileServer) {
    std::optional<TAnnouncement> announcement = ComposeAnnouncement(song, settings, fileServer);
    if (!announcement) {
        return std::nullopt;
    }
    return FinishAnnouncement(*announcement);
}
