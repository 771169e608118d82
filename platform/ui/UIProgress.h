#pragma once
// A progress bar and a slider. UI thread only.
#include "platform/ui/UIControl.h"

namespace KwLib {

// Shows value between min and max: "foreimage" drawn over the filled part, or
// "forecolor" when there is no image. "hor" chooses the direction.
class UIProgress : public UIControl {
public:
    UIProgress();
    std::string GetClass() const override { return "Progress"; }
    int GetMinValue() const { return m_min; }
    int GetMaxValue() const { return m_max; }
    void SetRange(int minValue, int maxValue);
    int GetValue() const { return m_value; }
    // Clamped to the range.
    void SetValue(int value);
    void SetPos(int value) { SetValue(value); }
    using UIControl::SetPos;
    bool IsHorizontal() const { return m_horizontal; }
    void SetHorizontal(bool horizontal);
    void PaintStatusImage(cairo_t* cr) override;
    void SetAttribute(const std::string& name, const std::string& value) override;

protected:
    // The filled part of the bar.
    UIRect GetFilledRect() const;
    int m_min = 0;
    int m_max = 100;
    int m_value = 0;
    bool m_horizontal = true;
    UIColor m_foreColor = 0xFF2E86DE;
};

// A slider. Dragging reports kNotifyValueChanging; releasing (or a key or
// wheel step) reports kNotifyValueChanged with the value in wParam.
class UISlide : public UIProgress {
public:
    UISlide();
    std::string GetClass() const override { return "Slide"; }
    int GetSlidePos() const { return m_value; }
    // The span of values (max - min).
    int GetSlideRange() const { return m_max - m_min; }
    int GetChangeStep() const { return m_step; }
    void SetChangeStep(int step) { m_step = std::clamp(step, 1, 1000000000); }
    void Event(UIEvent& event) override;
    void PaintStatusImage(cairo_t* cr) override;
    void SetAttribute(const std::string& name, const std::string& value) override;
    UIRect GetThumbRect() const;

private:
    int ValueAt(UIPoint pt) const;
    void ChangeTo(int value, int notifyType);
    int m_step = 1;
    UISize m_thumbSize{16, 16};
    std::string m_thumbImage;
    std::string m_thumbHotImage;
    std::string m_thumbPushedImage;
    UIColor m_thumbColor = 0xFFFFFFFF;
};

}  // namespace KwLib
