// One file transfer per peer connection: takes the peer's request, asks the local user through
// OnConfirmUser, offers the served file, hands it to the socket layer's stream send, follows the
// peer's "status" reports and works out the speed once a second.
//
// Wire protocol (plain text, one message per read notification, case-sensitive):
//   peer -> us   "request file:<user name>"        first message only
//   us -> peer   "request sendfile:<size>-<name>"  after the user agreed (not for an empty file)
//   us -> peer   "connectionrefused"               before we close (declined, not a request,
//                                                  file cannot be opened)
//   peer -> us   "ok sendfile"                     starts the stream of the file's bytes
//   peer -> us   "status<bytes received>"          progress, any number, several per read
//   peer -> us   "fuck off"                        the peer cancels; we close
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

class TBrenloFileServer;

using TOnClose = std::function<void(TBrenloFileServer* sender)>;
using TOnStat =
    std::function<void(TBrenloFileServer* sender, std::int32_t pos, const std::string& time,
                       const std::string& speed, std::int64_t bytes, std::int64_t total)>;
using TOnConfirmUser = std::function<bool(TBrenloFileServer* sender, const std::string& username)>;
using TOnClientDisconnect = std::function<void(TBrenloFileServer* sender)>;

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
    TOnClientDisconnect OnClientDisconnect;
    // The owner's row number, written right after creation; never read here.
    std::int64_t RowIndex = 0;

    // ---- what the owner reads ----
    const std::string& UserName() const { return userName_; }  // "unknown yet" until requested
    const std::string& FilePath() const { return filePath_; }
    bool Confirmed() const { return confirmed_; }
    std::int64_t FileSize() const { return fileSize_; }  // taken when sending starts
    std::int64_t Position() const { return position_; }  // highest count the peer reported
    std::int64_t LastPosition() const { return lastPosition_; }
    std::uint64_t SampleTick() const { return sampleTick_; }
    const std::string& TimeText() const { return timeText_; }
    const std::string& SpeedText() const { return speedText_; }
    std::int64_t ReportedBytes() const { return reportedBytes_; }
    std::int64_t ReportedTotal() const { return reportedTotal_; }
    std::int32_t Percent() const { return static_cast<std::int32_t>(percent_); }
    // True while OnConfirmUser is being asked.
    bool Asking() const { return asking_; }

  private:
    struct HookLink;
    class Busy;
    friend class Busy;

    ~TBrenloFileServer() override;  // only through the end of the connection

    void OfferFile();
    void StartSending();
    void StatusReport(const std::string& message);
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
// The count after the last "status" in a message; false when nothing or no valid 32-bit
// decimal integer follows it.
bool ParseStatusCount(const std::string& message, std::int32_t* count);
