// One file transfer per peer connection: takes the peer's request, asks the local user through
// OnConfirmUser, offers the served file, hands it to the socket layer's stream send, follows the
// peer's "status" reports and works out the speed once a second.
//
// Wire protocol (plain text without separators, case-sensitive):
//   peer -> us   "request file:<user name>"        first message only
//   us -> peer   "request sendfile:<size>-<name>"  after the user agreed (not for an empty file)
//   us -> peer   "connectionrefused"               before we close (declined, not a request,
//                                                  file cannot be opened)
//   peer -> us   "ok sendfile"                     starts the stream of the file's bytes
//   peer -> us   "status<bytes received>"          progress, any number, several per read
//   peer -> us   "fuck off"                        the peer cancels; we close
//
// Messages have no frame of their own, and TCP may cut or join them: what the peer sends is
// collected per connection and split at the messages' known beginnings. A request is taken
// once its prefix and a name have come (or a moment after a prefix with no name); "ok
// sendfile" and "fuck off" count when nothing but another message follows them; a count is
// taken as far as its digits have come and grows with the digits that follow. What is still
// pending when the peer closes is read before the transfer ends.
//
// The file that is offered is the file that is sent: it is opened for the offer, writers denied,
// and that same handle is streamed. A count the peer reports is believed only up to the offered
// size and to the bytes that have gone out.
//
// The object frees itself when its connection closes (after OnClose). Everything runs on the
// thread of the connection's notification window. The timer, the millisecond tick, the file
// access and the number separators come from the transfer platform (SetTransferPlatform), so the
// protocol runs natively over the in-memory network.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/object.h"
#include "common/stream.h"
#include "net/BrenloScktComp.h"

// ---- platform seams ----------------------------------------------------------------------------

// A periodic timer of the calling thread's message loop; disabled when created.
class ITransferTimer {
  public:
    virtual ~ITransferTimer() = default;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    virtual unsigned Interval() const = 0;  // milliseconds
};

struct TTransferPlatform {
    // A new, disabled timer that calls `onTimer` every `intervalMs` while enabled.
    std::function<std::unique_ptr<ITransferTimer>(unsigned intervalMs,
                                                  std::function<void()> onTimer)>
        NewTimer;
    // The 32-bit millisecond tick counter (GetTickCount on Windows).
    std::function<std::uint32_t()> TickCount;
    // Opens a file for reading with write sharing denied; raises EBrenloError when it cannot.
    std::function<std::unique_ptr<TStream>(const std::string& path)> OpenFile;
    // The user's number separators (each may be more than one byte, or empty for grouping).
    std::function<std::string()> DecimalSeparator;
    std::function<std::string()> ThousandSeparator;
};

// The platform in use. The Windows build installs its own at start
// (InstallWin32TransferPlatform in BrenloFileServer_win32.h); tests install fakes. Raises
// EBrenloError when none is installed.
const TTransferPlatform& TransferPlatform();
// Installs `platform` (nullptr: none); returns the previous one.
const TTransferPlatform* SetTransferPlatform(const TTransferPlatform* platform);

// ---- the transfer ------------------------------------------------------------------------------

// The destructor is private on purpose: a transfer ends only with its connection and frees itself.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class TBrenloFileServer;

using TOnClose = std::function<void(TBrenloFileServer* sender)>;
using TOnStat =
    std::function<void(TBrenloFileServer* sender, std::int32_t pos, const std::string& time,
                       const std::string& speed, std::int64_t bytes, std::int64_t total)>;
using TOnConfirmUser = std::function<bool(TBrenloFileServer* sender, const std::string& username)>;
using TOnClientDisconnect = std::function<void(TBrenloFileServer* sender)>;
// The deferred form of the question: the request is handed over and answered later with Answer.
using TOnRequest = std::function<void(TBrenloFileServer* sender, const std::string& username)>;

constexpr unsigned kStatTimerIntervalMs = 1000;
// A new speed is computed once the last sample is more than this old.
constexpr std::uint32_t kSpeedSampleMs = 2000;

inline constexpr char kRequestFile[] = "request file:";
inline constexpr char kOfferFile[] = "request sendfile:";
inline constexpr char kConnectionRefused[] = "connectionrefused";
inline constexpr char kOkSendFile[] = "ok sendfile";
inline constexpr char kStatus[] = "status";
inline constexpr char kCancel[] = "fuck off";
inline constexpr char kUnknownUser[] = "unknown yet";

// Most bytes taken from the connection in one read. Every message of the protocol is short (a
// request with a user name, "ok sendfile", a few status reports); a peer that sends more at once
// has the rest read with the next notification(s). Besides one read, a connection keeps only
// the unfinished end of what it read: a cut message start or the last count (at most a few
// dozen bytes), so nothing a peer sends is ever held whole.
constexpr int kMaxMessageBytes = 4096;
// A request whose prefix came without any name yet is taken with an empty name once nothing
// more has come for this long (the peer waits for our answer after its request).
constexpr unsigned kRequestNameWaitMs = 1000;
// Longest count of a status report: 19 digits hold every signed 64-bit size.
constexpr std::size_t kMaxCountDigits = 19;

// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor): private, see above
class TBrenloFileServer : public TObject {
  public:
    // Takes over the connection's OnNetEvent and OnNetError hooks; from here on the listener
    // hears nothing more of this connection (it stays in the listener's client list). Create
    // with new: the object deletes itself when the connection closes.
    TBrenloFileServer(TCustomWinSocket* connection, const std::string& filePath);

    // Ends the transfer now: closes the connection, which fires OnClose and frees the object
    // (at once, or when a handler of this transfer that is still running returns). An owner
    // that is about to close the listener calls this for each transfer first, so that every
    // transfer is told. The object must not be used after the call.
    void EndTransfer();

    // The answer to a request handed over through OnRequest: yes offers the file, no refuses the
    // peer. Ignored when no question is pending or the transfer has ended.
    void Answer(bool yes);

    // ---- handlers (the hooks of the connection and the timer) ----
    void SocketEvent(TObject* sender, TCustomWinSocket* socket, TNetEventKind kind);
    void ErrorEvent(TObject* sender, TCustomWinSocket* socket, TErrorEvent errorEvent,
                    int& errorCode);
    void ClientRead();
    void ClientDisconnect();
    void Timer1Timer();

    // ---- published ----
    std::unique_ptr<ITransferTimer> Timer1;  // statistics timer, 1000 ms, disabled at creation
    TCustomWinSocket* Socket;                // the peer connection, not owned
    TOnClose OnClose;
    TOnStat OnStat;
    TOnConfirmUser OnConfirmUser;
    // When assigned, a request is handed over here instead of asking OnConfirmUser: the transfer
    // waits (Asking is true, the peer hears nothing) until the owner calls Answer. A peer that
    // closes meanwhile ends the transfer as usual.
    TOnRequest OnRequest;
    TOnClientDisconnect OnClientDisconnect;
    // The owner's row number, written right after creation; never read here.
    std::int64_t RowIndex = 0;

    // ---- what the owner reads ----
    const std::string& UserName() const { return userName_; }  // "unknown yet" until requested
    const std::string& FilePath() const { return filePath_; }
    bool Confirmed() const { return confirmed_; }
    std::int64_t FileSize() const { return fileSize_; }  // the offered size, once sending starts
    // Highest count the peer reported, as far as it is believable (see the top).
    std::int64_t Position() const { return position_; }
    std::int64_t LastPosition() const { return lastPosition_; }
    std::uint64_t SampleTick() const { return sampleTick_; }
    const std::string& TimeText() const { return timeText_; }
    const std::string& SpeedText() const { return speedText_; }
    std::int64_t ReportedBytes() const { return reportedBytes_; }
    std::int64_t ReportedTotal() const { return reportedTotal_; }
    std::int32_t Percent() const { return static_cast<std::int32_t>(percent_); }
    // True while OnConfirmUser is being asked, or a request handed to OnRequest awaits Answer.
    bool Asking() const { return asking_; }
    // What the owner's watch over idle connections looks at: whether the request came, whether
    // a stream was started, the messages read so far and how far the socket layer has read the
    // file of the latest stream to send it (it reads a piece only when it can send).
    bool Requested() const { return requested_; }
    bool Sending() const { return sending_; }
    std::uint64_t MessagesRead() const { return messagesRead_; }
    std::int64_t BytesRead() const { return *bytesRead_; }

  private:
    struct HookLink;
    class Busy;
    friend class Busy;

    ~TBrenloFileServer() override;  // only through the end of the connection

    void OfferFile();
    void StartSending();
    // What the connection delivered: the request, or the messages of a confirmed peer.
    void Take(const std::string& data);
    void TakeRequestBytes(const std::string& data);
    void RequestComplete(const std::string& name);
    void NameWaitOver();
    // Splits the collected bytes of a confirmed peer into messages; with `closing` (the peer
    // has closed) only its progress still counts.
    void TakeMessages(bool closing);
    void StatusReport(const std::string& digits);
    void ReadWhatIsLeft();
    void CloseOurselves();
    void Refuse();
    void FireStat();
    void Finish() noexcept;
    void ConnectionFreed() noexcept;

    std::int64_t fileSize_ = 0;
    std::int64_t position_ = 0;
    std::int64_t lastPosition_ = 0;
    std::string userName_ = kUnknownUser;
    std::uint64_t sampleTick_ = 0;
    std::string filePath_;
    bool confirmed_ = false;
    std::string timeText_;
    std::string speedText_;
    std::int64_t reportedBytes_ = 0;
    std::int64_t reportedTotal_ = 0;
    std::int64_t percent_ = 0;

    bool asking_ = false;
    bool requested_ = false;
    std::string frame_;           // the unfinished end of what the peer sent
    std::size_t heldDigits_ = 0;  // digits of the count at frame_'s start already taken
    std::unique_ptr<ITransferTimer> nameWait_;  // a request's prefix came without a name
    std::unique_ptr<TStream> file_;  // the offered file, held from the offer to the stream
    std::int64_t offeredSize_ = 0;
    bool closingOurselves_ = false;  // we close the connection: nothing more is read
    // How far the socket layer has sent the latest stream (shared with that stream).
    std::shared_ptr<std::int64_t> bytesSent_ = std::make_shared<std::int64_t>(0);
    std::uint64_t messagesRead_ = 0;
    // Shared with the stream the socket layer owns while it sends.
    std::shared_ptr<std::int64_t> bytesRead_ = std::make_shared<std::int64_t>(0);
    bool sending_ = false;  // "ok sendfile" has started a stream at least once
    bool ended_ = false;    // the connection has closed; the object ends when no handler runs
    bool connectionGone_ = false;   // the connection object itself was freed by the listener
    int busy_ = 0;                  // handlers of this object on the stack
    std::weak_ptr<HookLink> link_;  // alive as long as our hooks sit on the connection
};

// ---- text helpers (shared with the window and the tests) ---------------------------------------

// Seconds in the shortest general form with up to 15 significant digits ("1.5", "2", "-0.001").
std::string FormatGeneral(double value, const std::string& decimalSeparator);
// Two decimals with thousands grouping ("1,234,567.89").
std::string FormatThousands2(double value, const std::string& decimalSeparator,
                             const std::string& thousandSeparator);
// Progress in percent, rounded to the nearest integer, ties to even; 100 for an empty file.
std::int64_t PercentOf(std::int64_t position, std::int64_t fileSize);
