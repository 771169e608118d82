#pragma once
// UIAnswerSheet: the overview of the whole paper on page 6. Every question is
// a small numbered button coloured by whether it is answered, grouped by type
// and by section (music, then art); singing questions carry a listen toggle.
// Rebuilt each time the sheet is opened. UI thread only.
#include <string>
#include <vector>

#include "platform/ui/UILayout.h"

namespace KwLib {

class VLQuestionBase;

class UIAnswerSheet : public UIVerticalLayout {
public:
    static constexpr int kColumns = 15;

    std::string GetClass() const override { return "AnswerSheet"; }

    // Builds the sheet for `records` in list order (not owned). Call once the
    // sheet has its paint manager.
    void Init(const std::vector<VLQuestionBase*>& records, const std::string& paperName);

    // Whether a question of `type` in `section` appears on the sheet, and in
    // which section's block (true: music).
    static bool IsListed(int type);
    static bool IsMusic(int type, int section);

private:
    struct Group {
        int type;
        std::vector<VLQuestionBase*> records;
    };
    void AddHeader(const std::string& paperName);
    void AddLegend();
    void AddSectionTitle(bool music);
    void AddBlock(const std::vector<Group>& groups);
};

}  // namespace KwLib
