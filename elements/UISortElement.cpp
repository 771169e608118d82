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

void SetDispatch(UIControl* c, std::initializer_list<int> flags) {
    for (int f : flags)
        c->SetControlDispatch(f);
}
void SetAreaDispatch(UIControl* c) {
    SetDispatch(c, {kDispatchButtonDown, kDispatchButtonUp, kDispatchMouseMove, kDispatchDblClick,
                    kDispatchMouseToParent});
}

UIButton* ZoomOf(UIControl* box) {
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
    m_placements.clear();
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
    const std::vector<std::string> entries = UIElementParts::Split(answer, ',');
    if (entries.size() != m_slots.size())
        return;
    for (size_t i = 0; i < entries.size(); ++i) {
        int number = 0;
        if (!UIElementParts::ParseInt(entries[i], number) || number < 1)
            continue;
        for (UIContainer* picture : m_pictures) {
            if (KWStringUtils::CompareNoCase(picture->GetUserData(), entries[i]) != 0)
                continue;
            // As a drop: into an empty slot, and each picture once.
            if (!picture->GetBkImage().empty() && m_slots[i]->GetUserData() == "-1")
                Place(picture, m_slots[i]);
            break;
        }
    }
}

void UISortElement::Place(UIContainer* picture, UIContainer* slot) {
    slot->SetBkImage(picture->GetBkImage());
    // The number stands in an empty slot only: over a picture it would hide part of it.
    slot->SetText("");
    slot->SetUserData(picture->GetUserData());
    slot->SetToolTip(kPlacedToolTip);
    ZoomOf(slot)->SetUserData(UIImageString::GetImageFile(picture->GetBkImage()));
    ZoomOf(slot)->SetVisible(true);
    picture->SetBkImage("");
    ZoomOf(picture)->SetVisible(false);
    m_placements.emplace_back(picture, slot);
}

int UISortElement::SlotNumber(const UIContainer* slot) const {
    auto it = std::find(m_slots.begin(), m_slots.end(), slot);
    return static_cast<int>(it - m_slots.begin()) + 1;
}

void UISortElement::Unplace(size_t placement) {
    if (placement >= m_placements.size())
        return;
    auto [picture, slot] = m_placements[placement];
    picture->SetBkImage(slot->GetBkImage());
    ZoomOf(picture)->SetVisible(true);
    slot->SetBkImage("");
    slot->SetText(std::to_string(SlotNumber(slot)));
    ZoomOf(slot)->SetVisible(false);
    slot->SetUserData("-1");
    slot->SetToolTip("");
    m_placements.erase(m_placements.begin() + static_cast<std::ptrdiff_t>(placement));
}

void UISortElement::SetEnabled(bool enabled) {
    UIQuestionElement::SetEnabled(enabled);
    for (UIButton* b : {m_undoButton, m_resetButton})
        if (b)
            b->SetEnabled(enabled);
    if (!enabled)
        EndDrag();
}

// ---- mouse ----

void UISortElement::EndDrag() {
    if (m_dragFrom && m_dragMoved)
        m_manager->Invalidate(GhostRect());
    m_dragFrom = nullptr;
    m_dragMoved = false;
}

void UISortElement::OnLButtonDown(UIPoint pt) {
    EndDrag();
    if (!IsEnabled() || !m_manager)
        return;
    UIControl* c = m_manager->FindControl(pt);
    if (!c)
        return;
    if (c->GetId() == kPictureId && !c->GetBkImage().empty()) {
        m_dragFrom = static_cast<UIContainer*>(c);
        m_grabOffset = {pt.x - c->GetX(), pt.y - c->GetY()};
        m_mousePos = pt;
        m_manager->SetCursor("hand");
    } else if (c->GetId() == UIElementParts::kResetButtonId && c->IsEnabled()) {
        while (!m_placements.empty())
            Unplace(m_placements.size() - 1);
        Invalidate();
    } else if (c->GetId() == UIElementParts::kUndoButtonId && c->IsEnabled() && !m_placements.empty()) {
        // The last placement goes back, as a double-click on its slot would.
        Unplace(m_placements.size() - 1);
        Invalidate();
    }
}

void UISortElement::OnMouseMove(UIPoint pt) {
    if (!IsEnabled() || !m_manager)
        return;
    if (m_dragFrom) {
        if (m_dragMoved)
            m_manager->Invalidate(GhostRect());
        m_mousePos = pt;
        m_dragMoved = true;
        m_manager->Invalidate(GhostRect());
        return;
    }
    UIControl* c = m_manager->FindControl(pt);
    if (c && c->GetId() == kPictureId && !c->GetBkImage().empty())
        m_manager->SetCursor("hand");
}

void UISortElement::OnLButtonUp(UIPoint pt) {
    if (IsEnabled() && m_manager && m_dragFrom) {
        UIControl* c = m_manager->FindControl(pt);
        if (c && c->GetId() == kSlotId && c->GetUserData() == "-1") {
            Place(m_dragFrom, static_cast<UIContainer*>(c));
            m_manager->SetCursor("arrow");
        }
    }
    EndDrag();
}

void UISortElement::OnLButtonDblClk(UIPoint pt) {
    if (!IsEnabled() || !m_manager)
        return;
    UIControl* c = m_manager->FindControl(pt);
    if (!c || c->GetId() != kSlotId)
        return;
    for (size_t i = 0; i < m_placements.size(); ++i) {
        if (m_placements[i].second == c) {
            Unplace(i);
            Invalidate();
            return;
        }
    }
}

// ---- painting ----

UIRect UISortElement::GhostRect() const {
    const int x = m_mousePos.x - m_grabOffset.x, y = m_mousePos.y - m_grabOffset.y;
    return {x - 1, y - 1, x + kBoxSize + 1, y + kBoxSize + 1};
}

void UISortElement::DoPaint(cairo_t* cr, const UIRect& rcPaint) {
    UIQuestionElement::DoPaint(cr, rcPaint);
    if (!m_dragFrom || !m_dragMoved)
        return;
    // The picture follows the pointer, faded, until it is dropped.
    UIRect clip = m_rcItem.Intersect(rcPaint);
    if (clip.IsEmpty())
        return;
    const UIRect ghost = GhostRect();
    cairo_save(cr);
    cairo_rectangle(cr, clip.left, clip.top, clip.Width(), clip.Height());
    cairo_clip(cr);
    cairo_push_group(cr);
    UIRenderUtils::DrawImageString(cr, {ghost.left + 1, ghost.top + 1, ghost.right - 1, ghost.bottom - 1},
                                   m_dragFrom->GetBkImage());
    UIRenderUtils::DrawBorder(cr, {ghost.left + 1, ghost.top + 1, ghost.right - 1, ghost.bottom - 1}, 2,
                              kFrameColor, 0);
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, 0.7);
    cairo_restore(cr);
}

}  // namespace KwLib
