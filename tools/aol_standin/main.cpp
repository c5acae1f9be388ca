// Stand-in for the AOL chat client, for tests and demos of the chat driver.
//
// It opens a main window of class "AOL Frame25" with an "MDIClient" document area holding one
// "AOL Child" window per room. A room's children are chosen by its shape:
//   A   "RICHCNTLREADONLY" transcript, one "RICHCNTL" input, "_AOL_STATIC" (room name), combo box
//   B   one "RICHCNTL" input, "_AOL_STATIC" "AOL_CHAT_FORM", combo box (no read-only transcript)
//   AB  transcript, one input, "_AOL_STATIC" "AOL_CHAT_FORM", combo box
//   C   transcript, two inputs, combo box
// and "_AOL_ICON" fillers up to the room's child count. An input keeps its text, answers
// WM_GETTEXT, WM_GETTEXTLENGTH and WM_SETTEXT, and treats the character 13 as "send": the room's
// transcript gets the input's text and the input is emptied, the way the real client sends.
//
// Usage:
//   aol_standin [--room SPEC]... [--rooms FILE] [--hang-on-post MS] [--close-on-read NAME]
//               [--trace] [--commands] [--timeout MS]
// SPEC (one per line in FILE, '#' starts a comment):
//   shape|child count|room name[|typed text[|typing interval in ms]]
// The typed text is in the room's last input. With a typing interval the user goes on typing one
// letter every interval until the input's text is replaced. --hang-on-post stops answering any
// message for MS milliseconds when an input first loses the focus (the driver's first message).
// --close-on-read closes the named room as soon as its input has been read once.
// The program ends after --timeout (default 60000 ms), when its main window is closed, or with
// --commands on the line "quit" on standard input ("print" prints the inputs' texts).
//
// Output, flushed line by line:
//   chat: ready
//   chat: room 'NAME': LINE            each line a room's transcript gets
//   chat: room 'NAME' input N: TEXT    each input's text, at exit and on the message WM_APP + 1
//   chat: room 'NAME' input N: MESSAGE [TEXT]   every message an input gets, with --trace
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char kFrameClass[] = "AOL Frame25";
constexpr char kRoomClass[] = "AOL Child";
constexpr char kInputClass[] = "RICHCNTL";
constexpr char kTranscriptClass[] = "RICHCNTLREADONLY";
constexpr char kStaticClass[] = "_AOL_STATIC";
constexpr char kComboBoxClass[] = "_AOL_COMBOBOX";
constexpr char kFillerClass[] = "_AOL_ICON";
constexpr char kChatFormText[] = "AOL_CHAT_FORM";

constexpr UINT WM_PRINT_INPUTS = WM_APP + 1;
constexpr UINT_PTR kTypingTimer = 1;
constexpr UINT_PTR kTimeoutTimer = 2;

struct Room;

struct Input {
    Room* room = nullptr;
    int number = 0;
    std::string text;
    bool typing = false;
    char nextLetter = 'a';
};

struct Room {
    std::string shape;
    int children = 0;
    std::string name;
    std::string typed;
    unsigned typingMs = 0;
    HWND window = nullptr;
    HWND transcript = nullptr;
    std::string transcriptText;
    std::vector<std::unique_ptr<Input>> inputs;
};

struct Options {
    std::vector<std::unique_ptr<Room>> rooms;
    unsigned hangOnPostMs = 0;
    std::string closeOnRead;
    unsigned timeoutMs = 60000;
    bool trace = false;
    bool commands = false;
};

Options options;
HWND frame = nullptr;
HWND documentArea = nullptr;
bool hangDone = false;

void Print(const std::string& line) {
    std::fputs(("chat: " + line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& why) {
    Print("error: " + why);
    std::exit(2);
}

std::string InputName(const Input& input) {
    return "room '" + input.room->name + "' input " + std::to_string(input.number);
}

void Trace(const Input& input, const std::string& what) {
    if (options.trace)
        Print(InputName(input) + ": " + what);
}

void PrintInputs() {
    for (const auto& room : options.rooms)
        for (const auto& input : room->inputs)
            Print(InputName(*input) + ": " + input->text);
}

std::unique_ptr<Room> ParseRoom(const std::string& spec) {
    std::vector<std::string> fields;
    std::stringstream ss(spec);
    std::string field;
    while (std::getline(ss, field, '|'))
        fields.push_back(field);
    if (fields.size() < 3)
        Fail("room needs shape|child count|name: " + spec);
    auto room = std::make_unique<Room>();
    room->shape = fields[0];
    room->children = std::atoi(fields[1].c_str());
    room->name = fields[2];
    if (fields.size() > 3)
        room->typed = fields[3];
    if (fields.size() > 4)
        room->typingMs = static_cast<unsigned>(std::atoi(fields[4].c_str()));
    if (room->shape != "A" && room->shape != "B" && room->shape != "AB" && room->shape != "C")
        Fail("unknown shape: " + room->shape);
    return room;
}

void ParseOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Fail("missing value after " + arg);
            return argv[++i];
        };
        if (arg == "--room") {
            options.rooms.push_back(ParseRoom(value()));
        } else if (arg == "--rooms") {
            std::ifstream file(value(), std::ios::binary);
            if (!file)
                Fail("cannot read the rooms file");
            std::string line;
            while (std::getline(file, line)) {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                if (line.empty() || line[0] == '#')
                    continue;
                options.rooms.push_back(ParseRoom(line));
            }
        } else if (arg == "--hang-on-post") {
            options.hangOnPostMs = static_cast<unsigned>(std::atoi(value().c_str()));
        } else if (arg == "--close-on-read") {
            options.closeOnRead = value();
        } else if (arg == "--timeout") {
            options.timeoutMs = static_cast<unsigned>(std::atoi(value().c_str()));
        } else if (arg == "--commands") {
            options.commands = true;
        } else if (arg == "--trace") {
            options.trace = true;
        } else {
            Fail("unknown option " + arg);
        }
    }
}

LRESULT InputMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* input = reinterpret_cast<Input*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        input = static_cast<Input*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(input));
    }
    if (input == nullptr)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    switch (message) {
        case WM_GETTEXTLENGTH:
            Trace(*input, "WM_GETTEXTLENGTH");
            return static_cast<LRESULT>(input->text.size());
        case WM_GETTEXT: {
            // The limit counts the terminating zero, as with the system's edit control.
            if (wParam == 0 || lParam == 0)
                return 0;
            const std::size_t n = std::min<std::size_t>(wParam - 1, input->text.size());
            auto* buffer = reinterpret_cast<char*>(lParam);
            input->text.copy(buffer, n);
            buffer[n] = '\0';
            Trace(*input, "WM_GETTEXT " + std::string(buffer, n));
            if (input->room->name == options.closeOnRead) {
                // The user closes the room while the driver is between two samples.
                options.closeOnRead.clear();
                Print("closing room '" + input->room->name + "'");
                PostMessageA(input->room->window, WM_CLOSE, 0, 0);
            }
            return static_cast<LRESULT>(n);
        }
        case WM_SETTEXT:
            input->text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
            input->typing = false;
            Trace(*input, "WM_SETTEXT " + input->text);
            return TRUE;
        case WM_CHAR:
            Trace(*input, "WM_CHAR " + std::to_string(wParam));
            if (wParam == 13) {
                Room& room = *input->room;
                Print("room '" + room.name + "': " + input->text);
                room.transcriptText += input->text + "\r\n";
                if (room.transcript != nullptr)
                    SetWindowTextA(room.transcript, room.transcriptText.c_str());
                input->text.clear();
            } else {
                input->text += static_cast<char>(wParam);
            }
            return 0;
        case WM_KILLFOCUS:
            Trace(*input, "WM_KILLFOCUS");
            if (options.hangOnPostMs != 0 && !hangDone) {
                hangDone = true;
                Print("hanging for " + std::to_string(options.hangOnPostMs) + " ms");
                Sleep(options.hangOnPostMs);
                Print("answering again");
            }
            return 0;
        case WM_SETFOCUS:
            Trace(*input, "WM_SETFOCUS");
            return 0;
        case WM_TIMER:
            if (wParam == kTypingTimer && input->typing) {
                input->text += input->nextLetter;
                input->nextLetter = input->nextLetter == 'z' ? 'a' : input->nextLetter + 1;
            }
            return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK InputProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return InputMessage(hwnd, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

LRESULT CALLBACK PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK RoomProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefMDIChildProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        switch (message) {
            case WM_CREATE: {
                CLIENTCREATESTRUCT ccs = {};
                ccs.idFirstChild = 1000;
                documentArea = CreateWindowExA(0, "MDIClient", nullptr,
                                               WS_CHILD | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0, 600,
                                               400, hwnd, nullptr, GetModuleHandleA(nullptr), &ccs);
                return documentArea != nullptr ? 0 : -1;
            }
            case WM_TIMER:
                if (wParam == kTimeoutTimer) {
                    Print("timeout");
                    DestroyWindow(hwnd);
                }
                return 0;
            case WM_PRINT_INPUTS:
                PrintInputs();
                return 0;
            case WM_CLOSE:
                DestroyWindow(hwnd);
                return 0;
            case WM_DESTROY:
                PostQuitMessage(0);
                return 0;
        }
    } catch (...) {
        return 0;
    }
    return DefFrameProcA(hwnd, documentArea, message, wParam, lParam);
}

void Register(const char* name, WNDPROC proc) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = name;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    if (RegisterClassA(&wc) == 0)
        Fail(std::string("cannot register ") + name);
}

HWND Child(Room& room, const char* cls, const char* text, void* param = nullptr) {
    HWND h = CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, room.window,
                             nullptr, GetModuleHandleA(nullptr), param);
    if (h == nullptr)
        Fail(std::string("cannot create ") + cls);
    return h;
}

void BuildRoom(Room& room) {
    room.window =
        CreateMDIWindowA(kRoomClass, room.name.c_str(), WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                         400, 300, documentArea, GetModuleHandleA(nullptr), 0);
    if (room.window == nullptr)
        Fail("cannot create room " + room.name);
    int made = 0;
    auto add = [&](const char* cls, const char* text, void* param = nullptr) {
        ++made;
        return Child(room, cls, text, param);
    };
    const bool chatForm = room.shape == "B" || room.shape == "AB";
    const int inputs = room.shape == "C" ? 2 : 1;
    if (room.shape != "B")
        room.transcript = add(kTranscriptClass, "");
    for (int i = 1; i <= inputs; ++i) {
        auto input = std::make_unique<Input>();
        input->room = &room;
        input->number = i;
        if (i == inputs) {
            input->text = room.typed;
            input->typing = room.typingMs != 0;
        }
        HWND h = add(kInputClass, "", input.get());
        if (input->typing)
            SetTimer(h, kTypingTimer, room.typingMs, nullptr);
        room.inputs.push_back(std::move(input));
    }
    if (chatForm || room.shape == "A")
        add(kStaticClass, chatForm ? kChatFormText : room.name.c_str());
    add(kComboBoxClass, "");
    while (made < room.children)
        add(kFillerClass, "");
}

}  // namespace

int main(int argc, char** argv) {
    ParseOptions(argc, argv);
    Register(kFrameClass, FrameProc);
    Register(kRoomClass, RoomProc);
    Register(kInputClass, InputProc);
    Register(kTranscriptClass, PlainProc);
    Register(kStaticClass, PlainProc);
    Register(kComboBoxClass, PlainProc);
    Register(kFillerClass, PlainProc);

    frame = CreateWindowExA(0, kFrameClass, "AOL", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                            CW_USEDEFAULT, CW_USEDEFAULT, 640, 480, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
    if (frame == nullptr)
        Fail("cannot create the main window");
    for (auto& room : options.rooms)
        BuildRoom(*room);
    ShowWindow(frame, SW_SHOWNORMAL);
    SetTimer(frame, kTimeoutTimer, options.timeoutMs, nullptr);
    Print("ready");
    if (options.commands) {
        // Commands on standard input: "print" shows the inputs' texts, "quit" closes the client.
        std::thread([] {
            char line[256];
            while (std::fgets(line, sizeof line, stdin) != nullptr) {
                const std::string command(line, std::strcspn(line, "\r\n"));
                if (command == "print")
                    PostMessageA(frame, WM_PRINT_INPUTS, 0, 0);
                if (command == "quit")
                    PostMessageA(frame, WM_CLOSE, 0, 0);
            }
        }).detach();
    }

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    PrintInputs();
    return 0;
}
