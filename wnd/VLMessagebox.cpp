#include "wnd/VLMessagebox.h"

#include <algorithm>
#include <vector>

#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIContainer.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

namespace {

constexpr int kTitleId = 100;
constexpr int kCloseId = 101;
constexpr int kMinimizeId = 102;
constexpr int kIconId = 103;
constexpr int kTextId = 104;
constexpr int kOkId = 105;
constexpr int kCancelId = 106;
constexpr int kIconSize = 36;
// Room kept free above and below the box when the screen is small.
constexpr int kScreenMargin = 40;

// Every box that exists, so that an owner can close the ones it has open.
std::vector<VLMessagebox*>& Boxes() {
    static std::vector<VLMessagebox*> boxes;
    return boxes;
}

}  // namespace

VLMessagebox::VLMessagebox(int buttonKind, int iconKind, std::string text, std::string title)
    : m_text(std::move(text)), m_title(std::move(title)), m_buttonKind(buttonKind), m_iconKind(iconKind) {
    Boxes().push_back(this);
}

VLMessagebox::~VLMessagebox() {
    auto& boxes = Boxes();
    boxes.erase(std::remove(boxes.begin(), boxes.end(), this), boxes.end());
}

std::string VLMessagebox::IconImage(int iconKind) {
    int kind = std::clamp(iconKind, 0, 3);
    return KWStringUtils::Format("res='%d' restype='PNG' source='%d,0,%d,%d'", 2001, kind * kIconSize,
                                 (kind + 1) * kIconSize, kIconSize);
}

void VLMessagebox::InitWindow() {
    if (UIControl* cancel = m_pm.FindControl(kCancelId))
        cancel->SetVisible(m_buttonKind != kOkOnly);
    if (UIControl* minimize = m_pm.FindControl(kMinimizeId))
        minimize->SetVisible(false);
    if (UIControl* icon = m_pm.FindControl(kIconId))
        icon->SetBkImage(IconImage(m_iconKind));
    if (UIControl* title = m_pm.FindControl(kTitleId))
        title->SetText(m_title);
    if (UIControl* text = m_pm.FindControl(kTextId))
        text->SetText(m_text);
    FitToText();
}

// The text keeps the box's width and takes the height it needs; past the
// limit its column scrolls, so no word of a notice is ever cut off.
void VLMessagebox::FitToText() {
    UIControl* text = m_pm.FindControl(kTextId);
    UIControl* root = m_pm.GetRoot();
    if (!text || !text->GetParent() || !root)
        return;
    ResizeClient(kWidth, GetClientSize().cy);
    root->SetPos({0, 0, kWidth, GetClientSize().cy});
    int width = text->GetWidth();
    // Everything but the text's column keeps its size.
    int chrome = GetClientSize().cy - text->GetParent()->GetHeight();
    if (width <= 0 || chrome <= 0) {
        VL_LOG_ERROR("message box layout leaves no room for the text");
        return;
    }
    int limit = std::min(kMaxHeight, GetScreenSizeInUnits().cy - 2 * kScreenMargin);
    limit = std::max(limit, chrome + kIconSize);
    auto measure = [&](int w) {
        return UIRenderUtils::GetTextSize(&m_pm, m_text, text->GetFont(), DT_WORDBREAK, w).cy;
    };
    int textHeight = std::max(kIconSize, measure(width));
    int height = chrome + textHeight;
    if (height > limit) {
        // The scroll bar takes its width from the text column.
        textHeight = std::max(kIconSize, measure(width - UIContainer::kScrollBarWidth));
        height = limit;
    }
    text->SetFixedHeight(textHeight);
    ResizeClient(kWidth, height);
    m_pm.UpdateAndInvalidate();
}

bool VLMessagebox::CreateOver(UIWindowWnd* owner) {
    std::string caption = owner ? owner->GetWindowText() : m_title;
    // x and y of -1 centre the finished box on its owner.
    return Create(owner, caption, -1, -1, kWidth, 0);
}

void VLMessagebox::Finish(int result) {
    m_result = result;
    Close(result);
}

void VLMessagebox::Notify(UINotification& msg) {
    if (msg.type != kNotifyClick || !msg.sender)
        return;
    switch (msg.sender->GetId()) {
        case kOkId:
            Finish(IDOK);
            break;
        case kCancelId:
            Finish(IDCANCEL);
            break;
        case kCloseId:
            Finish(IDCLOSE);
            break;
        case kMinimizeId:
            SendMessageW(WM_SYSCOMMAND, SC_MINIMIZE, 0);
            break;
        default:
            break;
    }
}

intptr_t VLMessagebox::OnKeyDown(uint32_t, uintptr_t wParam, intptr_t, bool& handled) {
    // Escape is the close button. Enter and Space do nothing: a child tapping
    // keys must not confirm a question by accident.
    handled = wParam == VK_ESCAPE;
    if (handled)
        Finish(IDCLOSE);
    return 0;
}

void VLMessagebox::OnFinalMessage() {
    delete this;
}

int VLMessagebox::Show(UIWindowWnd* owner, int buttonKind, int iconKind, const std::string& text,
                       const std::string& title) {
    auto* box = new VLMessagebox(buttonKind, iconKind, text, title);
    if (!box->CreateOver(owner)) {
        VL_LOG_ERROR("message box \"%s\" could not be shown", text.c_str());
        // A box refused during its creation has deleted itself already.
        auto& boxes = Boxes();
        if (std::find(boxes.begin(), boxes.end(), box) != boxes.end())
            delete box;
        return IDCLOSE;
    }
    int result = box->ShowModal();
    // The box is gone. Anything but its own buttons (its owner went away, the
    // loop ended) counts as closed, never as OK.
    return result == IDOK || result == IDCANCEL ? result : IDCLOSE;
}

void VLMessagebox::CloseAll(UIWindowWnd* owner) {
    std::vector<VLMessagebox*> boxes = Boxes();
    for (VLMessagebox* box : boxes)
        if (box->GetParent() == owner && box->IsWindow())
            box->Finish(IDCLOSE);
}

int VLMessagebox::OpenCount() {
    return static_cast<int>(Boxes().size());
}

}  // namespace KwLib
