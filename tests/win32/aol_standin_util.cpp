#include "aol_standin_util.h"

namespace testutil {

#ifdef BP_AOL_STANDIN_EXE
std::string AolStandin() {
    return WinePath(BP_AOL_STANDIN_EXE);
}
#endif

ChatClientProcess::ChatClientProcess(const std::string& arguments) {
    outputPath_ =
        StartWithOutputFile(Quote(AolStandin()) + " " + arguments, "aol_standin", &process_);
    if (process_.hProcess == nullptr)
        return;
    if (WaitFor("chat: ready", 20000))
        mainWindow_ = FindWindowA("AOL Frame25", nullptr);
}

ChatClientProcess::~ChatClientProcess() {
    Finish();
}

std::string ChatClientProcess::Output() {
    return ReadOutputFile(outputPath_);
}

bool ChatClientProcess::WaitFor(const std::string& text, unsigned timeoutMs) {
    return WaitForInOrder({text}, timeoutMs);
}

bool ChatClientProcess::WaitForInOrder(const std::vector<std::string>& texts, unsigned timeoutMs) {
    return WaitWhileRunning(
        process_.hProcess, [&] { return ContainsInOrder(Output(), texts); }, timeoutMs);
}

ProcessResult ChatClientProcess::Finish(unsigned timeoutMs) {
    if (finished_)
        return result_;
    finished_ = true;
    if (process_.hProcess != nullptr && mainWindow_ != nullptr)
        PostMessageA(mainWindow_, WM_CLOSE, 0, 0);
    bool killed = false;
    result_.exitCode = EndProcess(process_, timeoutMs, &killed);
    result_.output = Output() + (killed ? "\n(killed after timeout)\n" : "");
    return result_;
}

std::vector<std::string> ChatClientProcess::Transcript(const ProcessResult& r,
                                                       const std::string& room) {
    const std::string prefix = "chat: room '" + room + "': ";
    std::vector<std::string> lines;
    for (const auto& l : r.Lines())
        if (l.rfind(prefix, 0) == 0)
            lines.push_back(l.substr(prefix.size()));
    return lines;
}

std::string ChatClientProcess::InputText(const ProcessResult& r, const std::string& room,
                                         int input) {
    const std::string prefix = "chat: room '" + room + "' input " + std::to_string(input) + ": ";
    std::string text = "(not printed)";
    for (const auto& l : r.Lines())
        if (l.rfind(prefix, 0) == 0 && l.find("WM_", prefix.size()) != prefix.size())
            text = l.substr(prefix.size());
    return text;
}

std::vector<std::string> ChatClientProcess::Traced(const ProcessResult& r, const std::string& room,
                                                   int input, const std::string& message) {
    const std::string prefix =
        "chat: room '" + room + "' input " + std::to_string(input) + ": " + message;
    std::vector<std::string> texts;
    for (const auto& l : r.Lines()) {
        if (l.rfind(prefix, 0) != 0)
            continue;
        const std::string rest = l.substr(prefix.size());
        if (rest.empty() || rest[0] == ' ')
            texts.push_back(rest.empty() ? "" : rest.substr(1));
    }
    return texts;
}

}  // namespace testutil
