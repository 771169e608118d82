#pragma once
// VLMessagebox: the client's own modal message box. Every question and notice
// of the main window goes through it. Layout window "VLMessagebox": title 100,
// minimise 102 (hidden), close 101, icon 103, text 104, OK 105, Cancel 106.
// UI thread only.
#include <string>

#include "platform/ui/UIWindowImplBase.h"

namespace KwLib {

class VLMessagebox : public UIWindowImplBase {
public:
    // Button kinds.
    static constexpr int kOkCancel = 0;
    static constexpr int kOkOnly = 1;
    // Results: IDOK (1) for OK, IDCANCEL (2) for Cancel, IDCLOSE (8) for the close button.

    // Icon kind 0..3 picks a 36 x 36 cell of PNG 2001.
    VLMessagebox(int buttonKind, int iconKind, std::string text, std::string title = "提示");

    std::string GetWindowClassName() const override { return "VLMessagebox"; }
    void InitWindow() override;
    void Notify(UINotification& msg) override;
    void OnFinalMessage() override;

    int GetResult() const { return m_result; }

    // Creates the box over `owner` (centred on it) and shows it modally. The
    // box deletes itself when it ends; the result is returned.
    static int Show(UIWindowWnd* owner, int buttonKind, int iconKind, const std::string& text,
                    const std::string& title = "提示");

private:
    std::string m_text;
    std::string m_title;
    int m_buttonKind;
    int m_iconKind;
    int m_result = IDCLOSE;
};

}  // namespace KwLib
