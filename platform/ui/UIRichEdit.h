#pragma once
// A single-line text field: caret, selection with mouse and Shift, keyboard
// editing, clipboard, a maximum length in characters, a password mode and a
// placeholder. Text comes in as WM_CHAR code points (SDL text-input events,
// so input methods work); an input method's unfinished text is shown at the
// caret. Enter reports kNotifyReturn, every change kNotifyTextChanged.
// UI thread only.
#include "platform/ui/UIControl.h"

namespace KwLib {

class UIRichEdit : public UIControl {
public:
    UIRichEdit();
    ~UIRichEdit() override;
    std::string GetClass() const override { return "RichEdit"; }

    void SetText(const std::string& text) override;
    // Maximum length in characters (code points); longer input is cut.
    int GetMaxChar() const { return m_maxChar; }
    void SetMaxChar(int maxChar);
    void SetLimitText(int maxChar) { SetMaxChar(maxChar); }
    bool IsPasswordMode() const { return m_password; }
    void SetPasswordMode(bool on);
    bool IsReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool on) { m_readOnly = on; }
    bool IsNumberOnly() const { return m_numberOnly; }
    void SetNumberOnly(bool on) { m_numberOnly = on; }
    const std::string& GetPromptText() const { return m_prompt; }
    void SetPromptText(const std::string& text);

    // Selection in characters; start == end is a caret.
    void SetSel(int start, int end);
    void GetSel(int& start, int& end) const;
    void SetSelAll() { SetSel(0, -1); }
    std::string GetSelText() const;
    // Replaces the selection (respecting the maximum length).
    void ReplaceSel(const std::string& text);
    bool IsCaretVisible() const { return m_caretOn; }
    const std::string& GetComposition() const { return m_composition; }

    void SetPos(UIRect rc, bool needInvalidate = true) override;
    void Event(UIEvent& event) override;
    void PaintText(cairo_t* cr) override;
    void PaintBorder(cairo_t* cr) override;
    void SetAttribute(const std::string& name, const std::string& value) override;

    static constexpr int kCaretTimerId = 1;
    static constexpr int kCaretBlinkMs = 530;

private:
    std::string DisplayText() const;
    size_t DisplayIndex(size_t byteIndex) const;
    size_t ByteIndexAtX(int x) const;
    void MoveCaret(size_t byteIndex, bool extend);
    void DeleteSelection();
    void TextChanged();
    void EnsureCaretVisible();
    void ShowCaret();
    void UpdateInputRect();

    size_t m_caret = 0;   // byte offset in m_text
    size_t m_anchor = 0;  // other end of the selection
    int m_maxChar = 255;
    bool m_password = false;
    bool m_readOnly = false;
    bool m_numberOnly = false;
    std::string m_prompt;
    UIColor m_promptColor = 0xFF9AA3AD;
    UIColor m_focusBorderColor = 0xFF2E86DE;
    std::string m_composition;
    int m_scrollX = 0;
    bool m_caretOn = false;
    bool m_selecting = false;
};

}  // namespace KwLib
