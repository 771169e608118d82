#pragma once
// UIFrameView: shows the pictures another thread draws into a UIFrameExchange,
// the newest one at the control's top left corner. While it runs it looks for
// a new picture every `intervalMs` and repaints only when one came, so the
// drawing thread never waits for the window and the window never waits for a
// picture. It takes no mouse input: clicks fall through to what lies below.
// UI thread only.
#include <cstdint>
#include <memory>

#include "platform/ui/UIControl.h"
#include "platform/ui/UIFrameExchange.h"

namespace KwLib {

class UIFrameView : public UIControl {
public:
    static constexpr int kPollTimerId = 1;

    UIFrameView();
    ~UIFrameView() override;
    std::string GetClass() const override { return "FrameView"; }

    // Shows the pictures of `frames` (shared with the drawing thread), or none.
    void SetExchange(std::shared_ptr<UIFrameExchange> frames);
    // Pixels per layout unit in the pictures (a thread drawing for a screen
    // of two pixels per unit draws them twice as large). Pictures at the
    // surface's own scale are copied pixel for pixel, others scaled smoothly.
    void SetFrameScale(double scale);
    double GetFrameScale() const { return m_frameScale; }
    // Looks for new pictures every `intervalMs` until StopPolling.
    void StartPolling(uint32_t intervalMs);
    void StopPolling();
    // Takes the newest picture now; true when it is a new one.
    bool Refresh();
    // The sequence number of the picture shown (0: none yet).
    uint64_t ShownSequence() const;

    void DoPaint(cairo_t* cr, const UIRect& rcPaint) override;
    void OnTimer(int timerId) override;

private:
    std::shared_ptr<UIFrameExchange> m_frames;
    cairo_surface_t* m_surface = nullptr;  // wraps the front picture's pixels
    const void* m_surfacePixels = nullptr;
    bool m_polling = false;
    double m_frameScale = 1.0;
};

}  // namespace KwLib
