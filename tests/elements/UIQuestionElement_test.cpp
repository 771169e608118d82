// The element base: the factory, the stem (heading, numbered text, pictures
// with their crop rules and zoom buttons), text heights and the element's
// place in a 712-pixel question area.
#include "elements/UIQuestionElement.h"

#include <gtest/gtest.h>

#include "elements/UIChoiceElement.h"
#include "elements/UIConnectionElement.h"
#include "elements/UIDianXianElement.h"
#include "elements/UIPinTuElement.h"
#include "elements/UISingElement.h"
#include "elements/UISortElement.h"
#include "elements/UITianSeElement.h"
#include "tests/elements/ElementTestUtil.h"

namespace KwLib {
namespace {

using namespace ElementTest;

TEST(UIElementFactory, CreatesTheElementOfEachType) {
    for (int type : {1, 2, 10})
        EXPECT_NE(dynamic_cast<UIChoiceElement*>(CreateQuestionElement(type).get()), nullptr) << type;
    for (int type = 3; type <= 7; ++type) {
        auto element = CreateQuestionElement(type);
        EXPECT_NE(dynamic_cast<UISingElement*>(element.get()), nullptr) << type;
        EXPECT_EQ(dynamic_cast<UIChoiceElement*>(element.get()), nullptr) << type;
    }
    EXPECT_NE(dynamic_cast<UIConnectionElement*>(CreateQuestionElement(11).get()), nullptr);
    EXPECT_NE(dynamic_cast<UISortElement*>(CreateQuestionElement(13).get()), nullptr);
    EXPECT_NE(dynamic_cast<UIPinTuElement*>(CreateQuestionElement(14).get()), nullptr);
    EXPECT_NE(dynamic_cast<UIDianXianElement*>(CreateQuestionElement(15).get()), nullptr);
    EXPECT_NE(dynamic_cast<UITianSeElement*>(CreateQuestionElement(16).get()), nullptr);
    // The instrument type has no element; unknown codes have none either.
    for (int type : {0, 12, 17, -1})
        EXPECT_EQ(CreateQuestionElement(type), nullptr) << type;

    for (int type = 0; type <= 17; ++type) {
        const bool first = type == 8 || type == 9 || type == 11 || (type >= 13 && type <= 16);
        EXPECT_EQ(AddsToAreaFirst(type), first) << type;
    }
}

class UIQuestionElementTest : public ElementFixture {
protected:
    // A singing question without scores: nothing but the stem.
    VLSingQuestion& Record(const std::string& content, std::vector<std::string> pictures = {}) {
        m_record = std::make_unique<VLSingQuestion>();
        m_record->m_type = kQuestionSing;
        m_record->m_content = content;
        m_record->m_contentImages = std::move(pictures);
        return *m_record;
    }
    UIContainer* Body(UIQuestionElement* e) {
        // The body follows the heading when there is one; answer areas follow it.
        UIContainer* stem = e->GetStem();
        for (int i = 0; i < stem->GetCount(); ++i)
            if (auto* body = dynamic_cast<UIVerticalLayout*>(stem->GetItemAt(i)))
                return body;
        return nullptr;
    }
    std::unique_ptr<VLSingQuestion> m_record;
};

TEST_F(UIQuestionElementTest, HeadingOnlyOnTheFirstQuestionOfAGroupWithAnInstruction) {
    VLSingQuestion& q = Record("唱一唱");
    q.m_instruction = "请先聆听音乐，在听到开始答题提示后，根据题目要求演唱出歌曲。";
    q.m_indexInGroup = 0;
    UIQuestionElement* e = Show(q);
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(e->GetStem()->GetCount(), 2);
    UIControl* heading = e->GetStem()->GetItemAt(0);
    EXPECT_EQ(heading->GetText(), q.m_instruction);
    EXPECT_EQ(heading->GetFont(), "CustomFont18");
    EXPECT_EQ(heading->GetPadding().bottom, 8);
    EXPECT_EQ(heading->GetFixedWidth(), 684);
    EXPECT_EQ(Body(e)->GetItemAt(0)->GetText(), "1.唱一唱");

    q.m_indexInGroup = 1;
    e = Show(q);
    ASSERT_EQ(e->GetStem()->GetCount(), 1);
    EXPECT_EQ(Body(e)->GetItemAt(0)->GetText(), "2.唱一唱");

    q.m_indexInGroup = 0;
    q.m_instruction.clear();
    e = Show(q);
    ASSERT_EQ(e->GetStem()->GetCount(), 1);
    EXPECT_EQ(Body(e)->GetItemAt(0)->GetText(), "1.唱一唱");
}

TEST_F(UIQuestionElementTest, InstrumentItemsNameTheirInstrument) {
    VLSingQuestion& q = Record("演奏乐曲");
    q.m_instrument = 4;
    EXPECT_EQ(Body(Show(q))->GetItemAt(0)->GetText(), "1.【葫芦丝】演奏乐曲");
    q.m_instrument = 6;
    EXPECT_EQ(Body(Show(q))->GetItemAt(0)->GetText(), "1.演奏乐曲");
    // Only singing records carry an instrument.
    auto choice = MakeChoice(kQuestionSingleChoice, 1, {Text(0, "甲")});
    choice->m_content = "选一选";
    choice->m_instrument = 1;
    EXPECT_EQ(Body(Show(*choice))->GetItemAt(0)->GetText(), "1.选一选");
}

TEST_F(UIQuestionElementTest, LinesAndPicturesBecomeLabelsAndBoxesInOrder) {
    const std::string a = m_dir.File("a.png"), b = m_dir.File("b.png"), c = m_dir.File("c.png");
    ASSERT_TRUE(WritePicture(a, 120, 80));
    ASSERT_TRUE(WritePicture(b, 60, 40));
    ASSERT_TRUE(WritePicture(c, 90, 30));
    VLSingQuestion& q = Record("看图/:img再看/:img\r\n\n/:img末尾", {a, b, c});
    UIQuestionElement* e = Show(q);
    UIContainer* body = Body(e);
    ASSERT_EQ(body->GetCount(), 7);
    EXPECT_EQ(body->GetItemAt(0)->GetText(), "1.看图");
    EXPECT_EQ(body->GetItemAt(1)->GetUserData(), a);
    EXPECT_EQ(body->GetItemAt(2)->GetText(), "再看");
    EXPECT_EQ(body->GetItemAt(3)->GetUserData(), b);
    // The empty line still has its label, without height.
    EXPECT_EQ(body->GetItemAt(4)->GetText(), "");
    EXPECT_EQ(body->GetItemAt(4)->GetFixedHeight(), 0);
    EXPECT_EQ(body->GetItemAt(5)->GetUserData(), c);
    EXPECT_EQ(body->GetItemAt(6)->GetText(), "末尾");
    for (int i : {0, 2, 6}) {
        UIControl* label = body->GetItemAt(i);
        EXPECT_EQ(label->GetFont(), "CustomFont16");
        EXPECT_EQ(label->GetTextColor(), 0xFF26934Eu);
        EXPECT_EQ(label->GetFixedWidth(), 684);
        EXPECT_TRUE(label->GetControlDispatch(kDispatchMouseToParent));
    }

    // More markers than pictures: the extra marker gets an empty box.
    e = Show(Record("/:img/:img", {a}));
    body = Body(e);
    ASSERT_EQ(body->GetCount(), 3);  // "1." and two boxes
    EXPECT_EQ(body->GetItemAt(2)->GetFixedWidth(), 6);
    EXPECT_EQ(body->GetItemAt(2)->GetFixedHeight(), 6);
}

TEST_F(UIQuestionElementTest, PicturesAreCutToTheStemFrameWithAZoomButton) {
    struct Case {
        int w, h;
        const char* bk;  // source and dest of the background
        int boxW, boxH;
        bool zoom;
    };
    const Case cases[] = {
        // Shown whole.
        {300, 200, "source='0,0,300,200' dest='3,3,303,203'", 306, 206, false},
        // Too wide: the middle 678 columns.
        {1000, 200, "source='161,0,839,200' dest='3,3,681,203'", 684, 206, true},
        // Too high: the middle 244 rows.
        {400, 600, "source='0,178,400,422' dest='3,3,403,247'", 406, 250, true},
        // Too large, wider than the frame's proportions: the full height.
        {2000, 500, "source='305,0,1694,500' dest='3,3,681,247'", 684, 250, true},
        // Too large, taller: the full width.
        {1000, 1000, "source='0,320,1000,679' dest='3,3,681,247'", 684, 250, true},
        // Cut, but the part shown is too low for a zoom button.
        {1000, 20, "source='161,0,839,20' dest='3,3,681,23'", 684, 26, false},
    };
    std::vector<std::string> paths;
    std::string content;
    for (const Case& c : cases) {
        paths.push_back(m_dir.File(std::to_string(c.w) + "x" + std::to_string(c.h) + ".png"));
        ASSERT_TRUE(WritePicture(paths.back(), c.w, c.h));
        content += "/:img\n";
    }
    paths.push_back(m_dir.File("missing.png"));
    content += "/:img";
    UIQuestionElement* e = Show(Record(content, paths));
    ASSERT_NE(e, nullptr);
    const auto boxes = FindAll(e, UIQuestionElement::kPictureBoxId);
    ASSERT_EQ(boxes.size(), std::size(cases) + 1);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(paths[i]);
        auto* box = dynamic_cast<UIContainer*>(boxes[i]);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->GetBkImage(), "file='" + paths[i] + "' " + c.bk);
        EXPECT_EQ(box->GetPos().Width(), c.boxW);
        EXPECT_EQ(box->GetPos().Height(), c.boxH);
        EXPECT_EQ(box->GetUserData(), paths[i]);
        EXPECT_EQ(box->GetBorderSize(), 3);
        EXPECT_EQ(box->GetBorderColor(), 0xFFA4DEDDu);
        EXPECT_TRUE(box->GetControlNotify(kNotifyDblClick));
        EXPECT_EQ(box->GetToolTip(), "双击查看原图");
        const auto zoom = FindAll(box, UIQuestionElement::kZoomButtonId);
        ASSERT_EQ(zoom.size(), c.zoom ? 1u : 0u);
        if (c.zoom) {
            const UIRect& z = zoom[0]->GetPos();
            EXPECT_EQ(z.left - box->GetPos().left, c.boxW - 28);
            EXPECT_EQ(z.top - box->GetPos().top, c.boxH - 28);
            EXPECT_EQ(z.Width(), 25);
            EXPECT_EQ(z.Height(), 25);
            EXPECT_EQ(zoom[0]->GetUserData(), paths[i]);
            EXPECT_EQ(zoom[0]->GetNormalImage(), "res='2101' restype='PNG' source='0,0,25,25'");
            EXPECT_EQ(dynamic_cast<UIButton*>(zoom[0])->GetHotImage(),
                      "res='2101' restype='PNG' source='25,0,50,25'");
        }
    }
    // A picture that is not there (yet) keeps a small empty box.
    EXPECT_EQ(boxes.back()->GetPos().Width(), 6);
    EXPECT_EQ(boxes.back()->GetPos().Height(), 6);
}

TEST_F(UIQuestionElementTest, TextLabelsAreAsHighAsTheirWrappedLines) {
    const UISize glyph = Measure("音", "CustomFont16");
    ASSERT_GT(glyph.cx, 0);
    // "1." plus characters up to at least 1400 pixels on one line.
    std::string text;
    while (Measure("1." + text, "CustomFont16").cx < 1400)
        text += "音";
    const UISize line = Measure("1." + text, "CustomFont16");
    ASSERT_LE(line.cx, 2 * 684 + 684);
    ASSERT_GT(line.cx, 2 * 684);
    UIQuestionElement* e = Show(Record(text));
    UIControl* label = Body(e)->GetItemAt(0);
    EXPECT_EQ(label->GetFixedHeight(), 3 * line.cy);
    EXPECT_EQ(e->CalcTextHeight("CustomFont16", "1." + text), 3 * line.cy);
    EXPECT_EQ(e->CalcTextHeight("CustomFont16", "短"), line.cy);
    EXPECT_EQ(e->CalcTextHeight("CustomFont16", ""), 0);

    // Three words that each take more than half a line: their width is less
    // than two lines, but wrapping at the words needs three.
    std::string word;
    while (Measure(word, "CustomFont16").cx < 360)
        word += "W";
    const std::string words = word + " " + word + " " + word;
    ASSERT_LE(Measure(words, "CustomFont16").cx, 2 * 684);
    EXPECT_GE(e->CalcTextHeight("CustomFont16", words), 3 * line.cy);
}

TEST_F(UIQuestionElementTest, FillsTheQuestionAreaAndScrollsItsStem) {
    const std::string tall = m_dir.File("tall.png");
    ASSERT_TRUE(WritePicture(tall, 600, 240));
    VLSingQuestion& q = Record("第一行\n/:img\n/:img\n/:img\n最后一行", {tall, tall, tall});
    UIQuestionElement* e = Show(q);
    ASSERT_NE(e, nullptr);
    UIVerticalLayout* stem = e->GetStem();
    EXPECT_EQ(e->GetPos(), m_area->GetPos());
    EXPECT_TRUE(e->IsVScrollEnabled());
    EXPECT_TRUE(stem->GetControlDispatch(kDispatchMouseToParent));
    EXPECT_EQ(stem->GetChildPadding(), 10);
    EXPECT_EQ(stem->GetPadding(), (UIRect{15, 10, 5, 5}));
    // Its fixed height is what its content needs.
    EXPECT_EQ(stem->GetFixedHeight(), stem->EstimateSize({0, 0}).cy);
    EXPECT_GT(stem->GetFixedHeight(), m_area->GetPos().Height());
    // Taller than the area: the element scrolls, and the stem keeps its 684
    // pixels beside the scroll bar.
    EXPECT_GT(e->GetScrollRange(), 0);
    EXPECT_EQ(stem->GetPos().Width(), 684);
    const int top = stem->GetPos().top;
    m_driver.Wheel(Center(stem->GetItemAt(0)), -3);
    EXPECT_LT(stem->GetPos().top, top);
}

TEST_F(UIQuestionElementTest, ReportsDoubleClicksOnItsPictures) {
    const std::string pic = m_dir.File("pic.png");
    ASSERT_TRUE(WritePicture(pic, 1000, 200));
    UIQuestionElement* e = Show(Record("看/:img", {pic}));
    UIControl* box = FindAll(e, UIQuestionElement::kPictureBoxId).at(0);
    m_driver.DoubleClickAt(Center(box));
    ASSERT_EQ(m_window->Count(kNotifyDblClick, UIQuestionElement::kPictureBoxId), 1);
    EXPECT_EQ(m_window->notes.back().userData, pic);
    ASSERT_TRUE(m_driver.Click(UIQuestionElement::kZoomButtonId));
    ASSERT_EQ(m_window->Count(kNotifyClick, UIQuestionElement::kZoomButtonId), 1);
    EXPECT_EQ(m_window->notes.back().userData, pic);
}

TEST_F(UIQuestionElementTest, BuildsNothingWithoutARecord) {
    auto element = CreateQuestionElement(kQuestionSing);
    element->SetManager(&Pm(), nullptr, true);
    element->InitQuestion(nullptr);
    ASSERT_NE(element->GetStem(), nullptr);
    EXPECT_EQ(element->GetStem()->GetCount(), 0);
    EXPECT_EQ(element->GetAnswer(), "");
    m_area->Add(std::move(element));
    m_driver.Pump();
}

}  // namespace
}  // namespace KwLib
