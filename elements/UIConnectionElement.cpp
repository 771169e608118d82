#include "elements/UIConnectionElement.h"

#include <algorithm>
#include <cmath>

#include "audio/UIVirtualMusicPlayer.h"
#include "elements/UIElementParts.h"
#include "exam/VLQuestion.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

namespace {

// Width of a column of each kind: the widest item, a gap of at least 12 and the point.
constexpr int kTextColumnWidth = 210, kPictureColumnWidth = 134, kAudioColumnWidth = 215;
constexpr int kTextColumnPadding = 43, kPictureColumnPadding = 8, kAudioColumnPadding = 40;
constexpr int kTextItemWidth = 170, kTextItemInset = 6;
constexpr int kClipPlayerWidth = 175;
constexpr int kThumbWidth = 82, kThumbHeight = 62;
constexpr UIColor kTextItemColor = 0xFFFBC368;
constexpr int kButtonWidth = 66, kButtonHeight = 26;

using UIElementParts::SetDispatch;
// Mouse events over every part of the answer area reach the element.
void SetAreaDispatch(UIControl* c) {
    SetDispatch(c, {kDispatchMouseMove, kDispatchButtonDown, kDispatchButtonUp, kDispatchMouseToParent});
}

}  // namespace

void UIConnectionElement::AddContent() {
    m_points.clear();
    m_lines.clear();
    auto* question = dynamic_cast<VLConnectionQuestion*>(m_question);
    if (!question || !m_stem)
        return;
    SetAreaDispatch(m_stem);

    auto* panel = new UIVerticalLayout;
    panel->SetAttribute("autominheight", "true");
    SetAreaDispatch(panel);
    panel->SetBkImage(KWStringUtils::Format("res='%d' restype='PNG' corner='5,5,5,5'", kPanelRes));

    std::vector<std::pair<UIContainer*, int>> columns;
    int tallest = 0;
    for (size_t i = 0; i < question->m_columns.size(); ++i) {
        int height = 0;
        // An empty column still uses up its point id.
        if (UIContainer* column = CreateColumn(*question->m_columns[i], static_cast<int>(i), height)) {
            columns.emplace_back(column, height);
            tallest = std::max(tallest, height);
        }
    }
    const int H = std::max(tallest, GetFixedHeight() - 66);
    auto* row = new UIHorizontalLayout;
    row->SetFixedHeight(H + 30);
    row->SetInset({85, 15, 85, 15});
    SetAreaDispatch(row);
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) {
            // Flexible: the columns spread over the width.
            auto* spacer = new UIControl;
            spacer->SetControlDispatch(kDispatchMouseToParent);
            row->Add(spacer);
        }
        auto [column, height] = columns[i];
        column->SetPadding({0, (H - height) / 2, 0, 0});
        row->Add(column);
    }
    panel->Add(row);

    auto* buttons = new UIHorizontalLayout;
    buttons->SetFixedHeight(36);
    buttons->SetInset({10, 0, 10, 10});
    buttons->SetChildPadding(8);
    SetAreaDispatch(buttons);
    buttons->Add(new UIControl);
    m_undoButton = UIElementParts::CreateSmallButton(UIElementParts::kUndoText, UIElementParts::kUndoButtonId,
                                                     kButtonWidth, kButtonHeight, false);
    m_resetButton = UIElementParts::CreateSmallButton(
        UIElementParts::kResetText, UIElementParts::kResetButtonId, kButtonWidth, kButtonHeight, false);
    for (UIButton* b : {m_undoButton, m_resetButton}) {
        SetDispatch(b, {kDispatchButtonDown, kDispatchButtonUp});
        buttons->Add(b);
    }
    panel->Add(buttons);
    m_stem->Add(panel);
}

UIControl* UIConnectionElement::CreateItem(ColumnKind kind, const std::string& value, int& height) {
    switch (kind) {
        case ColumnKind::kText: {
            const int labelWidth = kTextItemWidth - 2 * kTextItemInset;
            height = UIElementParts::WrappedTextHeight(m_manager, value, "", labelWidth) + 22;
            auto* item = new UIContainer;
            item->SetFixedWidth(kTextItemWidth);
            item->SetFixedHeight(height);
            item->SetInset({kTextItemInset, kTextItemInset, kTextItemInset, kTextItemInset});
            item->SetBkImage(KWStringUtils::Format("res='%d' restype='PNG' corner='5,5,5,5'", kItemFrameRes));
            item->SetControlDispatch(kDispatchMouseToParent);
            auto* label = new UIControl;
            label->SetText(value);
            label->SetAttribute("align", "center vcen wordbreak");
            label->SetBkColor(kTextItemColor);
            label->SetBorderRound(3);
            label->SetControlDispatch(kDispatchMouseToParent);
            item->Add(label);
            return item;
        }
        case ColumnKind::kPicture: {
            const UISize size = ReadPictureSize(value);
            const int w = size.cx, h = size.cy;
            UIRect source{0, 0, w, h}, dest;
            int boxW = 0, boxH = 0;
            if (w <= kThumbWidth && h <= kThumbHeight) {
                dest = {3, 3, w + 3, h + 3};
                boxW = w + 6;
                boxH = h + 6;
            } else if (w <= kThumbWidth) {
                const int top = (h - kThumbHeight) / 2;
                source = {0, top, w, top + kThumbHeight};
                dest = {6, 6, w + 6, 68};
                boxW = w + 12;
                boxH = 74;
            } else if (h <= kThumbHeight) {
                const int left = (w - kThumbWidth) / 2;
                source = {left, 0, left + kThumbWidth, h};
                dest = {6, 6, 88, h + 6};
                boxW = 94;
                boxH = h + 12;
            } else {
                if (static_cast<double>(w) / h >= 1.3225806451612903) {
                    const int c = static_cast<int>(h * kThumbWidth / static_cast<double>(kThumbHeight));
                    const int left = (w - c) / 2;
                    source = {left, 0, left + c, h};
                } else {
                    const int c = static_cast<int>(w * kThumbHeight / static_cast<double>(kThumbWidth));
                    const int top = (h - c) / 2;
                    source = {0, top, w, top + c};
                }
                dest = {6, 6, 88, 68};
                boxW = 94;
                boxH = 74;
            }
            height = boxH;
            auto* box = new UIContainer;
            box->SetId(kPictureBoxId);
            box->SetUserData(value);
            box->SetControlNotify(kNotifyDblClick);
            box->SetControlDispatch(kDispatchMouseToParent);
            box->SetToolTip(kPictureToolTip);
            box->SetToolTipDelay(500);
            box->SetBkImage(KWStringUtils::Format("res='%d' restype='PNG' corner='5,5,5,5'", kItemFrameRes));
            box->SetForeImage(KWStringUtils::Format(
                "file='%s' source='%d,%d,%d,%d' dest='%d,%d,%d,%d'", value.c_str(), source.left, source.top,
                source.right, source.bottom, dest.left, dest.top, dest.right, dest.bottom));
            box->SetFixedWidth(boxW);
            box->SetFixedHeight(boxH);
            return box;
        }
        case ColumnKind::kAudio:
        default: {
            auto* player = new UIVirtualMusicPlayer(value);
            player->BuildContent(kClipPlayerWidth);
            player->SetFixedWidth(kClipPlayerWidth);
            player->SetFixedHeight(UIVirtualMusicPlayer::kHeight);
            height = UIVirtualMusicPlayer::kHeight;
            return player;
        }
    }
}

UIContainer* UIConnectionElement::CreateColumn(VLChoiceQuestion& record, int index, int& height) {
    height = 0;
    if (record.m_options.empty())
        return nullptr;
    ColumnKind kind = ColumnKind::kText;
    int width = kTextColumnWidth, padding = kTextColumnPadding;
    switch (record.m_options.front()->kind) {
        case VLQuestionOption::kPicture:
            kind = ColumnKind::kPicture;
            width = kPictureColumnWidth;
            padding = kPictureColumnPadding;
            break;
        case VLQuestionOption::kAudio:
            kind = ColumnKind::kAudio;
            width = kAudioColumnWidth;
            padding = kAudioColumnPadding;
            break;
        default:
            break;
    }
    auto* column = new UIVerticalLayout;
    column->SetChildPadding(padding);
    SetAreaDispatch(column);
    const int pointId = kFirstPointId + index;
    for (const auto& option : record.m_options) {
        int itemHeight = 0;
        UIControl* item = CreateItem(kind, option->value, itemHeight);

        auto* point = new UIControl;
        point->SetId(pointId);
        point->SetFixedWidth(kPointWidth);
        point->SetFixedHeight(kPointHeight);
        point->SetBkImage(KWStringUtils::Format("res='%d' restype='PNG'", kPointRes));
        point->SetUserData(std::to_string(option->index + 1));
        point->SetPadding({0, (itemHeight - kPointHeight) / 2, 0, 0});
        point->SetCursor("hand");
        SetAreaDispatch(point);
        m_points.push_back(point);

        auto* row = new UIHorizontalLayout;
        row->SetFixedHeight(itemHeight);
        row->SetControlDispatch(kDispatchMouseToParent);
        auto* gap = new UIControl;
        gap->SetControlDispatch(kDispatchMouseToParent);
        if (index == 0) {
            row->Add(item);
            row->Add(gap);
            row->Add(point);
        } else {
            row->Add(point);
            row->Add(gap);
            row->Add(item);
        }
        column->Add(row);
        height += itemHeight;
    }
    height += (static_cast<int>(record.m_options.size()) - 1) * padding;
    column->SetFixedWidth(width);
    column->SetFixedHeight(height);
    return column;
}

// ---- answer ----

std::string UIConnectionElement::GetAnswer() {
    std::string answer;
    for (const auto& [first, second] : m_lines) {
        if (!answer.empty())
            answer += ",";
        answer += KWStringUtils::Format("%s-%s", first->GetUserData().c_str(), second->GetUserData().c_str());
    }
    return answer;
}

UIControl* UIConnectionElement::FindPoint(int id, const std::string& userData) const {
    for (UIControl* p : m_points)
        if (p->GetId() == id && p->GetUserData() == userData)
            return p;
    return nullptr;
}

void UIConnectionElement::AddLine(UIControl* a, UIControl* b) {
    if (a->GetId() > b->GetId())
        std::swap(a, b);
    const std::pair<UIControl*, UIControl*> line{a, b};
    if (std::find(m_lines.begin(), m_lines.end(), line) == m_lines.end())
        m_lines.push_back(line);
}

void UIConnectionElement::SetAnswer(const std::string& answer) {
    m_lines.clear();
    if (!answer.empty()) {
        for (const std::string& entry : UIElementParts::Split(answer, ',')) {
            const std::vector<std::string> ends = UIElementParts::Split(entry, '-');
            if (ends.size() < 2)
                continue;
            UIControl* first = FindPoint(kFirstPointId, ends[0]);
            UIControl* second = FindPoint(kSecondPointId, ends[1]);
            if (first && second)
                AddLine(first, second);
        }
    }
    Invalidate();
}

void UIConnectionElement::SetEnabled(bool enabled) {
    UIQuestionElement::SetEnabled(enabled);
    for (UIButton* b : {m_undoButton, m_resetButton})
        if (b)
            b->SetEnabled(enabled);
    // The hand over a point says it can be dragged, so only while it can.
    for (UIControl* p : m_points)
        p->SetCursor(enabled ? "hand" : "");
    if (!enabled && m_dragging) {
        m_dragging = false;
        m_dragFrom = nullptr;
        Invalidate();
    }
}

// ---- mouse ----

void UIConnectionElement::OnLButtonDown(UIPoint pt) {
    if (!IsEnabled() || !m_manager)
        return;
    UIControl* c = m_manager->FindControl(pt);
    if (c && (c->GetId() == kFirstPointId || c->GetId() == kSecondPointId)) {
        m_dragging = true;
        m_dragFrom = c;
        m_mousePos = pt;
    }
}

UIRect UIConnectionElement::RubberBandRect() const {
    if (!m_dragFrom)
        return {};
    const UIPoint a = Anchor(m_dragFrom);
    const int pad = kLineWidth + 1;
    return UIRect{std::min(a.x, m_mousePos.x) - pad, std::min(a.y, m_mousePos.y) - pad,
                  std::max(a.x, m_mousePos.x) + pad, std::max(a.y, m_mousePos.y) + pad}
        .Intersect(m_rcItem);
}

void UIConnectionElement::OnMouseMove(UIPoint pt) {
    if (!IsEnabled())
        return;
    if (!m_dragging || !m_manager) {
        m_mousePos = pt;
        return;
    }
    // Only the line that follows the pointer changes: where it was and where it goes.
    m_manager->Invalidate(RubberBandRect());
    m_mousePos = pt;
    m_manager->Invalidate(RubberBandRect());
}

void UIConnectionElement::OnLButtonUp(UIPoint pt) {
    if (!IsEnabled() || !m_manager) {
        m_dragging = false;
        m_dragFrom = nullptr;
        return;
    }
    UIControl* c = m_manager->FindControl(pt);
    const int id = c ? c->GetId() : 0;
    if (m_dragging && m_dragFrom && (id == kFirstPointId || id == kSecondPointId) &&
        id != m_dragFrom->GetId())
        AddLine(m_dragFrom, c);
    if (id == UIElementParts::kUndoButtonId && !m_lines.empty())
        m_lines.pop_back();
    else if (id == UIElementParts::kResetButtonId)
        m_lines.clear();
    for (UIButton* b : {m_undoButton, m_resetButton}) {
        if (b && b->GetPos().Contains(pt)) {
            b->NeedParentUpdate();
            if (b->GetParent())
                b->GetParent()->Invalidate();
        }
    }
    m_dragging = false;
    m_dragFrom = nullptr;
    Invalidate();
}

// ---- painting ----

UIPoint UIConnectionElement::Anchor(const UIControl* point) {
    const UIRect& rc = point->GetPos();
    const int x = point->GetId() == kFirstPointId ? rc.right : rc.left;
    return {x, (rc.top + rc.bottom) / 2};
}

void UIConnectionElement::DoPaint(cairo_t* cr, const UIRect& rcPaint) {
    UIQuestionElement::DoPaint(cr, rcPaint);
    UIRect clip = m_rcItem.Intersect(rcPaint);
    if (GetScrollRange() > 0)
        clip.right = std::min(clip.right, GetScrollBarRect().left);
    if (clip.IsEmpty())
        return;
    const bool rubberBand = m_dragging && m_dragFrom && m_rcItem.Contains(m_mousePos) &&
                            !m_dragFrom->GetPos().Contains(m_mousePos);
    if (m_lines.empty() && !rubberBand)
        return;
    cairo_save(cr);
    cairo_rectangle(cr, clip.left, clip.top, clip.Width(), clip.Height());
    cairo_clip(cr);
    for (const auto& [first, second] : m_lines) {
        const UIPoint a = Anchor(first), b = Anchor(second);
        UIRenderUtils::DrawLine(cr, a.x, a.y, b.x, b.y, kLineWidth, kLineColor);
    }
    if (rubberBand) {
        const UIPoint a = Anchor(m_dragFrom);
        UIRenderUtils::DrawLine(cr, a.x, a.y, m_mousePos.x, m_mousePos.y, kLineWidth, kLineColor);
    }
    cairo_restore(cr);
}

}  // namespace KwLib
