#include "elements/UIDianXianElement.h"

#include "elements/UIDianXianControl.h"
#include "elements/UIElementParts.h"
#include "exam/VLQuestion.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIPaintManager.h"

namespace KwLib {

void UIDianXianElement::AddContent() {
    auto* question = dynamic_cast<VLDianXianQuestion*>(m_question);
    if (!question || !m_stem)
        return;
    // The element takes the presses on its buttons.
    m_stem->SetControlDispatch(kDispatchButtonDown);

    auto* frame = new UIContainer;
    frame->SetFixedWidth(UIDianXianControl::kWidth);
    frame->SetFixedHeight(UIDianXianControl::kHeight);
    // A light edge shows where the drawing ends on a white picture.
    frame->SetBorderSize(1);
    frame->SetBorderColor(0xFFD5E3DB);
    m_surface = new UIDianXianControl;
    frame->Add(m_surface);
    m_stem->Add(frame);
    m_surface->Init(*question);

    // Under the picture's right edge, as in the other drawing questions.
    auto* buttons = new UIHorizontalLayout;
    buttons->SetFixedWidth(UIDianXianControl::kWidth);
    buttons->SetFixedHeight(24);
    buttons->SetChildPadding(8);
    buttons->Add(new UIControl);
    m_undoButton = UIElementParts::CreateSmallButton(UIElementParts::kUndoText, UIElementParts::kUndoButtonId,
                                                     66, 0, true);
    m_resetButton = UIElementParts::CreateSmallButton(UIElementParts::kResetText,
                                                      UIElementParts::kResetButtonId, 66, 0, true);
    buttons->Add(m_undoButton);
    buttons->Add(m_resetButton);
    m_stem->Add(buttons);
}

std::string UIDianXianElement::GetAnswer() {
    return m_surface ? m_surface->GetAnswer() : std::string();
}

void UIDianXianElement::SetAnswer(const std::string& answer) {
    if (m_surface)
        m_surface->SetAnswer(answer);
}

void UIDianXianElement::SetEnabled(bool enabled) {
    if (m_surface)
        m_surface->SetEnabled(enabled);
    for (UIButton* b : {m_undoButton, m_resetButton})
        if (b)
            b->SetEnabled(enabled);
    UIQuestionElement::SetEnabled(enabled);
}

void UIDianXianElement::OnLButtonDown(UIPoint pt) {
    if (!IsEnabled() || !m_manager || !m_surface)
        return;
    UIControl* c = m_manager->FindControl(pt);
    if (!c || !c->IsEnabled())
        return;
    auto* question = dynamic_cast<VLDianXianQuestion*>(m_question);
    if (c->GetId() == UIElementParts::kResetButtonId && question)
        m_surface->Reset(*question);
    else if (c->GetId() == UIElementParts::kUndoButtonId)
        m_surface->Undo();
}

}  // namespace KwLib
