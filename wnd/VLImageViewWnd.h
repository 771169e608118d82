#pragma once
// VLImageViewWnd: shows a question picture large, with zoom ("双击查看原图").
// Layout window "VLImageViewWnd": picture 4002 (tag "ZoomPicture"), close
// 4001 floating at the top right, and a floating tool bar 4003 at the bottom
// with actual size 4004, full screen 4005, leave full screen 4008, zoom in
// 4006 and zoom out 4007. The tool bar shows only while the cursor is over
// the window (checked by timer 100 every 100 ms).
//
// The zoom factor is the picture's scale on screen: 1.0 is one picture pixel
// per screen pixel ("actual size"), whatever the window's scale (its buttons
// grow with it, the picture does not). The window opens topmost and centred
// on the screen, sized so the whole picture shows, never enlarged: a picture
// that fits the screen opens at 1.0, a larger one at the scale that fits.
// The picture is drawn centred, scaled by the zoom factor and moved by the
// drag offset. Escape or 4001 closes it.
//
// A viewer lives on the heap and deletes itself when it ends: use Show, or
// new + Open + ShowModal.
// UI thread only.
#include <memory>
#include <string>

#include "platform/ui/UIControl.h"
#include "platform/ui/UIWindowImplBase.h"

namespace KwLib {

class UIImageData;

// The viewer's picture: paints one image scaled into the rectangle that the
// zoom factor and the offset give it, clipped to the control.
class UIZoomPicture : public UIControl {
public:
    UIZoomPicture() = default;
    ~UIZoomPicture() override;
    std::string GetClass() const override { return "ZoomPicture"; }

    // An image string ("file='/path/pic.png'") and the picture's pixel size.
    void SetImage(const std::string& imageString, UISize pixels);
    const std::string& GetImage() const { return m_image; }
    UISize GetPixelSize() const { return m_pixels; }
    // `zoom` is screen pixels per picture pixel; `offset` in layout units.
    void SetView(float zoom, UIPoint offset);
    // Where the picture lies in window coordinates (may reach past the control).
    UIRect GetPictureRect() const;
    // The same on the window's surface, in its pixels.
    UIRect GetPictureDeviceRect() const;

    void PaintBkImage(cairo_t* cr) override;

private:
    void DropScaled();

    std::string m_image;
    UISize m_pixels;
    float m_zoom = 1.0f;
    UIPoint m_offset;
    std::shared_ptr<UIImageData> m_data;
    // The picture shrunk to the size shown, while it is shown smaller.
    cairo_surface_t* m_scaled = nullptr;
};

class VLImageViewWnd : public UIWindowImplBase {
public:
    static constexpr int kCloseId = 4001;
    static constexpr int kPictureId = 4002;
    static constexpr int kToolbarId = 4003;
    static constexpr int kActualSizeId = 4004;
    static constexpr int kFullScreenId = 4005;
    static constexpr int kZoomInId = 4006;
    static constexpr int kZoomOutId = 4007;
    static constexpr int kLeaveFullScreenId = 4008;
    static constexpr int kToolbarTimer = 100;
    static constexpr int kToolbarTimerMs = 100;
    static constexpr float kZoomInStep = 1.2f;
    static constexpr float kZoomOutStep = 0.8f;
    static constexpr float kMaxZoom = 16.0f;
    static constexpr float kMinZoom = 0.05f;
    static constexpr int kCloseSize = 36;
    static constexpr int kCloseTop = 6;
    static constexpr int kToolbarWidth = 200;
    static constexpr int kToolbarHeight = 50;
    static constexpr int kToolbarBottom = 3;
    // The smallest first size, so the tool bar and the close button fit.
    static constexpr int kMinWidth = 400;
    static constexpr int kMinHeight = 300;
    // Screen left free around a picture at its first size.
    static constexpr int kScreenMargin = 40;

    VLImageViewWnd(std::string picturePath, int pictureWidth, int pictureHeight);

    std::string GetWindowClassName() const override { return "VLImageViewWnd"; }

    // Creates the viewer over `owner` (not shown yet).
    bool Open(UIWindowWnd* owner);
    // new + Open + ShowModal; the viewer deletes itself when it ends.
    static int Show(UIWindowWnd* owner, const std::string& picturePath, int pictureWidth, int pictureHeight);

    // The first window size (layout units) and zoom factor for a picture on
    // a screen of `screen` pixels, for a window of `scale` pixels per unit.
    static UISize FitWindowSize(UISize picture, UISize screen, float& zoom, double scale = 1.0);

    float GetZoom() const { return m_zoom; }
    UIPoint GetOffset() const { return m_offset; }
    UIRect GetPictureRect() const;
    bool IsFullScreen() const { return m_fullScreen; }

    void ZoomIn();
    void ZoomOut();
    void ActualSize();
    void EnterFullScreen();
    void LeaveFullScreen();

    UIControl* CreateControl(const std::string& tag) override;
    void InitWindow() override;
    void Notify(UINotification& msg) override;
    intptr_t OnTimer(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    intptr_t OnKeyDown(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    intptr_t OnLButtonDown(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    intptr_t OnLButtonUp(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    intptr_t OnMouseMove(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    intptr_t OnMouseWheel(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    intptr_t OnSize(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    void OnFinalMessage() override;

protected:
    ~VLImageViewWnd() override;

private:
    void SetZoom(float zoom);
    void ApplyView();
    void PlaceFloats(int cx, int cy);
    void UpdateToolbar();

    std::string m_path;
    UISize m_pixels;
    float m_zoom = 1.0f;
    UIPoint m_offset;
    bool m_dragging = false;
    UIPoint m_dragStart;
    UIPoint m_dragOrigin;
    bool m_fullScreen = false;
    bool* m_deletedFlag = nullptr;  // set while Show learns whether Open failed
};

}  // namespace KwLib
