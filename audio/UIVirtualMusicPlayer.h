#pragma once
#include <string>

#include "platform/ui/UILayout.h"

namespace KwLib {

class UIOption;
class UIProgress;

// The clip widget beside an option that has a sound: a play/stop toggle and a
// progress bar. It makes no sound itself; the window plays GetFilePath()
// through the one UIMusicPlayer when the toggle (id 2060, option group "2051")
// is selected, and moves the bar (0..1000) from its progress tick.
// UI thread only.
class UIVirtualMusicPlayer : public UIHorizontalLayout {
public:
    static constexpr int kOptionId = 2060;
    static constexpr const char* kOptionGroup = "2051";
    static constexpr int kProgressMax = 1000;
    static constexpr int kHeight = 42;

    explicit UIVirtualMusicPlayer(std::string filePath);
    std::string GetClass() const override { return "VirtualMusicPlayer"; }

    // Creates the toggle and the bar for a widget `width` pixels wide; once,
    // by the element that places the widget.
    void BuildContent(int width);

    const std::string& GetFilePath() const { return m_filePath; }
    UIOption* GetOption() const { return m_option; }
    UIProgress* GetProgress() const { return m_progress; }
    // Bar position 0..1000.
    void SetProgressValue(int value);
    int GetProgressValue() const;

private:
    std::string m_filePath;
    UIOption* m_option = nullptr;      // owned by this container
    UIProgress* m_progress = nullptr;  // owned by this container
};

}  // namespace KwLib
