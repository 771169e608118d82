#include "audio/UIVirtualMusicPlayer.h"

#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIProgress.h"

namespace KwLib {

namespace {
constexpr int kToggleRes = 1035;
constexpr int kBackgroundRes = 1037;
constexpr int kBarRes = 1038;
constexpr int kBarHeight = 12;

// Play/stop: unlike a plain grouped option, a second click deselects it, which
// is how the student stops a clip. Selecting one clip still deselects the others.
class UIClipToggle : public UIOption {
public:
    bool Activate() override {
        if (!UIButton::Activate())
            return false;
        Selected(!IsSelected());
        return true;
    }
};
}  // namespace

UIVirtualMusicPlayer::UIVirtualMusicPlayer(std::string filePath) : m_filePath(std::move(filePath)) {}

void UIVirtualMusicPlayer::BuildContent(int width) {
    if (m_option)
        return;
    SetFixedWidth(width);
    SetFixedHeight(kHeight);
    SetBkImage(KWStringUtils::Format("res='%d' restype='PNG' dest='0,8,%d,35' corner='15,0,15,0'",
                                     kBackgroundRes, width));

    auto option = std::make_unique<UIClipToggle>();
    option->SetId(kOptionId);
    option->SetFixedWidth(kHeight);
    option->SetFixedHeight(kHeight);
    option->SetNormalImage(KWStringUtils::Format("res='%d' restype='PNG' source='42,0,84,42'", kToggleRes));
    option->SetSelectedImage(KWStringUtils::Format("res='%d' restype='PNG' source='0,0,42,42'", kToggleRes));
    option->SetGroup(kOptionGroup);
    option->SetCursor("hand");
    m_option = option.get();
    Add(std::move(option));

    auto progress = std::make_unique<UIProgress>();
    progress->SetRange(0, kProgressMax);
    progress->SetValue(0);
    progress->SetFixedHeight(kBarHeight);
    // Centred on the background strip, clear of its rounded right end.
    progress->SetPadding({6, (kHeight - kBarHeight) / 2 + 1, 16, 0});
    progress->SetBkImage(
        KWStringUtils::Format("res='%d' restype='PNG' source='0,0,18,12' corner='5,0,5,0'", kBarRes));
    progress->SetForeImage(
        KWStringUtils::Format("res='%d' restype='PNG' source='0,12,18,24' corner='5,0,5,0'", kBarRes));
    m_progress = progress.get();
    Add(std::move(progress));
}

void UIVirtualMusicPlayer::SetProgressValue(int value) {
    if (m_progress)
        m_progress->SetValue(value);
}

int UIVirtualMusicPlayer::GetProgressValue() const {
    return m_progress ? m_progress->GetValue() : 0;
}

}  // namespace KwLib
