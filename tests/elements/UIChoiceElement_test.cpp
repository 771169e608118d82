// The choice element: styles by type and section, text, picture and sound
// options, their placement, and the answer string as the student clicks.
#include "elements/UIChoiceElement.h"

#include <gtest/gtest.h>

#include <cmath>

#include "audio/UIVirtualMusicPlayer.h"
#include "tests/elements/ElementTestUtil.h"

namespace KwLib {
namespace {

using namespace ElementTest;

class UIChoiceElementTest : public ElementFixture {
protected:
    UIChoiceElement* ShowChoice(int type, int section, std::vector<VLQuestionOption> options,
                                const std::string& answer = "") {
        m_record = MakeChoice(type, section, std::move(options));
        m_record->m_content = "听一听，选出正确的答案。";
        m_record->m_answer = answer;
        return Show<UIChoiceElement>(*m_record);
    }
    void ClickOption(UIChoiceElement* e, size_t displayIndex) {
        m_driver.ClickAt(Center(e->GetOptions().at(displayIndex)));
    }
    // The width of the letter column, "D. " in the option font.
    int LetterWidth() { return Measure("D. ", "CustomFont14").cx; }
    std::string PicturePath(int w, int h) {
        std::string path = m_dir.File(std::to_string(w) + "x" + std::to_string(h) + ".png");
        if (!std::filesystem::exists(path)) {
            EXPECT_TRUE(WritePicture(path, w, h));
        }
        return path;
    }
    // The check sprite images of an option of height h.
    static std::string Cell(int res, int cell, int h) {
        const int y = static_cast<int>(std::ceil((h - 15) * 0.5));
        return "res='" + std::to_string(res) + "' restype='PNG' source='" + std::to_string(cell * 15) +
               ",0," + std::to_string(cell * 15 + 15) + ",15' dest='0," + std::to_string(y) + ",15," +
               std::to_string(y + 15) + "'";
    }
    std::unique_ptr<VLChoiceQuestion> m_record;
};

TEST_F(UIChoiceElementTest, ShuffledOptionsAreLetteredByPlaceAndAnsweredByDocumentIndex) {
    // The document's A, B, C shown as C, A, B.
    UIChoiceElement* e =
        ShowChoice(kQuestionMultiChoice, 1, {Text(2, "三拍子"), Text(0, "二拍子"), Text(1, "四拍子")});
    ASSERT_NE(e, nullptr);
    const auto& options = e->GetOptions();
    ASSERT_EQ(options.size(), 3u);
    EXPECT_EQ(options[0]->GetText(), "A. 三拍子");
    EXPECT_EQ(options[1]->GetText(), "B. 二拍子");
    EXPECT_EQ(options[2]->GetText(), "C. 四拍子");
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(m_record->m_options[i]->position, static_cast<int>(i));
    EXPECT_EQ(e->GetAnswer(), "");

    ClickOption(e, 0);
    ClickOption(e, 1);
    EXPECT_EQ(e->GetAnswer(), "2,0");
    // Multiple choice: a second click takes an option back.
    ClickOption(e, 0);
    EXPECT_EQ(e->GetAnswer(), "0");
    EXPECT_EQ(m_window->Count(kNotifyClick, UIChoiceElement::kMultiOptionId), 3);
}

TEST_F(UIChoiceElementTest, SingleChoiceKeepsOneSelection) {
    UIChoiceElement* e = ShowChoice(kQuestionSingleChoice, 1,
                                    {Text(1, "长笛"), Text(3, "小号"), Text(0, "二胡"), Text(2, "琵琶")});
    const auto& options = e->GetOptions();
    for (UIOption* o : options) {
        EXPECT_EQ(o->GetId(), UIChoiceElement::kSingleOptionId);
        EXPECT_EQ(o->GetGroup(), "2053");
        EXPECT_EQ(o->GetFont(), "CustomFont14");
    }
    ClickOption(e, 1);
    EXPECT_EQ(e->GetAnswer(), "3");
    ClickOption(e, 3);
    EXPECT_EQ(e->GetAnswer(), "2");
    ClickOption(e, 3);
    EXPECT_EQ(e->GetAnswer(), "2");
    // Every option is in the window's group, so the window finds the choice.
    const auto* group = Pm().GetGroup("2053");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->size(), 4u);
    EXPECT_EQ(Pm().GetGroupSelected("2053"), options[3]);
    EXPECT_EQ(Pm().GetGroup("2052"), nullptr);
}

TEST_F(UIChoiceElementTest, RestoresASavedAnswerWhereverTheOptionsAreShown) {
    UIChoiceElement* e = ShowChoice(kQuestionMultiChoice, 1,
                                    {Text(3, "丁"), Text(0, "甲"), Text(2, "丙"), Text(1, "乙")}, "1,3");
    const auto& options = e->GetOptions();
    EXPECT_TRUE(options[0]->IsSelected());
    EXPECT_FALSE(options[1]->IsSelected());
    EXPECT_FALSE(options[2]->IsSelected());
    EXPECT_TRUE(options[3]->IsSelected());
    EXPECT_EQ(e->GetAnswer(), "3,1");
    // Restoring is not a click.
    EXPECT_EQ(m_window->Count(kNotifyClick, UIChoiceElement::kMultiOptionId), 0);
    for (UIOption* o : options) {
        EXPECT_EQ(o->GetId(), UIChoiceElement::kMultiOptionId);
        EXPECT_EQ(o->GetGroup(), "");
    }
    ASSERT_NE(Pm().GetGroup("2052"), nullptr);
    EXPECT_EQ(Pm().GetGroup("2052")->size(), 4u);

    // Tokens must match exactly; an empty answer changes nothing.
    e->SetAnswer("");
    EXPECT_EQ(e->GetAnswer(), "3,1");
    e = ShowChoice(kQuestionMultiChoice, 1, {Text(0, "甲"), Text(1, "乙"), Text(2, "丙")}, "01, 2,12");
    EXPECT_EQ(e->GetAnswer(), "");
}

TEST_F(UIChoiceElementTest, JudgementShowsItsTwoOptionsWithoutLetters) {
    for (int section : {1, 2, 3}) {
        UIChoiceElement* e = ShowChoice(kQuestionJudge, section, {Text(1, "错"), Text(0, "对")});
        ASSERT_EQ(e->GetOptions().size(), 2u) << section;
        EXPECT_EQ(e->GetOptions()[0]->GetText(), "错");
        EXPECT_EQ(e->GetOptions()[1]->GetText(), "对");
        EXPECT_EQ(e->GetOptions()[0]->GetGroup(), "2053");
        EXPECT_EQ(e->GetOptions()[0]->GetNormalImage(), Cell(202, 0, e->GetOptions()[0]->GetFixedHeight()));
    }
    UIChoiceElement* e = ShowChoice(kQuestionJudge, 1, {Text(1, "错"), Text(0, "对")});
    ClickOption(e, 1);
    ClickOption(e, 0);
    EXPECT_EQ(e->GetAnswer(), "1");
}

TEST_F(UIChoiceElementTest, InstrumentSectionShowsNoOptionsForChoiceQuestions) {
    for (int type : {kQuestionSingleChoice, kQuestionMultiChoice}) {
        UIChoiceElement* e = ShowChoice(type, 3, {Text(0, "甲"), Text(1, "乙")}, "0");
        ASSERT_NE(e, nullptr);
        EXPECT_TRUE(e->GetOptions().empty());
        EXPECT_EQ(e->GetAnswer(), "");
        EXPECT_EQ(FindAll(e, UIChoiceElement::kSingleOptionId).size() +
                      FindAll(e, UIChoiceElement::kMultiOptionId).size(),
                  0u);
    }
}

TEST_F(UIChoiceElementTest, TextOptionsFitTheirTextWithTheCheckCentred) {
    const std::string longText =
        "这是一段很长的选项文字，用来检查选项在一行放不下的时候会不会换行，"
        "并且选项的高度是否足够显示全部文字，不会把最后一行切掉；"
        "学生需要读到完整的选项内容才能作答。";
    UIChoiceElement* e = ShowChoice(kQuestionMultiChoice, 1, {Text(0, "短"), Text(1, longText)});
    const auto& options = e->GetOptions();
    const UISize shortSize = Measure("A. 短", "CustomFont14");
    EXPECT_EQ(options[0]->GetFixedWidth(), shortSize.cx + 25);
    EXPECT_EQ(options[0]->GetFixedHeight(), std::max(shortSize.cy, 17));
    EXPECT_EQ(options[0]->GetTextPadding().left, 25);
    EXPECT_EQ(options[0]->GetUserData(), "0");

    const UISize longSize = Measure("B. " + longText, "CustomFont14");
    ASSERT_GT(longSize.cx, 659);
    EXPECT_EQ(options[1]->GetFixedWidth(), 684);
    const int lines = static_cast<int>(std::ceil(longSize.cx / 659.0));
    EXPECT_GE(options[1]->GetFixedHeight(), lines * longSize.cy);
    // Every state of the check sprite sits in the middle of the option's height.
    for (UIOption* o : options) {
        const int h = o->GetFixedHeight();
        EXPECT_EQ(o->GetNormalImage(), Cell(1050, 0, h));
        EXPECT_EQ(o->GetHotImage(), Cell(1050, 1, h));
        EXPECT_EQ(o->GetDisabledImage(), Cell(1050, 3, h));
        EXPECT_EQ(o->GetPos().Height(), h);
    }

    // Long words wrap whole: three words of more than half the text width take
    // three lines, though together they measure less than two.
    std::string word;
    while (Measure(word, "CustomFont14").cx < 340)
        word += "m";
    const std::string words = word + " " + word + " " + word;
    ASSERT_LE(Measure("A. " + words, "CustomFont14").cx, 2 * 659);
    e = ShowChoice(kQuestionSingleChoice, 1, {Text(0, words)});
    EXPECT_GE(e->GetOptions()[0]->GetFixedHeight(), 3 * Measure(words, "CustomFont14").cy);
}

TEST_F(UIChoiceElementTest, PicturesOfHalfTheWidthStandTwoPerLine) {
    // Art questions (section 2): pictures 300 wide are cut to the narrow frame.
    const std::string pic = PicturePath(300, 200);
    UIChoiceElement* e = ShowChoice(kQuestionSingleChoice, 2,
                                    {Picture(2, pic), Picture(0, pic), Picture(3, pic), Picture(1, pic)});
    ASSERT_EQ(e->GetOptions().size(), 4u);
    EXPECT_TRUE(e->IsTwoPerLine());
    const int L = LetterWidth();
    const int M = 303 - L;
    const auto& options = e->GetOptions();
    for (size_t i = 0; i < 4; ++i) {
        UIOption* o = options[i];
        EXPECT_EQ(o->GetText(), std::string(1, static_cast<char>('A' + i)) + ". ");
        EXPECT_EQ(o->GetFixedWidth(), L + 31 + M);
        EXPECT_EQ(o->GetFixedHeight(), 206);
    }
    // Options 0 and 1 share a line, 2 and 3 the next; the second of a line
    // starts half the width (342) after the first.
    EXPECT_EQ(options[0]->GetPos().top, options[1]->GetPos().top);
    EXPECT_EQ(options[1]->GetPos().left - options[0]->GetPos().left, 342);
    EXPECT_EQ(options[2]->GetPos().top, options[3]->GetPos().top);
    EXPECT_GT(options[2]->GetPos().top, options[0]->GetPos().bottom);
    EXPECT_EQ(options[2]->GetPos().left, options[0]->GetPos().left);
    // The picture is cut to M columns and lies after the letter, inside the option.
    const auto boxes = FindAll(e, UIQuestionElement::kPictureBoxId);
    ASSERT_EQ(boxes.size(), 4u);
    const int left = (300 - M) / 2;
    EXPECT_EQ(boxes[0]->GetBkImage(), "file='" + pic + "' source='" + std::to_string(left) + ",0," +
                                          std::to_string(left + M) + ",200' dest='3,3," +
                                          std::to_string(M + 3) + ",203'");
    EXPECT_EQ(boxes[0]->GetPos().left - options[0]->GetPos().left, L + 25);
    EXPECT_EQ(boxes[0]->GetPos().top, options[0]->GetPos().top);
    EXPECT_EQ(boxes[0]->GetPos().right, options[0]->GetPos().right);
    EXPECT_EQ(FindAll(boxes[0], UIQuestionElement::kZoomButtonId).size(), 1u);

    // Clicking a picture chooses its option; double-clicking it is the window's.
    m_driver.ClickAt(Center(boxes[2]));
    EXPECT_EQ(e->GetAnswer(), "3");
    m_driver.DoubleClickAt(Center(boxes[1]));
    EXPECT_EQ(m_window->Count(kNotifyDblClick, UIQuestionElement::kPictureBoxId), 1);
    for (const Note& note : m_window->notes) {
        if (note.type == kNotifyDblClick) {
            EXPECT_EQ(note.userData, pic);
        }
    }
    EXPECT_EQ(e->GetAnswer(), "0");
    // The zoom button is no click on the option.
    m_driver.ClickAt(Center(FindAll(boxes[3], UIQuestionElement::kZoomButtonId).at(0)));
    EXPECT_EQ(m_window->Count(kNotifyClick, UIQuestionElement::kZoomButtonId), 1);
    EXPECT_EQ(e->GetAnswer(), "0");
}

TEST_F(UIChoiceElementTest, PictureOptionsStandOnePerLineWhenTooWideOrMixed) {
    // Section 1: a 300-wide picture with its letter is wider than half the width.
    const std::string wide = PicturePath(300, 200);
    UIChoiceElement* e = ShowChoice(kQuestionSingleChoice, 1, {Picture(0, wide), Picture(1, wide)});
    const int L = LetterWidth();
    ASSERT_GT(L + 31 + 300, 342);
    EXPECT_FALSE(e->IsTwoPerLine());
    EXPECT_EQ(e->GetOptions()[0]->GetPos().left, e->GetOptions()[1]->GetPos().left);
    // Narrower ones fit.
    const std::string narrow = PicturePath(200, 120);
    e = ShowChoice(kQuestionSingleChoice, 1, {Picture(0, narrow), Picture(1, narrow), Picture(2, narrow)});
    EXPECT_TRUE(e->IsTwoPerLine());
    EXPECT_EQ(e->GetOptions()[0]->GetFixedWidth(), L + 31 + 200);
    EXPECT_EQ(e->GetOptions()[1]->GetPos().left - e->GetOptions()[0]->GetPos().left, 342);
    // The odd last one has a line of its own.
    EXPECT_EQ(e->GetOptions()[2]->GetPos().left, e->GetOptions()[0]->GetPos().left);
    // One text among pictures: one per line.
    e = ShowChoice(kQuestionSingleChoice, 2, {Picture(0, narrow), Text(1, "以上都不是")});
    EXPECT_FALSE(e->IsTwoPerLine());
}

TEST_F(UIChoiceElementTest, ALargePictureInSectionOneIsCutWithAZoomButton) {
    const std::string pic = PicturePath(1200, 400);
    UIChoiceElement* e = ShowChoice(kQuestionSingleChoice, 1, {Picture(0, pic)});
    const int L = LetterWidth();
    const int M = 645 - L;
    // Wider than the frame's proportions: the full height, the middle columns.
    const int c = static_cast<int>(400 * M / 250.0);
    const int left = (1200 - c) / 2;
    UIControl* box = FindAll(e, UIQuestionElement::kPictureBoxId).at(0);
    EXPECT_EQ(box->GetBkImage(), "file='" + pic + "' source='" + std::to_string(left) + ",0," +
                                     std::to_string(left + c) + ",400' dest='3,3," + std::to_string(M + 3) +
                                     ",253'");
    UIOption* option = e->GetOptions()[0];
    EXPECT_EQ(option->GetFixedWidth(), L + 31 + M);
    EXPECT_EQ(option->GetFixedHeight(), 256);
    EXPECT_EQ(box->GetPos().Width(), M + 6);
    EXPECT_EQ(box->GetPos().Height(), 256);
    EXPECT_EQ(option->GetNormalImage(), Cell(202, 0, 256));
    const auto zoom = FindAll(box, UIQuestionElement::kZoomButtonId);
    ASSERT_EQ(zoom.size(), 1u);
    EXPECT_EQ(zoom[0]->GetPos().left - box->GetPos().left, M + 6 - 28);
    EXPECT_EQ(zoom[0]->GetPos().top - box->GetPos().top, 256 - 28);
    EXPECT_EQ(zoom[0]->GetUserData(), pic);
    // A small one is shown whole, without zoom button.
    e = ShowChoice(kQuestionSingleChoice, 1, {Picture(0, PicturePath(160, 90))});
    box = FindAll(e, UIQuestionElement::kPictureBoxId).at(0);
    EXPECT_EQ(FindAll(box, UIQuestionElement::kZoomButtonId).size(), 0u);
    EXPECT_EQ(e->GetOptions()[0]->GetFixedHeight(), 96);
}

TEST_F(UIChoiceElementTest, SoundOptionsHaveTheirClipPlayerBeside) {
    const std::string clip = m_dir.File("clip.mp3");
    UIChoiceElement* e = ShowChoice(kQuestionSingleChoice, 1,
                                    {Audio(1, clip), Audio(0, m_dir.File("other.mp3")), Text(2, "都不对")});
    const int L = LetterWidth();
    UIOption* option = e->GetOptions()[0];
    EXPECT_EQ(option->GetText(), "A. ");
    EXPECT_EQ(option->GetFixedWidth(), L + 25);
    EXPECT_EQ(option->GetFixedHeight(), 42);
    auto* row = dynamic_cast<UIContainer*>(option->GetParent());
    ASSERT_NE(row, nullptr);
    ASSERT_EQ(row->GetCount(), 2);
    auto* player = dynamic_cast<UIVirtualMusicPlayer*>(row->GetItemAt(1));
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->GetFilePath(), clip);
    EXPECT_EQ(player->GetPos().Width(), 270);
    EXPECT_EQ(player->GetPos().left, option->GetPos().right);
    EXPECT_EQ(player->GetPos().top, option->GetPos().top);
    EXPECT_EQ(row->GetFixedWidth(), L + 25 + 270);
    EXPECT_EQ(FindAll(e, UIVirtualMusicPlayer::kOptionId).size(), 2u);
    // Playing a clip is not choosing it.
    ASSERT_TRUE(m_driver.Click(UIVirtualMusicPlayer::kOptionId));
    EXPECT_EQ(e->GetAnswer(), "");
    ClickOption(e, 0);
    EXPECT_EQ(e->GetAnswer(), "1");
}

TEST_F(UIChoiceElementTest, DisabledOptionsIgnoreClicksAndStillShowTheAnswer) {
    UIChoiceElement* e = ShowChoice(kQuestionSingleChoice, 1,
                                    {Text(0, "甲"), Text(1, "乙"), Picture(2, PicturePath(160, 90))}, "1");
    e->SetEnabled(false);
    m_driver.Pump();
    for (UIOption* o : e->GetOptions())
        EXPECT_FALSE(o->IsEnabled());
    ClickOption(e, 0);
    m_driver.ClickAt(Center(FindAll(e, UIQuestionElement::kPictureBoxId).at(0)));
    EXPECT_EQ(e->GetAnswer(), "1");
    EXPECT_EQ(m_window->Count(kNotifyClick, UIChoiceElement::kSingleOptionId), 0);

    // The chosen option keeps a check of its own while disabled.
    const auto checkPixel = [&](UIOption* o) {
        const UIRect& rc = o->GetPos();
        const int y = rc.top + static_cast<int>(std::ceil((rc.Height() - 15) * 0.5)) + 7;
        return m_driver.PixelAt(rc.left + 7, y);
    };
    EXPECT_NE(checkPixel(e->GetOptions()[1]), checkPixel(e->GetOptions()[0]));

    e->SetEnabled(true);
    ClickOption(e, 0);
    EXPECT_EQ(e->GetAnswer(), "0");
}

}  // namespace
}  // namespace KwLib
