// Helpers for Windows tests: paths of the built programs and running a child program.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testutil {

// "/a/b" (a Linux path handed in by the build) as Wine sees it: "Z:\a\b".
std::string WinePath(const std::string& linuxPath);

std::string PluginDll();      // the built gen_brenloplug3.dll
std::string WinampStandin();  // the stand-in player
std::string BuildDir();       // the build folder (Wine path)
std::string TempFile(const std::string& name, const std::string& content);  // in the build folder

struct ProcessResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error
    std::vector<std::string> Lines() const;
    bool Has(const std::string& line) const;  // a whole line equal to `line`
    // Index of the first line containing `text` at or after `from`, or -1.
    int Find(const std::string& text, int from = 0) const;
};

// Whether `output` holds these texts one after the other.
bool ContainsInOrder(const std::string& output, const std::vector<std::string>& texts);

// Runs a command line and collects its output; kills it after `timeoutMs`.
ProcessResult RunProgram(const std::string& commandLine, unsigned timeoutMs = 60000);

std::string Quote(const std::string& arg);

// Starts `commandLine` in the background with its standard output and error in a new file of the
// build folder named after `name` (a file, not a pipe: Wine may start its desktop process from
// the program, and that process would inherit a pipe's write end and keep it open for good).
// Fills `process` (all zero when the program did not start) and returns the file's path.
std::string StartWithOutputFile(const std::string& commandLine, const std::string& name,
                                PROCESS_INFORMATION* process);
// What such a program has written to its file so far.
std::string ReadOutputFile(const std::string& path);

// A stand-in player's script step: until the plug-in has asked for the position while nothing
// plays (its watcher's cue that the next play is a new song).
inline constexpr char kUntilArmed[] = "until query 105 data 0: -1";

// Runs this thread's messages until `done` holds; false when it did not within `boundMs`, a
// "hung" bound far beyond the expected time.
bool PumpUntil(const std::function<bool()>& done, unsigned boundMs = 30000);
// Runs this thread's messages for `ms` (a scenario's pause, not a wait for something).
void PumpFor(unsigned ms);

// A loopback port on which nothing listens at the moment.
int FreeLoopbackPort();
// The first port from a high one picked by this process's id on (in steps of 11) for which
// `opens` succeeds, or 0: for listeners that must not take a port the system hands out.
int SearchPort(const std::function<bool(int port)>& opens);

// A named event that a scripted stand-in player waits for with "await NAME".
class PlayerCue {
  public:
    PlayerCue();
    ~PlayerCue();
    PlayerCue(const PlayerCue&) = delete;
    PlayerCue& operator=(const PlayerCue&) = delete;
    const std::string& Name() const { return name_; }
    void Set();

  private:
    std::string name_;
    HANDLE event_ = nullptr;
};

// Lets a started program end within `timeoutMs` (else ends it with code 99), closes its handles
// and gives its exit code; `killed` says whether it had to be ended.
int EndProcess(PROCESS_INFORMATION& process, unsigned timeoutMs, bool* killed);

// Waits up to `timeoutMs` until `seen` holds while `process` runs; once the process has ended,
// what it left decides at once.
bool WaitWhileRunning(HANDLE process, const std::function<bool()>& seen, unsigned timeoutMs);

// A program run in the background with its output in a file (see StartWithOutputFile).
class BackgroundProgram {
  public:
    BackgroundProgram(const std::string& commandLine, const std::string& name);
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;
    bool Started() const { return process_.hProcess != nullptr; }
    // Waits (bounded) until it has printed a line containing `text`; false when it ended or the
    // time is up first.
    bool WaitFor(const std::string& text, unsigned timeoutMs = 30000);
    // Waits (bounded) for its end and returns its exit code and output; kills it after
    // `timeoutMs`.
    ProcessResult Finish(unsigned timeoutMs = 60000);

  private:
    std::string outputPath_;
    PROCESS_INFORMATION process_ = {};
    bool finished_ = false;
    ProcessResult result_;
};

// Pumps this thread's messages until the plug-in DLL is no longer mapped into this process, at
// most `timeoutMs`; true when it is not mapped. A test that loads the DLL in-process needs a
// fresh load: an earlier test's chooser keeps the module mapped until this thread pumps again.
bool WaitUntilPluginUnmapped(unsigned timeoutMs = 15000);

// Lets the next `good` ReadFile calls of the file streams in this program succeed and fails
// every later one with ERROR_NETNAME_DELETED, as a file on a network drive that went away;
// -1 puts the system's ReadFile back.
void FailReadFileAfter(int good);

}  // namespace testutil
