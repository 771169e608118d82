#include "platform/ui/UIAutomationCommands.h"

#include <cairo.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/common/KWLog.h"
#include "platform/common/KWStringConvert.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIAutomationServer.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIClock.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIProgress.h"
#include "platform/ui/UIRichEdit.h"
#include "platform/ui/UIWindowWnd.h"

namespace KwLib {

namespace {

const KWJsonValue& Field(const KWJsonValue& request, const char* name) {
    return KWJsonUtils::Member(request, name);
}

bool ReadInt(const KWJsonValue& v, int& out) {
    if (!v.isInt())
        return false;
    out = v.asInt();
    return true;
}

// Mouse coordinates travel as signed 16-bit halves of lParam.
bool FitsMouseCoord(int v) {
    return v >= -32768 && v <= 32767;
}

bool IsInputMessage(uint32_t m) {
    return (m >= WM_KEYDOWN && m <= WM_SYSKEYUP) || (m >= WM_MOUSEMOVE && m <= WM_MOUSEWHEEL);
}

// Whether `inner` is `outer` or lies inside it in the control tree.
bool Within(const UIControl* inner, const UIControl* outer) {
    for (const UIControl* c = inner; c; c = c->GetParent())
        if (c == outer)
            return true;
    return false;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string WindowName(const UIWindowWnd* w) {
    return Quoted(w->GetWindowClassName());
}

}  // namespace

UIAutomationCommands::~UIAutomationCommands() {
    Stop();
}

KWJsonValue UIAutomationCommands::Error(const std::string& text) {
    KWJsonValue answer(Json::objectValue);
    answer["ok"] = false;
    answer["error"] = text;
    return answer;
}

void UIAutomationCommands::Stop() {
    UIApplication::Instance().KillTimers(this);
}

void UIAutomationCommands::Run(const std::string& cmd, const KWJsonValue& request, const Reply& reply) {
    Run(cmd, request, reply, UIClock::NowMs());
}

void UIAutomationCommands::Run(const std::string& cmd, const KWJsonValue& request, const Reply& reply,
                               uint64_t receivedMs) {
    m_inputTime = receivedMs;
    // A driver may say when its input happened, as a keyboard stamps a key
    // when it goes down rather than when the program reads it.
    const bool input = cmd == "click" || cmd == "dblclick" || cmd == "drag" || cmd == "type" || cmd == "key";
    const KWJsonValue& time = Field(request, "time");
    if (input && !time.isNull()) {
        const double t = time.isNumeric() ? time.asDouble() : -1.0;
        if (t < 0 || t >= static_cast<double>(receivedMs) + 1 ||
            t + kMaxInputAgeMs < static_cast<double>(receivedMs)) {
            reply(Error("\"time\" must be a moment of the last " + std::to_string(kMaxInputAgeMs / 1000) +
                        " s on the program's clock in ms (\"now\" of the state answer), not a later one"));
            return;
        }
        m_inputTime = static_cast<uint64_t>(t);
    }
    if (cmd == "state") {
        reply(State());
    } else if (cmd == "click" || cmd == "dblclick") {
        Click(request, cmd == "dblclick", reply);
    } else if (cmd == "drag") {
        Drag(request, reply);
    } else if (cmd == "move") {
        Move(request, reply);
    } else if (cmd == "type") {
        Type(request, reply);
    } else if (cmd == "key") {
        Key(request, reply);
    } else if (cmd == "screenshot") {
        reply(Screenshot(request));
    } else if (cmd == "wait") {
        Wait(request, reply);
    } else {
        KWJsonValue answer(Json::objectValue);
        if (m_host && m_host->HandleCommand(cmd, request, answer)) {
            if (!answer.isObject()) {
                reply(Error("the program answered " + Quoted(cmd) + " with something that is not an object"));
                return;
            }
            if (!answer.isMember("ok"))
                answer["ok"] = true;
            reply(answer);
        } else {
            reply(Error("unknown command " + Quoted(cmd)));
        }
    }
}

// ---- windows ----

UIWindowWnd* UIAutomationCommands::ActiveWindow() const {
    auto& app = UIApplication::Instance();
    const auto& windows = app.Windows();
    // The window most recently registered is the one on top.
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if ((*it)->IsWindow() && (*it)->IsVisible() && (*it)->IsModal())
            return *it;
    UIWindowWnd* main = m_host ? m_host->GetAutomationMainWindow() : nullptr;
    if (main && app.IsAlive(main) && main->IsWindow() && main->IsVisible())
        return main;
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if ((*it)->IsWindow() && (*it)->IsVisible())
            return *it;
    return nullptr;
}

UIWindowWnd* UIAutomationCommands::MainWindow() const {
    UIWindowWnd* main = m_host ? m_host->GetAutomationMainWindow() : nullptr;
    if (main && UIApplication::Instance().IsAlive(main) && main->IsWindow())
        return main;
    return ActiveWindow();
}

UIWindowWnd* UIAutomationCommands::TargetWindow(const KWJsonValue& request, bool forInput,
                                                std::string& error) const {
    const KWJsonValue& name = Field(request, "window");
    UIWindowWnd* window = nullptr;
    if (name.isNull()) {
        window = ActiveWindow();
        if (!window) {
            error = "no window is shown";
            return nullptr;
        }
    } else {
        if (!name.isString()) {
            error = "\"window\" must be a window class name";
            return nullptr;
        }
        const auto& windows = UIApplication::Instance().Windows();
        for (auto it = windows.rbegin(); it != windows.rend() && !window; ++it)
            if ((*it)->IsWindow() && (*it)->IsVisible() && (*it)->GetWindowClassName() == name.asString())
                window = *it;
        if (!window) {
            error = "no visible window " + Quoted(name.asString());
            return nullptr;
        }
    }
    if (!window->GetPaintManager()) {
        error = "window " + WindowName(window) + " has no controls";
        return nullptr;
    }
    if (forInput && !window->IsInputEnabled()) {
        error = "window " + WindowName(window) + " takes no input while a modal window is up";
        return nullptr;
    }
    // Geometry is read and input aimed after the pending layout, as the user sees it.
    window->GetPaintManager()->Paint();
    return window;
}

// ---- state ----

KWJsonValue UIAutomationCommands::State() {
    auto& app = UIApplication::Instance();
    KWJsonValue state(Json::objectValue);
    state["ok"] = true;
    KWJsonValue windows(Json::arrayValue);
    for (UIWindowWnd* w : app.Windows()) {
        if (!w->IsWindow() || !w->IsVisible())
            continue;
        UIRect rc = w->GetWindowRect();
        KWJsonValue item(Json::objectValue);
        item["class"] = w->GetWindowClassName();
        item["title"] = w->GetWindowText();
        item["x"] = rc.left;
        item["y"] = rc.top;
        item["w"] = rc.Width();
        item["h"] = rc.Height();
        // Controls are placed in layout units: the client area's size in them and the pixels per unit.
        item["cw"] = w->GetClientSize().cx;
        item["ch"] = w->GetClientSize().cy;
        item["scale"] = w->GetScale();
        item["modal"] = w->IsModal();
        windows.append(item);
    }
    state["windows"] = windows;

    KWJsonValue controls(Json::arrayValue);
    UIWindowWnd* active = ActiveWindow();
    UIPaintManager* pm = active ? active->GetPaintManager() : nullptr;
    state["window"] = active ? KWJsonValue(active->GetWindowClassName()) : KWJsonValue();
    if (pm && pm->GetRoot()) {
        pm->Paint();
        state["focus"] = pm->GetFocus() ? pm->GetFocus()->GetId() : 0;
        // What the pointer looks like where it is: controls show the hand over what can be dragged.
        state["cursor"] = pm->GetCurrentCursor();
        pm->GetRoot()->ForEach([&controls](UIControl* c) {
            if (c->GetId() == 0 || !c->IsVisible())
                return;
            const UIRect& rc = c->GetPos();
            KWJsonValue item(Json::objectValue);
            item["id"] = c->GetId();
            item["class"] = c->GetClass();
            item["x"] = rc.left;
            item["y"] = rc.top;
            item["w"] = rc.Width();
            item["h"] = rc.Height();
            item["enabled"] = c->IsEnabled();
            auto* edit = dynamic_cast<UIRichEdit*>(c);
            if (edit && edit->IsPasswordMode()) {
                // What the screen shows: a password stays out of driver logs.
                item["text"] = std::string(KWStringConvert::CodePointCount(c->GetText()), '*');
                item["password"] = true;
            } else {
                item["text"] = c->GetText();
            }
            if (auto* option = dynamic_cast<UIOption*>(c))
                item["selected"] = option->IsSelected();
            if (auto* progress = dynamic_cast<UIProgress*>(c)) {
                item["value"] = progress->GetValue();
                item["min"] = progress->GetMinValue();
                item["max"] = progress->GetMaxValue();
            }
            controls.append(item);
        });
    }
    state["controls"] = controls;
    state["now"] = static_cast<Json::UInt64>(UIClock::NowMs());
    if (m_host)
        m_host->FillState(state);
    return state;
}

// ---- input ----

void UIAutomationCommands::QueueInput(UIWindowWnd* window, uint32_t message, uintptr_t wParam,
                                      intptr_t lParam) const {
    UIApplication::Instance().RunOnUiThread([window, message, wParam, lParam, time = m_inputTime] {
        auto& app = UIApplication::Instance();
        // The window may have gone, or a modal box come up, since the event was queued.
        if (!app.IsAlive(window) || !window->IsWindow())
            return;
        if (IsInputMessage(message) && !window->IsInputEnabled())
            return;
        window->DispatchMessage(message, wParam, lParam, time);
    });
}

void UIAutomationCommands::QueueMouse(UIWindowWnd* window, uint32_t message, UIPoint pt,
                                      bool leftDown) const {
    UIApplication::Instance().RunOnUiThread([window, message, pt, leftDown, time = m_inputTime] {
        auto& app = UIApplication::Instance();
        if (!app.IsAlive(window) || !window->IsWindow() || !window->IsInputEnabled())
            return;
        // The modifier keys as they are when the event is dispatched, as with a real mouse.
        uint32_t mods = app.GetModifiers();
        uintptr_t flags = (leftDown ? MK_LBUTTON : 0) | ((mods & kModShift) ? MK_SHIFT : 0) |
                          ((mods & kModCtrl) ? MK_CONTROL : 0);
        window->DispatchMessage(message, flags, MakeMouseLParam(pt.x, pt.y), time);
    });
}

void UIAutomationCommands::QueueReply(const Reply& reply, KWJsonValue answer) {
    UIApplication::Instance().RunOnUiThread([reply, answer = std::move(answer)] { reply(answer); });
}

bool UIAutomationCommands::ClickablePoint(UIWindowWnd* window, int id, UIPoint& pt,
                                          std::string& error) const {
    UIPaintManager* pm = window->GetPaintManager();
    UIControl* control = pm->FindControl(id);
    std::string name = "control " + std::to_string(id) + " of window " + WindowName(window);
    if (!control) {
        error = "no control " + std::to_string(id) + " in window " + WindowName(window);
        return false;
    }
    if (!control->IsVisible()) {
        error = name + " is hidden";
        return false;
    }
    if (!control->IsEnabled()) {
        error = name + " is disabled";
        return false;
    }
    const UIRect& rc = control->GetPos();
    UISize client = pm->GetClientSize();
    UIRect visible = rc.Intersect({0, 0, client.cx, client.cy});
    if (visible.IsEmpty()) {
        error = name + " is not on the window (" + std::to_string(rc.left) + "," + std::to_string(rc.top) +
                " " + std::to_string(rc.Width()) + "x" + std::to_string(rc.Height()) + ")";
        return false;
    }
    pt = {(visible.left + visible.right) / 2, (visible.top + visible.bottom) / 2};
    // The click lands wherever the user's would: on the control, on something
    // inside it, or (for a control that ignores the mouse) on what holds it.
    UIControl* hit = pm->FindControl(pt);
    bool reaches = hit && (Within(hit, control) || (!control->IsMouseEnabled() && Within(control, hit)));
    if (!reaches) {
        error = name + " is covered or scrolled out of view at its centre (" + std::to_string(pt.x) + "," +
                std::to_string(pt.y) + ")";
        if (hit && hit->GetId() != 0)
            error += " by control " + std::to_string(hit->GetId());
        return false;
    }
    return true;
}

bool UIAutomationCommands::ReadPoint(const KWJsonValue& request, const char* xName, const char* yName,
                                     UIWindowWnd* window, UIPoint& pt, std::string& error) const {
    const KWJsonValue& xv = Field(request, xName);
    int x = 0, y = 0;
    if (yName) {
        if (!ReadInt(xv, x) || !ReadInt(Field(request, yName), y)) {
            error = std::string("\"") + xName + "\" and \"" + yName + "\" must be whole numbers";
            return false;
        }
    } else if (!xv.isArray() || xv.size() != 2 || !ReadInt(xv[0], x) || !ReadInt(xv[1], y)) {
        error = std::string("\"") + xName + "\" must be [x, y] in whole numbers";
        return false;
    }
    pt = {x, y};
    UISize client = window->GetPaintManager()->GetClientSize();
    if (!UIRect{0, 0, client.cx, client.cy}.Contains(pt)) {
        error = "point (" + std::to_string(x) + "," + std::to_string(y) + ") is outside window " +
                WindowName(window) + " (" + std::to_string(client.cx) + "x" + std::to_string(client.cy) + ")";
        return false;
    }
    return true;
}

void UIAutomationCommands::Click(const KWJsonValue& request, bool twice, const Reply& reply) {
    std::string error;
    UIWindowWnd* window = TargetWindow(request, true, error);
    if (!window)
        return reply(Error(error));
    UIPoint pt;
    const KWJsonValue& idValue = Field(request, "id");
    if (!idValue.isNull()) {
        int id = 0;
        if (!ReadInt(idValue, id))
            return reply(Error("\"id\" must be a whole number"));
        if (!ClickablePoint(window, id, pt, error))
            return reply(Error(error));
    } else if (Field(request, "x").isNull() && Field(request, "y").isNull()) {
        return reply(Error("missing field \"id\" (or \"x\" and \"y\")"));
    } else if (!ReadPoint(request, "x", "y", window, pt, error)) {
        return reply(Error(error));
    }
    // The sequence SDL delivers: the pointer arrives first (hot state,
    // tooltip), then press and release; a double-click is a second press that
    // SDL counts as the second click.
    QueueMouse(window, WM_MOUSEMOVE, pt, false);
    QueueMouse(window, WM_LBUTTONDOWN, pt, true);
    QueueMouse(window, WM_LBUTTONUP, pt, false);
    if (twice) {
        QueueMouse(window, WM_LBUTTONDBLCLK, pt, true);
        QueueMouse(window, WM_LBUTTONUP, pt, false);
    }
    KWJsonValue answer(Json::objectValue);
    answer["ok"] = true;
    answer["window"] = window->GetWindowClassName();
    answer["x"] = pt.x;
    answer["y"] = pt.y;
    QueueReply(reply, answer);
}

void UIAutomationCommands::Drag(const KWJsonValue& request, const Reply& reply) {
    std::string error;
    UIWindowWnd* window = TargetWindow(request, true, error);
    if (!window)
        return reply(Error(error));
    UIPoint from, to;
    const KWJsonValue& idValue = Field(request, "id");
    if (!idValue.isNull()) {
        int id = 0;
        if (!ReadInt(idValue, id))
            return reply(Error("\"id\" must be a whole number"));
        if (!ClickablePoint(window, id, from, error))
            return reply(Error(error));
    } else if (Field(request, "from").isNull()) {
        return reply(Error("missing field \"from\" (or \"id\")"));
    } else if (!ReadPoint(request, "from", nullptr, window, from, error)) {
        return reply(Error(error));
    }
    // The pointer may leave the window while the button is held, as a real one can.
    const KWJsonValue& toValue = Field(request, "to");
    int tx = 0, ty = 0;
    if (toValue.isNull())
        return reply(Error("missing field \"to\""));
    if (!toValue.isArray() || toValue.size() != 2 || !ReadInt(toValue[0], tx) || !ReadInt(toValue[1], ty) ||
        !FitsMouseCoord(tx) || !FitsMouseCoord(ty))
        return reply(Error("\"to\" must be [x, y] in whole numbers"));
    to = {tx, ty};
    int steps = 10;
    const KWJsonValue& stepsValue = Field(request, "steps");
    if (!stepsValue.isNull() && (!ReadInt(stepsValue, steps) || steps < 1 || steps > 10000))
        return reply(Error("\"steps\" must be a whole number from 1 to 10000"));

    QueueMouse(window, WM_MOUSEMOVE, from, false);
    QueueMouse(window, WM_LBUTTONDOWN, from, true);
    for (int i = 1; i <= steps; ++i) {
        UIPoint p{from.x + static_cast<int>(static_cast<int64_t>(to.x - from.x) * i / steps),
                  from.y + static_cast<int>(static_cast<int64_t>(to.y - from.y) * i / steps)};
        QueueMouse(window, WM_MOUSEMOVE, p, true);
    }
    QueueMouse(window, WM_LBUTTONUP, to, false);
    KWJsonValue answer(Json::objectValue);
    answer["ok"] = true;
    answer["window"] = window->GetWindowClassName();
    QueueReply(reply, answer);
}

void UIAutomationCommands::Move(const KWJsonValue& request, const Reply& reply) {
    std::string error;
    UIWindowWnd* window = TargetWindow(request, true, error);
    if (!window)
        return reply(Error(error));
    UIPoint pt;
    if (!ReadPoint(request, "x", "y", window, pt, error))
        return reply(Error(error));
    QueueMouse(window, WM_MOUSEMOVE, pt, false);
    KWJsonValue answer(Json::objectValue);
    answer["ok"] = true;
    answer["window"] = window->GetWindowClassName();
    QueueReply(reply, answer);
}

void UIAutomationCommands::Type(const KWJsonValue& request, const Reply& reply) {
    const KWJsonValue& textValue = Field(request, "text");
    if (textValue.isNull())
        return reply(Error("missing field \"text\""));
    if (!textValue.isString())
        return reply(Error("\"text\" must be text"));
    std::string text = textValue.asString();
    if (!KWStringConvert::IsValidUtf8(text))
        return reply(Error("\"text\" is not valid UTF-8"));
    std::u32string codePoints = KWStringConvert::Utf8ToUtf32(text);
    for (char32_t cp : codePoints) {
        // An input method never hands over control characters; keys do that.
        if (cp < 0x20 || cp == 0x7F) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
            return reply(Error(std::string("\"text\" holds the control character ") + code +
                               "; send Enter, Tab or Backspace with \"key\""));
        }
    }
    std::string error;
    UIWindowWnd* window = TargetWindow(request, true, error);
    if (!window)
        return reply(Error(error));
    for (char32_t cp : codePoints)
        QueueInput(window, WM_CHAR, cp, 0);
    KWJsonValue answer(Json::objectValue);
    answer["ok"] = true;
    answer["window"] = window->GetWindowClassName();
    answer["chars"] = static_cast<int>(codePoints.size());
    QueueReply(reply, answer);
}

uint32_t UIAutomationCommands::KeyCode(const std::string& name) {
    std::string key;
    for (char ch : name)
        key += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (key.size() == 1 && std::isalnum(static_cast<unsigned char>(key[0])))
        return static_cast<uint32_t>(std::toupper(static_cast<unsigned char>(key[0])));
    if (key.size() >= 2 && key.size() <= 3 && key[0] == 'f') {
        int n = 0;
        for (size_t i = 1; i < key.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(key[i])))
                return 0;
            n = n * 10 + (key[i] - '0');
        }
        return n >= 1 && n <= 12 ? VK_F1 + static_cast<uint32_t>(n - 1) : 0;
    }
    static const std::pair<const char*, uint32_t> kNames[] = {
        {"space", VK_SPACE},   {"enter", VK_RETURN}, {"return", VK_RETURN},  {"escape", VK_ESCAPE},
        {"esc", VK_ESCAPE},    {"tab", VK_TAB},      {"backspace", VK_BACK}, {"delete", VK_DELETE},
        {"left", VK_LEFT},     {"right", VK_RIGHT},  {"up", VK_UP},          {"down", VK_DOWN},
        {"home", VK_HOME},     {"end", VK_END},      {"pageup", VK_PRIOR},   {"pagedown", VK_NEXT},
        {"insert", VK_INSERT}, {"shift", VK_SHIFT},  {"ctrl", VK_CONTROL},   {"alt", VK_MENU},
    };
    for (auto& [n, vk] : kNames)
        if (key == n)
            return vk;
    return 0;
}

void UIAutomationCommands::Key(const KWJsonValue& request, const Reply& reply) {
    const KWJsonValue& keyValue = Field(request, "key");
    if (keyValue.isNull())
        return reply(Error("missing field \"key\""));
    uint32_t vk = keyValue.isString() ? KeyCode(keyValue.asString()) : 0;
    if (!vk)
        return reply(Error("unknown key " + (keyValue.isString() ? Quoted(keyValue.asString())
                                                                 : KWJsonWriter::Write(keyValue))));
    const KWJsonValue& downValue = Field(request, "down");
    if (!downValue.isNull() && !downValue.isBool())
        return reply(Error("\"down\" must be true or false"));
    std::vector<uint32_t> mods;
    const KWJsonValue& modsValue = Field(request, "mods");
    if (!modsValue.isNull()) {
        if (!modsValue.isArray())
            return reply(Error("\"mods\" must be a list such as [\"ctrl\", \"shift\"]"));
        for (const auto& m : modsValue) {
            std::string name = m.isString() ? m.asString() : "";
            uint32_t code = name == "ctrl"    ? VK_CONTROL
                            : name == "shift" ? VK_SHIFT
                            : name == "alt"   ? VK_MENU
                                              : 0;
            if (!code)
                return reply(Error("unknown modifier " + KWJsonWriter::Write(m) + " (ctrl, alt or shift)"));
            mods.push_back(code);
        }
    }
    std::string error;
    UIWindowWnd* window = TargetWindow(request, true, error);
    if (!window)
        return reply(Error(error));

    bool press = downValue.isNull() || downValue.asBool();
    bool release = downValue.isNull() || !downValue.asBool();
    std::vector<uint32_t> pressedHere;
    if (press) {
        // Modifiers go down first and come up last, as a user's fingers do;
        // one still held from an earlier command is not pressed again.
        for (uint32_t m : mods) {
            if (UIIsKeyDown(m))
                continue;
            pressedHere.push_back(m);
            QueueInput(window, WM_KEYDOWN, m, 0);
        }
        QueueInput(window, WM_KEYDOWN, vk, 0);
    }
    if (release) {
        QueueInput(window, WM_KEYUP, vk, 0);
        // A plain press releases what it pressed; a release lets go of what it names.
        const std::vector<uint32_t>& up = press ? pressedHere : mods;
        for (auto it = up.rbegin(); it != up.rend(); ++it)
            QueueInput(window, WM_KEYUP, *it, 0);
    }
    KWJsonValue answer(Json::objectValue);
    answer["ok"] = true;
    answer["window"] = window->GetWindowClassName();
    QueueReply(reply, answer);
}

// ---- screenshot ----

KWJsonValue UIAutomationCommands::Screenshot(const KWJsonValue& request) {
    const KWJsonValue& pathValue = Field(request, "path");
    if (pathValue.isNull())
        return Error("missing field \"path\"");
    std::string path = pathValue.isString() ? pathValue.asString() : "";
    if (path.empty() || path.front() != '/')
        return Error("\"path\" must be an absolute file path");
    size_t slash = path.rfind('/');
    std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    struct stat st {};
    if (slash + 1 == path.size())
        return Error("\"path\" names a folder, not a file: " + path);
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return Error("the folder " + folder + " does not exist");

    auto& app = UIApplication::Instance();
    UIWindowWnd* base = nullptr;
    std::string error;
    bool single = !Field(request, "window").isNull();
    if (single) {
        base = TargetWindow(request, false, error);
        if (!base)
            return Error(error);
    } else {
        base = MainWindow();
        if (!base || !base->GetPaintManager())
            return Error("no window to take a picture of");
    }
    UIPaintManager* pm = base->GetPaintManager();
    pm->Paint();
    // The screen's picture: its pixels, however many a layout unit takes.
    UISize size = pm->GetDeviceSize();
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size.cx, size.cy);
    cairo_t* cr = cairo_create(out);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_surface(cr, pm->GetSurface(), 0, 0);
    cairo_paint(cr);
    if (!single) {
        // What the student sees: every window shown above the main one (a
        // message box over the page), each at its place on the screen.
        UIRect baseRect = base->GetWindowRect();
        bool above = false;
        for (UIWindowWnd* w : std::vector<UIWindowWnd*>(app.Windows())) {
            if (w == base) {
                above = true;
                continue;
            }
            UIPaintManager* wpm = w->GetPaintManager();
            if (!above || !w->IsWindow() || !w->IsVisible() || w->IsMinimized() || !wpm)
                continue;
            wpm->Paint();
            UIRect rc = w->GetWindowRect();
            cairo_set_source_surface(cr, wpm->GetSurface(), rc.left - baseRect.left, rc.top - baseRect.top);
            cairo_paint(cr);
        }
    }
    cairo_destroy(cr);
    cairo_status_t status = cairo_surface_write_to_png(out, path.c_str());
    cairo_surface_destroy(out);
    if (status != CAIRO_STATUS_SUCCESS)
        return Error("cannot write " + path + ": " + cairo_status_to_string(status));
    KWJsonValue answer(Json::objectValue);
    answer["ok"] = true;
    answer["path"] = path;
    answer["w"] = size.cx;
    answer["h"] = size.cy;
    answer["scale"] = pm->GetScale();
    return answer;
}

// ---- wait ----

void UIAutomationCommands::Wait(const KWJsonValue& request, const Reply& reply) {
    int ms = 0;
    if (Field(request, "ms").isNull())
        return reply(Error("missing field \"ms\""));
    if (!ReadInt(Field(request, "ms"), ms) || ms < 0 || ms > kMaxWaitMs)
        return reply(Error("\"ms\" must be a whole number from 0 to " + std::to_string(kMaxWaitMs)));
    uint64_t start = UIClock::NowMs();
    auto answer = [start] {
        KWJsonValue a(Json::objectValue);
        a["ok"] = true;
        a["waited"] = static_cast<Json::UInt64>(UIClock::NowMs() - start);
        return a;
    };
    if (ms == 0)
        return reply(answer());
    // A timer of the toolkit: the loop goes on meanwhile, and a manual clock
    // decides when the time is up.
    int id = ++m_waitSeq;
    UIApplication::Instance().SetTimer(this, nullptr, id, static_cast<uint32_t>(ms),
                                       [this, id, reply, answer] {
                                           UIApplication::Instance().KillTimer(this, nullptr, id);
                                           reply(answer());
                                       });
}

}  // namespace KwLib
