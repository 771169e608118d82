#pragma once
// VLMessagebox: the client's own modal message box. Every question and notice
// of the main window goes through it. Layout window "VLMessagebox": title 100,
// minimise 102 (hidden), close 101, icon 103, text 104, OK 105, Cancel 106.
//
// The box is about 400 pixels wide; a long text makes it taller (up to a
// limit, then the text scrolls) rather than being cut. It is centred on its
// owner and modal. A box lives on the heap and deletes itself when it ends:
// use Show, or new + CreateOver + ShowModal.
// UI thread only.
#include <string>

#include "platform/ui/UIWindowImplBase.h"

namespace KwLib {

class VLMessagebox : public UIWindowImplBase {
public:
    // Button kinds.
    static constexpr int kOkCancel = 0;
    static constexpr int kOkOnly = 1;
    // Icon kinds: cells of PNG 2001.
    static constexpr int kIconQuestion = 0;
    static constexpr int kIconWarning = 1;
    static constexpr int kIconInformation = 2;
    static constexpr int kIconSuccess = 3;
    // Results: IDOK (1) for OK, IDCANCEL (2) for Cancel, IDCLOSE (8) for the
    // close button (and Escape, and a box that could not be shown). Callers
    // treat everything but IDOK as "no".

    static constexpr int kWidth = 400;
    // The box never grows taller than this (nor beyond the screen).
    static constexpr int kMaxHeight = 560;

    // Icon kind 0..3 picks a 36 x 36 cell of PNG 2001.
    VLMessagebox(int buttonKind, int iconKind, std::string text, std::string title = "提示");

    std::string GetWindowClassName() const override { return "VLMessagebox"; }
    void InitWindow() override;
    void Notify(UINotification& msg) override;
    intptr_t OnKeyDown(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    void OnFinalMessage() override;

    // Creates the box over `owner` (its caption is the owner's window text),
    // sized to its text and centred on the owner (on the screen without one).
    bool CreateOver(UIWindowWnd* owner);
    int GetResult() const { return m_result; }
    // The image string of the icon kind (PNG 2001, 36 x 36 cells).
    static std::string IconImage(int iconKind);

    // Creates the box over `owner` and shows it modally. The box deletes
    // itself when it ends; the result is returned.
    static int Show(UIWindowWnd* owner, int buttonKind, int iconKind, const std::string& text,
                    const std::string& title = "提示");
    // Closes every box of `owner` that is up, each with IDCLOSE (the main
    // window does this before it goes away).
    static void CloseAll(UIWindowWnd* owner);
    // Boxes that exist now (for the owner's bookkeeping and for tests).
    static int OpenCount();

protected:
    // Boxes delete themselves; nothing else may.
    ~VLMessagebox() override;

private:
    void FitToText();
    void Finish(int result);

    std::string m_text;
    std::string m_title;
    int m_buttonKind;
    int m_iconKind;
    int m_result = IDCLOSE;
};

}  // namespace KwLib
