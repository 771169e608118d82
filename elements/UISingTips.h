#pragma once
// UISingTips: the three-lamp countdown shown just before a singing question's
// answering time. The window creates it once (in code, or from a layout with
// the tag kTag through its builder callback), keeps it hidden, and on each
// tick of its countdown calls SetLevel(3), SetLevel(2), SetLevel(1), then
// hides it.
//
// It is 111 x 69 pixels (the backdrop, resource 1048) with three 26 x 28 lamps
// (resource 1049) side by side in the middle.
// UI thread only.
#include <array>

#include "platform/ui/UILayout.h"

namespace KwLib {

class UISingTips : public UIHorizontalLayout {
public:
    static constexpr const char* kTag = "SingTips";
    static constexpr int kBackdropRes = 1048;
    static constexpr int kLampRes = 1049;
    static constexpr int kWidth = 111;
    static constexpr int kHeight = 69;
    static constexpr int kLampWidth = 26;
    static constexpr int kLampHeight = 28;
    static constexpr int kLampCount = 3;

    UISingTips();
    std::string GetClass() const override { return "SingTips"; }

    // Sets the backdrop and creates the lamps; once (later calls do nothing).
    // Runs by itself when the widget is attached to a paint manager.
    void Init();
    void SetManager(UIPaintManager* manager, UIControl* parent, bool init = true) override;

    // Lamps 1..n are lit for n = 1, 2 or 3; any other n puts all of them out.
    void SetLevel(int n);
    // The lamps, first to third (nullptr before Init).
    UIControl* GetLamp(int index) const;

private:
    std::array<UIControl*, kLampCount> m_lamps{};  // owned by this container
};

}  // namespace KwLib
