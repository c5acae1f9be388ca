// TBrenloFileserverForm, the file server's window: it owns the listening socket, creates one
// transfer per accepted peer, asks the local user to confirm each download, keeps one progress
// row per transfer and the status bar of the selected row, and sits behind a tray icon. The
// announcement calls SetTrayIcon, SetServedFile and SetServerPort on every song change.
//
// This is the window's logic; the window itself (controls, tray icon, timer, the questions)
// is behind IFileServerWindow, which the Windows build implements with real controls
// (u_brenlofileserver_win32) and the native tests with a recording fake.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "fileshare/BrenloFileServer.h"
#include "fileshare/u_brenlofileserverframe.h"
#include "net/BrenloScktComp.h"

// The listener's port until the first announced song change with sharing on.
inline constexpr int kInitialServerPort = 1000;
// Delay after which the window hides itself once created.
inline constexpr unsigned kFirstStartHideMs = 10;

// ---- what a peer can make this computer spend ---------------------------------------------------
//
// The listener is open to anyone who finds the port. Each connection costs a socket, a hidden
// notification window, a transfer object with its timer, a row with three controls and, once
// asked, a question on the user's screen. So connections are counted before any of that exists,
// and the ones over a cap are closed at once.
//
// In all: a song is shared with the people of one or two chat rooms; more than a few dozen
// downloads at once would only split a home uplink into useless slivers, and 32 rows is four
// screens of the window's frame. Windows' own limit on window handles per process (10,000) stays
// far away even under a flood.
inline constexpr int kMaxConnections = 32;
// Per remote address: the peer's program uses one connection per download; four leave room for
// a retry while an old connection is still closing, or a few users behind one home router,
// while one address alone can never take all the places.
inline constexpr int kMaxConnectionsPerAddress = 4;
// Confirmation questions open at once: the user is asked about a few peers at a time, never
// buried under a pile of dialogs; the rest wait in the order they asked, seeing nothing.
inline constexpr int kMaxOpenQuestions = 3;
// How long a connection may stay idle, checked once a second (kIdleCheckMs):
//  - from the connection to its request: the peer's program sends the request as soon as it is
//    connected; 30 s covers a slow line and turns away connections that never ask;
//  - from the user's yes to "ok sendfile": the peer's program may ask its own user where to save
//    the file, so a few minutes;
//  - during the stream, with no byte read for sending and no message from the peer: a stalled
//    or vanished peer. Three minutes outlast a short drop of a dial-up line or a busy disk.
// The user's own time to answer the question never counts: a connection waiting for the answer,
// or for its place in the queue of questions, is not timed.
inline constexpr std::uint32_t kRequestTimeoutMs = 30 * 1000;
inline constexpr std::uint32_t kStartTimeoutMs = 3 * 60 * 1000;
inline constexpr std::uint32_t kStallTimeoutMs = 3 * 60 * 1000;
inline constexpr unsigned kIdleCheckMs = 1000;
// The peer's user name as shown in the question, the row and the status bar: at most this many
// characters (a name that is longer is cut and ends in "..."), control characters and bytes
// that show nothing written as \xHH.
inline constexpr std::size_t kMaxShownNameChars = 32;

// The user name a peer gave, made fit to be shown (see kMaxShownNameChars).
std::string ShownUserName(const std::string& name);

// What the confirmation dialog shows.
struct TConfirmQuestion {
    std::string Caption;
    std::string OkCaption;
    std::string CancelCaption;
    std::string Text;
};

class IFileServerWindow : public ITransferRowControls {
  public:
    // LblFilename: its caption and its hint (the served path; empty for none).
    virtual void SetFileLabel(const std::string& caption, const std::string& hint) = 0;
    // Edit2, the hidden port field. Writing it does not call Edit2Change back.
    virtual void SetPortText(const std::string& text) = 0;
    // The tray icon with the tip "BrenloPlug Fileserver"; AddTrayIcon reports success.
    virtual bool AddTrayIcon() = 0;
    virtual void RemoveTrayIcon() = 0;
    virtual void HideWindow() = 0;
    // Shows the window again and brings it to the front (a click on the tray icon).
    virtual void RestoreWindow() = 0;
    // One-shot timer that calls firststarttimer of the form after `ms`.
    virtual void StartFirstStartTimer(unsigned ms) = 0;
    // Opens the download question for the transfer of `ticket`'s row: a window of its own, not
    // modal, owned by the file-server window, so that no message loop of ours runs inside a
    // handler. Several may be open at once and be answered in any order; the user's answer comes
    // back through the form's QuestionAnswered (the close box or Escape count as No). Raises
    // when the question cannot be shown.
    virtual void OpenQuestion(const TConfirmQuestion& question, TRowTicket ticket) = 0;
    // Closes the question of `ticket` without an answer; nothing when none is open.
    virtual void CloseQuestion(TRowTicket ticket) = 0;
    // Tells the user something without waiting for an answer (no modal loop).
    virtual void TellUser(const std::string& text) = 0;
    // Runs `call` once the message loop is back at the top, outside every handler running now.
    virtual void RunLater(std::function<void()> call) = 0;
};

class TBrenloFileserverForm {
  public:
    // Creates the listener, stored active on port 1000, and opens it (the window's description
    // being loaded), then runs FormCreate with the tray icon following `aolfs`. A port 1000 that
    // cannot be opened is not told; the first SetServerPort tries again.
    TBrenloFileserverForm(IFileServerWindow& window, bool aolfs);
    // FormDestroy, then ends every transfer and closes the listener.
    ~TBrenloFileserverForm();
    TBrenloFileserverForm(const TBrenloFileserverForm&) = delete;
    TBrenloFileserverForm& operator=(const TBrenloFileserverForm&) = delete;

    // ---- what the announcement calls ----
    void SetTrayIcon(bool on);
    // The taskbar was created anew (Explorer restarted) and holds none of the icons added before:
    // a tray icon that was shown is added again.
    void TaskbarCreated();
    void SetServedFile(const std::string& path);
    // Moves the listener to `port` unless it already listens there. The transfers of the old
    // listener are ended first (their questions close). When the port cannot be opened the user
    // is told (once for the same port and cause) and nothing listens until a later call
    // succeeds.
    void SetServerPort(int port);
    // The configured port text is no port at all: the user is told once; the listener stays.
    void RejectServerPort(const std::string& text);
    // Whether the listener is open, and on which port (for the link).
    bool IsListening() const;
    int ServerPort() const { return ServerSocket1.Port(); }
    const std::string& ServedFileName() const { return servedFileName_; }
    bool TrayIconShown() const { return trayIconShown_; }

    // The library is unmapped without a teardown: the listener and every connection stop
    // their notifications and close their sockets, so that the port is free again and no
    // notification comes for code that is gone. The objects themselves are left as they are.
    void Abandon() noexcept;

    // ---- handlers of the window ----
    void FormCreate(bool aolfs);
    void firststarttimer();
    void MinimizeToTNA();
    // A close request only hides the window; returns false (refused).
    bool FormCloseQuery();
    void FormDestroy();
    // The tray icon's callback with the mouse message `mouseMessage`.
    void TrayIconMessage(unsigned mouseMessage);
    void Edit2Change(const std::string& text);
    void ServerSocket1ClientConnect(TObject* sender, TCustomWinSocket* socket);
    // A transfer's request (its OnRequest): it waits in line for one of the question places.
    void RequestArrived(TBrenloFileServer* sender, const std::string& username);
    // The user's answer to the question of `ticket` (from the question window); an answer for
    // a question that was closed meanwhile, or for a row that now carries another transfer,
    // does nothing. The place is taken by the next request in line.
    void QuestionAnswered(TRowTicket ticket, bool yes);
    // The once-a-second watch over idle connections.
    void IdleCheck();
    void UpdateStat(TBrenloFileServer* sender, std::int32_t pos, const std::string& time,
                    const std::string& speed, std::int64_t bytes, std::int64_t total);
    void SocketClose(TBrenloFileServer* sender);
    void ClientCancelled(TBrenloFileServer* sender);
    void ProgressbarMouseMove(int barTag);
    void updateglobalprogress();

    const TTransferRows& Rows() const { return rows_; }
    // Connections closed at accept because a cap was reached, since the window was created.
    int RefusedConnections() const { return refused_; }
    // Requests waiting for a question place, and questions open now.
    int WaitingRequests() const { return static_cast<int>(waiting_.size()); }
    int OpenQuestions() const { return static_cast<int>(asked_.size()); }
    // Open connections (transfers) in all.
    int Connections() const { return static_cast<int>(watched_.size()); }

    TServerSocket ServerSocket1;

  private:
    // The row of `sender` while it is open and carries that transfer, else -1.
    int RowOf(const TBrenloFileServer* sender) const;
    void MoveListener(int port);
    // Opens the listener on `port` (closed first); the user is told when that fails.
    void ReopenListener(int port);
    // Ends every transfer and frees its row; with `forgetHandlers` the transfers are first
    // detached from this form.
    void EndTransfers(bool forgetHandlers);
    void OpenListener();
    void ReportOnce(const std::string& key, const std::string& text);
    // Asks the waiting requests while question places are free.
    void AskWaiting();
    void Ask(TBrenloFileServer* transfer, int row);
    // Closes the open question of `transfer`, if any, without an answer.
    void CloseQuestionOf(const TBrenloFileServer* transfer);
    void Forget(TBrenloFileServer* sender);

    // What the idle watch knows of one open connection.
    struct TWatched {
        std::uint32_t Address = 0;  // the peer's IPv4 address, as accepted
        std::uint32_t Since = 0;    // tick when the current phase or the last activity began
        int Phase = 0;
        std::uint64_t Messages = 0;
        std::int64_t Sent = 0;
    };

    IFileServerWindow& window_;
    TTransferRows rows_;
    std::string servedFileName_;
    bool trayIconShown_ = false;
    std::string lastReport_;  // what the user was last told about the listener
    // The open questions: the row they were asked for and the name they showed.
    struct TAsked {
        TRowTicket Ticket;
        std::string ShownName;
    };
    std::map<TBrenloFileServer*, TAsked> asked_;
    bool endingTransfers_ = false;  // no new question while every transfer is being ended
    std::map<TBrenloFileServer*, TWatched> watched_;  // every open transfer
    std::deque<TBrenloFileServer*> waiting_;          // requests in arrival order
    int refused_ = 0;
    std::unique_ptr<ITransferTimer> idleTimer_;  // exists while any connection is open
    // Cleared when the form goes, so that a handler back from a nested loop can tell.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The user's message when the listener cannot be opened on `port` (German, plain words).
std::string ListenerFailureText(int port, int socketError, const std::string& detail);
// The user's message when the configured port text is no port.
std::string InvalidPortText(const std::string& text);
