#include "elements/UIDianXianControl.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <random>

#include "elements/UIElementParts.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

namespace {

// Grows with every segment displaced in this process, so segments displaced
// in the same instant still land apart.
int g_displaced = 0;

int Clamp(int64_t v) {
    return static_cast<int>(
        std::clamp<int64_t>(v, -UIDianXianControl::kMaxCoord, UIDianXianControl::kMaxCoord));
}
int ClampDouble(double v) {
    if (std::isnan(v))
        return 0;
    return static_cast<int>(
        std::clamp(v, -1.0 * UIDianXianControl::kMaxCoord, 1.0 * UIDianXianControl::kMaxCoord));
}

bool SameSegment(const VLQuestionLine& a, const VLQuestionLine& b) {
    return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2 && a.move == b.move;
}

}  // namespace

UIDianXianControl::UIDianXianControl() {
    SetFixedWidth(kWidth);
    SetFixedHeight(kHeight);
    SetControlDispatch(kDispatchMouseToParent);
}

void UIDianXianControl::Init(const VLDianXianQuestion& question) {
    CancelGrab();
    m_moved = false;
    m_segments.clear();
    SetBkImage(KWStringUtils::Format("file='%s'", question.m_picture.c_str()));
    for (VLQuestionLine segment : question.m_lines) {
        segment.x1 = Clamp(segment.x1);
        segment.y1 = Clamp(segment.y1);
        segment.x2 = Clamp(segment.x2);
        segment.y2 = Clamp(segment.y2);
        // A new seed for every segment, from the finest clock there is; the
        // segment's middle lands somewhere across the surface in its direction.
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        std::minstd_rand random(static_cast<uint32_t>(now) | 1u);
        const int64_t c = g_displaced++;
        if (segment.move == 1) {
            const int64_t r = (static_cast<int64_t>(random()) + c * 20) % kWidth;
            const int64_t h = std::llabs(static_cast<int64_t>(segment.x1) + segment.x2) / 2;
            segment.x1 = Clamp(segment.x1 - h + r);
            segment.x2 = Clamp(segment.x2 - h + r);
        } else if (segment.move == 2) {
            const int64_t r = (static_cast<int64_t>(random()) + c * 20) % kHeight;
            const int64_t h = std::llabs(static_cast<int64_t>(segment.y1) + segment.y2) / 2;
            segment.y1 = Clamp(segment.y1 - h + r);
            segment.y2 = Clamp(segment.y2 - h + r);
        }
        m_segments.push_back(segment);
    }
    Invalidate();
}

// ---- answer ----

std::string UIDianXianControl::GetAnswer() const {
    if (!m_moved)
        return std::string();
    std::string answer;
    for (size_t i = 0; i < m_segments.size(); ++i) {
        const VLQuestionLine& s = m_segments[i];
        if (i > 0)
            answer += ";";
        answer += KWStringUtils::Format("%d^%d,%d^%d", s.x1, s.y1, s.x2, s.y2);
    }
    return answer;
}

void UIDianXianControl::SetAnswer(const std::string& answer) {
    if (answer.empty())
        return;
    const std::vector<std::string> parts = UIElementParts::Split(answer, ';');
    bool applied = false;
    if (parts.size() == m_segments.size()) {
        for (size_t i = 0; i < parts.size(); ++i) {
            const std::vector<std::string> points = UIElementParts::Split(parts[i], ',');
            if (points.size() != 2)
                continue;
            for (size_t k = 0; k < 2; ++k) {
                const std::vector<std::string> xy = UIElementParts::Split(points[k], '^');
                int x = 0, y = 0;
                if (xy.size() != 2 || !UIElementParts::ParseInt(xy[0], x) ||
                    !UIElementParts::ParseInt(xy[1], y))
                    continue;
                (k == 0 ? m_segments[i].x1 : m_segments[i].x2) = Clamp(x);
                (k == 0 ? m_segments[i].y1 : m_segments[i].y2) = Clamp(y);
                applied = true;
            }
        }
    }
    // An answer given before is sent again as it was, even unchanged; a damaged
    // one must not turn the displaced start positions into the student's answer.
    if (applied)
        m_moved = true;
    else
        VL_LOG_WARN("a saved dot-line answer did not fit the question and was not restored: %s", answer.c_str());
    Invalidate();
}

bool UIDianXianControl::Undo() {
    if (m_history.empty())
        return false;
    CancelGrab();
    m_segments = std::move(m_history.back().segments);
    m_moved = m_history.back().moved;
    m_history.pop_back();
    Invalidate();
    return true;
}

void UIDianXianControl::Reset(const VLDianXianQuestion& question) {
    m_history.push_back({m_segments, m_moved});
    Init(question);
}

// ---- hit test and dragging ----

int UIDianXianControl::HitTest(UIPoint pt) const {
    const int64_t px = pt.x, py = pt.y;
    for (size_t i = 0; i < m_segments.size(); ++i) {
        const VLQuestionLine& s = m_segments[i];
        const int64_t x1 = s.x1, y1 = s.y1, x2 = s.x2, y2 = s.y2;
        const bool betweenX = (px - x2) * (px - x1) < 1;
        const bool betweenY = (py - y2) * (py - y1) < 1;
        if (x1 == x2) {
            if (std::llabs(px - x1) < 4 && betweenY)
                return static_cast<int>(i);
        } else if (y1 == y2) {
            if (std::llabs(py - y1) < 4 && betweenX)
                return static_cast<int>(i);
        } else {
            const double k = static_cast<double>(x2 - x1) / static_cast<double>(y2 - y1);
            const double d = std::fabs(px - py * k - x1 + y1 * k) / std::sqrt(k * k + 1);
            if (static_cast<int64_t>(d) < 4 && betweenX && betweenY)
                return static_cast<int>(i);
        }
    }
    return -1;
}

VLQuestionLine UIDianXianControl::Dropped(const VLQuestionLine& segment, UIPoint pt) const {
    VLQuestionLine s = segment;
    const double px = pt.x - m_rcItem.left, py = pt.y - m_rcItem.top;
    const bool straight = s.x1 == s.x2 || s.y1 == s.y2;
    if (s.move == 1) {
        int64_t dx = 0;
        if (straight) {
            dx = static_cast<int64_t>(pt.x) - m_grabPoint.x;
        } else {
            // Sideways until the segment runs through the pointer.
            const double slope = static_cast<double>(s.y2 - s.y1) / (s.x2 - s.x1);
            dx = static_cast<int64_t>(px) - ClampDouble((py - s.y1) / slope + s.x1);
        }
        s.x1 = Clamp(s.x1 + dx);
        s.x2 = Clamp(s.x2 + dx);
    } else if (s.move == 2) {
        int64_t dy = 0;
        if (straight) {
            dy = static_cast<int64_t>(pt.y) - m_grabPoint.y;
        } else {
            const double slope = static_cast<double>(s.y2 - s.y1) / (s.x2 - s.x1);
            dy = static_cast<int64_t>(py) - ClampDouble(slope * (px - s.x1) + s.y1);
        }
        s.y1 = Clamp(s.y1 + dy);
        s.y2 = Clamp(s.y2 + dy);
    }
    return s;
}

void UIDianXianControl::CancelGrab() {
    const bool wasGrabbed = IsGrabbed();
    m_grabbed = {0, 0, 0, 0, 0};
    if (wasGrabbed) {
        if (m_manager)
            m_manager->SetCursor("arrow");
        Invalidate();
    }
}

void UIDianXianControl::ShowHandOverSegment(UIPoint pt) {
    if (!IsEnabled() || !m_manager || IsGrabbed() || !m_rcItem.Contains(pt))
        return;
    if (HitTest({pt.x - m_rcItem.left, pt.y - m_rcItem.top}) >= 0)
        m_manager->SetCursor("hand");
}

void UIDianXianControl::OnMouseEnter(UIPoint pt) {
    ShowHandOverSegment(pt);
}

void UIDianXianControl::OnMouseMove(UIPoint pt) {
    if (IsGrabbed()) {
        // The segment is shown where it would land.
        m_dragPoint = pt;
        Invalidate();
        return;
    }
    ShowHandOverSegment(pt);
}

void UIDianXianControl::OnLButtonDown(UIPoint pt) {
    CancelGrab();
    if (!IsEnabled() || !m_manager || !m_rcItem.Contains(pt))
        return;
    const int hit = HitTest({pt.x - m_rcItem.left, pt.y - m_rcItem.top});
    if (hit < 0)
        return;
    m_grabbed = m_segments[hit];
    m_grabPoint = pt;
    m_dragPoint = pt;
    m_manager->SetCursor("hand");
}

void UIDianXianControl::OnLButtonUp(UIPoint pt) {
    if (!IsEnabled() || !m_rcItem.Contains(pt)) {
        // Let go outside the picture: the drag is called off.
        CancelGrab();
        return;
    }
    if (!IsGrabbed())
        return;
    auto it = std::find_if(m_segments.begin(), m_segments.end(),
                           [this](const VLQuestionLine& s) { return SameSegment(s, m_grabbed); });
    if (it != m_segments.end()) {
        m_history.push_back({m_segments, m_moved});
        *it = Dropped(*it, pt);
    }
    m_moved = true;
    CancelGrab();
    if (m_manager)
        m_manager->SetCursor("arrow");
    Invalidate();
}

void UIDianXianControl::SetEnabled(bool enabled) {
    UIVerticalLayout::SetEnabled(enabled);
    if (!enabled)
        CancelGrab();
}

// ---- painting ----

void UIDianXianControl::DoPaint(cairo_t* cr, const UIRect& rcPaint) {
    UIVerticalLayout::DoPaint(cr, rcPaint);
    const UIRect clip = m_rcItem.Intersect(rcPaint);
    if (clip.IsEmpty() || m_segments.empty())
        return;
    cairo_save(cr);
    cairo_rectangle(cr, clip.left, clip.top, clip.Width(), clip.Height());
    cairo_clip(cr);
    const bool preview = IsGrabbed() && m_rcItem.Contains(m_dragPoint);
    bool previewed = false;
    for (const VLQuestionLine& segment : m_segments) {
        VLQuestionLine s = segment;
        if (preview && !previewed && SameSegment(s, m_grabbed)) {
            s = Dropped(s, m_dragPoint);
            previewed = true;
        }
        UIRenderUtils::DrawLine(cr, static_cast<double>(m_rcItem.left) + s.x1,
                                static_cast<double>(m_rcItem.top) + s.y1,
                                static_cast<double>(m_rcItem.left) + s.x2,
                                static_cast<double>(m_rcItem.top) + s.y2, kLineWidth, kLineColor);
    }
    cairo_restore(cr);
}

}  // namespace KwLib
