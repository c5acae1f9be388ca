// The downloading peer's exchange with the file server (see download_peer.h).
#include "download_peer.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

#include "peer_protocol.h"
#include "peer_socket.h"

namespace peer {

namespace {

// After the first piece of the offer, further pieces follow within this pause or not at all
// (the server sends nothing more until we answer).
constexpr int kOfferQuietMs = 300;
// Between the two pieces of a split message, so that the server reads them one by one.
constexpr int kSplitPauseMs = 200;

std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text.substr(0, 80)) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    const char last = folder.back();
    if (last == '/' || last == '\\')
        return folder + name;
#ifdef _WIN32
    return folder + "\\" + name;
#else
    return folder + "/" + name;
#endif
}

class Exchange {
  public:
    Exchange(const Options& options, const Progress& progress)
        : options_(options), progress_(progress) {}

    Result Run() {
        const std::string failed =
            socket_.Connect(options_.host, options_.port, options_.receiveWindow);
        if (!failed.empty())
            return Fail(kCannotConnect, failed);
        if (!Say(kRequestFile + options_.user))
            return Fail(kCannotConnect, "the server closed the connection before the request");

        std::string offerText;
        if (Result r = ReadOffer(&offerText); r.code != kDone)
            return r;
        if (offerText.compare(0, sizeof kRefused - 1, kRefused) == 0)
            return Fail(kWasRefused, "the server refused the download");
        Offer offer;
        if (!ParseOffer(offerText, &offer))
            return Fail(kBrokenOffer,
                        "broken offer from the server: \"" + Printable(offerText) + "\"");
        result_.size = offer.size;
        if (!IsSafeFileName(offer.name))
            return Fail(kBrokenOffer, "refusing the offered file name \"" + Printable(offer.name) +
                                          "\": it is not a plain name inside the folder");

        const std::string path = JoinPath(options_.folder, offer.name);
        file_.open(path, std::ios::binary | std::ios::trunc);
        if (!file_)
            return Fail(kCannotWrite, "cannot write " + path);
        result_.path = path;

        if (!Say(kOkSendFile))
            return Fail(kShortTransfer, "the connection ended before the transfer began");
        std::vector<char> buffer(static_cast<std::size_t>(std::max(options_.readSize, 1)));
        std::int64_t reported = 0;
        Report(0);
        while (result_.bytes < offer.size) {
            if (options_.cancelAfter >= 0 && result_.bytes >= options_.cancelAfter)
                return Cancel();
            if (options_.resetAfter >= 0 && result_.bytes >= options_.resetAfter) {
                socket_.Reset();
                return Fail(kResetDone, "reset the connection after " +
                                            std::to_string(result_.bytes) + " bytes, as asked");
            }
            const auto want = static_cast<int>(std::min<std::int64_t>(
                static_cast<std::int64_t>(buffer.size()), offer.size - result_.bytes));
            const int n = socket_.Receive(buffer.data(), want, options_.timeoutMs);
            if (n == -1)
                return Fail(kTimedOut, "no data for " + std::to_string(options_.timeoutMs / 1000) +
                                           " s after " + std::to_string(result_.bytes) + " of " +
                                           std::to_string(offer.size) + " bytes");
            if (n <= 0)
                return Fail(kShortTransfer, std::string(n == 0 ? "the server closed the connection"
                                                               : "the connection failed") +
                                                " after " + std::to_string(result_.bytes) + " of " +
                                                std::to_string(offer.size) + " bytes");
            file_.write(buffer.data(), n);
            if (!file_)
                return Fail(kCannotWrite, "cannot write " + path);
            result_.bytes += n;
            if (result_.bytes - reported >= options_.statusEvery || result_.bytes == offer.size) {
                reported = result_.bytes;
                Say(kStatus + std::to_string(result_.bytes));
                statusSent_ = true;
            }
            Report(result_.bytes);
            if (options_.readDelayMs > 0)
                SleepMs(options_.readDelayMs);
        }
        if (options_.cancelAfter >= 0 && result_.bytes >= options_.cancelAfter)
            return Cancel();
        file_.close();
        if (!file_)
            return Fail(kCannotWrite, "cannot write " + path);
        socket_.Close();
        result_.message = "saved " + path + " (" + std::to_string(result_.bytes) + " bytes)";
        return result_;
    }

  private:
    // Everything up to the server's first pause: the offer or the refusal.
    Result ReadOffer(std::string* text) {
        char buffer[4096];
        int wait = options_.offerTimeoutMs;
        for (;;) {
            const int n = socket_.Receive(buffer, sizeof buffer, wait);
            if (n > 0) {
                text->append(buffer, static_cast<std::size_t>(n));
                wait = kOfferQuietMs;
                continue;
            }
            if (!text->empty())
                return result_;  // the server paused (or closed after its message)
            if (n == -1)
                return Fail(kTimedOut, "no answer from the server within " +
                                           std::to_string(options_.offerTimeoutMs / 1000) + " s");
            return Fail(kWasRefused,
                        "the server closed the connection without offering a file "
                        "(refused, nothing to serve, or the file is empty)");
        }
    }

    Result Cancel() {
        // Messages have no frame: "fuck off" counts only as a read of its own, so it must not
        // run into a status report the server may not have read yet. Without any report there
        // is nothing to run into.
        if (statusSent_)
            SleepMs(kSplitPauseMs);
        Say(kCancel);
        // The server closes on a cancellation; wait for that, boundedly.
        char buffer[4096];
        int n;
        while ((n = socket_.Receive(buffer, sizeof buffer, options_.timeoutMs)) > 0) {
        }
        return Fail(kCancelled,
                    std::string("cancelled after ") + std::to_string(result_.bytes) +
                        " bytes, as asked; the server " +
                        (n == 0 ? "closed the connection" : "did not close the connection"));
    }

    bool Say(const std::string& message) {
        const std::size_t at = static_cast<std::size_t>(options_.splitAt);
        if (options_.splitAt > 0 && at < message.size()) {
            if (!socket_.Send(message.substr(0, at)))
                return false;
            SleepMs(kSplitPauseMs);
            return socket_.Send(message.substr(at));
        }
        return socket_.Send(message);
    }

    void Report(std::int64_t bytes) {
        if (progress_)
            progress_(bytes, result_.size);
    }

    Result Fail(int code, const std::string& message) {
        socket_.Close();
        if (file_.is_open())
            file_.close();
        if (!result_.path.empty()) {
            std::remove(result_.path.c_str());  // no half file that looks like a whole one
            result_.path.clear();
        }
        result_.code = code;
        result_.message = message;
        return result_;
    }

    const Options& options_;
    const Progress& progress_;
    bool statusSent_ = false;
    PeerSocket socket_;
    std::ofstream file_;
    Result result_;
};

}  // namespace

Result Download(const Options& options, const Progress& progress) {
    return Exchange(options, progress).Run();
}

}  // namespace peer
