#include "wnd/VLWaitCloseWnd.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "net/VLHttpRequest.h"
#include "net/VLNetMessages.h"
#include "net/VLServerApi.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIAnimationManager.h"
#include "platform/ui/UIClock.h"
#include "platform/ui/UIContainer.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

namespace {

constexpr int kSpinnerRes = 1027;
constexpr int kFrameWidth = 96;
constexpr int kFrameHeight = 104;
constexpr int kFrameCount = 4;

}  // namespace

std::string VLWaitCloseWnd::SpinnerFrame(int frame) {
    int x = std::clamp(frame, 0, kFrameCount - 1) * kFrameWidth;
    return KWStringUtils::Format("res='%d' restype='PNG' source='%d,0,%d,%d'", kSpinnerRes, x,
                                 x + kFrameWidth, kFrameHeight);
}

bool VLWaitCloseWnd::CreateOver(UIWindowWnd* owner) {
    return Create(owner, owner ? owner->GetWindowText() : std::string(), -1, -1);
}

void VLWaitCloseWnd::InitWindow() {
    // Shown counts from now unless ShowModal says otherwise a moment later.
    m_shownMs = UIClock::NowMs();
    if (UIControl* spinner = m_pm.FindControl(kSpinnerId)) {
        std::vector<std::string> frames;
        for (int i = 0; i < kFrameCount; ++i)
            frames.push_back(SpinnerFrame(i));
        m_pm.GetAnimationManager().AddAnimation(spinner, kSpinnerAnimation, kFramePeriodMs, frames, true);
    }
    FitHeight();
}

void VLWaitCloseWnd::OnBeforeModal() {
    m_shownMs = UIClock::NowMs();
}

void VLWaitCloseWnd::SetNote(const std::string& text) {
    m_note = text;
    if (IsWindow())
        FitHeight();
}

// The note line takes the height its text needs; the window grows around its
// centre so that it stays where the child is looking.
void VLWaitCloseWnd::FitHeight() {
    UIControl* note = m_pm.FindControl(kNoteId);
    auto* column = note ? dynamic_cast<UIContainer*>(note->GetParent()) : nullptr;
    if (!column)
        return;
    UISize before = GetClientSize();
    note->SetText(m_note);
    note->SetVisible(!m_note.empty());
    int extra = 0;
    if (!m_note.empty()) {
        // Before the first layout the column has no width yet: it spans the window.
        int columnWidth = column->GetWidth() > 0 ? column->GetWidth() : before.cx;
        int width = columnWidth - column->GetInset().left - column->GetInset().right -
                    2 * column->GetBorderSize() - note->GetPadding().left - note->GetPadding().right;
        int height = UIRenderUtils::GetTextSize(&m_pm, m_note, note->GetFont(), DT_WORDBREAK, width).cy;
        note->SetFixedHeight(height);
        extra = height + note->GetPadding().top + note->GetPadding().bottom + column->GetChildPadding();
    }
    if (extra == m_noteExtra)
        return;
    int height = before.cy - m_noteExtra + extra;
    m_noteExtra = extra;
    UIRect rc = GetWindowRect();
    // The window's place is in screen pixels, its growth in layout units.
    const int grown = static_cast<int>(std::lround((height - before.cy) * GetScale()));
    MoveWindow(rc.left, std::max(0, rc.top - grown / 2), before.cx, height);
    m_pm.UpdateAndInvalidate();
}

intptr_t VLWaitCloseWnd::HandleCustomMessage(uint32_t msg, uintptr_t wParam, intptr_t, bool& handled) {
    handled = false;
    if (msg == WM_EXAM_RESULT_RSP) {
        handled = true;
        std::unique_ptr<VLExamResultResult> result(reinterpret_cast<VLExamResultResult*>(wParam));
        if (!result) {
            VL_LOG_ERROR("paper result without its record");
            OnAnswer(false);
            return 0;
        }
        VL_LOG_DEBUG("paper result while closing: code %d", result->m_code);
        OnAnswer(result->m_code == 0);
    } else if (msg == WM_HTTP_FAILED && static_cast<int>(wParam) == kReqExamResult) {
        handled = true;
        VL_LOG_ERROR("paper result request failed while closing");
        OnAnswer(false);
    } else if (msg == WM_EXAM_RESULT_SIGNAL_RSP) {
        // Not this window's question, but its record is ours to free.
        handled = true;
        delete reinterpret_cast<VLExamResultResult*>(wParam);
    }
    return 0;
}

// Closes no sooner than one second after the window was shown.
void VLWaitCloseWnd::OnAnswer(bool accepted) {
    if (m_resultArrived)
        return;  // a second answer changes nothing
    m_resultArrived = true;
    m_resultAccepted = accepted;
    if (m_onResult)
        m_onResult(accepted);
    if (!IsWindow())
        return;
    m_mayClose = true;
    uint64_t elapsed = UIClock::NowMs() - std::min(m_shownMs, UIClock::NowMs());
    if (elapsed < kMinShownMs)
        SetTimer(kCloseTimer, static_cast<uint32_t>(kMinShownMs - elapsed));
    else
        Close(m_resultAccepted ? IDOK : IDCANCEL);
}

intptr_t VLWaitCloseWnd::OnTimer(uint32_t, uintptr_t wParam, intptr_t, bool& handled) {
    handled = static_cast<int>(wParam) == kCloseTimer;
    if (handled) {
        KillTimer(kCloseTimer);
        Close(m_resultAccepted ? IDOK : IDCANCEL);
    }
    return 0;
}

intptr_t VLWaitCloseWnd::OnClose(uint32_t, uintptr_t wParam, intptr_t, bool& handled) {
    // The user (or the desktop) closing it early would let the opener clear
    // the answers before the platform has them.
    handled = !m_mayClose && static_cast<int>(wParam) == IDCLOSE;
    if (handled)
        VL_LOG_DEBUG("closing refused: the paper result is not in yet");
    return 0;
}

void VLWaitCloseWnd::OnUnreadMessage(const KWMessage& message) {
    if (message.message == WM_EXAM_RESULT_RSP || message.message == WM_EXAM_RESULT_SIGNAL_RSP)
        delete reinterpret_cast<VLExamResultResult*>(message.wParam);
}

}  // namespace KwLib
