#pragma once
// UISheetElement: one question on the answer sheet: its number button (id
// 2064, user data = the record's sequence, green when answered, grey when
// not) and, for singing questions, the listen toggle (id 1651, tag = the
// record) that plays the student's own recording. UI thread only.
#include "platform/ui/UILayout.h"

namespace KwLib {

class UIButton;
class UIOption;
class VLQuestionBase;

class UISheetElement : public UIVerticalLayout {
public:
    static constexpr int kNumberId = 2064;
    static constexpr int kListenId = 1651;
    static constexpr const char* kListenGroup = "1652";

    std::string GetClass() const override { return "SheetElement"; }

    // Builds the entry of `record` (not owned; it outlives the sheet).
    void Init(VLQuestionBase* record);
    VLQuestionBase* GetRecord() const { return m_record; }
    UIButton* GetNumber() const { return m_number; }
    UIOption* GetListen() const { return m_listen; }
    // Whether the entry shows its question as answered (as it was when the sheet opened).
    bool ShowsAnswered() const { return m_showsAnswered; }

    static bool IsSingingType(int type) { return type >= 3 && type <= 7; }

private:
    VLQuestionBase* m_record = nullptr;
    UIButton* m_number = nullptr;  // owned by the control tree
    UIOption* m_listen = nullptr;  // owned by the control tree; singing questions only
    bool m_showsAnswered = false;
};

}  // namespace KwLib
