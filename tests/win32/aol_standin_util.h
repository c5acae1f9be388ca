// The stand-in chat client run as a separate process next to a test: started, watched and ended.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "process_util.h"

namespace testutil {

std::string AolStandin();  // the built stand-in chat client (Wine path)

class ChatClientProcess {
  public:
    // Starts the stand-in with these arguments and waits (bounded) until its rooms are built.
    explicit ChatClientProcess(const std::string& arguments);
    ~ChatClientProcess();
    ChatClientProcess(const ChatClientProcess&) = delete;
    ChatClientProcess& operator=(const ChatClientProcess&) = delete;

    bool Ready() const { return mainWindow_ != nullptr; }
    // Waits (bounded) until a line containing `text` has been printed.
    bool WaitFor(const std::string& text, unsigned timeoutMs);
    // Closes the main window and returns everything the stand-in printed.
    ProcessResult Finish(unsigned timeoutMs = 15000);

    // What the stand-in printed, taken apart.
    static std::vector<std::string> Transcript(const ProcessResult& r, const std::string& room);
    static std::string InputText(const ProcessResult& r, const std::string& room, int input);
    // The texts of one kind of traced message to an input, e.g. "WM_GETTEXT" or "WM_SETTEXT".
    static std::vector<std::string> Traced(const ProcessResult& r, const std::string& room,
                                           int input, const std::string& message);

  private:
    std::string Output();

    std::string outputPath_;
    PROCESS_INFORMATION process_ = {};
    HWND mainWindow_ = nullptr;
    bool finished_ = false;
    ProcessResult result_;
};

}  // namespace testutil
