#pragma once
// VLInformationWnd: the small information card of the sign-in screen
// (classroom, paper, teacher, version). Layout window "VLInformationWnd":
// value texts 4100 "教室：", 4101 "试卷：", 4102 "老师：", 4103 "版本：".
//
// It opens at an anchor point in screen coordinates (kept on the screen),
// each value text as wide as its text, and behaves as a popup: it closes
// when it loses the focus (a click anywhere else) or on Escape. It lives on
// the heap and deletes itself when it closes.
// UI thread only.
#include <string>

#include "platform/ui/UIWindowImplBase.h"

namespace KwLib {

class VLInformationWnd : public UIWindowImplBase {
public:
    static constexpr int kClassroomId = 4100;
    static constexpr int kPaperId = 4101;
    static constexpr int kTeacherId = 4102;
    static constexpr int kVersionId = 4103;
    // The card never grows wider than this (nor than the screen); a longer
    // name ends in an ellipsis and shows whole as its tooltip.
    static constexpr int kMaxWidth = 560;

    VLInformationWnd(UIWindowWnd* owner, int anchorX, int anchorY);

    std::string GetWindowClassName() const override { return "VLInformationWnd"; }

    // The names of the sign-in; `inner` marks the inner edition, whose version
    // reads "测试版<version>". May be called before or after Open.
    void SetInfo(const std::string& classroom, const std::string& paper, const std::string& teacher,
                 bool inner);
    // Creates the window at the anchor and shows it.
    bool Open();
    // new + SetInfo + Open in one; nullptr when the window could not be made.
    static VLInformationWnd* Show(UIWindowWnd* owner, int anchorX, int anchorY, const std::string& classroom,
                                  const std::string& paper, const std::string& teacher, bool inner);
    // The version row's text.
    static std::string VersionText(bool inner);

    void InitWindow() override;
    intptr_t OnKillFocus(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    intptr_t OnKeyDown(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    void OnFinalMessage() override;

protected:
    ~VLInformationWnd() override;

private:
    void FillRows();
    void PlaceAtAnchor();

    UIWindowWnd* m_owner;
    int m_anchorX;
    int m_anchorY;
    std::string m_classroom;
    std::string m_paper;
    std::string m_teacher;
    bool m_inner = false;
    bool m_closing = false;
    bool* m_deletedFlag = nullptr;  // set while Show waits to learn whether Open failed
};

}  // namespace KwLib
