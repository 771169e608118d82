#include "platform/ui/UIRichEdit.h"

#include <SDL.h>

#include "platform/common/KWStringConvert.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIRenderUtils.h"
#include "platform/ui/UIWindowWnd.h"

namespace KwLib {

namespace {

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

size_t NextIndex(const std::string& s, size_t i) {
    if (i >= s.size())
        return s.size();
    ++i;
    while (i < s.size() && IsContinuation(s[i]))
        ++i;
    return i;
}

size_t PrevIndex(const std::string& s, size_t i) {
    if (i == 0)
        return 0;
    --i;
    while (i > 0 && IsContinuation(s[i]))
        --i;
    return i;
}

size_t CharCount(const std::string& s, size_t upTo) {
    return KWStringConvert::CodePointCount(s.substr(0, std::min(upTo, s.size())));
}

size_t ByteOfChar(const std::string& s, size_t chars) {
    size_t i = 0;
    while (chars-- > 0 && i < s.size())
        i = NextIndex(s, i);
    return i;
}

std::string& LocalClipboard() {
    static std::string text;
    return text;
}

void SetClipboard(const std::string& text) {
    LocalClipboard() = text;
    if (UIApplication::Instance().IsVideoActive())
        SDL_SetClipboardText(text.c_str());
}

std::string GetClipboard() {
    if (UIApplication::Instance().IsVideoActive() && SDL_HasClipboardText()) {
        char* t = SDL_GetClipboardText();
        std::string text = t ? t : "";
        SDL_free(t);
        return text;
    }
    return LocalClipboard();
}

const char* kBullet = "\xE2\x97\x8F";  // U+25CF, three bytes

}  // namespace

UIRichEdit::UIRichEdit() {
    m_textStyle = DT_SINGLELINE | DT_VCENTER;
    m_rcTextPadding = {8, 0, 8, 0};
    m_cursor = "ibeam";
    m_bkColor = 0xFFFFFFFF;
    m_borderColor = 0xFFD0D7DE;
    m_borderSize = 1;
    m_borderRound = 4;
}

UIRichEdit::~UIRichEdit() {
    if (IsFocused() && UIApplication::Instance().IsVideoActive())
        SDL_StopTextInput();
}

void UIRichEdit::SetText(const std::string& text) {
    std::string clean = KWStringConvert::SanitizeUtf8(text);
    if (m_maxChar > 0)
        clean = KWStringConvert::CutToCodePoints(clean, static_cast<size_t>(m_maxChar));
    m_caret = m_anchor = clean.size();
    if (clean == m_text)
        return;
    m_text = clean;
    m_scrollX = 0;
    EnsureCaretVisible();
    Invalidate();
}

void UIRichEdit::SetMaxChar(int maxChar) {
    m_maxChar = std::max(0, maxChar);
    if (m_maxChar > 0 && static_cast<int>(KWStringConvert::CodePointCount(m_text)) > m_maxChar) {
        std::string cut = KWStringConvert::CutToCodePoints(m_text, static_cast<size_t>(m_maxChar));
        SetText(cut);
    }
}

void UIRichEdit::SetPasswordMode(bool on) {
    m_password = on;
    Invalidate();
}

void UIRichEdit::SetPromptText(const std::string& text) {
    m_prompt = text;
    Invalidate();
}

void UIRichEdit::SetSel(int start, int end) {
    size_t total = KWStringConvert::CodePointCount(m_text);
    size_t s = start < 0 ? total : std::min(total, static_cast<size_t>(start));
    size_t e = end < 0 ? total : std::min(total, static_cast<size_t>(end));
    m_anchor = ByteOfChar(m_text, s);
    m_caret = ByteOfChar(m_text, e);
    EnsureCaretVisible();
    Invalidate();
}

void UIRichEdit::GetSel(int& start, int& end) const {
    size_t a = CharCount(m_text, std::min(m_anchor, m_caret));
    size_t b = CharCount(m_text, std::max(m_anchor, m_caret));
    start = static_cast<int>(a);
    end = static_cast<int>(b);
}

std::string UIRichEdit::GetSelText() const {
    size_t a = std::min(m_anchor, m_caret), b = std::max(m_anchor, m_caret);
    return m_text.substr(a, b - a);
}

void UIRichEdit::DeleteSelection() {
    size_t a = std::min(m_anchor, m_caret), b = std::max(m_anchor, m_caret);
    m_text.erase(a, b - a);
    m_caret = m_anchor = a;
}

void UIRichEdit::ReplaceSel(const std::string& raw) {
    std::string text = KWStringConvert::SanitizeUtf8(raw);
    // One line only: line breaks and other control characters are dropped.
    std::u32string cps = KWStringConvert::Utf8ToUtf32(text);
    std::u32string kept;
    for (char32_t c : cps) {
        if (c < 0x20 || c == 0x7F)
            continue;
        if (m_numberOnly && (c < '0' || c > '9'))
            continue;
        kept.push_back(c);
    }
    std::string before = m_text;
    DeleteSelection();
    if (m_maxChar > 0) {
        size_t room = static_cast<size_t>(m_maxChar) -
                      std::min<size_t>(m_maxChar, KWStringConvert::CodePointCount(m_text));
        if (kept.size() > room)
            kept.resize(room);
    }
    std::string insert = KWStringConvert::Utf32ToUtf8(kept);
    m_text.insert(m_caret, insert);
    m_caret += insert.size();
    m_anchor = m_caret;
    if (m_text != before)
        TextChanged();
    EnsureCaretVisible();
    Invalidate();
}

void UIRichEdit::TextChanged() {
    if (m_manager)
        m_manager->SendNotify(this, kNotifyTextChanged);
}

std::string UIRichEdit::DisplayText() const {
    if (!m_password)
        return m_text;
    std::string out;
    size_t n = KWStringConvert::CodePointCount(m_text);
    for (size_t i = 0; i < n; ++i)
        out += kBullet;
    return out;
}

size_t UIRichEdit::DisplayIndex(size_t byteIndex) const {
    if (!m_password)
        return byteIndex;
    return CharCount(m_text, byteIndex) * 3;
}

size_t UIRichEdit::ByteIndexAtX(int x) const {
    if (!m_manager)
        return 0;
    const UIFont& font = m_manager->GetFont(m_font);
    UIRect rc = GetTextRect();
    size_t display = UIRenderUtils::TextXToIndex(font, DisplayText(), x - rc.left + m_scrollX);
    if (!m_password)
        return display;
    return ByteOfChar(m_text, display / 3);
}

void UIRichEdit::MoveCaret(size_t byteIndex, bool extend) {
    m_caret = std::min(byteIndex, m_text.size());
    if (!extend)
        m_anchor = m_caret;
    EnsureCaretVisible();
    ShowCaret();
}

void UIRichEdit::SetPos(UIRect rc, bool needInvalidate) {
    const int oldWidth = m_rcItem.Width();
    UIControl::SetPos(rc, needInvalidate);
    // A text set before the field had its size is placed again now that it has one.
    if (m_rcItem.Width() != oldWidth)
        EnsureCaretVisible();
}

void UIRichEdit::EnsureCaretVisible() {
    if (!m_manager)
        return;
    if (GetTextRect().Width() <= 2) {
        // Not laid out yet: nothing to scroll for.
        m_scrollX = 0;
        return;
    }
    const UIFont& font = m_manager->GetFont(m_font);
    int x = UIRenderUtils::TextIndexToX(font, DisplayText(), DisplayIndex(m_caret));
    int width = std::max(1, GetTextRect().Width() - 2);
    if (x - m_scrollX > width)
        m_scrollX = x - width;
    if (x - m_scrollX < 0)
        m_scrollX = std::max(0, x - width / 3);
    int total = UIRenderUtils::GetTextSize(font, DisplayText(), DT_SINGLELINE).cx;
    if (total - m_scrollX < width)
        m_scrollX = std::max(0, total - width);
    UpdateInputRect();
}

void UIRichEdit::ShowCaret() {
    m_caretOn = true;
    if (IsFocused())
        SetTimer(kCaretTimerId, kCaretBlinkMs);
    Invalidate();
}

void UIRichEdit::UpdateInputRect() {
    if (!IsFocused() || !UIApplication::Instance().IsVideoActive() || !m_manager)
        return;
    const UIFont& font = m_manager->GetFont(m_font);
    UIRect rc = GetTextRect();
    int x = rc.left + UIRenderUtils::TextIndexToX(font, DisplayText(), DisplayIndex(m_caret)) - m_scrollX;
    SDL_Rect r{x, rc.top, 1, rc.Height()};
    SDL_SetTextInputRect(&r);
}

void UIRichEdit::Event(UIEvent& event) {
    if (event.sender != this) {
        UIControl::Event(event);
        return;
    }
    bool shift = (event.modifiers & kModShift) != 0;
    bool ctrl = (event.modifiers & kModCtrl) != 0;
    switch (event.type) {
        case kEventSetFocus:
            UIControl::Event(event);
            if (UIApplication::Instance().IsVideoActive())
                SDL_StartTextInput();
            ShowCaret();
            if (m_manager)
                m_manager->SendNotify(this, kNotifySetFocus);
            return;
        case kEventKillFocus:
            UIControl::Event(event);
            if (UIApplication::Instance().IsVideoActive())
                SDL_StopTextInput();
            KillTimer(kCaretTimerId);
            m_caretOn = false;
            m_composition.clear();
            m_selecting = false;
            Invalidate();
            if (m_manager)
                m_manager->SendNotify(this, kNotifyKillFocus);
            return;
        case kEventTimer:
            if (event.wParam == kCaretTimerId) {
                m_caretOn = !m_caretOn;
                Invalidate();
                return;
            }
            break;
        case kEventButtonDown:
            UIControl::Event(event);
            if (!IsEnabled())
                return;
            MoveCaret(ByteIndexAtX(event.ptMouse.x), shift);
            m_selecting = true;
            return;
        case kEventMouseMove:
            if (m_selecting && IsCaptured()) {
                MoveCaret(ByteIndexAtX(event.ptMouse.x), true);
                OnMouseMove(event.ptMouse);
                return;
            }
            break;
        case kEventButtonUp:
            m_selecting = false;
            break;
        case kEventDblClick:
            UIControl::Event(event);
            SetSelAll();
            ShowCaret();
            return;
        case kEventKeyDown: {
            uint32_t key = event.key;
            if (key == VK_RETURN) {
                if (m_manager)
                    m_manager->SendNotify(this, kNotifyReturn);
            } else if (key == VK_LEFT) {
                if (m_caret != m_anchor && !shift)
                    MoveCaret(std::min(m_caret, m_anchor), false);
                else
                    MoveCaret(PrevIndex(m_text, m_caret), shift);
            } else if (key == VK_RIGHT) {
                if (m_caret != m_anchor && !shift)
                    MoveCaret(std::max(m_caret, m_anchor), false);
                else
                    MoveCaret(NextIndex(m_text, m_caret), shift);
            } else if (key == VK_HOME) {
                MoveCaret(0, shift);
            } else if (key == VK_END) {
                MoveCaret(m_text.size(), shift);
            } else if (key == VK_BACK && !m_readOnly) {
                if (m_caret == m_anchor)
                    m_anchor = PrevIndex(m_text, m_caret);
                if (m_caret != m_anchor) {
                    DeleteSelection();
                    TextChanged();
                }
                MoveCaret(m_caret, false);
            } else if (key == VK_DELETE && !m_readOnly) {
                if (m_caret == m_anchor)
                    m_anchor = NextIndex(m_text, m_caret);
                if (m_caret != m_anchor) {
                    DeleteSelection();
                    TextChanged();
                }
                MoveCaret(m_caret, false);
            } else if (ctrl && key == 'A') {
                SetSelAll();
            } else if (ctrl && key == 'C' && !m_password) {
                if (m_caret != m_anchor)
                    SetClipboard(GetSelText());
            } else if (ctrl && key == 'X' && !m_password && !m_readOnly) {
                if (m_caret != m_anchor) {
                    SetClipboard(GetSelText());
                    DeleteSelection();
                    TextChanged();
                    MoveCaret(m_caret, false);
                }
            } else if (ctrl && key == 'V' && !m_readOnly) {
                ReplaceSel(GetClipboard());
                ShowCaret();
            }
            Invalidate();
            return;
        }
        case kEventChar: {
            if (m_readOnly || (event.modifiers & kModCtrl))
                return;
            char32_t cp = static_cast<char32_t>(event.key);
            if (cp < 0x20 || cp == 0x7F)
                return;
            m_composition.clear();
            ReplaceSel(KWStringConvert::CodePointToUtf8(cp));
            ShowCaret();
            return;
        }
        case kEventImeComposition: {
            const auto* text = reinterpret_cast<const std::string*>(event.lParam);
            m_composition = text ? *text : std::string();
            Invalidate();
            return;
        }
        default:
            break;
    }
    UIControl::Event(event);
}

void UIRichEdit::PaintText(cairo_t* cr) {
    UIRect rc = GetTextRect();
    if (rc.IsEmpty() || !m_manager)
        return;
    const UIFont& font = m_manager->GetFont(m_font);
    std::string display = DisplayText();
    cairo_save(cr);
    UIRenderUtils::ClipRect(cr, rc);
    if (display.empty() && m_composition.empty()) {
        if (!m_prompt.empty())
            UIRenderUtils::DrawText(cr, m_manager, rc, m_prompt, m_promptColor, m_font,
                                    DT_SINGLELINE | DT_VCENTER);
    } else {
        // The selection behind the text.
        if (m_caret != m_anchor && IsFocused()) {
            int x1 = UIRenderUtils::TextIndexToX(font, display, DisplayIndex(std::min(m_caret, m_anchor)));
            int x2 = UIRenderUtils::TextIndexToX(font, display, DisplayIndex(std::max(m_caret, m_anchor)));
            UIRenderUtils::FillRect(
                cr, {rc.left + x1 - m_scrollX, rc.top + 4, rc.left + x2 - m_scrollX, rc.bottom - 4},
                0xFFB6D6FA);
        }
        std::string shown = display;
        size_t caretDisplay = DisplayIndex(m_caret);
        if (!m_composition.empty())
            shown.insert(caretDisplay, m_composition);
        int textWidth = UIRenderUtils::GetTextSize(font, shown, DT_SINGLELINE).cx;
        UIRect textRect{rc.left - m_scrollX, rc.top, rc.left - m_scrollX + textWidth + 4, rc.bottom};
        UIColor color = IsEnabled() ? m_textColor : m_disabledTextColor;
        UIRenderUtils::DrawText(cr, m_manager, textRect, shown, color, m_font, DT_SINGLELINE | DT_VCENTER);
        if (!m_composition.empty()) {
            // Unfinished input-method text is underlined.
            int x1 = UIRenderUtils::TextIndexToX(font, shown, caretDisplay);
            int x2 = UIRenderUtils::TextIndexToX(font, shown, caretDisplay + m_composition.size());
            int y = (rc.top + rc.bottom) / 2 + font.size / 2 + 3;
            UIRenderUtils::FillRect(cr, {rc.left + x1 - m_scrollX, y, rc.left + x2 - m_scrollX, y + 1},
                                    color);
        }
    }
    if (IsFocused() && m_caretOn) {
        std::string shown = display;
        size_t index = DisplayIndex(m_caret);
        if (!m_composition.empty()) {
            shown.insert(index, m_composition);
            index += m_composition.size();
        }
        int x = rc.left + UIRenderUtils::TextIndexToX(font, shown, index) - m_scrollX;
        int h = std::min(rc.Height() - 8, font.size + 6);
        int top = (rc.top + rc.bottom - h) / 2;
        UIRenderUtils::FillRect(cr, {x, top, x + 1, top + h}, 0xFF1F2328);
    }
    cairo_restore(cr);
}

void UIRichEdit::PaintBorder(cairo_t* cr) {
    UIColor color = IsFocused() ? m_focusBorderColor : (IsHot() ? 0xFF8C959F : m_borderColor);
    UIRenderUtils::DrawBorder(cr, m_rcItem, std::max(1, m_borderSize), color, m_borderRound);
}

void UIRichEdit::SetAttribute(const std::string& name, const std::string& value) {
    UIColor color = 0;
    if (name == "maxchar")
        SetMaxChar(KWStringUtils::ConvertStringToInt32(value));
    else if (name == "password")
        SetPasswordMode(value == "true");
    else if (name == "readonly")
        SetReadOnly(value == "true");
    else if (name == "numberonly")
        SetNumberOnly(value == "true");
    else if (name == "prompttext")
        SetPromptText(value);
    else if (name == "prompttextcolor" && ParseColor(value, color))
        m_promptColor = color;
    else if (name == "focusbordercolor" && ParseColor(value, color))
        m_focusBorderColor = color;
    else
        UIControl::SetAttribute(name, value);
}

}  // namespace KwLib
