#include "elements/UISingTips.h"

#include "platform/common/KWStringUtils.h"

namespace KwLib {

namespace {
// Where the backdrop draws the lamp sockets (a microphone sign sits above them).
constexpr int kLampLeft = 8;
constexpr int kLampTop = 33;
constexpr int kLampGap = 8;
}  // namespace

UISingTips::UISingTips() {
    SetFixedWidth(kWidth);
    SetFixedHeight(kHeight);
    // The lamps sit side by side on the backdrop's sockets.
    const int row = kLampCount * kLampWidth + (kLampCount - 1) * kLampGap;
    SetInset({kLampLeft, kLampTop, kWidth - row - kLampLeft, kHeight - kLampHeight - kLampTop});
    SetChildPadding(kLampGap);
}

void UISingTips::Init() {
    if (m_lamps[0])
        return;
    SetNormalImage(KWStringUtils::Format("res='%d' restype='PNG'", kBackdropRes));
    for (auto& lamp : m_lamps) {
        lamp = new UIControl;
        lamp->SetFixedWidth(kLampWidth);
        lamp->SetFixedHeight(kLampHeight);
        lamp->SetNormalImage(KWStringUtils::Format("res='%d' restype='PNG'", kLampRes));
        Add(lamp);
    }
}

void UISingTips::SetManager(UIPaintManager* manager, UIControl* parent, bool init) {
    UIHorizontalLayout::SetManager(manager, parent, init);
    if (manager && init)
        Init();
}

void UISingTips::SetLevel(int n) {
    for (int i = 0; i < kLampCount; ++i) {
        if (m_lamps[i])
            m_lamps[i]->SetVisible(n >= i + 1 && n <= kLampCount);
    }
}

UIControl* UISingTips::GetLamp(int index) const {
    return index >= 0 && index < kLampCount ? m_lamps[index] : nullptr;
}

}  // namespace KwLib
