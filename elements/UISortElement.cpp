#include "elements/UISortElement.h"

#include <algorithm>

#include "elements/UIElementParts.h"
#include "exam/VLQuestion.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIRenderUtils.h"
#include "platform/ui/UIResource.h"

namespace KwLib {

namespace {

constexpr const char* kSlotFont = "font28";
constexpr UIColor kSlotTextColor = 0xFF808080;
constexpr int kZoomInset = UISortElement::kBoxSize - 27;

using UIElementParts::SetDispatch;
void SetAreaDispatch(UIControl* c) {
    SetDispatch(c, {kDispatchButtonDown, kDispatchButtonUp, kDispatchMouseMove, kDispatchDblClick,
                    kDispatchMouseToParent});
}

UIButton* ZoomOf(const UIControl* box) {
    return reinterpret_cast<UIButton*>(box->GetTag());
}

}  // namespace

UIContainer* UISortElement::CreateBox(int id) {
    auto* box = new UIContainer;
    box->SetId(id);
    box->SetFixedWidth(kBoxSize);
    box->SetFixedHeight(kBoxSize);
    box->SetBorderSize(2);
    box->SetBorderColor(kFrameColor);
    SetDispatch(box, {kDispatchButtonDown, kDispatchButtonUp, kDispatchMouseMove, kDispatchMouseToParent});
    UIButton* zoom = CreateZoomButton("", kBoxSize, kBoxSize);
    zoom->SetPadding({kZoomInset, kZoomInset, 0, 0});
    box->Add(zoom);
    box->SetTag(reinterpret_cast<intptr_t>(zoom));
    return box;
}

void UISortElement::AddContent() {
    m_slots.clear();
    m_pictures.clear();
    m_board.Clear();
    m_board.SetHooks({[this](UIControl* picture, UIControl* slot) {
                          slot->SetBkImage(PictureImage(picture));
                          // The number stands in an empty slot only: over a picture it would hide part of it.
                          slot->SetText("");
                          slot->SetUserData(picture->GetUserData());
                          slot->SetToolTip(kPlacedToolTip);
                          ZoomOf(slot)->SetUserData(ZoomOf(picture)->GetUserData());
                          ZoomOf(slot)->SetVisible(true);
                      },
                      [this](UIControl* slot) {
                          slot->SetBkImage("");
                          slot->SetText(std::to_string(SlotNumber(slot)));
                          ZoomOf(slot)->SetVisible(false);
                          slot->SetUserData("-1");
                          slot->SetToolTip("");
                      },
                      // A placed picture leaves an empty frame behind.
                      [this](UIControl* picture, bool placed) {
                          picture->SetBkImage(placed ? std::string() : PictureImage(picture));
                          ZoomOf(picture)->SetVisible(!placed);
                      }});
    auto* question = dynamic_cast<VLChoiceQuestion*>(m_question);
    if (!question || !m_stem)
        return;
    SetAreaDispatch(m_stem);

    auto* panel = new UIVerticalLayout;
    panel->SetAttribute("autominheight", "true");
    SetAreaDispatch(panel);

    m_slotRow = new UIHorizontalLayout;
    m_slotRow->SetFixedHeight(kBoxSize);
    m_slotRow->SetChildPadding(5);
    SetAreaDispatch(m_slotRow);
    m_slotRow->Add(new UIControl);
    m_pictureRow = new UIHorizontalLayout;
    m_pictureRow->SetFixedHeight(kBoxSize);
    m_pictureRow->SetPadding({0, 8, 0, 0});
    m_pictureRow->SetChildPadding(5);
    SetAreaDispatch(m_pictureRow);
    m_pictureRow->Add(new UIControl);
    for (size_t i = 0; i < question->m_options.size(); ++i) {
        const VLQuestionOption& option = *question->m_options[i];
        UIContainer* slot = CreateBox(kSlotId);
        slot->SetControlDispatch(kDispatchDblClick);
        slot->SetUserData("-1");
        slot->SetToolTipDelay(500);
        slot->SetText(std::to_string(i + 1));
        slot->SetFont(kSlotFont);
        slot->SetTextColor(kSlotTextColor);
        slot->SetAttribute("align", "center vcen wordbreak");
        ZoomOf(slot)->SetVisible(false);
        m_slotRow->Add(slot);
        m_slots.push_back(slot);

        UIContainer* picture = CreateBox(kPictureId);
        picture->SetUserData(std::to_string(option.index + 1));
        picture->SetBkImage(KWStringUtils::Format("file='%s'", option.value.c_str()));
        ZoomOf(picture)->SetUserData(option.value);
        m_pictureRow->Add(picture);
        m_pictures.push_back(picture);
    }
    m_slotRow->Add(new UIControl);
    m_pictureRow->Add(new UIControl);
    panel->Add(m_slotRow);
    panel->Add(m_pictureRow);

    auto* buttons = new UIHorizontalLayout;
    buttons->SetFixedHeight(24);
    buttons->SetPadding({0, 10, 15, 8});
    buttons->SetChildPadding(8);
    SetDispatch(buttons,
                {kDispatchMouseMove, kDispatchButtonDown, kDispatchButtonUp, kDispatchMouseToParent});
    buttons->Add(new UIControl);
    m_undoButton = UIElementParts::CreateSmallButton(UIElementParts::kUndoText, UIElementParts::kUndoButtonId,
                                                     66, 0, true);
    m_resetButton = UIElementParts::CreateSmallButton(UIElementParts::kResetText,
                                                      UIElementParts::kResetButtonId, 66, 0, true);
    buttons->Add(m_undoButton);
    buttons->Add(m_resetButton);
    panel->Add(buttons);
    m_stem->Add(panel);
}

// ---- answer ----

std::string UISortElement::GetAnswer() {
    std::string answer;
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (i > 0)
            answer += ",";
        answer += m_slots[i]->GetUserData();
    }
    return answer;
}

void UISortElement::SetAnswer(const std::string& answer) {
    if (answer.empty())
        return;
    std::vector<UIControl*> slots(m_slots.begin(), m_slots.end());
    m_board.Restore(UIElementParts::Split(answer, ','), slots, [this](const std::string& entry, int) -> UIControl* {
        for (UIContainer* picture : m_pictures)
            if (KWStringUtils::CompareNoCase(picture->GetUserData(), entry) == 0)
                return picture;
        return nullptr;
    }, nullptr);
}

std::string UISortElement::PictureImage(const UIControl* picture) const {
    return KWStringUtils::Format("file='%s'", ZoomOf(picture)->GetUserData().c_str());
}

int UISortElement::SlotNumber(const UIControl* slot) const {
    auto it = std::find(m_slots.begin(), m_slots.end(), slot);
    return static_cast<int>(it - m_slots.begin()) + 1;
}

void UISortElement::SetEnabled(bool enabled) {
    UIQuestionElement::SetEnabled(enabled);
    for (UIButton* b : {m_undoButton, m_resetButton})
        if (b)
            b->SetEnabled(enabled);
    if (!enabled)
        m_board.EndDrag(m_manager);
}

// ---- mouse ----

void UISortElement::OnLButtonDown(UIPoint pt) {
    m_board.EndDrag(m_manager);
    if (!IsEnabled() || !m_manager)
        return;
    UIControl* c = m_manager->FindControl(pt);
    if (!c)
        return;
    if (c->GetId() == kPictureId && !m_board.IsPlaced(c)) {
        m_board.BeginDrag(c, pt);
        m_manager->SetCursor("hand");
    } else if (c->GetId() == UIElementParts::kResetButtonId && c->IsEnabled()) {
        m_board.UndoAll();
        Invalidate();
    } else if (c->GetId() == UIElementParts::kUndoButtonId && c->IsEnabled() && m_board.UndoLast()) {
        // The last placement goes back, as a double-click on its slot would.
        Invalidate();
    }
}

void UISortElement::OnMouseMove(UIPoint pt) {
    if (!IsEnabled() || !m_manager)
        return;
    if (m_board.GetDragFrom()) {
        m_board.DragTo(m_manager, pt);
        return;
    }
    UIControl* c = m_manager->FindControl(pt);
    if (c && c->GetId() == kPictureId && !m_board.IsPlaced(c))
        m_manager->SetCursor("hand");
}

void UISortElement::OnLButtonUp(UIPoint pt) {
    if (IsEnabled() && m_manager && m_board.GetDragFrom()) {
        UIControl* c = m_manager->FindControl(pt);
        if (c && c->GetId() == kSlotId && m_board.Place(m_board.GetDragFrom(), c))
            m_manager->SetCursor("arrow");
    }
    m_board.EndDrag(m_manager);
}

void UISortElement::OnLButtonDblClk(UIPoint pt) {
    if (!IsEnabled() || !m_manager)
        return;
    UIControl* c = m_manager->FindControl(pt);
    if (c && c->GetId() == kSlotId && m_board.UndoOn(c))
        Invalidate();
}

// ---- painting ----

void UISortElement::DoPaint(cairo_t* cr, const UIRect& rcPaint) {
    UIQuestionElement::DoPaint(cr, rcPaint);
    // The picture follows the pointer, faded, until it is dropped.
    if (UIControl* from = m_board.GetDragFrom())
        m_board.PaintGhost(cr, m_rcItem.Intersect(rcPaint), PictureImage(from), 2, kFrameColor);
}

}  // namespace KwLib
