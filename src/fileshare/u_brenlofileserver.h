// TBrenloFileserverForm, the file server's window: it owns the listening socket, creates one
// transfer per accepted peer, asks the local user to confirm each download, keeps one progress
// row per transfer and the status bar of the selected row, and sits behind a tray icon. The
// announcement calls SetTrayIcon, SetServedFile and SetServerPort on every song change.
//
// This is the window's logic; the window itself (controls, tray icon, timer, the modal question)
// is behind IFileServerWindow, which the Windows build implements with real controls
// (u_brenlofileserver_win32) and the native tests with a recording fake.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "fileshare/BrenloFileServer.h"
#include "fileshare/u_brenlofileserverframe.h"
#include "net/BrenloScktComp.h"

// The listener's port until the first announced song change with sharing on.
inline constexpr int kInitialServerPort = 1000;
// Delay after which the window hides itself once created.
inline constexpr unsigned kFirstStartHideMs = 10;

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
    // The modal TConfirmDialog for the transfer in `row`: true when the user chose OK. Runs a
    // nested message loop, in which `stillWanted` is asked every few hundred milliseconds; when
    // it answers false (the peer has gone) the dialog ends as if Cancel had been chosen.
    virtual bool AskConfirmation(const TConfirmQuestion& question, int row,
                                 const std::function<bool()>& stillWanted) = 0;
    // Ends the open question of `row`, if any, as if Cancel had been chosen.
    virtual void DropConfirmation(int row) = 0;
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
    void SetServedFile(const std::string& path);
    // Moves the listener to `port` unless it already listens there. The transfers of the old
    // listener are ended first. When the port cannot be opened the user is told (once for the
    // same port and cause) and nothing listens until a later call succeeds. While a download
    // question is open (this call comes from inside its loop) the listener moves once the
    // question has been answered: its connection must outlive the handler that asks.
    void SetServerPort(int port);
    // The configured port text is no port at all: the user is told once; the listener stays.
    void RejectServerPort(const std::string& text);
    // Whether the listener is open and no move is pending, and on which port (for the link).
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
    bool ConfirmUser(TBrenloFileServer* sender, const std::string& username);
    void UpdateStat(TBrenloFileServer* sender, std::int32_t pos, const std::string& time,
                    const std::string& speed, std::int64_t bytes, std::int64_t total);
    void SocketClose(TBrenloFileServer* sender);
    void ClientCancelled(TBrenloFileServer* sender);
    void ProgressbarMouseMove(int barTag);
    void updateglobalprogress();

    const TTransferRows& Rows() const { return rows_; }

    TServerSocket ServerSocket1;

  private:
    // The row of `sender` while it is open and carries that transfer, else -1.
    int RowOf(const TBrenloFileServer* sender) const;
    void MoveListener(int port);
    // Opens the listener on `port` (closed first); the user is told when that fails.
    void ReopenListener(int port);
    void ApplyPendingMove();
    // Ends every transfer and frees its row; with `forgetHandlers` the transfers are first
    // detached from this form.
    void EndTransfers(bool forgetHandlers);
    void OpenListener();
    void ReportOnce(const std::string& key, const std::string& text);

    IFileServerWindow& window_;
    TTransferRows rows_;
    std::string servedFileName_;
    bool trayIconShown_ = false;
    std::string lastReport_;  // what the user was last told about the listener
    int questionsOpen_ = 0;   // ConfirmUser calls waiting for the user
    int pendingPort_ = 0;     // a listener move waiting for the questions to end; 0 for none
    // Cleared when the form goes, so that a handler back from a nested loop can tell.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The user's message when the listener cannot be opened on `port` (German, plain words).
std::string ListenerFailureText(int port, int socketError, const std::string& detail);
// The user's message when the configured port text is no port.
std::string InvalidPortText(const std::string& text);
