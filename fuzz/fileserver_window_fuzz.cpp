// Drives the file server window's logic over the in-memory network and the fake clock: floods of
// peers from few and many addresses, requests, answers, cancels and closes in arbitrary order,
// questions during which anything may happen, idle time, and port moves that may fail. Checks
// after every step that no more connections are open than the window promises (32 in all, 4 from
// one address), that no more than 3 questions are ever open, that every connection and every row
// ends exactly once, that a peer never makes anything appear on the screen but its question, that
// an answer (also a late one, for a question closed meanwhile) reaches only its own question, and
// that nothing is left once the last peer has gone.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/app_error.h"
#include "fake_net.h"
#include "fake_transfer_platform.h"
#include "fileshare/u_brenlofileserver.h"

namespace {

// The limits the README gives to users, as numbers: a change of a constant must show here.
constexpr int kPromisedConnections = 32;
constexpr int kPromisedPerAddress = 4;
constexpr int kPromisedQuestions = 3;
constexpr std::uint32_t kPromisedLongestIdleMs = 3 * 60 * 1000;

// The fake clock moves in steps of this size; each step fires every timer that is due once.
constexpr std::uint32_t kClockStepMs = 5 * 1000;

const char kPath[] = "C:\\Musik\\song.mp3";
const std::uint16_t kPorts[] = {1000, 4711, 4712};

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

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

// The one place that knows how the form is called, so that a change of its interface touches
// this adapter only.
struct FormAdapter {
    static int OpenConnections(const TBrenloFileserverForm& form) { return form.Connections(); }
    static int OpenQuestions(const TBrenloFileserverForm& form) { return form.OpenQuestions(); }
    static int Waiting(const TBrenloFileserverForm& form) { return form.WaitingRequests(); }
    static int OpenRows(const TBrenloFileserverForm& form) { return form.Rows().OpenCount(); }
    static int Port(const TBrenloFileserverForm& form) { return form.ServerPort(); }
    static bool HasListener(const TBrenloFileserverForm& form) {
        return form.ServerSocket1.Listener() != nullptr;
    }
    static void MovePort(TBrenloFileserverForm& form, int port) { form.SetServerPort(port); }
    static void TypePort(TBrenloFileserverForm& form, const std::string& text) {
        form.Edit2Change(text);
    }
    static void MouseOver(TBrenloFileserverForm& form, int row) { form.ProgressbarMouseMove(row); }
    static void Answer(TBrenloFileserverForm& form, TRowTicket ticket, bool yes) {
        form.QuestionAnswered(ticket, yes);
    }
};

// Closes of sockets that are not open (a connection ended twice) are counted.
class CountingNet final : public FakeNet {
  public:
    int CloseSocket(TSocketHandle s) override {
        if (s != kInvalidSocket && !IsOpen(s))
            ++closedTwice;
        return FakeNet::CloseSocket(s);
    }
    int closedTwice = 0;
};

// The window: rows kept as a set so that a row created twice or freed twice shows; questions are
// windows of their own, open until the input answers them or the form closes them.
struct Window final : IFileServerWindow {
    std::set<int> rows;
    std::vector<TRowTicket> open;    // open questions, in the order they were opened
    std::vector<TRowTicket> closed;  // questions closed unanswered, for late answers
    std::deque<std::function<void()>> later;
    bool tellAllowed = false;

    void SetFileLabel(const std::string&, const std::string&) override {}
    void SetPortText(const std::string&) override {}
    bool AddTrayIcon() override { return true; }
    void RemoveTrayIcon() override {}
    void HideWindow() override {}
    void RestoreWindow() override {}
    void StartFirstStartTimer(unsigned) override {}
    void OpenQuestion(const TConfirmQuestion&, TRowTicket ticket) override {
        Have(ticket.Row);
        Check(Find(ticket) == open.end(), "a question was opened twice");
        open.push_back(ticket);
        Check(open.size() <= kPromisedQuestions, "more questions open than promised");
    }
    void CloseQuestion(TRowTicket ticket) override {
        const auto it = Find(ticket);
        if (it == open.end())
            return;
        closed.push_back(ticket);
        open.erase(it);
    }
    void TellUser(const std::string&) override {
        Check(tellAllowed, "a peer made the window tell the user something");
    }
    void RunLater(std::function<void()> call) override { later.push_back(std::move(call)); }
    void CreateRow(int row, const std::string&) override {
        Check(rows.insert(row).second, "a row was created twice");
    }
    void FreeRow(int row) override { Check(rows.erase(row) == 1, "a row was freed twice"); }
    void ShowRow(int row, const std::string&, const std::string&) override { Have(row); }
    void SetBarMarked(int row, bool) override { Have(row); }
    void SetBarPosition(int row, int percent) override {
        Have(row);
        Check(percent >= 0 && percent <= 100, "a bar outside 0-100");
    }
    void SetBarHint(int row, const std::string&) override { Have(row); }
    void SetSpeedText(int row, const std::string&) override { Have(row); }
    void RepaintRow(int row, bool) override { Have(row); }
    void SetStatusPanels(const std::string&, const std::string&, const std::string&) override {}
    void SetStatusMessage(const std::string&) override {}
    std::uint64_t TickCount() override { return tick; }
    void Have(int row) const { Check(rows.count(row) == 1, "a row used without its controls"); }
    std::vector<TRowTicket>::iterator Find(TRowTicket ticket) {
        for (auto it = open.begin(); it != open.end(); ++it)
            if (it->Row == ticket.Row && it->Serial == ticket.Serial)
                return it;
        return open.end();
    }

    std::uint64_t tick = 1000;
};

class Run {
  public:
    explicit Run(Input& in) : in_(in) {
        fake_.files[kPath] = std::string(1 + in_.Byte() * 211, 'Z');
        baseWindows_ = net_.Windows();
        form_ = new TBrenloFileserverForm(window_, true);
        form_->SetServedFile(kPath);
    }

    void Go() {
        while (!in_.Empty())
            Step();
        // The peers stay silent: whatever its phase, every connection is ended once it has been
        // idle for the longest time the README promises (checked once a second). The user's
        // time to answer never counts, so the user says no to every question still open, and
        // to each that opens meanwhile (a request without a name is asked after a short wait).
        RunLater();
        net_.RunUntilIdle();
        DeclineOpenQuestions();
        for (std::uint32_t waited = 0; waited < kPromisedLongestIdleMs + 2 * kClockStepMs &&
                                       FormAdapter::OpenConnections(*form_) > 0;
             waited += kClockStepMs) {
            Advance(kClockStepMs);
            net_.RunUntilIdle();
            DeclineOpenQuestions();
        }
        Check(FormAdapter::OpenConnections(*form_) == 0, "a silent connection was not ended");
        for (TSocketHandle peer : peers_)
            Check(!net_.IsOpen(peer), "a peer's connection is still open");
        Check(window_.rows.empty(), "a row was left");
        Check(window_.open.empty(), "a question was left open");
        Check(FormAdapter::OpenRows(*form_) == 0, "a row is still open");
        Check(FormAdapter::Waiting(*form_) == 0, "a request still waits");
        Check(FormAdapter::OpenQuestions(*form_) == 0, "a question is still open");
        Check(fake_.LiveTimers() == 0, "a timer was left");
        Check(fake_.openStreams == 0, "a file was left open");
        // What is left is the listener's own notification window, while its object exists.
        const int listening = FormAdapter::HasListener(*form_) ? 1 : 0;
        Check(net_.Windows() == baseWindows_ + listening, "a connection's window was left");
        delete form_;
        Check(net_.Windows() == baseWindows_, "the listener's window was left");
        Check(net_.OpenSockets() == 0, "a socket was left open");
        Check(net_.closedTwice == 0, "a socket was closed twice");
    }

    void DeclineOpenQuestions() {
        while (!window_.open.empty()) {
            const TRowTicket ticket = window_.open.front();
            window_.open.erase(window_.open.begin());
            FormAdapter::Answer(*form_, ticket, false);
            net_.RunUntilIdle();
        }
        RunLater();
        net_.RunUntilIdle();
    }

    // One step of the input.
    void Step() {
        const std::uint8_t op = in_.Byte();
        if (std::getenv("WINDOW_FUZZ_SHOW"))  // what an input does, step by step
            std::fprintf(stderr, "step %d (byte %d), questions open %zu, connections %d\n", op % 12,
                         op, window_.open.size(), FormAdapter::OpenConnections(*form_));
        switch (op % 12) {
            case 0:
            case 1:
                Connect(op % 2 == 0 ? in_.Byte() % 6 : 100 + in_.Byte());
                break;
            case 2:
                for (int n = in_.Byte() % 40; n > 0; --n)
                    Connect(1000 + static_cast<std::uint32_t>(peers_.size()));
                break;
            case 3: {
                const TSocketHandle peer = Peer();  // the input's order: peer, then message
                SendSplit(peer, Message());
                break;
            }
            case 4: {
                const TSocketHandle peer = Peer();
                const std::size_t length = in_.Byte() % 24;
                SendSplit(peer, in_.Bytes(length));
                break;
            }
            case 5:
                net_.PeerClose(Peer(), (op & 0x10) ? kWsaEConnReset : 0);
                break;
            case 6:
                Advance(static_cast<std::uint32_t>(in_.Byte()) * 1000);
                break;
            case 7: {
                const std::uint8_t how = in_.Byte();
                if (how % 3 == 0)
                    net_.sendPlan.push_back(FakeNet::Block());
                else if (how % 3 == 1)
                    net_.sendPlan.push_back(FakeNet::Take(how));
                else
                    net_.MakeWritable(Peer());
                break;
            }
            case 8:
                PortMove(op);
                break;
            case 9:
                Answer(op);
                break;
            case 10:
                FormAdapter::MouseOver(*form_, in_.Byte() % 40);
                break;
            default:
                RunLater();
                break;
        }
        net_.RunUntilIdle();
        CheckCaps();
    }

  private:
    void CheckCaps() {
        std::map<std::uint32_t, int> perAddress;
        int total = 0;
        for (std::size_t i = 0; i < peers_.size(); ++i) {
            if (net_.IsOpen(peers_[i])) {
                ++total;
                Check(++perAddress[addresses_[i]] <= kPromisedPerAddress,
                      "more connections from one address than promised");
            }
        }
        Check(total <= kPromisedConnections, "more connections open than promised");
        Check(FormAdapter::OpenConnections(*form_) <= kPromisedConnections,
              "the window counts more connections than promised");
        Check(FormAdapter::OpenQuestions(*form_) <= kPromisedQuestions,
              "the window counts more questions than promised");
    }

    void Connect(std::uint32_t host) {
        const TSocketHandle peer = net_.PeerConnect(
            static_cast<std::uint16_t>(FormAdapter::Port(*form_)), 0x0A000000u + host);
        if (peer == kInvalidSocket)
            return;  // nothing listens (a port that failed to open)
        peers_.push_back(peer);
        addresses_.push_back(host);
    }

    TSocketHandle Peer() {
        if (peers_.empty())
            return kInvalidSocket;
        return peers_[in_.Byte() % peers_.size()];
    }

    std::string Message() {
        switch (in_.Byte() % 5) {
            case 0:
                return kRequestFile + in_.Bytes(in_.Byte() % 8);
            case 1:
                return kOkSendFile;
            case 2:
                return kCancel;
            case 3:
                return kStatus + std::to_string(in_.Byte() * 997);
            default:
                return kStatus + std::to_string(fake_.files[kPath].size());
        }
    }

    void SendSplit(TSocketHandle peer, const std::string& message) {
        if (peer == kInvalidSocket || message.empty() || !net_.IsOpen(peer))
            return;
        const std::size_t at = in_.Byte() % (message.size() + 1);
        net_.PeerSend(peer, message.substr(0, at));
        if (in_.Byte() & 1)
            net_.RunUntilIdle();
        net_.PeerSend(peer, message.substr(at));
    }

    void Advance(std::uint32_t ms) {
        window_.tick += ms;
        fake_.Advance(ms, kClockStepMs);
    }

    void PortMove(std::uint8_t op) {
        const std::uint16_t port = kPorts[in_.Byte() % 3];
        if (op & 0x10)
            net_.FailNext("bind", 10048);  // another program holds the port
        window_.tellAllowed = true;
        if (op & 0x20)
            FormAdapter::TypePort(*form_, (op & 0x40) ? "70000" : std::to_string(port));
        else
            FormAdapter::MovePort(*form_, port);
        window_.tellAllowed = false;
    }

    // The user answers an open question, or (rarely) one that the form closed meanwhile: the
    // answer raced the close and must do nothing.
    void Answer(std::uint8_t op) {
        const bool yes = (op & 0x10) != 0;
        if ((op & 0x60) == 0x60 && !window_.closed.empty()) {
            const TRowTicket late = window_.closed[in_.Byte() % window_.closed.size()];
            const int questions = FormAdapter::OpenQuestions(*form_);
            FormAdapter::Answer(*form_, late, yes);
            Check(FormAdapter::OpenQuestions(*form_) == questions,
                  "a late answer changed the open questions");
            return;
        }
        if (window_.open.empty())
            return;
        const TRowTicket ticket = window_.open[in_.Byte() % window_.open.size()];
        window_.open.erase(window_.Find(ticket));
        FormAdapter::Answer(*form_, ticket, yes);
    }

    void RunLater() {
        while (!window_.later.empty()) {
            std::function<void()> call = std::move(window_.later.front());
            window_.later.pop_front();
            window_.tellAllowed = true;  // a deferred port move may fail and say so
            call();
            window_.tellAllowed = false;
        }
    }

    Input& in_;
    CountingNet net_;
    FakeTransferPlatform fake_;
    Window window_;
    TBrenloFileserverForm* form_ = nullptr;
    std::vector<TSocketHandle> peers_;
    std::vector<std::uint32_t> addresses_;
    int baseWindows_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SetErrorDisplay([](const std::string&) { std::abort(); });  // a peer never raises a box
    SetFileServerTextSource([] {
        TFileServerTexts texts;
        texts.acceptdownloadmsg = "Darf %username% den Song laden?";
        return texts;
    });
    Input in(data, size);
    Run(in).Go();
    SetFileServerTextSource(nullptr);
    SetErrorDisplay(nullptr);
    return 0;
}
