// The answer sheet built from records: groups, sections, sizes, colours by answer
// state, and the listen toggles of singing questions.
#include "wnd/UIAnswerSheet.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "exam/VLQuestion.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/UIWindowImplBase.h"
#include "wnd/UISheetElement.h"

namespace KwLib {
namespace {

class SheetPage : public UIWindowImplBase {
public:
    std::string GetWindowClassName() const override { return "SheetPage"; }
    std::string GetSkinFile() const override { return std::string(VL_SOURCE_DIR) + "/tests/wnd/sheet_layout.xml"; }
    void Notify(UINotification& msg) override {
        if (msg.type == kNotifyClick && msg.sender)
            clicks.push_back(msg.sender->GetUserData());
    }
    void OnFinalMessage() override { delete this; }
    std::vector<std::string> clicks;
};

class AnswerSheet : public ::testing::Test {
protected:
    AnswerSheet() {
        UIResourceSingleton::Instance().SetResourcePath(std::string(VL_BINARY_DIR) + "/install/bin/res/");
        page = new SheetPage;
        page->Create(nullptr, "sheet", 0, 0, 0, 0);
        page->ShowWindow(true);
        driver.Attach(page);
    }
    ~AnswerSheet() override { page->DestroyWindow(); }

    VLQuestionBase* Add(int type, int section, bool answered = false) {
        std::unique_ptr<VLQuestionBase> q;
        if (type >= 3 && type <= 7)
            q = std::make_unique<VLSingQuestion>();
        else
            q = std::make_unique<VLChoiceQuestion>();
        q->m_type = type;
        q->m_section = section;
        q->m_answered = answered;
        q->m_sequence = static_cast<int>(records.size());
        q->m_id = std::to_string(100 + records.size());
        q->m_isNew = 1;
        q->m_scoreText = "每题5分，共计10分";
        int inGroup = 0;
        for (const auto& r : records)
            inGroup += r->m_type == type && r->m_section == section;
        q->m_indexInGroup = inGroup;
        records.push_back(std::move(q));
        return records.back().get();
    }

    UIAnswerSheet* Build() {
        auto* area = driver.FindAs<UIContainer>(1650);
        area->RemoveAll();
        auto* sheet = new UIAnswerSheet;
        area->Add(sheet);
        std::vector<VLQuestionBase*> list;
        for (auto& r : records)
            list.push_back(r.get());
        sheet->Init(list, "音乐与美术综合测评（样卷）");
        driver.Pump();
        return sheet;
    }

    std::vector<std::string> Texts(UIControl* root, int fontSize16Only = 0) {
        (void)fontSize16Only;
        std::vector<std::string> out;
        root->ForEach([&](UIControl* c) {
            if (!c->GetText().empty())
                out.push_back(c->GetText());
        });
        return out;
    }
    static bool Has(const std::vector<std::string>& v, const std::string& s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    }
    std::vector<UIGridList*> Grids(UIControl* root) {
        std::vector<UIGridList*> out;
        root->ForEach([&](UIControl* c) {
            if (auto* g = dynamic_cast<UIGridList*>(c))
                out.push_back(g);
        });
        return out;
    }

    UITestDriver driver;
    SheetPage* page = nullptr;
    std::vector<std::unique_ptr<VLQuestionBase>> records;
};

TEST_F(AnswerSheet, SectionTitlesOnlyWhenThePaperHasBothSections) {
    Add(1, 1);
    Add(3, 1);
    auto texts = Texts(Build());
    EXPECT_FALSE(Has(texts, "音乐类"));
    EXPECT_FALSE(Has(texts, "美术类"));
    EXPECT_TRUE(Has(texts, "单项选择题（每题5分，共计10分）"));

    records.clear();
    Add(1, 2);
    Add(13, 2);
    texts = Texts(Build());
    EXPECT_FALSE(Has(texts, "音乐类"));
    EXPECT_FALSE(Has(texts, "美术类"));

    records.clear();
    Add(13, 2);  // an art question first: music still comes first on the sheet
    Add(1, 1);
    Add(1, 2);   // the same type in the art section is a group of its own
    Add(12, 1);  // instrument questions appear nowhere
    UIAnswerSheet* sheet = Build();
    texts = Texts(sheet);
    ASSERT_TRUE(Has(texts, "音乐类"));
    ASSERT_TRUE(Has(texts, "美术类"));
    const auto music = std::find(texts.begin(), texts.end(), "音乐类");
    const auto art = std::find(texts.begin(), texts.end(), "美术类");
    EXPECT_LT(music, art);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "单项选择题（每题5分，共计10分）"), 2);
    int numbers = 0;
    sheet->ForEach([&](UIControl* c) { numbers += c->GetId() == UISheetElement::kNumberId; });
    EXPECT_EQ(numbers, 3);
    EXPECT_EQ(texts.front(), "音乐与美术综合测评（样卷）");
    driver.Screenshot(std::string(VL_BINARY_DIR) + "/tests/wnd/screens/answer_sheet_mixed.png");
}

TEST_F(AnswerSheet, GroupsAreAsTallAsTheirRowsAndNumbersShowTheAnswerState) {
    for (int i = 0; i < 16; ++i)
        Add(1, 1, i % 2 == 0);
    for (int i = 0; i < 15; ++i)
        Add(2, 1);
    Add(3, 1, true);
    Add(3, 1, false);
    UIAnswerSheet* sheet = Build();
    auto grids = Grids(sheet);
    ASSERT_EQ(grids.size(), 3u);
    EXPECT_EQ(grids[0]->GetPos().Height(), 88);  // 16 choices: two rows
    EXPECT_EQ(grids[1]->GetPos().Height(), 48);  // 15: one row
    EXPECT_EQ(grids[2]->GetPos().Height(), 66);  // singing: one taller row
    // Cells 42 apart across, 40 down; numbers count within their group.
    auto* e0 = dynamic_cast<UISheetElement*>(grids[0]->GetItemAt(0));
    auto* e1 = dynamic_cast<UISheetElement*>(grids[0]->GetItemAt(1));
    auto* e15 = dynamic_cast<UISheetElement*>(grids[0]->GetItemAt(15));
    ASSERT_TRUE(e0 && e1 && e15);
    EXPECT_EQ(e1->GetPos().left - e0->GetPos().left, 42);
    EXPECT_EQ(e15->GetPos().top - e0->GetPos().top, 40);
    EXPECT_EQ(e15->GetNumber()->GetText(), "16");
    EXPECT_EQ(e15->GetNumber()->GetUserData(), "15");
    // Answered: the green column of the sprite; unanswered: the grey one with grey digits.
    EXPECT_NE(e0->GetNumber()->GetNormalImage().find("source='0,0,32,32'"), std::string::npos);
    EXPECT_NE(e1->GetNumber()->GetNormalImage().find("source='32,0,64,32'"), std::string::npos);
    EXPECT_EQ(e1->GetNumber()->GetTextColor(), 0xFF9D9D9Du);
    // Singing questions carry a listen toggle, usable only with a recording.
    auto* sung = dynamic_cast<UISheetElement*>(grids[2]->GetItemAt(0));
    auto* silent = dynamic_cast<UISheetElement*>(grids[2]->GetItemAt(1));
    ASSERT_TRUE(sung && silent && sung->GetListen() && silent->GetListen());
    EXPECT_TRUE(sung->GetListen()->IsEnabled());
    EXPECT_FALSE(silent->GetListen()->IsEnabled());
    EXPECT_EQ(e0->GetListen(), nullptr);
    driver.Screenshot(std::string(VL_BINARY_DIR) + "/tests/wnd/screens/answer_sheet_music.png");

    // A click on a number reports the question's place in the paper.
    page->clicks.clear();
    const UIRect r = e15->GetNumber()->GetPos();
    driver.ClickAt({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    ASSERT_EQ(page->clicks.size(), 1u);
    EXPECT_EQ(page->clicks[0], "15");
}

TEST_F(AnswerSheet, TwoListenTogglesExcludeEachOtherAndSwitchOff) {
    Add(3, 1, true);
    Add(3, 1, true);
    UIAnswerSheet* sheet = Build();
    std::vector<UIOption*> toggles;
    sheet->ForEach([&](UIControl* c) {
        if (c->GetId() == UISheetElement::kListenId)
            toggles.push_back(static_cast<UIOption*>(c));
    });
    ASSERT_EQ(toggles.size(), 2u);
    auto click = [&](UIOption* o) {
        const UIRect r = o->GetPos();
        driver.ClickAt({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    };
    click(toggles[0]);
    EXPECT_TRUE(toggles[0]->IsSelected());
    click(toggles[1]);
    EXPECT_FALSE(toggles[0]->IsSelected());
    EXPECT_TRUE(toggles[1]->IsSelected());
    click(toggles[1]);
    EXPECT_FALSE(toggles[1]->IsSelected());
}

}  // namespace
}  // namespace KwLib
