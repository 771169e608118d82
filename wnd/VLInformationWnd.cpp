#include "wnd/VLInformationWnd.h"

#include <algorithm>

#include "app/core/VLAppState.h"
#include "platform/common/KWLog.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIContainer.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

namespace {

// The card keeps this much of the screen free around itself.
constexpr int kScreenMargin = 10;
constexpr int kMinWidth = 220;

}  // namespace

VLInformationWnd::VLInformationWnd(UIWindowWnd* owner, int anchorX, int anchorY)
    : m_owner(owner), m_anchorX(anchorX), m_anchorY(anchorY) {}

VLInformationWnd::~VLInformationWnd() {
    if (m_deletedFlag)
        *m_deletedFlag = true;
}

std::string VLInformationWnd::VersionText(bool inner) {
    return inner ? "测试版" + GetClientVersion() : GetClientVersion();
}

void VLInformationWnd::SetInfo(const std::string& classroom, const std::string& paper,
                               const std::string& teacher, bool inner) {
    m_classroom = classroom;
    m_paper = paper;
    m_teacher = teacher;
    m_inner = inner;
    if (IsWindow()) {
        FillRows();
        PlaceAtAnchor();
    }
}

bool VLInformationWnd::Open() {
    // Placed at the anchor for real once its size is known (InitWindow).
    if (!Create(m_owner, "", std::max(0, m_anchorX), std::max(0, m_anchorY)))
        return false;
    ShowWindow(true, true);
    return true;
}

VLInformationWnd* VLInformationWnd::Show(UIWindowWnd* owner, int anchorX, int anchorY,
                                         const std::string& classroom, const std::string& paper,
                                         const std::string& teacher, bool inner) {
    auto* wnd = new VLInformationWnd(owner, anchorX, anchorY);
    wnd->SetInfo(classroom, paper, teacher, inner);
    bool deleted = false;
    wnd->m_deletedFlag = &deleted;
    if (!wnd->Open()) {
        VL_LOG_ERROR("information window could not be opened");
        // A window refused during its creation has deleted itself already;
        // one that never got a native window has not.
        if (!deleted)
            delete wnd;
        return nullptr;
    }
    wnd->m_deletedFlag = nullptr;
    return wnd;
}

void VLInformationWnd::InitWindow() {
    FillRows();
    PlaceAtAnchor();
}

// Every value text is as wide as its text; the card is as wide as its widest
// row, within the limit.
void VLInformationWnd::FillRows() {
    const std::pair<int, std::string> rows[] = {{kClassroomId, m_classroom},
                                                {kPaperId, m_paper},
                                                {kTeacherId, m_teacher},
                                                {kVersionId, VersionText(m_inner)}};
    auto* root = dynamic_cast<UIContainer*>(m_pm.GetRoot());
    if (!root)
        return;
    UISize screen = GetScreenSizeInUnits();
    int chrome = root->GetInset().left + root->GetInset().right + 2 * root->GetBorderSize();
    int maxWidth = std::max(kMinWidth, std::min(kMaxWidth, screen.cx - 2 * kScreenMargin));

    struct Measured {
        UIControl* value;
        int lead;  // the row's label and gap before the value
        int width;
    };
    std::vector<Measured> measured;
    int widest = 0;
    for (const auto& [id, text] : rows) {
        UIControl* value = m_pm.FindControl(id);
        auto* row = value ? dynamic_cast<UIContainer*>(value->GetParent()) : nullptr;
        if (!row) {
            VL_LOG_ERROR("information window: no text %d in the layout", id);
            continue;
        }
        int lead = 0;
        for (int i = 0; i < row->GetCount() && row->GetItemAt(i) != value; ++i)
            lead += row->GetItemAt(i)->GetFixedWidth() + row->GetChildPadding();
        value->SetText(text);
        int width = UIRenderUtils::GetTextSize(&m_pm, text, value->GetFont(), DT_SINGLELINE).cx +
                    value->GetTextPadding().left + value->GetTextPadding().right;
        measured.push_back({value, lead, width});
        widest = std::max(widest, lead + width);
    }
    int windowWidth = std::clamp(chrome + widest, kMinWidth, maxWidth);
    for (const Measured& m : measured) {
        int room = windowWidth - chrome - m.lead;
        m.value->SetFixedWidth(std::max(0, std::min(m.width, room)));
        // A name too long for the card ends in "..."; the tooltip shows it whole.
        m.value->SetToolTip(m.width > room ? m.value->GetText() : std::string());
    }
    ResizeClient(windowWidth, GetClientSize().cy);
    m_pm.UpdateAndInvalidate();
}

// Opens to the lower right of the anchor; near the screen's right or bottom
// edge it opens to the left or above instead, so all of it can be seen.
void VLInformationWnd::PlaceAtAnchor() {
    // The anchor and the screen in pixels, so the card's pixels are what counts.
    UISize screen = UIApplication::Instance().GetScreenSize();
    UISize size{GetWindowRect().Width(), GetWindowRect().Height()};
    int x = m_anchorX;
    int y = m_anchorY;
    if (x + size.cx > screen.cx)
        x = screen.cx - size.cx;
    if (y + size.cy > screen.cy)
        y = m_anchorY - size.cy;
    x = std::max(0, x);
    y = std::max(0, y);
    MoveWindow(x, y, GetClientSize().cx, GetClientSize().cy);
}

intptr_t VLInformationWnd::OnKillFocus(uint32_t, uintptr_t, intptr_t, bool& handled) {
    // A popup: whatever takes the focus away (a click on the window behind,
    // another program) closes it.
    handled = false;
    if (!m_closing) {
        m_closing = true;
        Close(IDCLOSE);
    }
    return 0;
}

intptr_t VLInformationWnd::OnKeyDown(uint32_t, uintptr_t wParam, intptr_t, bool& handled) {
    handled = wParam == VK_ESCAPE;
    if (handled && !m_closing) {
        m_closing = true;
        Close(IDCLOSE);
    }
    return 0;
}

void VLInformationWnd::OnFinalMessage() {
    delete this;
}

}  // namespace KwLib
