// The layout builder and the attribute parsers: window attributes, fonts by
// name, custom tags by callback and by registration, attribute strings.
#include <gtest/gtest.h>

#include "UITestWindow.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UICombo.h"
#include "platform/ui/UIProgress.h"
#include "platform/ui/UIRichEdit.h"

namespace KwLib {
namespace {

class UIBuilderTest : public ::testing::Test, public UITestBase {};

class Gauge : public UIControl {
public:
    std::string GetClass() const override { return "Gauge"; }
    void SetAttribute(const std::string& name, const std::string& value) override {
        if (name == "level")
            level = std::stoi(value);
        else
            UIControl::SetAttribute(name, value);
    }
    int level = 0;
};

struct GaugeCallback : IDialogBuilderCallback {
    UIControl* CreateControl(const std::string& tag) override { return tag == "Gauge" ? new Gauge : nullptr; }
};

TEST_F(UIBuilderTest, WindowAttributesFontsAndCustomTags) {
    const char* xml = R"(<Layouts>
        <Font name="Shared" face="微软雅黑" size="15" bold="true"/>
        <Window name="W" size="320,240" mininfo="300,200" maxinfo="800,600" caption="0,0,0,32" roundcorner="6,6">
          <Font name="Own" face="微软雅黑" size="20" italic="true" underline="true" default="true"/>
          <VerticalLayout id="1">
            <Gauge id="2" height="20" level="7" font="Shared"/>
            <Meter id="3" height="20"/>
            <Label id="4" text="a &amp; b" font="NoSuchFont"/>
          </VerticalLayout>
        </Window></Layouts>)";
    UIDialogBuilder::RegisterControl("Meter", [] { return new UIProgress; });
    UIPaintManager pm;
    GaugeCallback callback;
    UIDialogBuilder builder;
    UIControl* root = builder.CreateFromString(xml, "W", &callback, &pm);
    ASSERT_NE(root, nullptr) << builder.GetError();
    pm.AttachDialog(root);
    EXPECT_EQ(pm.GetMinInfo(), (UISize{300, 200}));
    EXPECT_EQ(pm.GetMaxInfo(), (UISize{800, 600}));
    EXPECT_EQ(pm.GetCaptionRect(), (UIRect{0, 0, 0, 32}));
    EXPECT_EQ(pm.GetRoundCorner(), (UISize{6, 6}));
    // Fonts by name; the window's own default replaces the toolkit's.
    EXPECT_TRUE(pm.HasFont("Shared"));
    EXPECT_EQ(pm.GetFont("Shared").size, 15);
    EXPECT_TRUE(pm.GetFont("Shared").bold);
    EXPECT_EQ(pm.GetDefaultFont().size, 20);
    EXPECT_TRUE(pm.GetDefaultFont().italic);
    EXPECT_TRUE(pm.GetDefaultFont().underline);
    EXPECT_EQ(&pm.GetFont("NoSuchFont"), &pm.GetDefaultFont());
    EXPECT_EQ(&pm.GetFont(""), &pm.GetDefaultFont());
    // A bigger font measures bigger.
    EXPECT_GT(UIRenderUtils::GetTextSize(&pm, "音乐", "Own", DT_SINGLELINE).cx,
              UIRenderUtils::GetTextSize(&pm, "音乐", "Shared", DT_SINGLELINE).cx);
    // The callback's tag gets its own attributes; the registered tag works without a callback.
    auto* gauge = dynamic_cast<Gauge*>(pm.FindControl(2));
    ASSERT_NE(gauge, nullptr);
    EXPECT_EQ(gauge->level, 7);
    EXPECT_EQ(gauge->GetFont(), "Shared");
    EXPECT_NE(dynamic_cast<UIProgress*>(pm.FindControl(3)), nullptr);
    EXPECT_EQ(pm.FindControl(4)->GetText(), "a & b");
    EXPECT_EQ(pm.FindControl(4)->GetClass(), "Label");
}

TEST_F(UIBuilderTest, EveryBuiltinTagAndItsCommonAttributes) {
    for (const char* tag :
         {"VerticalLayout", "HorizontalLayout", "Container", "GridList", "Control", "Label", "Text", "Button",
          "Option", "Combo", "ComboElement", "Progress", "Slide", "RichEdit"}) {
        std::unique_ptr<UIControl> c(UIDialogBuilder::CreateBuiltinControl(tag));
        ASSERT_NE(c, nullptr) << tag;
    }
    EXPECT_EQ(UIDialogBuilder::CreateBuiltinControl("MusicPlayer"), nullptr);

    UIControl c;
    c.ApplyAttributeList(
        "id=\"1511\" name=\"player\" width=\"120\" height=\"30\" padding=\"1,2,3,4\" bkcolor=\"#FF112233\" "
        "bordercolor=\"0xFF445566\" bordersize=\"2\" borderround=\"5,5\" textcolor=\"#778899\" "
        "align=\"vcen center singleline\" tooltip=\"双击查看原图\" tooltipdelay=\"500\" "
        "userdata=\"/p/a.png\" "
        "visible=\"false\" enabled=\"false\" mouse=\"false\" dispatch=\"10\" notify=\"13\" cursor=\"hand\"");
    EXPECT_EQ(c.GetId(), 1511);
    EXPECT_EQ(c.GetName(), "player");
    EXPECT_EQ(c.GetFixedWidth(), 120);
    EXPECT_EQ(c.GetFixedHeight(), 30);
    EXPECT_EQ(c.GetPadding(), (UIRect{1, 2, 3, 4}));
    EXPECT_EQ(c.GetBkColor(), 0xFF112233u);
    EXPECT_EQ(c.GetBorderColor(), 0xFF445566u);
    EXPECT_EQ(c.GetBorderSize(), 2);
    EXPECT_EQ(c.GetBorderRound(), 5);
    EXPECT_EQ(c.GetTextColor(), 0xFF778899u);  // six digits are opaque
    EXPECT_EQ(c.GetTextStyle(), static_cast<uint32_t>(DT_VCENTER | DT_CENTER | DT_SINGLELINE));
    EXPECT_EQ(c.GetToolTip(), "双击查看原图");
    EXPECT_EQ(c.GetToolTipDelay(), 500);
    EXPECT_EQ(c.GetUserData(), "/p/a.png");
    EXPECT_FALSE(c.IsVisible());
    EXPECT_FALSE(c.IsEnabled());
    EXPECT_FALSE(c.IsMouseEnabled());
    EXPECT_TRUE(c.GetControlDispatch(kDispatchMouseToParent));
    EXPECT_TRUE(c.GetControlNotify(kNotifyDblClick));
    EXPECT_FALSE(c.GetControlNotify(kNotifyClick));
    EXPECT_EQ(c.GetCursor(), "hand");
    // "pos" sizes a control; only float="true" places it there.
    c.SetAttribute("pos", "10,20,60,50");
    EXPECT_FALSE(c.IsFloat());
    EXPECT_EQ(c.GetFixedWidth(), 50);
    EXPECT_EQ(c.GetFixedHeight(), 30);
    c.SetAttribute("float", "true");
    EXPECT_TRUE(c.IsFloat());
    EXPECT_EQ(c.GetFloatPos(), (UIRect{10, 20, 60, 50}));
    // Bad values leave the setting alone.
    c.SetAttribute("bkcolor", "#GG0000");
    EXPECT_EQ(c.GetBkColor(), 0xFF112233u);
}

TEST_F(UIBuilderTest, ParsersOfAttributeText) {
    UIColor color = 0;
    EXPECT_TRUE(ParseColor("#FF26934E", color));
    EXPECT_EQ(color, 0xFF26934Eu);
    EXPECT_TRUE(ParseColor("0x8026934E", color));
    EXPECT_EQ(color, 0x8026934Eu);
    EXPECT_TRUE(ParseColor(" #A4DEDD ", color));
    EXPECT_EQ(color, 0xFFA4DEDDu);
    EXPECT_FALSE(ParseColor("", color));
    EXPECT_FALSE(ParseColor("#123456789", color));
    EXPECT_FALSE(ParseColor("red", color));
    EXPECT_EQ(ParseRect("5,5,5,5"), (UIRect{5, 5, 5, 5}));
    EXPECT_EQ(ParseRect("3, 3, 681 ,247"), (UIRect{3, 3, 681, 247}));
    EXPECT_EQ(ParseRect("-4,2"), (UIRect{-4, 2, 0, 0}));
    EXPECT_EQ(ParseRect(""), (UIRect{}));
    EXPECT_EQ(ParseSize("684,250"), (UISize{684, 250}));
    EXPECT_EQ(ParseTextAlign("right bottom"), static_cast<uint32_t>(DT_RIGHT | DT_BOTTOM));
    EXPECT_EQ(ParseTextAlign("VCEN  Center"), static_cast<uint32_t>(DT_VCENTER | DT_CENTER));
    // Image strings: every key, quotes of either kind, a bare file name.
    const UIImageAttr& a = UIImageString::Parse(
        "file='pic 1.png' source=\"0,10,58,34\" dest='3,3,61,27' corner='5,5,5,5' fade='128' hole='true' "
        "xtiled='true'");
    EXPECT_EQ(a.file, "pic 1.png");
    EXPECT_EQ(a.key, TestResourceDir() + "pic 1.png");
    EXPECT_TRUE(a.hasSource && a.hasDest);
    EXPECT_EQ(a.source, (UIRect{0, 10, 58, 34}));
    EXPECT_EQ(a.dest, (UIRect{3, 3, 61, 27}));
    EXPECT_EQ(a.fade, 128);
    EXPECT_TRUE(a.hole && a.xtiled && !a.ytiled);
    const UIImageAttr& bare = UIImageString::Parse("/abs/pic.jpg");
    EXPECT_EQ(bare.key, "/abs/pic.jpg");
    EXPECT_FALSE(bare.hasSource);
    const UIImageAttr& res = UIImageString::Parse("res='2101' restype='PNG' source='25,0,50,25'");
    EXPECT_EQ(res.res, 2101);
    EXPECT_EQ(res.key, TestResourceDir() + "2101.png");
}

TEST_F(UIBuilderTest, ContainersOwnAndOrderTheirChildren) {
    UIHorizontalLayout row;
    auto* a = new UIControl;
    auto* b = new UIControl;
    auto* c = new UIControl;
    EXPECT_TRUE(row.Add(a));
    EXPECT_TRUE(row.AddAt(b, 0));
    EXPECT_FALSE(row.AddAt(new UIControl, 5));  // refused, and not leaked
    EXPECT_FALSE(row.Add(nullptr));
    EXPECT_TRUE(row.Add(std::unique_ptr<UIControl>(c)));
    EXPECT_EQ(row.GetCount(), 3);
    EXPECT_EQ(row.GetItemAt(0), b);
    EXPECT_EQ(row.GetItemIndex(a), 1);
    EXPECT_EQ(a->GetParent(), &row);
    EXPECT_TRUE(row.SetItemIndex(c, 0));
    EXPECT_EQ(row.GetItemAt(0), c);
    EXPECT_EQ(row.GetItemAt(3), nullptr);
    EXPECT_EQ(row.GetItemIndex(nullptr), -1);
    EXPECT_TRUE(row.RemoveAt(0));
    EXPECT_FALSE(row.Remove(c));  // already gone
    EXPECT_EQ(row.GetCount(), 2);
    // Hidden parents hide their children; showing the parent shows them again.
    row.SetVisible(false);
    EXPECT_FALSE(a->IsVisible());
    row.SetVisible(true);
    EXPECT_TRUE(a->IsVisible());
}

class HostileWindow : public TestWindow {
public:
    explicit HostileWindow(std::string xml) : TestWindow("Hostile"), m_xml(std::move(xml)) {}
    intptr_t OnCreate(uint32_t, uintptr_t, intptr_t, bool& handled) override {
        handled = true;
        m_pm.Init(this);
        UIDialogBuilder builder;
        UIControl* root = builder.CreateFromString(m_xml, "Hostile", this, &m_pm, this);
        if (!root)
            return -1;
        m_pm.AttachDialog(root);
        m_pm.AddNotifier(this);
        return 0;
    }

private:
    std::string m_xml;
};

TEST_F(UIBuilderTest, HostileValuesInALayoutDoNotBreakLayoutOrPainting) {
    // Layout text is data: nonsense values must give a usable window, not a crash.
    const char* xml = R"(<Layouts><Font name="F" size="-4" face=""/><Window name="Hostile" size="300,200">
        <VerticalLayout inset="-10,-10,-10,-10" childpadding="-3" vscrollbar="true">
          <Control width="-5" height="999999" minheight="50" maxheight="10"/>
          <HorizontalLayout height="abc" childpadding="99999">
            <Control width="2147483647"/><Control padding="-100,-100,-100,-100"/>
          </HorizontalLayout>
          <GridList height="40" itemsize="0,0" itemmargin="-5" columns="-2"><Control/><Control/></GridList>
          <GridList height="40" itemsize="-10,-10"><Control/></GridList>
          <Control height="30" float="true" pos="b,a,-1"/>
          <Control height="30" bkimage="res='x' source='500,500,-3,9' corner='99,99,99,99' dest='-50,-50,9999,9999'"/>
          <Control height="30" bkimage="file='' fade='-7'" bordersize="-3" borderround="-9"/>
          <Control height="30" bkimage="res='9005' restype='PNG' corner='30,30,30,30' source='0,0,40,40'"/>
          <Control height="30" bkimage="res='9005' restype='PNG' dest='10,10,5,5'"/>
          <Label height="30" text="长文字长文字长文字长文字长文字" align="center vcen wordbreak endellipsis" font="F" textpadding="200,200,200,200"/>
          <Progress height="10" min="10" max="-10" value="99999"/>
          <Slide height="10" min="5" max="5" thumbsize="-1,-1" step="-4"/>
          <Slide height="10" min="-2147483648" max="2147483647" value="2147483647" step="2147483647"/>
          <HorizontalLayout height="2147483647" childpadding="2147483647" inset="2147483647,0,0,-2147483648">
            <Control width="2147483647" padding="2147483647,0,2147483647,0"/><Control/><Control/>
          </HorizontalLayout>
          <GridList height="40" itemsize="2147483647,2147483647" itemmargin="2147483647" columns="2147483647">
            <Control/><Control/><Control/>
          </GridList>
          <Combo height="30" itemheight="2147483647" dropboxsize="2147483647"><ComboElement text="y"/></Combo>
          <RichEdit height="30" maxchar="-1" text="abc"/>
          <Combo height="30" itemheight="-1" dropboxsize="-5"><ComboElement text="x"/></Combo>
          <Option height="30" group="" selected="true"/>
        </VerticalLayout></Window></Layouts>)";
    HostileWindow w(xml);
    ASSERT_TRUE(w.Create(nullptr, "hostile"));
    w.ShowWindow();
    driver.Attach(&w);
    driver.Pump();
    EXPECT_TRUE(driver.Screenshot(TestOutputDir() + "hostile.png"));
    // Input over every part of the window is handled.
    for (int y = 0; y < 200; y += 7)
        driver.ClickAt({150, y});
    driver.Wheel({150, 100}, -50);
    driver.PressKey(VK_RIGHT);
    driver.PressKey(VK_END);
    driver.TypeText("输入");
    driver.Advance(2000);
    w.ResizeClient(1, 1);
    driver.Pump();
    w.ResizeClient(640, 480);
    driver.Pump();
    w.DestroyWindow();
}

}  // namespace
}  // namespace KwLib

namespace KwLib {
namespace {

TEST_F(UIBuilderTest, HugeControlsFontsAndDeepNestingAreSafe) {
    // A picture on a control far larger than the window and font sizes beyond
    // what text layout can scale are drawn without overflow.
    std::string xml = R"(<Layouts><Font name="Big" size="2147483647"/><Window name="Hostile" size="300,200">
        <VerticalLayout>
          <Control float="true" pos="-100000,-100000,100000,100000" bkimage="res='9005' restype='PNG' corner='3,3,3,3'"/>
          <Control float="true" pos="0,0,30000,40" bkimage="res='9005' restype='PNG'"/>
          <Label height="40" font="Big" text="W"/>
          <RichEdit height="40" font="Big" text="W"/>
          <VerticalLayout name="tall" vscrollbar="true" height="99999" maxheight="100000"><Control height="100000" maxheight="100000"/><Control height="100000" maxheight="100000"/></VerticalLayout>
        </VerticalLayout></Window></Layouts>)";
    {
        HostileWindow w(xml);
        ASSERT_TRUE(w.Create(nullptr, "huge"));
        w.ShowWindow();
        driver.Attach(&w);
        driver.Pump();
        EXPECT_TRUE(driver.Screenshot(TestOutputDir() + "huge.png"));
        driver.ClickAt({150, 100});
        auto* tall = dynamic_cast<UIContainer*>(driver.Find("tall"));
        ASSERT_NE(tall, nullptr);
        EXPECT_EQ(tall->GetPos().Height(), 99999);
        EXPECT_GT(tall->GetScrollRange(), 0);
        driver.Drag({295, 190}, {295, 100});  // the scroll bar's thumb of the tall list
        driver.Wheel({150, 190}, -3);
        EXPECT_EQ(w.PaintManager().GetFont("Big").size, kMaxFontSize);
        w.DestroyWindow();
    }

    // Building, layout and painting recurse per level: nesting up to the limit
    // works, deeper is refused with an error instead of exhausting the stack.
    auto nested = [](int levels) {
        std::string x = R"(<Layouts><Window name="Deep">)";
        for (int i = 0; i < levels - 1; ++i)
            x += "<Container>";
        x += "<Label text='deep'/>";
        for (int i = 0; i < levels - 1; ++i)
            x += "</Container>";
        return x + "</Window></Layouts>";
    };
    UIDialogBuilder builder;
    std::unique_ptr<UIControl> ok(builder.CreateFromString(nested(UIDialogBuilder::kMaxDepth), "Deep"));
    ASSERT_NE(ok, nullptr) << builder.GetError();
    UIPaintManager pm;
    pm.SetClientSize({100, 100});
    pm.AttachDialog(ok.release());
    EXPECT_FALSE(pm.Paint().IsEmpty());
    for (int levels : {UIDialogBuilder::kMaxDepth + 1, 20000}) {
        UIDialogBuilder deep;
        EXPECT_EQ(deep.CreateFromString(nested(levels), "Deep"), nullptr);
        EXPECT_NE(deep.GetError().find("deeper"), std::string::npos) << deep.GetError();
    }
}

}  // namespace
}  // namespace KwLib
