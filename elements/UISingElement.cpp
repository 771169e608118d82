#include "elements/UISingElement.h"

#include "exam/VLQuestion.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIResource.h"

namespace KwLib {

void UISingElement::AddContent() {
    m_staffShown = false;
    m_notationButton = nullptr;
    m_scoreBlock = nullptr;
    if (!m_question || !m_stem)
        return;
    const std::string& staff = m_question->m_staffPic;
    const std::string& numbered = m_question->m_numberedPic;

    if (!staff.empty() && !numbered.empty()) {
        auto* button = new UIButton;
        button->SetFixedWidth(98);
        button->SetFixedHeight(32);
        // Right-aligned over the score, and closer to it than the stem's spacing.
        button->SetPadding({586, 0, 0, -8});
        button->SetText(LoadStr(kToStaffStringId));
        button->SetId(kNotationButtonId);
        button->SetAttribute("align", "center vcen singleline");
        button->SetTextColor(0xffffffff);
        button->SetNormalImage(
            KWStringUtils::Format("res='%d' restype='PNG' source='0,0,98,32'", kNotationButtonRes));
        button->SetHotImage(
            KWStringUtils::Format("res='%d' restype='PNG' source='0,32,98,64'", kNotationButtonRes));
        button->SetPushedImage(
            KWStringUtils::Format("res='%d' restype='PNG' source='0,64,98,96'", kNotationButtonRes));
        // The element switches the notation when the button is released over it.
        button->SetControlDispatch(kDispatchMouseToParent);
        m_notationButton = button;
        m_stem->Add(button);
    }
    const std::string& shown = numbered.empty() ? staff : numbered;
    if (shown.empty())
        return;
    m_scoreBlock = CreateScoreBlock(shown);
    m_stem->Add(m_scoreBlock);
}

UIContainer* UISingElement::CreateScoreBlock(const std::string& path) {
    UISize size = ReadPictureSize(path);
    int w = 0, h = 0;
    if (size.cx > 0 && size.cy > 0) {
        w = std::min(size.cx, kScoreWidth);
        // Rounded up, so a shrunk score never loses its last row of pixels.
        h = static_cast<int>((static_cast<int64_t>(size.cy) * w + size.cx - 1) / size.cx);
    }
    const int x = (kContentWidth - w) / 2;
    const int blockHeight = h + 2 * kPictureBorder;

    auto* block = new UIContainer;
    block->SetFixedWidth(kContentWidth);
    block->SetFixedHeight(blockHeight);
    block->SetBorderSize(kPictureBorder);
    block->SetBorderColor(kPictureBorderColor);
    block->SetBkColor(0xffffffff);
    block->SetId(kScoreBlockId);
    block->SetBkImage(KWStringUtils::Format("file='%s' dest='%d,%d,%d,%d'", path.c_str(), x, kPictureBorder,
                                            x + w, h + kPictureBorder));
    block->SetUserData(path);
    block->SetToolTip(kPictureToolTip);
    block->SetToolTipDelay(500);
    block->SetControlNotify(kNotifyDblClick);
    block->SetControlDispatch(kDispatchMouseToParent);
    if (size.cx > kScoreWidth && blockHeight > kZoomButtonSize) {
        UIButton* zoom = CreateZoomButton(path, kContentWidth, blockHeight);
        zoom->SetPadding({});
        zoom->SetFloatPos({kContentWidth - 28, blockHeight - 28, kContentWidth - 3, blockHeight - 3});
        block->Add(zoom);
    }
    return block;
}

void UISingElement::SwitchNotation() {
    if (!m_question || !m_notationButton || !m_scoreBlock)
        return;
    const bool toStaff = !m_staffShown;
    m_notationButton->SetText(LoadStr(toStaff ? kToNumberedStringId : kToStaffStringId));
    const std::string& path = toStaff ? m_question->m_staffPic : m_question->m_numberedPic;
    // The new block takes the old one's place; the old one goes once the
    // current mouse event is finished.
    int index = m_stem->GetItemIndex(m_scoreBlock);
    UIContainer* block = CreateScoreBlock(path);
    m_stem->Remove(m_scoreBlock);
    m_stem->AddAt(block, index);
    m_scoreBlock = block;
    m_staffShown = toStaff;
    // The two scores need not be equally tall.
    UpdateStemHeight();
}

void UISingElement::OnLButtonUp(UIPoint pt) {
    UIQuestionElement::OnLButtonUp(pt);
    if (!m_manager || !m_notationButton)
        return;
    UIControl* hit = m_manager->FindControl(pt);
    if (hit == m_notationButton && hit->IsEnabled())
        SwitchNotation();
}

}  // namespace KwLib
