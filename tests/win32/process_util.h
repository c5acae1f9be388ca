// Helpers for Windows tests: paths of the built programs and running a child program.
#pragma once

#include <windows.h>

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

// Pumps this thread's messages until the plug-in DLL is no longer mapped into this process, at
// most `timeoutMs`; true when it is not mapped. A test that loads the DLL in-process needs a
// fresh load: an earlier test's chooser keeps the module mapped until this thread pumps again.
bool WaitUntilPluginUnmapped(unsigned timeoutMs = 15000);

// Lets the next `good` ReadFile calls of the file streams in this program succeed and fails
// every later one with ERROR_NETNAME_DELETED, as a file on a network drive that went away;
// -1 puts the system's ReadFile back.
void FailReadFileAfter(int good);

}  // namespace testutil
