#include "wnd/UISheetElement.h"

#include "exam/VLQuestion.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIButton.h"

namespace KwLib {

namespace {

std::string Cell(int x, int y, int w, int h) {
    return KWStringUtils::Format("res='%d' restype='PNG' source='%d,%d,%d,%d'", 1043, x, y, x + w, y + h);
}

}  // namespace

void UISheetElement::Init(VLQuestionBase* record) {
    m_record = record;
    if (!record)
        return;
    m_number = new UIButton;
    m_number->SetFixedWidth(32);
    m_number->SetFixedHeight(32);
    m_number->SetText(std::to_string(record->m_indexInGroup + 1));
    m_number->SetFont("font16");
    m_number->SetId(kNumberId);
    m_number->SetUserData(std::to_string(record->m_sequence));
    m_number->SetTextStyle(DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    // Answered questions take the left column of the sprite, the others the right one.
    m_showsAnswered = record->m_answered;
    const int column = m_showsAnswered ? 0 : 32;
    m_number->SetNormalImage(Cell(column, 0, 32, 32));
    m_number->SetHotImage(Cell(column, 32, 32, 32));
    m_number->SetPushedImage(Cell(column, 64, 32, 32));
    m_number->SetTextColor(m_showsAnswered ? 0xFFFFFFFF : 0xFF9D9D9D);
    Add(m_number);

    if (IsSingingType(record->m_type)) {
        m_listen = new UIOption;
        m_listen->SetFixedWidth(24);
        m_listen->SetFixedHeight(13);
        m_listen->SetPadding({3, 5, 0, 0});
        m_listen->SetId(kListenId);
        m_listen->SetTag(reinterpret_cast<intptr_t>(record));
        m_listen->SetNormalImage("res='1046' restype='PNG' source='0,0,24,13'");
        m_listen->SetSelectedImage("res='1046' restype='PNG' source='24,0,48,13'");
        m_listen->SetDisabledImage("res='1046' restype='PNG' source='48,0,72,13'");
        m_listen->SetToolTip("听一听自己的演唱");
        // A switch per question: a click on the one playing stops it.
        m_listen->SetToggle(true);
        m_listen->SetGroup(kListenGroup);
        m_listen->SetEnabled(m_showsAnswered);
        Add(m_listen);
    }
}

}  // namespace KwLib
