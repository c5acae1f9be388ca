// Feeds transfer objects arbitrary peer behaviour over the in-memory network: protocol
// messages and junk in arbitrary pieces, closes and resets, sends that block or fail, a clock
// that jumps, files that vanish, and questions during which anything may happen. Checks that
// nothing crashes or leaks, that only protocol messages and the file's bytes go out, that no
// transfer asks twice, that every transfer ends exactly once, and that nothing is ever shown.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "common/app_error.h"
#include "fake_net.h"
#include "fake_transfer_platform.h"
#include "fileshare/BrenloFileServer.h"
#include "net/BrenloScktComp.h"

namespace {

const char kPath[] = "C:\\Musik\\song.mp3";
const char kName[] = "song.mp3";

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::string Bytes(std::size_t n) {
        std::string out;
        while (n-- > 0 && !Empty())
            out += static_cast<char>(Byte());
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

// Whether `text` from `i` on is a proper start of `message` (a message cut by the close).
bool CutAt(const std::string& text, std::size_t i, const std::string& message) {
    return text.size() - i < message.size() && message.compare(0, text.size() - i, text, i) == 0;
}

// Whether `sent` is made only of our messages and runs of the file's byte. The last message
// may be cut: the connection closed before the rest could go.
bool OnlyProtocol(const std::string& sent) {
    const std::string tail = std::string("-") + kName;
    std::size_t i = 0;
    while (i < sent.size()) {
        if (sent[i] == 'Z') {
            ++i;
            continue;
        }
        if (sent.compare(i, sizeof kConnectionRefused - 1, kConnectionRefused) == 0) {
            i += sizeof kConnectionRefused - 1;
            continue;
        }
        if (CutAt(sent, i, kConnectionRefused) || CutAt(sent, i, kOfferFile))
            return true;
        if (sent.compare(i, sizeof kOfferFile - 1, kOfferFile) != 0)
            return false;
        i += sizeof kOfferFile - 1;
        const std::size_t digits = i;
        while (i < sent.size() && sent[i] >= '0' && sent[i] <= '9')
            ++i;
        if (i == digits)
            return i == sent.size();
        if (CutAt(sent, i, tail))
            return true;
        if (sent.compare(i, tail.size(), tail) != 0)
            return false;
        i += tail.size();
    }
    return true;
}

class Run {
  public:
    explicit Run(Input& in) : in_(in) {
        fake_.files[kPath] = std::string(1 + in_.Byte() * 97, 'Z');
        server_.OnClientConnect() = [this](TObject*, TCustomWinSocket* socket) {
            auto* transfer = new TBrenloFileServer(socket, kPath);
            ++created_;
            int* asked = &asks_[socket->SocketHandle()];
            transfer->OnConfirmUser = [this, asked](TBrenloFileServer*, const std::string&) {
                Check(++*asked == 1, "asked twice");
                // The question's own message loop: whatever comes next happens during it.
                if (depth_ < 3) {
                    ++depth_;
                    for (int n = in_.Byte() % 4; n > 0 && !in_.Empty(); --n)
                        Step();
                    --depth_;
                }
                return (in_.Byte() & 3) != 0;
            };
            transfer->OnStat = [](TBrenloFileServer*, std::int32_t, const std::string&,
                                  const std::string&, std::int64_t, std::int64_t) {};
            transfer->OnClose = [this](TBrenloFileServer*) { ++closed_; };
            transfer->OnClientDisconnect = [](TBrenloFileServer*) {};
        };
        server_.SetPort(1000);
        server_.SetActive(true);
    }

    void Go() {
        while (!in_.Empty())
            Step();
        for (auto& [handle, asked] : asks_) {
            if (!OnlyProtocol(net_.Sent(handle)) && std::getenv("TRANSFER_FUZZ_SHOW"))
                std::fprintf(stderr, "sent: [%s]\n", net_.Sent(handle).c_str());
            Check(OnlyProtocol(net_.Sent(handle)), "sent something else");
        }
        server_.SetActive(false);  // ends every transfer still running
        Check(closed_ == created_, "a transfer did not end");
        Check(fake_.LiveTimers() == 0, "a timer was left");
        Check(fake_.openStreams == 0, "a file was left open");
    }

  private:
    void Step() {
        const std::uint8_t op = in_.Byte();
        switch (op % 9) {
            case 0:
                Connect();
                break;
            case 1:
                SendSplit(Message());
                break;
            case 2:
                SendSplit(in_.Bytes(in_.Byte() % 24));
                break;
            case 3:
                net_.PeerClose(peer_, (op & 0x10) ? kWsaEConnReset : 0);
                break;
            case 4:
                fake_.Advance(static_cast<std::uint32_t>(in_.Byte()) * 40);
                break;
            case 5:
                net_.MakeWritable(peer_);
                break;
            case 6: {
                const std::uint8_t how = in_.Byte();
                if (how % 3 == 0)
                    net_.sendPlan.push_back(FakeNet::Block());
                else if (how % 3 == 1)
                    net_.sendPlan.push_back(FakeNet::Take(how));
                else
                    net_.sendPlan.push_back(FakeNet::Fail(kWsaEConnReset));
                break;
            }
            case 7:
                if (op & 0x10)
                    fake_.files.erase(kPath);
                else
                    fake_.files[kPath] = std::string(in_.Byte() * 131, 'Z');
                break;
            default:
                fake_.tick += static_cast<std::uint32_t>(in_.Byte()) << 24;  // a jump, even back
                break;
        }
        net_.RunUntilIdle();
    }

    void Connect() {
        if (peer_ == 0 || !net_.IsOpen(peer_)) {
            peer_ = net_.PeerConnect(1000);
            asks_[peer_] = 0;
        }
    }

    std::string Message() {
        switch (in_.Byte() % 6) {
            case 0:
                return kRequestFile + in_.Bytes(in_.Byte() % 8);
            case 1:
                return kOkSendFile;
            case 2:
                return kCancel;
            case 3:
                return kStatus + std::to_string(static_cast<std::int32_t>(
                                     (in_.Byte() << 24) | (in_.Byte() << 16) | in_.Byte()));
            case 4:
                return kStatus + std::to_string(in_.Byte() * 97) + kStatus +
                       std::to_string(in_.Byte() * 131);
            default:
                return kStatus +
                       std::to_string(fake_.files.count(kPath) ? fake_.files[kPath].size() : 0);
        }
    }

    void SendSplit(const std::string& message) {
        if (message.empty())
            return;
        const std::size_t at = in_.Byte() % (message.size() + 1);
        net_.PeerSend(peer_, message.substr(0, at));
        if (in_.Byte() & 1)
            net_.RunUntilIdle();  // otherwise both pieces arrive in one read
        net_.PeerSend(peer_, message.substr(at));
    }

    Input& in_;
    FakeNet net_;
    FakeTransferPlatform fake_;
    TServerSocket server_;
    TSocketHandle peer_ = 0;
    std::map<TSocketHandle, int> asks_;  // questions per connection
    int created_ = 0, closed_ = 0, depth_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SetErrorDisplay([](const std::string&) { std::abort(); });  // a peer never raises a box
    Input in(data, size);
    Run(in).Go();
    SetErrorDisplay(nullptr);
    return 0;
}
