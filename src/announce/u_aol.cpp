// The chat client driver: recognises the chat room windows of the AOL client by their children,
// saves the user's typed text, posts the advert line and the song line, and puts everything back.
#include "announce/u_aol.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr char kMainWindowClass[] = "AOL Frame25";
constexpr char kDocumentAreaClass[] = "MDIClient";
constexpr char kDocumentClass[] = "AOL Child";
constexpr char kInputClass[] = "RICHCNTL";
constexpr char kReadOnlyClass[] = "RICHCNTLREADONLY";
constexpr char kStaticClass[] = "_AOL_STATIC";
constexpr char kChatFormText[] = "AOL_CHAT_FORM";
constexpr char kComboBoxClass[] = "_AOL_COMBOBOX";

constexpr int kSampleCount = 4;
constexpr int kSampleMaxChars = 1999;
constexpr unsigned kSampleGapMs = 150;
constexpr unsigned kAfterAdvertMs = 200;
constexpr unsigned kAfterLineMs = 100;
constexpr unsigned kAfterPostingMs = 100;
constexpr char kEnter = 13;

// The first gate lets a room that shows only shape A or only shape C take part when this holds.
// They do take part: the second gate (transcript and combo box) and the exact child counts (24
// or 29 for A, 24 for C) already single out the chat forms of the client versions that carry no
// "AOL_CHAT_FORM" marker, while an instant-message or mail form has other counts and stays out.
// Leaving them out would silently post nothing in those client versions.
constexpr bool kShapesAAndCTakePart = true;

IChatWindows* installedWindows = nullptr;

struct TRoomShape {
    bool A = false;
    bool B = false;
    bool C = false;
    ChatWindow e1 = 0;  // first input control
    ChatWindow e2 = 0;  // second input control
};

TRoomShape ShapeOf(IChatWindows& w, ChatWindow room) {
    TRoomShape shape;
    int inputs = 0;
    for (ChatWindow child = w.FindChildWindow(room, 0, kInputClass, nullptr); child != 0;
         child = w.FindChildWindow(room, child, kInputClass, nullptr)) {
        if (inputs == 0)
            shape.e1 = child;
        if (inputs == 1)
            shape.e2 = child;
        if (++inputs > 2)
            break;
    }
    const bool readOnly = w.FindChildWindow(room, 0, kReadOnlyClass, nullptr) != 0;
    const bool chatForm = w.FindChildWindow(room, 0, kStaticClass, kChatFormText) != 0;
    shape.A = inputs == 1 && readOnly;
    shape.B = inputs == 1 && chatForm;
    shape.C = inputs == 2;
    return shape;
}

int ChildCount(IChatWindows& w, ChatWindow room) {
    int count = 0;
    for (ChatWindow child = w.FindChildWindow(room, 0, nullptr, nullptr); child != 0;
         child = w.FindChildWindow(room, child, nullptr, nullptr))
        ++count;
    return count;
}

bool PassesGates(IChatWindows& w, ChatWindow room, const TRoomShape& shape) {
    if (!(shape.B || ((shape.A || shape.C) && kShapesAAndCTakePart)))
        return false;
    if (w.FindChildWindow(room, 0, kReadOnlyClass, nullptr) == 0 ||
        w.FindChildWindow(room, 0, kComboBoxClass, nullptr) == 0)
        return false;
    const int n = ChildCount(w, room);
    return (shape.B && n >= 21) || (shape.A && n == 29) || n == 24;
}

// The ending common to all samples, taken from the first one.
std::string CommonEnding(const std::array<std::string, kSampleCount>& samples) {
    std::size_t shortest = samples[0].size();
    for (const auto& s : samples)
        shortest = std::min(shortest, s.size());
    std::size_t k = 1;
    for (; k <= shortest; ++k) {
        const char c = samples[0][samples[0].size() - k];
        const bool same = std::all_of(samples.begin(), samples.end(),
                                      [&](const std::string& s) { return s[s.size() - k] == c; });
        if (!same)
            break;
    }
    return samples[0].substr(samples[0].size() - (k - 1));
}

enum class TRoomResult { Posted, Skipped, ClientHangs };

// Posts into one room that passed the gates. A room whose input vanishes is left at once; when
// the client stops answering nothing more is sent to it, so a hung client costs one timeout.
TRoomResult PostIntoRoom(IChatWindows& w, const TRoomShape& shape, const TAolMessage& message,
                         const std::string& line) {
    const ChatWindow target = shape.C ? shape.e2 : shape.e1;
    TDelivery failure = TDelivery::Answered;
    auto sent = [&failure](TDelivery d) {
        if (d != TDelivery::Answered)
            failure = d;
        return d == TDelivery::Answered;
    };
    auto result = [&failure] {
        return failure == TDelivery::NoAnswer ? TRoomResult::ClientHangs : TRoomResult::Skipped;
    };

    if (!sent(w.SendKillFocus(target)))
        return result();

    std::array<std::string, kSampleCount> samples;
    for (auto& sample : samples) {
        if (!sent(w.SendGetTextLength(target)))
            return result();
        if (!sent(w.SendGetText(target, kSampleMaxChars, sample)))
            return result();
        w.Sleep(kSampleGapMs);
    }
    const std::string restore = shape.A ? CommonEnding(samples) : samples.back();

    if (!sent(w.SendSetText(target, std::string())))
        return result();
    if (message.Advertising) {
        if (!sent(w.SendSetText(target, message.AdvertLine)))
            return result();
        if (!sent(w.SendChar(target, kEnter)))
            return result();
        w.Sleep(kAfterAdvertMs);
    }
    if (!sent(w.SendSetText(target, line)))
        return result();
    if (!sent(w.SendChar(target, kEnter)))
        return result();
    w.Sleep(kAfterLineMs);
    if (!sent(w.SendSetText(target, restore)))
        return result();
    if (!sent(w.SendSetFocus(target)))
        return result();
    return TRoomResult::Posted;
}

// The input attachment of one posting. It remembers the threads it joined, so that it is undone
// even when the chat client's main window is gone by the end of the posting.
class TInputAttachment {
  public:
    explicit TInputAttachment(IChatWindows& w) : w_(w) {
        const ChatWindow main = w.FindTopWindow(kMainWindowClass);
        if (main == 0)
            return;
        from_ = w.CurrentThreadId();
        to_ = w.WindowThreadId(main);
        if (to_ == 0 || to_ == from_) {
            to_ = 0;
            return;
        }
        w.AttachThreadInput(from_, to_, true);
    }
    TInputAttachment(const TInputAttachment&) = delete;
    TInputAttachment& operator=(const TInputAttachment&) = delete;
    ~TInputAttachment() {
        if (to_ != 0)
            w_.AttachThreadInput(from_, to_, false);
    }

  private:
    IChatWindows& w_;
    std::uint32_t from_ = 0;
    std::uint32_t to_ = 0;
};

}  // namespace

void SetChatWindows(IChatWindows* windows) {
    installedWindows = windows;
}
IChatWindows* GetChatWindows() {
    return installedWindows;
}

std::string BuildAolLine(const TAolMessage& message) {
    std::string line;
    if (message.FontFormat) {
        if (!message.FontFace.empty())
            line += "<font face=\"" + message.FontFace + "\">";
        line += message.Bold ? "<b>" : "</b>";
        line += message.Italic ? "<i>" : "</i>";
        line += message.Underline ? "<u>" : "</u>";
        line += message.StrikeOut ? "<s>" : "</s>";
    }
    return line + message.PreText + message.Text + message.PostText;
}

bool ChatClientRunning(IChatWindows& windows) {
    return windows.FindTopWindow(kMainWindowClass) != 0;
}

void AttachToChatClient(bool attach) {
    if (installedWindows == nullptr)
        return;
    IChatWindows& w = *installedWindows;
    const ChatWindow main = w.FindTopWindow(kMainWindowClass);
    if (main == 0)
        return;
    const std::uint32_t self = w.CurrentThreadId();
    const std::uint32_t client = w.WindowThreadId(main);
    if (client != 0 && client != self)
        w.AttachThreadInput(self, client, attach);
}

int PostAolMessage(const TAolMessage& message) {
    if (installedWindows == nullptr)
        return 1;
    return PostAolMessage(message, *installedWindows);
}

int PostAolMessage(const TAolMessage& message, IChatWindows& w) {
    const std::string line = BuildAolLine(message);

    const ChatWindow main = w.FindTopWindow(kMainWindowClass);
    if (main == 0)
        return 1;
    {
        TInputAttachment attachment(w);
        const ChatWindow focus = w.GetFocus();

        // The rooms are listed first: a room closed while an earlier one is served would end a
        // walk that searches onwards from it.
        std::vector<ChatWindow> rooms;
        const ChatWindow area = w.FindChildWindow(main, 0, kDocumentAreaClass, nullptr);
        if (area != 0) {
            for (ChatWindow room = w.FindChildWindow(area, 0, kDocumentClass, nullptr); room != 0;
                 room = w.FindChildWindow(area, room, kDocumentClass, nullptr))
                rooms.push_back(room);
        }
        for (ChatWindow room : rooms) {
            const TRoomShape shape = ShapeOf(w, room);
            if (!PassesGates(w, room, shape))
                continue;
            if (PostIntoRoom(w, shape, message, line) == TRoomResult::ClientHangs)
                break;
        }
        w.SetFocus(focus);
    }
    w.Sleep(kAfterPostingMs);
    return 1;
}
