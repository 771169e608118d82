// The player control and the clip widget in a real window built from a layout,
// driven headless with the manual clock.
#include "audio/UIMusicPlayer.h"

#include <gtest/gtest.h>

#include "audio/UIVirtualMusicPlayer.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIDialogBuilder.h"
#include "platform/ui/UIProgress.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/UIWindowImplBase.h"
#include "tests/audio/VLAudioTestUtil.h"

namespace KwLib {
namespace {

using namespace AudioTest;

class PanelWindow : public UIWindowImplBase {
public:
    std::string GetWindowClassName() const override { return "PlayerPanel"; }
    std::string GetSkinFile() const override {
        return std::string(VL_SOURCE_DIR) + "/tests/audio/layouts.xml";
    }
    UIControl* CreateControl(const std::string& tag) override {
        return tag == UIMusicPlayer::kTag ? new UIMusicPlayer : nullptr;
    }
};

class UIMusicPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseDummyDriver();
        UIResourceSingleton::Instance().SetResourcePath(std::string(VL_BINARY_DIR) + "/install/bin/res/");
        m_window = std::make_unique<PanelWindow>();
        ASSERT_TRUE(m_window->Create(nullptr, "panel", 0, 0, 0, 0));
        m_window->ShowWindow(true);
        m_driver.Attach(m_window.get());
        m_driver.Pump();
        m_player = m_driver.FindAs<UIMusicPlayer>(1511);
        ASSERT_NE(m_player, nullptr);
        m_player->GetPlayer().SetAutomaticTick(false);
    }
    void TearDown() override {
        if (m_window)
            m_window->DestroyWindow();
    }
    std::string Shot(const std::string& name) { return std::string(VL_BINARY_DIR) + "/tests/audio/" + name; }

    UITestDriver m_driver;
    std::unique_ptr<PanelWindow> m_window;
    UIMusicPlayer* m_player = nullptr;
    TempDir m_dir;
};

TEST_F(UIMusicPlayerTest, PaintsTheSpectrumOfWhatPlays) {
    const UIRect rc = m_player->GetPos();
    EXPECT_EQ(rc.Width(), 232);
    EXPECT_EQ(rc.Height(), 137);
    ASSERT_TRUE(m_player->InitAudio());
    EXPECT_EQ(m_player->GetPlayer().SpectrumWidth(), 232);
    EXPECT_EQ(m_player->GetPlayer().SpectrumHeight(), 137);
    // Nothing plays: the area is black.
    EXPECT_EQ(m_driver.PixelAt(rc.left + 5, rc.bottom - 1) & 0xffffff, 0u);

    const std::string wav = m_dir.File("loud.wav");
    // Long enough to be still sounding however late this thread looks.
    ASSERT_TRUE(WriteWav(wav, Tone(1000, 20, 44100, 1, 0.9), 44100, 1));
    const uint32_t ms = m_player->StartPlayback(wav);
    EXPECT_EQ(ms, 20000u);
    EXPECT_EQ(m_player->GetMode(), 0);
    ASSERT_TRUE(WaitUntil([&] { return m_player->GetPlayPosition() > 0.1; }));
    m_player->GetPlayer().SpectrumTick();
    m_driver.Advance(25);  // the control's repaint timer picks up the new frame
    // Band 15 holds 1 kHz: its bar is full height, green at the bottom and
    // blue-magenta at the top; the gaps between bars stay black.
    const int band15 = rc.left + 15 * 8 + 2;
    EXPECT_EQ(m_driver.PixelAt(band15, rc.bottom - 1) & 0xffffff, 0x02fe00u);
    EXPECT_EQ(m_driver.PixelAt(band15, rc.top) & 0xffffff, VLSpectrumBitmap::Palette()[137]);
    EXPECT_EQ(m_driver.PixelAt(rc.left + 15 * 8 + 7, rc.bottom - 1) & 0xffffff, 0u);
    EXPECT_TRUE(m_driver.Screenshot(Shot("music_player_playing.png")));

    m_player->StopPlayback();
    EXPECT_EQ(m_player->StartPlayback(m_dir.File("missing.mp3")), 0u);
    m_player->GetPlayer().SpectrumTick();
    m_driver.Advance(25);
    EXPECT_EQ(m_driver.PixelAt(band15, rc.bottom - 1) & 0xffffff, 0u);
    m_player->ReleaseAudio();
    EXPECT_FALSE(m_player->IsInitialized());
}

TEST(UIMusicPlayerTag, BuildsFromARegisteredTag) {
    UIMusicPlayer::RegisterLayoutTag();
    UIDialogBuilder builder;
    std::unique_ptr<UIControl> root(
        builder.CreateFromString("<Layouts><Window name='W' size='240,140'><MusicPlayer id='1511' "
                                 "width='232' height='137'/></Window></Layouts>",
                                 "W"));
    ASSERT_NE(root, nullptr) << builder.GetError();
    auto* player = dynamic_cast<UIMusicPlayer*>(root->FindControlById(1511));
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->GetFixedWidth(), 232);
    EXPECT_EQ(player->GetFixedHeight(), 137);
    EXPECT_FALSE(player->IsInitialized());
}

TEST_F(UIMusicPlayerTest, ClipWidgetHasItsToggleAndBar) {
    auto* row = dynamic_cast<UIContainer*>(m_driver.GetPaintManager()->FindControl("clips"));
    ASSERT_NE(row, nullptr);
    auto clip = std::make_unique<UIVirtualMusicPlayer>("/exam/audio/option_a.mp3");
    UIVirtualMusicPlayer* widget = clip.get();
    widget->BuildContent(232);
    widget->BuildContent(232);  // once only
    ASSERT_EQ(widget->GetCount(), 2);
    row->Add(std::move(clip));
    m_driver.Pump();

    EXPECT_EQ(widget->GetFilePath(), "/exam/audio/option_a.mp3");
    UIOption* toggle = widget->GetOption();
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(toggle->GetId(), 2060);
    EXPECT_EQ(toggle->GetPos().Width(), 42);
    EXPECT_EQ(toggle->GetPos().Height(), 42);
    EXPECT_EQ(widget->GetBkImage(), "res='1037' restype='PNG' dest='0,8,232,35' corner='15,0,15,0'");
    EXPECT_EQ(toggle->GetNormalImage(), "res='1035' restype='PNG' source='42,0,84,42'");
    EXPECT_EQ(widget->GetProgress()->GetMaxValue(), 1000);
    EXPECT_EQ(widget->GetProgress()->GetMinValue(), 0);

    // The window finds the clip through the selected option of group 2051.
    EXPECT_EQ(m_window->PaintManager().GetGroupSelected(UIVirtualMusicPlayer::kOptionGroup), nullptr);
    ASSERT_TRUE(m_driver.Click(2060));
    EXPECT_TRUE(toggle->IsSelected());
    EXPECT_EQ(m_window->PaintManager().GetGroupSelected("2051"), toggle);
    EXPECT_EQ(dynamic_cast<UIVirtualMusicPlayer*>(toggle->GetParent()), widget);
    widget->SetProgressValue(400);
    EXPECT_EQ(widget->GetProgressValue(), 400);
    widget->SetProgressValue(5000);
    EXPECT_EQ(widget->GetProgressValue(), 1000);
    widget->SetProgressValue(400);
    EXPECT_TRUE(m_driver.Screenshot(Shot("clip_widget_playing.png")));
    // A second click stops: the toggle is deselected and the group has no clip playing.
    ASSERT_TRUE(m_driver.Click(2060));
    EXPECT_FALSE(toggle->IsSelected());
    EXPECT_EQ(m_window->PaintManager().GetGroupSelected("2051"), nullptr);
}

}  // namespace
}  // namespace KwLib
