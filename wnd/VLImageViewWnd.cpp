#include "wnd/VLImageViewWnd.h"

#include <algorithm>
#include <cmath>

#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIRenderUtils.h"
#include "platform/ui/UIResource.h"

namespace KwLib {

namespace {

// However far it is dragged, this much of the picture stays in the window.
constexpr int kKeepVisible = 48;

}  // namespace

// ---- the picture ----

void UIZoomPicture::SetImage(const std::string& imageString, UISize pixels) {
    m_image = imageString;
    m_pixels = pixels;
    m_data.reset();
    DropScaled();
    Invalidate();
}

void UIZoomPicture::SetView(float zoom, UIPoint offset) {
    if (zoom == m_zoom && offset == m_offset)
        return;
    m_zoom = zoom;
    m_offset = offset;
    Invalidate();
}

UIRect UIZoomPicture::GetPictureDeviceRect() const {
    const double scale = m_manager ? m_manager->GetScale() : 1.0;
    const UIRect item = m_manager ? m_manager->ClientToDevice(m_rcItem) : m_rcItem;
    int cx = std::max(1, static_cast<int>(std::lround(m_pixels.cx * static_cast<double>(m_zoom))));
    int cy = std::max(1, static_cast<int>(std::lround(m_pixels.cy * static_cast<double>(m_zoom))));
    int left = item.left + (item.Width() - cx) / 2 + static_cast<int>(std::lround(m_offset.x * scale));
    int top = item.top + (item.Height() - cy) / 2 + static_cast<int>(std::lround(m_offset.y * scale));
    return ClampRect({left, top, left + cx, top + cy});
}

UIRect UIZoomPicture::GetPictureRect() const {
    const UIRect dev = GetPictureDeviceRect();
    if (!m_manager || m_manager->GetScale() == 1.0)
        return dev;
    const UIPoint a = m_manager->DeviceToClient({dev.left, dev.top});
    const UIPoint b = m_manager->DeviceToClient({dev.right - 1, dev.bottom - 1});
    return {a.x, a.y, b.x + 1, b.y + 1};
}

UIZoomPicture::~UIZoomPicture() {
    DropScaled();
}

void UIZoomPicture::DropScaled() {
    if (m_scaled)
        cairo_surface_destroy(m_scaled);
    m_scaled = nullptr;
}

void UIZoomPicture::PaintBkImage(cairo_t* cr) {
    if (m_image.empty())
        return;
    if (!m_data) {
        DropScaled();
        m_data = UIResourceSingleton::Instance().GetImage(UIImageString::Parse(m_image).key);
    }
    if (!m_data || m_data->Width() <= 0 || m_data->Height() <= 0)
        return;  // not readable (yet): the background shows
    // In the surface's own pixels: the zoom counts screen pixels.
    const UIRect item = UIRenderUtils::DeviceRect(cr, m_rcItem);
    double ox = 0, oy = 0;
    cairo_user_to_device(cr, &ox, &oy);
    UIRect dest = GetPictureDeviceRect();
    if (m_manager) {
        // The same place on whatever surface `cr` paints (a screenshot's too).
        const UIPoint origin = m_manager->GetDeviceOrigin();
        dest.Offset(static_cast<int>(std::lround(ox)) - origin.x,
                    static_cast<int>(std::lround(oy)) - origin.y);
    }
    if (!dest.Intersects(item))
        return;
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_rectangle(cr, item.left, item.top, item.Width(), item.Height());
    cairo_clip(cr);
    double sx = static_cast<double>(dest.Width()) / m_data->Width();
    double sy = static_cast<double>(dest.Height()) / m_data->Height();
    if (sx < 1.0 || sy < 1.0) {
        // Shrinking well is the slow part: done once per size, so that a
        // drag only copies pixels. The copy is never larger than the picture.
        if (!m_scaled || cairo_image_surface_get_width(m_scaled) != dest.Width() ||
            cairo_image_surface_get_height(m_scaled) != dest.Height()) {
            DropScaled();
            m_scaled = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, dest.Width(), dest.Height());
            cairo_t* sc = cairo_create(m_scaled);
            cairo_scale(sc, sx, sy);
            cairo_set_source_surface(sc, m_data->Surface(), 0, 0);
            cairo_pattern_set_filter(cairo_get_source(sc), CAIRO_FILTER_GOOD);
            cairo_pattern_set_extend(cairo_get_source(sc), CAIRO_EXTEND_PAD);
            cairo_paint(sc);
            cairo_destroy(sc);
        }
        cairo_set_source_surface(cr, m_scaled, dest.left, dest.top);
        cairo_rectangle(cr, dest.left, dest.top, dest.Width(), dest.Height());
        cairo_fill(cr);
    } else {
        // Enlarging: only the part inside the window is ever computed.
        DropScaled();
        cairo_translate(cr, dest.left, dest.top);
        cairo_scale(cr, sx, sy);
        cairo_set_source_surface(cr, m_data->Surface(), 0, 0);
        bool unscaled = dest.Width() == m_data->Width() && dest.Height() == m_data->Height();
        cairo_pattern_set_filter(cairo_get_source(cr),
                                 unscaled ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_BILINEAR);
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
        cairo_rectangle(cr, 0, 0, m_data->Width(), m_data->Height());
        cairo_fill(cr);
    }
    cairo_restore(cr);
}

// ---- the tool buttons ----

namespace {

// A button of the viewer that draws its symbol ("close", "fullscreen",
// "restore", "zoomin", "zoomout") as lines in its text colour, so it looks
// the same whatever fonts the computer has. Without a symbol it shows its text.
class UIViewerButton : public UIButton {
public:
    std::string GetClass() const override { return "ViewerButton"; }
    void SetAttribute(const std::string& name, const std::string& value) override {
        if (name == "symbol")
            m_symbol = value;
        else
            UIButton::SetAttribute(name, value);
    }
    void PaintText(cairo_t* cr) override {
        if (m_symbol.empty()) {
            UIButton::PaintText(cr);
            return;
        }
        double cx = (m_rcItem.left + m_rcItem.right) / 2.0;
        double cy = (m_rcItem.top + m_rcItem.bottom) / 2.0;
        cairo_save(cr);
        UIRenderUtils::SetSourceColor(cr, IsHot() && m_hotTextColor ? m_hotTextColor : m_textColor);
        cairo_set_line_width(cr, 2.2);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        if (m_symbol == "close") {
            Line(cr, cx - 6, cy - 6, cx + 6, cy + 6);
            Line(cr, cx + 6, cy - 6, cx - 6, cy + 6);
        } else if (m_symbol == "fullscreen" || m_symbol == "restore") {
            // Four corners: bent at the outside for full screen, at the
            // inside for back.
            const double r = 8, arm = 5;
            bool out = m_symbol == "fullscreen";
            for (int sx : {-1, 1}) {
                for (int sy : {-1, 1}) {
                    double bend = out ? r : r - arm;
                    double x = cx + sx * bend, y = cy + sy * bend;
                    double step = out ? -arm : arm;
                    cairo_move_to(cr, x, y + sy * step);
                    cairo_line_to(cr, x, y);
                    cairo_line_to(cr, x + sx * step, y);
                    cairo_stroke(cr);
                }
            }
        } else if (m_symbol == "zoomin" || m_symbol == "zoomout") {
            // A magnifier with a plus or a minus.
            cairo_arc(cr, cx - 2, cy - 2, 7, 0, 2 * M_PI);
            cairo_stroke(cr);
            Line(cr, cx + 3.2, cy + 3.2, cx + 8.5, cy + 8.5);
            Line(cr, cx - 5.5, cy - 2, cx + 1.5, cy - 2);
            if (m_symbol == "zoomin")
                Line(cr, cx - 2, cy - 5.5, cx - 2, cy + 1.5);
        }
        cairo_restore(cr);
    }

private:
    static void Line(cairo_t* cr, double x0, double y0, double x1, double y1) {
        cairo_move_to(cr, x0, y0);
        cairo_line_to(cr, x1, y1);
        cairo_stroke(cr);
    }
    std::string m_symbol;
};

}  // namespace

// ---- the window ----

VLImageViewWnd::VLImageViewWnd(std::string picturePath, int pictureWidth, int pictureHeight)
    : m_path(std::move(picturePath)), m_pixels{pictureWidth, pictureHeight} {}

VLImageViewWnd::~VLImageViewWnd() {
    if (m_deletedFlag)
        *m_deletedFlag = true;
}

UISize VLImageViewWnd::FitWindowSize(UISize picture, UISize screen, float& zoom, double scale) {
    picture = {std::max(1, picture.cx), std::max(1, picture.cy)};
    scale = scale > 0 ? scale : 1.0;
    // Everything in screen pixels; the window's size in its units at the end.
    const double margin = kScreenMargin * scale;
    double roomX = std::max(1.0, screen.cx - 2 * margin);
    double roomY = std::max(1.0, screen.cy - 2 * margin);
    double fit = std::min({1.0, roomX / picture.cx, roomY / picture.cy});
    zoom = std::max(kMinZoom, static_cast<float>(fit));
    // Rounded as the picture's own size is, so the two always match.
    const double px = std::lround(picture.cx * static_cast<double>(zoom));
    const double py = std::lround(picture.cy * static_cast<double>(zoom));
    const int screenX = std::max(kMinWidth, static_cast<int>(screen.cx / scale));
    const int screenY = std::max(kMinHeight, static_cast<int>(screen.cy / scale));
    int cx = static_cast<int>(std::ceil(px / scale - 1e-9));
    int cy = static_cast<int>(std::ceil(py / scale - 1e-9));
    cx = std::min(std::max(cx, kMinWidth), screenX);
    cy = std::min(std::max(cy, kMinHeight), screenY);
    return {cx, cy};
}

bool VLImageViewWnd::Open(UIWindowWnd* owner) {
    if (m_pixels.cx <= 0 || m_pixels.cy <= 0) {
        // The caller did not know the size: read it, and show nothing that
        // cannot be read.
        UIImageInfo info;
        if (!UILoadResource::ImageInfoFromFile(m_path, info) || info.width <= 0 || info.height <= 0) {
            VL_LOG_ERROR("picture %s cannot be read; no viewer", m_path.c_str());
            return false;
        }
        m_pixels = {info.width, info.height};
    }
    // Placed by InitWindow, centred on the screen rather than on the owner.
    return Create(owner, "查看原图", 0, 0);
}

int VLImageViewWnd::Show(UIWindowWnd* owner, const std::string& picturePath, int pictureWidth,
                         int pictureHeight) {
    auto* viewer = new VLImageViewWnd(picturePath, pictureWidth, pictureHeight);
    bool deleted = false;
    viewer->m_deletedFlag = &deleted;
    if (!viewer->Open(owner)) {
        // One refused during its creation has deleted itself already.
        if (!deleted)
            delete viewer;
        return IDCLOSE;
    }
    viewer->m_deletedFlag = nullptr;
    return viewer->ShowModal();
}

UIControl* VLImageViewWnd::CreateControl(const std::string& tag) {
    if (tag == "ZoomPicture")
        return new UIZoomPicture;
    if (tag == "ViewerButton")
        return new UIViewerButton;
    return nullptr;
}

void VLImageViewWnd::InitWindow() {
    UISize screen = UIApplication::Instance().GetScreenSize();
    UISize size = FitWindowSize(m_pixels, screen, m_zoom, GetScale());
    ResizeClient(size.cx, size.cy);
    const UIRect rc = GetWindowRect();
    MoveWindow(std::max(0, (screen.cx - rc.Width()) / 2), std::max(0, (screen.cy - rc.Height()) / 2), size.cx,
               size.cy);
    SetTopMost(true);
    if (auto* picture = m_pm.FindControlAs<UIZoomPicture>(kPictureId))
        picture->SetImage(KWStringUtils::Format("file='%s'", m_path.c_str()), m_pixels);
    else
        VL_LOG_ERROR("image viewer layout has no picture %d", kPictureId);
    if (UIControl* leave = m_pm.FindControl(kLeaveFullScreenId))
        leave->SetVisible(false);
    if (UIControl* toolbar = m_pm.FindControl(kToolbarId))
        toolbar->SetVisible(false);
    PlaceFloats(size.cx, size.cy);
    ApplyView();
    SetTimer(kToolbarTimer, kToolbarTimerMs);
}

UIRect VLImageViewWnd::GetPictureRect() const {
    auto* picture = m_pm.FindControlAs<UIZoomPicture>(kPictureId);
    return picture ? picture->GetPictureRect() : UIRect{};
}

// The close button and the tool bar float over the picture; a new window
// size moves them with it.
void VLImageViewWnd::PlaceFloats(int cx, int cy) {
    if (UIControl* close = m_pm.FindControl(kCloseId))
        close->SetAttribute("pos", KWStringUtils::Format("%d,%d,%d,%d", cx - kCloseTop - kCloseSize,
                                                         kCloseTop, cx - kCloseTop, kCloseTop + kCloseSize));
    if (UIControl* toolbar = m_pm.FindControl(kToolbarId)) {
        int left = (cx - kToolbarWidth) / 2;
        int bottom = cy - kToolbarBottom;
        toolbar->SetAttribute("pos", KWStringUtils::Format("%d,%d,%d,%d", left, bottom - kToolbarHeight,
                                                           left + kToolbarWidth, bottom));
    }
}

void VLImageViewWnd::SetZoom(float zoom) {
    zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    // The point of the picture in the middle of the window stays there.
    double ratio = static_cast<double>(zoom) / m_zoom;
    m_offset = {static_cast<int>(std::lround(m_offset.x * ratio)),
                static_cast<int>(std::lround(m_offset.y * ratio))};
    m_zoom = zoom;
    ApplyView();
}

void VLImageViewWnd::ZoomIn() {
    SetZoom(m_zoom * kZoomInStep);
}

void VLImageViewWnd::ZoomOut() {
    SetZoom(m_zoom * kZoomOutStep);
}

void VLImageViewWnd::ActualSize() {
    m_zoom = 1.0f;
    m_offset = {};
    ApplyView();
}

// Keeps part of the picture in sight and hands the view to the picture.
void VLImageViewWnd::ApplyView() {
    auto* picture = m_pm.FindControlAs<UIZoomPicture>(kPictureId);
    if (!picture)
        return;
    UISize client = GetClientSize();
    // The picture's size in layout units (the zoom counts screen pixels).
    double cx = m_pixels.cx * static_cast<double>(m_zoom) / GetScale();
    double cy = m_pixels.cy * static_cast<double>(m_zoom) / GetScale();
    int limitX = std::max(0, static_cast<int>((client.cx + cx) / 2) - kKeepVisible);
    int limitY = std::max(0, static_cast<int>((client.cy + cy) / 2) - kKeepVisible);
    m_offset.x = std::clamp(m_offset.x, -limitX, limitX);
    m_offset.y = std::clamp(m_offset.y, -limitY, limitY);
    picture->SetView(m_zoom, m_offset);
}

void VLImageViewWnd::EnterFullScreen() {
    if (m_fullScreen)
        return;
    m_fullScreen = true;
    m_pm.SetMaxWindow(UIApplication::Instance().GetScreenSize());
    m_pm.SetFullScreenMode(true);
    if (UIControl* full = m_pm.FindControl(kFullScreenId))
        full->SetVisible(false);
    if (UIControl* leave = m_pm.FindControl(kLeaveFullScreenId))
        leave->SetVisible(true);
}

void VLImageViewWnd::LeaveFullScreen() {
    if (!m_fullScreen)
        return;
    m_fullScreen = false;
    m_pm.SetFullScreenMode(false);
    SetTopMost(true);
    if (UIControl* leave = m_pm.FindControl(kLeaveFullScreenId))
        leave->SetVisible(false);
    if (UIControl* full = m_pm.FindControl(kFullScreenId))
        full->SetVisible(true);
}

void VLImageViewWnd::Notify(UINotification& msg) {
    if (msg.type != kNotifyClick || !msg.sender)
        return;
    switch (msg.sender->GetId()) {
        case kCloseId:
            Close(IDCLOSE);
            break;
        case kActualSizeId:
            ActualSize();
            break;
        case kFullScreenId:
            EnterFullScreen();
            break;
        case kLeaveFullScreenId:
            LeaveFullScreen();
            break;
        case kZoomInId:
            ZoomIn();
            break;
        case kZoomOutId:
            ZoomOut();
            break;
        default:
            break;
    }
}

// The tool bar is there while the cursor is over the window, and out of the
// picture's way otherwise.
void VLImageViewWnd::UpdateToolbar() {
    UIControl* toolbar = m_pm.FindControl(kToolbarId);
    if (!toolbar)
        return;
    UISize client = GetClientSize();
    UIRect area{0, 0, client.cx, client.cy};
    bool inside = m_pm.IsMouseInside() && area.Contains(m_pm.GetMousePos());
    if (toolbar->IsVisible() != inside)
        toolbar->SetVisible(inside);
}

intptr_t VLImageViewWnd::OnTimer(uint32_t, uintptr_t wParam, intptr_t, bool& handled) {
    handled = static_cast<int>(wParam) == kToolbarTimer;
    if (handled)
        UpdateToolbar();
    return 0;
}

intptr_t VLImageViewWnd::OnKeyDown(uint32_t, uintptr_t wParam, intptr_t, bool& handled) {
    handled = wParam == VK_ESCAPE;
    if (handled)
        Close(IDCLOSE);
    return 0;
}

intptr_t VLImageViewWnd::OnLButtonDown(uint32_t, uintptr_t, intptr_t lParam, bool& handled) {
    // The buttons keep their clicks; anywhere else a press starts a drag.
    handled = false;
    UIPoint pt = PointFromLParam(lParam);
    UIControl* hit = m_pm.FindControl(pt);
    m_dragging = !hit || hit == m_pm.GetRoot() || hit->GetId() == kPictureId;
    if (m_dragging) {
        m_dragStart = pt;
        m_dragOrigin = m_offset;
    }
    return 0;
}

intptr_t VLImageViewWnd::OnLButtonUp(uint32_t, uintptr_t, intptr_t, bool& handled) {
    handled = false;
    m_dragging = false;
    return 0;
}

intptr_t VLImageViewWnd::OnMouseMove(uint32_t, uintptr_t wParam, intptr_t lParam, bool& handled) {
    handled = false;
    if (!m_dragging)
        return 0;
    if (!(wParam & MK_LBUTTON)) {
        m_dragging = false;  // released where we could not see it
        return 0;
    }
    UIPoint pt = PointFromLParam(lParam);
    m_offset = {m_dragOrigin.x + pt.x - m_dragStart.x, m_dragOrigin.y + pt.y - m_dragStart.y};
    ApplyView();
    return 0;
}

intptr_t VLImageViewWnd::OnMouseWheel(uint32_t, uintptr_t wParam, intptr_t, bool& handled) {
    handled = true;
    int delta = static_cast<int16_t>((wParam >> 16) & 0xFFFF);
    if (delta > 0)
        ZoomIn();
    else
        ZoomOut();
    return 0;
}

intptr_t VLImageViewWnd::OnSize(uint32_t, uintptr_t, intptr_t lParam, bool& handled) {
    handled = false;
    UIPoint size = PointFromLParam(lParam);
    PlaceFloats(size.x, size.y);
    ApplyView();
    return 0;
}

void VLImageViewWnd::OnFinalMessage() {
    delete this;
}

}  // namespace KwLib
