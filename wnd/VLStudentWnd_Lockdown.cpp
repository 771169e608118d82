// The exam holds the screen: the keyboard on the exam's pages, the focus
// taken back when another program takes it, and the count of such losses.
#include <algorithm>
#include <ctime>

#include "platform/common/KWLog.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIClock.h"
#include "wnd/VLStudentWnd.h"
#include "wnd/VLStudentWndIds.h"

namespace KwLib {

namespace {

std::string WallClockText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

}  // namespace

void VLStudentWnd::UpdateKeyboardLock() {
    // The exam's pages run from the tips after sign-in to the submission; the
    // finished page, the sign-in and its errors, and a direct start of a
    // question from a browser hold nothing.
    const bool hold = !IsDirectMode() && IsWindow() && m_screen == kScreenExam && m_page >= 0 && m_page <= 7;
    if (hold == m_keyboardLocked)
        return;
    m_keyboardLocked = hold;
    if (!hold) {
        KillTimer(kTimerFocusCheck);
        m_focusLostAt = 0;
    }
    UIApplication::Instance().SetKeyboardLock(hold);
    if (hold)
        TakeFocus();
}

void VLStudentWnd::OnFocusLost() {
    if (!m_keyboardLocked || m_focusLostAt != 0)
        return;
    m_focusLostAt = UIApplication::Instance().GetMessageTime();
    SetTimer(kTimerFocusCheck, kFocusCheckMs);
}

void VLStudentWnd::OnFocusCheck() {
    KillTimer(kTimerFocusCheck);
    const uint64_t lostAt = m_focusLostAt;
    m_focusLostAt = 0;
    if (!m_keyboardLocked || lostAt == 0)
        return;
    // A box, the picture viewer or the window itself has it again: no loss.
    if (UIApplication::Instance().GetFocusWindow() != nullptr)
        return;
    ++m_focusLosses;
    const uint64_t ago = UIClock::NowMs() - std::min(lostAt, UIClock::NowMs());
    VL_LOG_ERROR("the exam window lost the focus to another program at %s (%llu ms ago, %d times in this "
                 "exam); taking it back",
                 WallClockText().c_str(), static_cast<unsigned long long>(ago), m_focusLosses);
    StoreAnswers();
    // The rhythm element and the modal boxes raise their own windows; the
    // exam's window comes back whichever of ours is in front.
    UIWindowWnd* front = this;
    for (UIWindowWnd* w : UIApplication::Instance().Windows())
        if (w->IsModal() && w->IsVisible())
            front = w;
    front->TakeFocus();
}

}  // namespace KwLib
