#include "wnd/UIAnswerSheet.h"

#include <algorithm>

#include "exam/VLQuestion.h"
#include "exam/VLQuestionTexts.h"
#include "platform/common/KWStringUtils.h"
#include "wnd/UISheetElement.h"

namespace KwLib {

namespace {

constexpr UIColor kBlockColor = 0xFFC6D8B8;

UIControl* Label(const std::string& text, const std::string& font, const std::string& align) {
    auto* c = new UIControl;
    c->SetText(text);
    c->SetFont(font);
    c->SetTextStyle(ParseTextAlign(align));
    return c;
}

}  // namespace

bool UIAnswerSheet::IsListed(int type) {
    return (type >= 1 && type <= 11) || (type >= 13 && type <= 16);
}

bool UIAnswerSheet::IsMusic(int type, int section) {
    if (type == 1 || type == 2 || type == 10 || type == 11)
        return section == 1;
    return type >= 3 && type <= 9;
}

void UIAnswerSheet::Init(const std::vector<VLQuestionBase*>& records, const std::string& paperName) {
    RemoveAll();
    EnableScrollBar(true, false);
    SetChildPadding(0);
    AddHeader(paperName);
    AddLegend();

    // One pass: a group per type and section, created when its first record is met.
    std::vector<Group> music, art;
    for (VLQuestionBase* r : records) {
        if (!r || !IsListed(r->m_type))
            continue;
        std::vector<Group>& groups = IsMusic(r->m_type, r->m_section) ? music : art;
        auto it = std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.type == r->m_type; });
        if (it == groups.end()) {
            groups.push_back({r->m_type, {}});
            it = groups.end() - 1;
        }
        it->records.push_back(r);
    }
    const bool titles = !music.empty() && !art.empty();
    if (!music.empty()) {
        if (titles)
            AddSectionTitle(true);
        AddBlock(music);
    }
    if (!art.empty()) {
        if (titles)
            AddSectionTitle(false);
        AddBlock(art);
    }
}

void UIAnswerSheet::AddHeader(const std::string& paperName) {
    UIControl* header = Label(paperName, "font24", "vcen center singleline endellipsis");
    header->SetFixedWidth(670);
    header->SetFixedHeight(50);
    header->SetTextColor(0xFF40B862);
    Add(header);
}

void UIAnswerSheet::AddLegend() {
    auto* bar = new UIHorizontalLayout;
    bar->SetFixedHeight(50);
    bar->SetBkColor(kBlockColor);
    bar->SetBorderRound(3);
    auto sample = [](const char* text, int x) {
        UIControl* c = Label(text, "font16", "vcen wordbreak");
        c->SetFixedWidth(100);
        c->SetFixedHeight(20);
        c->SetPadding({15, 15, 0, 0});
        c->SetTextPadding({25, 0, 0, 0});
        c->SetBkImage(KWStringUtils::Format("res='%d' restype='PNG' source='%d,0,%d,20' dest='0,0,20,20'", 1044, x,
                                            x + 20));
        return c;
    };
    bar->Add(sample("已答题", 0));
    bar->Add(sample("未答题", 20));
    UIControl* hint = Label("（点击题目序号可跳转至所选题目）", "font16", "vcen left wordbreak");
    hint->SetPadding({15, 0, 0, 0});
    bar->Add(hint);
    Add(bar);
}

void UIAnswerSheet::AddSectionTitle(bool music) {
    UIControl* title = Label(music ? "音乐类" : "美术类", "font16", "vcen left wordbreak");
    title->SetFixedHeight(30);
    title->SetPadding({0, 10, 0, 0});
    title->SetTextColor(0xFF3EA7E5);
    title->SetTextPadding({40, 0, 0, 0});
    title->SetBkImage(music ? "res='1047' restype='PNG' source='21,0,42,17' dest='14,6,35,23'"
                            : "res='1047' restype='PNG' source='0,0,21,17' dest='14,6,35,23'");
    Add(title);
}

void UIAnswerSheet::AddBlock(const std::vector<Group>& groups) {
    auto* block = new UIVerticalLayout;
    block->SetBkColor(kBlockColor);
    block->SetBorderRound(3);
    block->SetInset({15, 15, 15, 15});
    block->SetAutoMinHeight(true);
    block->SetPadding({0, 10, 0, 0});  // apart from the row above it
    Add(block);
    for (const Group& group : groups) {
        const VLQuestionBase* first = group.records.front();
        UIControl* title = Label(KWStringUtils::Format("%s（%s）",
                                                       VLQuestionTexts::GetTypeName(group.type, first->m_isNew != 0)
                                                           .c_str(),
                                                       first->m_scoreText.c_str()),
                                 "font16", "vcen wordbreak");
        title->SetFixedHeight(22);
        block->Add(title);

        const bool singing = UISheetElement::IsSingingType(group.type);
        auto* grid = new UIGridList;
        grid->SetItemSize({32, singing ? 50 : 32});
        grid->SetItemMargin(UIRect{5, 8, 5, 0});
        grid->SetColumns(kColumns);
        const int rows = (static_cast<int>(group.records.size()) + kColumns - 1) / kColumns;
        grid->SetFixedHeight(rows * (singing ? 58 : 40) + 8);
        block->Add(grid);
        for (VLQuestionBase* r : group.records) {
            auto* entry = new UISheetElement;
            grid->Add(entry);
            entry->Init(r);
        }
    }
}

}  // namespace KwLib
