// Controls driven like a user would: options and groups, buttons, combo,
// slide, text field, tooltips, cursors and the dispatch flags.
#include <gtest/gtest.h>

#include "UITestWindow.h"
#include "platform/common/KWStringConvert.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UICombo.h"
#include "platform/ui/UIProgress.h"
#include "platform/ui/UIRichEdit.h"

namespace KwLib {
namespace {

class UIControlsTest : public ::testing::Test, public UITestBase {};

std::vector<RecordedNotify> Of(const TestWindow& w, int type) {
    std::vector<RecordedNotify> out;
    for (auto& n : w.notes)
        if (n.type == type)
            out.push_back(n);
    return out;
}

TEST_F(UIControlsTest, OptionGroupSelectsOneAndClickArrivesBeforeTheChange) {
    auto w = Open("ControlTest");
    auto* a = driver.FindAs<UIOption>(101);
    auto* c = driver.FindAs<UIOption>(103);
    ASSERT_TRUE(a && c);
    EXPECT_TRUE(c->IsSelected());
    EXPECT_EQ(w->PaintManager().GetGroupSelected("answer"), c);
    ASSERT_EQ(w->PaintManager().GetGroup("answer")->size(), 3u);

    w->notes.clear();
    ASSERT_TRUE(driver.Click(101));
    // The click comes first, while A still shows "not selected".
    ASSERT_GE(w->notes.size(), 2u);
    EXPECT_EQ(w->notes[0].type, kNotifyClick);
    EXPECT_EQ(w->notes[0].id, 101);
    EXPECT_FALSE(w->notes[0].senderSelected);
    EXPECT_TRUE(a->IsSelected());
    EXPECT_FALSE(c->IsSelected());
    EXPECT_EQ(w->PaintManager().GetGroupSelected("answer"), a);
    auto changes = Of(*w, kNotifySelectChanged);
    ASSERT_EQ(changes.size(), 2u);  // C off, A on
    EXPECT_EQ(changes[0].id, 103);
    EXPECT_EQ(changes[1].id, 101);

    // Clicking the selected option of a group keeps it selected.
    w->notes.clear();
    driver.Click(101);
    EXPECT_TRUE(a->IsSelected());
    EXPECT_EQ(Of(*w, kNotifyClick).size(), 1u);
    EXPECT_TRUE(Of(*w, kNotifySelectChanged).empty());

    // An option without a group toggles, and its click also sees the old state.
    auto* check = driver.FindAs<UIOption>(104);
    w->notes.clear();
    driver.Click(104);
    EXPECT_TRUE(check->IsSelected());
    EXPECT_FALSE(Of(*w, kNotifyClick)[0].senderSelected);
    driver.Click(104);
    EXPECT_FALSE(check->IsSelected());
    EXPECT_TRUE(Of(*w, kNotifyClick)[1].senderSelected);

    // Clearing the groups (a new question) forgets them; the options remain.
    w->PaintManager().RemoveAllGroups();
    EXPECT_EQ(w->PaintManager().GetGroup("answer"), nullptr);
    EXPECT_EQ(w->PaintManager().GetGroupSelected("answer"), nullptr);
    w->DestroyWindow();
}

TEST_F(UIControlsTest, ToggleOptionsOfAGroupSwitchOffAndExcludeEachOther) {
    auto w = Open("CellMarginTest");
    auto* a = driver.FindAs<UIOption>(21);
    auto* b = driver.FindAs<UIOption>(22);
    ASSERT_TRUE(a && b);
    driver.Click(21);
    EXPECT_TRUE(a->IsSelected());
    driver.Click(22);  // the second switches the first off
    EXPECT_FALSE(a->IsSelected());
    EXPECT_TRUE(b->IsSelected());
    w->notes.clear();
    driver.Click(22);  // and a click on the selected one switches it off
    EXPECT_FALSE(b->IsSelected());
    EXPECT_EQ(w->PaintManager().GetGroupSelected("listen"), nullptr);
    ASSERT_FALSE(Of(*w, kNotifyClick).empty());
    EXPECT_TRUE(Of(*w, kNotifyClick)[0].senderSelected);  // the click still sees it on
    w->DestroyWindow();
}

TEST_F(UIControlsTest, ButtonsClickOnlyWhenReleasedOverThemAndEnabled) {
    auto w = Open("ControlTest");
    UIPoint ok, off;
    ASSERT_TRUE(driver.CenterOf(201, ok));
    ASSERT_TRUE(driver.CenterOf(202, off));
    driver.Click(201);
    EXPECT_EQ(Of(*w, kNotifyClick).size(), 1u);
    // Pressed on the button, released elsewhere: no click.
    driver.Drag(ok, UIPoint{ok.x, ok.y + 200});
    EXPECT_EQ(Of(*w, kNotifyClick).size(), 1u);
    // Pressed elsewhere, released on the button: no click either.
    driver.Drag(UIPoint{ok.x, ok.y + 200}, ok);
    EXPECT_EQ(Of(*w, kNotifyClick).size(), 1u);
    driver.Click(202);
    EXPECT_EQ(Of(*w, kNotifyClick).size(), 1u);
    // A double-click is two clicks for a button.
    driver.DoubleClick(201);
    EXPECT_EQ(Of(*w, kNotifyClick).size(), 3u);
    // Keys do not press the focused button (the space bar is an answer key in rhythm questions).
    EXPECT_TRUE(driver.Find(201)->IsFocused());
    driver.PressKey(VK_SPACE);
    driver.PressKey(VK_RETURN);
    EXPECT_EQ(Of(*w, kNotifyClick).size(), 3u);
    // Hot and pushed states follow the mouse; buttons show the hand.
    auto* button = driver.Find(201);
    driver.MouseMove(ok);
    EXPECT_TRUE(button->IsHot());
    EXPECT_EQ(w->PaintManager().GetCurrentCursor(), "hand");
    driver.MouseDown(ok);
    EXPECT_TRUE(button->IsPushed());
    driver.MouseUp(ok);
    EXPECT_FALSE(button->IsPushed());
    driver.MouseMove({2, 300});
    EXPECT_FALSE(button->IsHot());
    EXPECT_EQ(w->PaintManager().GetCurrentCursor(), "arrow");
    w->DestroyWindow();
}

TEST_F(UIControlsTest, ComboSlideAndProgress) {
    auto w = Open("ControlTest");
    auto* combo = driver.FindAs<UICombo>(301);
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->GetCount(), 3);
    EXPECT_EQ(combo->GetCurSel(), -1);
    driver.Click(301);
    ASSERT_TRUE(combo->IsDropped());
    UIRect drop = combo->GetDropRect();
    driver.ClickAt({drop.left + 20, drop.top + 4 + combo->GetItemHeight() + 10});  // second item
    EXPECT_FALSE(combo->IsDropped());
    EXPECT_EQ(combo->GetCurSel(), 1);
    EXPECT_EQ(combo->GetText(), "初中");
    auto picks = Of(*w, kNotifyItemSelect);
    ASSERT_EQ(picks.size(), 1u);
    EXPECT_EQ(picks[0].wParam, 1u);
    // A click elsewhere closes an open list without choosing.
    driver.Click(301);
    EXPECT_TRUE(combo->IsDropped());
    driver.ClickAt({5, 300});
    EXPECT_FALSE(combo->IsDropped());
    // Also when the click lands on a disabled control, which takes no focus.
    driver.Click(301);
    ASSERT_TRUE(combo->IsDropped());
    driver.Click(202);
    EXPECT_FALSE(combo->IsDropped());
    EXPECT_EQ(w->PaintManager().GetOverlay(), nullptr);
    EXPECT_EQ(combo->GetCurSel(), 1);
    EXPECT_TRUE(combo->SelectItem(2, false));
    EXPECT_FALSE(combo->SelectItem(3));

    auto* slide = driver.FindAs<UISlide>(401);
    ASSERT_NE(slide, nullptr);
    EXPECT_EQ(slide->GetSlidePos(), 50);
    EXPECT_EQ(slide->GetSlideRange(), 100);
    const UIRect& r = slide->GetPos();
    driver.Drag(UIPoint{(r.left + r.right) / 2, (r.top + r.bottom) / 2},
                UIPoint{r.right + 50, (r.top + r.bottom) / 2});
    EXPECT_EQ(slide->GetSlidePos(), 100);
    auto changed = Of(*w, kNotifyValueChanged);
    ASSERT_EQ(changed.size(), 1u);  // once, on release
    EXPECT_EQ(changed[0].wParam, 100u);
    EXPECT_FALSE(Of(*w, kNotifyValueChanging).empty());
    driver.PressKey(VK_LEFT);
    EXPECT_EQ(slide->GetSlidePos(), 99);
    EXPECT_EQ(Of(*w, kNotifyValueChanged).back().wParam, 99u);

    auto* progress = driver.FindAs<UIProgress>(402);
    progress->SetValue(30);
    EXPECT_EQ(progress->GetValue(), 10);  // clamped to the range
    progress->SetRange(0, 100);
    progress->SetPos(42);
    EXPECT_EQ(progress->GetValue(), 42);
    w->DestroyWindow();
}

TEST_F(UIControlsTest, RichEditTypingLimitsAndEnter) {
    auto w = Open("ControlTest");
    auto* edit = driver.FindAs<UIRichEdit>(501);
    ASSERT_NE(edit, nullptr);
    driver.Click(501);
    EXPECT_TRUE(edit->IsFocused());
    driver.TypeText("张三abc");
    EXPECT_EQ(edit->GetText(), "张三abc");
    // maxchar 5 counts characters, not bytes.
    driver.TypeText("d");
    EXPECT_EQ(edit->GetText(), "张三abc");
    driver.PressKey(VK_BACK);
    EXPECT_EQ(edit->GetText(), "张三ab");
    driver.PressKey(VK_HOME);
    driver.PressKey(VK_RIGHT, kModShift);
    int s = 0, e = 0;
    edit->GetSel(s, e);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(e, 1);
    driver.TypeText("李");
    EXPECT_EQ(edit->GetText(), "李三ab");
    driver.PressKey(VK_DELETE);
    EXPECT_EQ(edit->GetText(), "李ab");
    // Control characters never enter a one-line field.
    driver.TypeText("\n\t");
    EXPECT_EQ(edit->GetText(), "李ab");
    // Copy and paste through the clipboard, cut to the limit.
    driver.PressKey('A', kModCtrl);
    driver.PressKey('C', kModCtrl);
    driver.PressKey(VK_END);
    driver.PressKey('V', kModCtrl);
    EXPECT_EQ(edit->GetText(), "李ab李a");
    // An input method's unfinished text is shown but not yet part of the text.
    driver.PressKey('A', kModCtrl);
    driver.PressKey(VK_BACK);
    driver.Compose("zhang");
    EXPECT_EQ(edit->GetComposition(), "zhang");
    EXPECT_EQ(edit->GetText(), "");
    driver.TypeText("张");
    EXPECT_EQ(edit->GetComposition(), "");
    EXPECT_EQ(edit->GetText(), "张");

    w->notes.clear();
    driver.PressKey(VK_RETURN);
    auto enters = Of(*w, kNotifyReturn);
    ASSERT_EQ(enters.size(), 1u);
    EXPECT_EQ(enters[0].id, 501);
    EXPECT_TRUE(Of(*w, kNotifyTextChanged).empty());

    // The caret blinks on the toolkit clock.
    EXPECT_TRUE(edit->IsCaretVisible());
    driver.Advance(UIRichEdit::kCaretBlinkMs);
    EXPECT_FALSE(edit->IsCaretVisible());
    driver.Advance(UIRichEdit::kCaretBlinkMs);
    EXPECT_TRUE(edit->IsCaretVisible());

    // Focus moves away with a click elsewhere; typing then goes nowhere.
    driver.Click(502);
    EXPECT_FALSE(edit->IsFocused());
    driver.TypeText("pw");
    EXPECT_EQ(edit->GetText(), "张");
    auto* password = driver.FindAs<UIRichEdit>(502);
    EXPECT_EQ(password->GetText(), "pw");
    // A password field does not give its text to the clipboard.
    driver.PressKey('A', kModCtrl);
    driver.PressKey('C', kModCtrl);
    driver.Click(501);
    driver.PressKey(VK_END);
    driver.PressKey('V', kModCtrl);
    EXPECT_EQ(edit->GetText(), "张李ab");
    EXPECT_TRUE(UIApplication::Instance().NextTimerDue().has_value());  // the caret blinks
    w->DestroyWindow();
    // A closed window leaves no timer behind to fire into it.
    EXPECT_FALSE(UIApplication::Instance().NextTimerDue().has_value());
}

TEST_F(UIControlsTest, RichEditNeverSplitsACharacterWhateverTheEditing) {
    // Random editing over one-, two-, three- and four-byte characters, in both
    // a plain and a password field: the text stays valid UTF-8 within the
    // limit in characters, and so does every selection.
    auto w = Open("ControlTest");
    const char* pieces[] = {"a", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x8E\xB5", "e\xCC\x81"};
    const uint32_t keys[] = {VK_LEFT, VK_RIGHT, VK_HOME, VK_END, VK_BACK, VK_DELETE};
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int id : {501, 502}) {
        auto* edit = driver.FindAs<UIRichEdit>(id);
        ASSERT_NE(edit, nullptr);
        driver.Click(id);
        const UIRect rc = edit->GetPos();
        for (int step = 0; step < 400; ++step) {
            switch (next(5)) {
                case 0:
                    driver.TypeText(pieces[next(5)]);
                    break;
                case 1:
                    driver.PressKey(keys[next(6)], next(2) ? kModShift : 0);
                    break;
                case 2:
                    driver.ClickAt({rc.left + static_cast<int>(next(static_cast<uint32_t>(rc.Width()))),
                                    (rc.top + rc.bottom) / 2});
                    break;
                case 3:
                    edit->SetSel(static_cast<int>(next(8)) - 1, static_cast<int>(next(8)) - 1);
                    break;
                default:
                    driver.Drag(
                        {rc.left + static_cast<int>(next(static_cast<uint32_t>(rc.Width()))), rc.top + 5},
                        {rc.left + static_cast<int>(next(static_cast<uint32_t>(rc.Width()))), rc.top + 5});
                    break;
            }
            const std::string text = edit->GetText();
            ASSERT_EQ(KWStringConvert::SanitizeUtf8(text), text) << "step " << step;
            if (id == 501) {
                ASSERT_LE(KWStringConvert::CodePointCount(text), 5u);
            }
            const std::string sel = edit->GetSelText();
            ASSERT_EQ(KWStringConvert::SanitizeUtf8(sel), sel) << "step " << step;
            int a = 0, b = 0;
            edit->GetSel(a, b);
            ASSERT_LE(a, b);
            ASSERT_LE(static_cast<size_t>(b), KWStringConvert::CodePointCount(text));
            // Typing over the selection keeps the text around it whole.
            if (step % 50 == 49) {
                driver.TypeText("\xE4\xB8\xAD");
                ASSERT_EQ(KWStringConvert::SanitizeUtf8(edit->GetText()), edit->GetText());
            }
        }
    }
    w->DestroyWindow();
}

TEST_F(UIControlsTest, RichEditTextSetBeforeLayoutIsShownFromItsStart) {
    // A window fills its fields while it is being built, before they have a size.
    auto w = Open("ControlTest");
    auto* edit = driver.FindAs<UIRichEdit>(501);
    ASSERT_NE(edit, nullptr);
    const UIRect pos = edit->GetPos();
    edit->SetPos({0, 0, 0, 0});
    edit->SetText("12345");
    edit->SetPos(pos);
    driver.Pump();
    // The first character sits at the field's left edge, not scrolled out of sight.
    bool inked = false;
    for (int x = pos.left + 2; x < pos.left + 20 && !inked; ++x)
        for (int y = pos.top + 2; y < pos.bottom - 2 && !inked; ++y)
            inked = (driver.PixelAt(x, y) & 0xFF) < 0x80;
    EXPECT_TRUE(inked) << "no text near the left edge";
    w->DestroyWindow();
}

TEST_F(UIControlsTest, RichEditMouseSelectionAndModes) {
    auto w = Open("ControlTest");
    auto* edit = driver.FindAs<UIRichEdit>(501);
    edit->SetText("abcdefgh");  // cut to the five-character limit
    EXPECT_EQ(edit->GetText(), "abcde");
    driver.Pump();
    const UIRect& r = edit->GetPos();
    int y = (r.top + r.bottom) / 2;
    // Dragging from the left edge to the right edge selects everything.
    driver.Drag(UIPoint{r.left + 2, y}, UIPoint{r.right - 2, y});
    int s = -1, e = -1;
    edit->GetSel(s, e);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(e, 5);
    EXPECT_EQ(edit->GetSelText(), "abcde");
    // A click puts the caret at the click and clears the selection.
    driver.ClickAt({r.left + 2, y});
    edit->GetSel(s, e);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(e, 0);
    // A double-click selects all; cut empties the field and fills the clipboard.
    driver.DoubleClick(501);
    driver.PressKey('X', kModCtrl);
    EXPECT_EQ(edit->GetText(), "");
    driver.PressKey('V', kModCtrl);
    EXPECT_EQ(edit->GetText(), "abcde");
    // Left with a selection goes to its start; Shift+End selects to the end.
    edit->SetSel(1, 3);
    driver.PressKey(VK_LEFT);
    edit->GetSel(s, e);
    EXPECT_EQ(s, 1);
    EXPECT_EQ(e, 1);
    driver.PressKey(VK_END, kModShift);
    EXPECT_EQ(edit->GetSelText(), "bcde");
    // Read-only and number-only fields.
    edit->SetReadOnly(true);
    driver.TypeText("z");
    driver.PressKey(VK_BACK);
    EXPECT_EQ(edit->GetText(), "abcde");
    edit->SetReadOnly(false);
    edit->SetText("");
    edit->SetNumberOnly(true);
    driver.TypeText("1a2，3");
    EXPECT_EQ(edit->GetText(), "123");
    // Text changes are reported, one per change.
    w->notes.clear();
    driver.TypeText("4");
    driver.PressKey(VK_BACK);
    driver.PressKey(VK_LEFT);
    int changes = 0;
    for (auto& n : w->notes)
        changes += n.type == kNotifyTextChanged;
    EXPECT_EQ(changes, 2);
    // A disabled field takes no focus and no text.
    edit->SetEnabled(false);
    driver.Click(502);
    driver.Click(501);
    EXPECT_FALSE(edit->IsFocused());
    w->DestroyWindow();
}

TEST_F(UIControlsTest, TooltipAppearsAfterItsDelay) {
    auto w = Open("ControlTest");
    UIPoint tip;
    ASSERT_TRUE(driver.CenterOf(601, tip));
    driver.MouseMove(tip);
    EXPECT_EQ(w->PaintManager().GetToolTipText(), "");
    driver.Advance(499);
    EXPECT_EQ(w->PaintManager().GetToolTipText(), "");
    driver.Advance(1);
    EXPECT_EQ(w->PaintManager().GetToolTipText(), "提示文字");
    driver.MouseMove({tip.x + 1, tip.y});
    EXPECT_EQ(w->PaintManager().GetToolTipText(), "");
    w->DestroyWindow();
}

TEST_F(UIControlsTest, DispatchFlagPassesMouseToTheElement) {
    auto w = Open("DispatchTest");
    auto* element = dynamic_cast<TestElement*>(driver.Find(50));
    ASSERT_NE(element, nullptr);
    driver.Click(51);
    ASSERT_EQ(element->downs.size(), 1u);
    EXPECT_EQ(element->ups.size(), 1u);
    UIPoint label;
    driver.CenterOf(51, label);
    EXPECT_EQ(element->downs[0], label);
    // A control without the flag keeps its events to itself.
    driver.Click(53);
    EXPECT_EQ(element->downs.size(), 1u);
    // The picture box reports double-clicks (notify flag 13) and its element sees them too.
    w->notes.clear();
    driver.DoubleClick(52);
    auto dbl = Of(*w, kNotifyDblClick);
    ASSERT_EQ(dbl.size(), 1u);
    EXPECT_EQ(dbl[0].id, 52);
    EXPECT_EQ(driver.Find(52)->GetUserData(), "/tmp/picture.png");
    EXPECT_EQ(element->dblclks.size(), 1u);
    // Controls without the notify flag do not report double-clicks.
    driver.DoubleClick(51);
    EXPECT_EQ(Of(*w, kNotifyDblClick).size(), 1u);
    w->DestroyWindow();
}

TEST_F(UIControlsTest, AContainerAsksForTheMouseOverEverythingInsideIt) {
    auto w = Open("DragTest");
    auto* element = dynamic_cast<TestElement*>(driver.Find(60));
    ASSERT_NE(element, nullptr);
    UIControl* area = driver.Find(61);
    UIPoint picture, other, button;
    ASSERT_TRUE(driver.CenterOf(63, picture));
    ASSERT_TRUE(driver.CenterOf(67, other));
    ASSERT_TRUE(driver.CenterOf(64, button));

    // The rows pass nothing on, so without the area's flags the element sees nothing.
    driver.Drag(picture, other);
    EXPECT_TRUE(element->downs.empty());
    EXPECT_TRUE(element->ups.empty());

    // With them it sees the whole drag, each event once, from whatever starts it.
    for (int flag : {kDispatchMouseMove, kDispatchButtonDown, kDispatchButtonUp, kDispatchDblClick})
        area->SetControlDispatch(flag);
    driver.Drag(picture, other, 3);
    ASSERT_EQ(element->downs.size(), 1u);
    EXPECT_EQ(element->downs[0], picture);
    ASSERT_EQ(element->ups.size(), 1u);
    EXPECT_EQ(element->ups[0], other);
    EXPECT_EQ(element->moves.back(), other);
    // A button inside still clicks, and the element sees the press and release too.
    w->notes.clear();
    driver.ClickAt(button);
    EXPECT_EQ(Of(*w, kNotifyClick).size(), 1u);
    EXPECT_EQ(element->downs.back(), button);
    EXPECT_EQ(element->ups.size(), 2u);
    driver.DoubleClickAt(picture);
    EXPECT_EQ(element->dblclks.size(), 1u);

    // Each kind is asked for on its own.
    area->SetControlDispatch(kDispatchMouseMove, false);
    const size_t moves = element->moves.size();
    driver.Drag(picture, other, 3);
    EXPECT_EQ(element->moves.size(), moves);
    EXPECT_EQ(element->ups.back(), other);

    // The pressed control keeps the mouse: a drag that leaves the element, and
    // the window, still ends with its release there.
    const size_t ups = element->ups.size();
    driver.MouseMove(picture);
    driver.MouseDown(picture);
    EXPECT_EQ(w->PaintManager().GetCapture(), driver.Find(63));
    driver.MouseMove({390, 290});
    driver.MouseUp({-40, 500});
    ASSERT_EQ(element->ups.size(), ups + 1);
    EXPECT_EQ(element->ups.back(), (UIPoint{-40, 500}));
    EXPECT_EQ(w->PaintManager().GetCapture(), nullptr);
    EXPECT_FALSE(driver.Find(63)->IsPushed());
    w->DestroyWindow();
}

TEST_F(UIControlsTest, TheCursorFollowsADragAndThePointInsideAControl) {
    auto w = Open("DragTest");
    auto& pm = w->PaintManager();
    auto* element = dynamic_cast<TestElement*>(driver.Find(60));
    UIControl* area = driver.Find(61);
    for (int flag : {kDispatchMouseMove, kDispatchButtonDown, kDispatchButtonUp})
        area->SetControlDispatch(flag);
    const UIRect picture = driver.Find(63)->GetPos();
    UIPoint empty, button;
    ASSERT_TRUE(driver.CenterOf(65, empty));
    ASSERT_TRUE(driver.CenterOf(64, button));

    // Hand on the press, kept while the drag crosses other controls, arrow on the drop.
    element->onDown = [&](UIPoint) { pm.SetCursor("hand"); };
    element->onUp = [&](UIPoint) { pm.SetCursor("arrow"); };
    driver.MouseMove({picture.left + 5, picture.top + 5});
    EXPECT_EQ(pm.GetCurrentCursor(), "arrow");
    driver.MouseDown({picture.left + 5, picture.top + 5});
    EXPECT_EQ(pm.GetCurrentCursor(), "hand");
    driver.MouseMove(empty);
    EXPECT_EQ(pm.GetCurrentCursor(), "hand");
    driver.MouseMove({picture.left + 5, 200});
    EXPECT_EQ(pm.GetCurrentCursor(), "hand");
    driver.MouseUp({picture.left + 5, 200});
    EXPECT_EQ(pm.GetCurrentCursor(), "arrow");
    element->onDown = nullptr;
    element->onUp = nullptr;

    // Per point: the hand over the left half of the picture only.
    element->onMove = [&](UIPoint pt) {
        if (picture.Contains(pt) && pt.x < picture.left + picture.Width() / 2)
            pm.SetCursor("hand");
    };
    driver.MouseMove({picture.left + 10, picture.top + 40});
    EXPECT_EQ(pm.GetCurrentCursor(), "hand");
    driver.MouseMove({picture.right - 10, picture.top + 40});
    EXPECT_EQ(pm.GetCurrentCursor(), "arrow");
    driver.MouseMove({picture.left + 12, picture.top + 40});
    EXPECT_EQ(pm.GetCurrentCursor(), "hand");
    driver.MouseMove(empty);
    EXPECT_EQ(pm.GetCurrentCursor(), "arrow");
    // A control's own cursor still shows where nothing chooses another.
    driver.MouseMove(button);
    EXPECT_EQ(pm.GetCurrentCursor(), "hand");
    driver.MouseMove(empty);
    EXPECT_EQ(pm.GetCurrentCursor(), "arrow");
    w->DestroyWindow();
}

TEST_F(UIControlsTest, NormalBackgroundColourShowsInEveryStateWithoutItsOwn) {
    auto w = Open("DragTest");
    auto* swatch = driver.FindAs<UIOption>(70);
    ASSERT_NE(swatch, nullptr);
    EXPECT_EQ(swatch->GetNormalBkColor(), 0xFF4A90E2u);
    UIPoint centre;
    ASSERT_TRUE(driver.CenterOf(70, centre));
    EXPECT_EQ(driver.PixelAt(centre.x, centre.y), 0xFF4A90E2u);
    driver.MouseMove(centre);
    EXPECT_EQ(driver.PixelAt(centre.x, centre.y), 0xFF00FF00u);  // hot has its own
    driver.MouseDown(centre);
    EXPECT_EQ(driver.PixelAt(centre.x, centre.y), 0xFF00FF00u);  // pushed has none: still hot
    driver.MouseUp(centre);
    EXPECT_TRUE(swatch->IsSelected());
    driver.MouseMove({centre.x + 200, centre.y});
    EXPECT_EQ(driver.PixelAt(centre.x, centre.y), 0xFF4A90E2u);  // selected has none
    swatch->SetEnabled(false);
    EXPECT_EQ(driver.PixelAt(centre.x, centre.y), 0xFF4A90E2u);
    // The border is drawn over it.
    const UIRect& rc = swatch->GetPos();
    EXPECT_EQ(driver.PixelAt(rc.left, centre.y), 0xFFE5E5E5u);
    // Without it a button shows its bkcolor, as before.
    UIButton plain;
    plain.SetBkColor(0xFF123456);
    EXPECT_EQ(plain.GetNormalBkColor(), 0xFF123456u);
    w->DestroyWindow();
}

TEST_F(UIControlsTest, NotifierMayRemoveTheControlThatNotified) {
    auto w = Open("ControlTest");
    auto* root = driver.FindAs<UIContainer>(1);
    w->onNotify = [&](UINotification& msg) {
        if (msg.type == kNotifyClick && msg.sender->GetId() == 201)
            root->RemoveAll();
    };
    driver.Click(201);  // under ASan, a use after free here would abort
    EXPECT_EQ(root->GetCount(), 0);
    EXPECT_EQ(driver.Find(201), nullptr);
    driver.MouseMove({10, 10});
    w->DestroyWindow();
}

}  // namespace
}  // namespace KwLib
