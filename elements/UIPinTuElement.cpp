#include "elements/UIPinTuElement.h"

#include <algorithm>
#include <random>

#include "elements/UIElementParts.h"
#include "exam/VLQuestion.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILayout.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

namespace {

constexpr UIColor kAreaColor = 0xFFF2F2F2;
constexpr UIColor kGridColor = 0xFFE6E6E6;
constexpr UIColor kCellColor = 0xFFFFFFFF;
// More pieces than this a side would leave cells too small to take hold of.
constexpr int kMaxSide = 20;

using UIElementParts::SetDispatch;
void SetAreaDispatch(UIControl* c) {
    SetDispatch(c, {kDispatchButtonDown, kDispatchButtonUp, kDispatchDblClick, kDispatchMouseMove,
                    kDispatchMouseToParent});
}

// A stable number from the question id (FNV-1a), so a question scatters its pieces the same way each time.
uint32_t Fingerprint(const std::string& text) {
    uint32_t h = 2166136261u;
    for (unsigned char c : text) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

}  // namespace

bool UIPinTuElement::IsDefaultCell(const UIControl* cell) const {
    return HasDefault() && static_cast<size_t>(m_defaultNo) <= m_cells.size() &&
           m_cells[m_defaultNo - 1] == cell;
}

std::string UIPinTuElement::PieceImage(int number) const {
    const int w = m_pictureWidth, h = m_pictureHeight;
    const int pw = w / m_indexX, ph = h / m_indexY;
    const int col = (number - 1) % m_indexX, row = (number - 1) / m_indexX;
    int right = (col + 1) * pw, bottom = (row + 1) * ph;
    if (w != 0)
        right = std::min(right, w);
    if (h != 0)
        bottom = std::min(bottom, h);
    return KWStringUtils::Format("file='%s' source='%d,%d,%d,%d'", m_picture.c_str(), col * pw, row * ph,
                                 right, bottom);
}

void UIPinTuElement::AddContent() {
    m_cells.clear();
    m_pieces.clear();
    m_board.Clear();
    m_board.SetHooks({[this](UIControl* piece, UIControl* cell) {
                          const int number = std::stoi(piece->GetUserData());
                          cell->SetBkImage(PieceImage(number));
                          cell->SetUserData(piece->GetUserData());
                          cell->SetToolTip(kPlacedToolTip);
                      },
                      [this](UIControl* cell) { ClearCell(cell); },
                      // A placed piece is hidden; taken back, it lies where it lay.
                      [](UIControl* piece, bool placed) { piece->SetVisible(!placed); }});
    auto* question = dynamic_cast<VLPinTuQuestion*>(m_question);
    if (!question || !m_stem)
        return;
    m_indexX = question->m_nIndexX;
    m_indexY = question->m_nIndexY;
    m_defaultNo = question->m_defaultNo;
    m_picture = question->m_picture;
    if (m_indexX <= 0 || m_indexY <= 0 || m_indexX > kMaxSide || m_indexY > kMaxSide) {
        VL_LOG_ERROR("UIPinTuElement::Init()...Error, m_indexX and m_indexY is error");
        m_indexX = m_indexY = 0;
        return;
    }
    SetAreaDispatch(m_stem);

    const bool stacked = question->m_setType == 1;
    const UISize board = stacked ? UISize{kContentWidth, 230} : UISize{430, 380};
    const UISize tray = stacked ? UISize{kContentWidth, 141} : UISize{235, 400};
    UIContainer* panel = stacked ? static_cast<UIContainer*>(new UIVerticalLayout)
                                 : static_cast<UIContainer*>(new UIHorizontalLayout);
    panel->SetAttribute("autominheight", "true");
    // What the width leaves goes between board and tray.
    panel->SetChildPadding(stacked ? 10 : kContentWidth - board.cx - tray.cx);
    SetAreaDispatch(panel);

    auto* area = new UIVerticalLayout;
    area->SetBkColor(kAreaColor);
    area->SetFixedWidth(board.cx);
    area->SetFixedHeight(board.cy);
    area->SetControlDispatch(kDispatchMouseToParent);
    panel->Add(area);

    // The picture keeps its proportions in the board, less a 2-pixel frame round every cell.
    const UISize size = ReadPictureSize(m_picture);
    m_pictureWidth = size.cx;
    m_pictureHeight = size.cy;
    const int A = board.cx - (2 * m_indexX + 2), B = board.cy - (2 * m_indexY + 2);
    int fw = size.cx, fh = size.cy;
    if (fw <= 0 || fh <= 0) {
        // Not there (yet): the board still shows its cells.
        fw = A;
        fh = B;
    } else if (fw > A && fh > B) {
        if (static_cast<double>(fw) / fh >= static_cast<double>(A) / B) {
            fh = static_cast<int>(static_cast<int64_t>(size.cy) * A / size.cx);
            fw = A;
        } else {
            fw = static_cast<int>(static_cast<int64_t>(size.cx) * B / size.cy);
            fh = B;
        }
    } else if (fh > B) {
        fw = static_cast<int>(static_cast<int64_t>(size.cx) * B / size.cy);
        fh = B;
    } else if (fw > A) {
        fh = static_cast<int>(static_cast<int64_t>(size.cy) * A / size.cx);
        fw = A;
    }
    const int cw = std::max(1, fw / m_indexX), ch = std::max(1, fh / m_indexY);

    m_grid = new UIGridList;
    m_grid->SetBkColor(kGridColor);
    // A 1-pixel inset plus a 1-pixel margin round every cell.
    m_grid->SetInset({2, 2, 2, 2});
    m_grid->SetItemSize({cw, ch});
    m_grid->SetItemMargin(UISize{2, 2});
    m_grid->SetColumns(m_indexX);
    SetAreaDispatch(m_grid);
    const int gridW = m_indexX * (cw + 2) + 2, gridH = m_indexY * (ch + 2) + 2;
    m_grid->SetFixedWidth(gridW);
    m_grid->SetFixedHeight(gridH);
    m_grid->SetPadding({(board.cx - gridW) / 2, (board.cy - gridH) / 2, 0, 0});
    for (int i = 0; i < m_indexX * m_indexY; ++i) {
        auto* cell = new UIControl;
        cell->SetId(kCellId);
        cell->SetBkColor(kCellColor);
        cell->SetUserData("-1");
        cell->SetToolTipDelay(500);
        SetAreaDispatch(cell);
        m_grid->Add(cell);
        m_cells.push_back(cell);
    }
    area->Add(m_grid);

    m_tray = new UIContainer;
    m_tray->SetBkColor(kAreaColor);
    m_tray->SetFixedWidth(tray.cx);
    m_tray->SetFixedHeight(tray.cy);
    m_tray->SetControlDispatch(kDispatchMouseToParent);
    panel->Add(m_tray);
    m_stem->Add(panel);

    auto* buttons = new UIHorizontalLayout;
    buttons->SetFixedHeight(24);
    buttons->SetPadding({0, 0, 15, 8});
    buttons->SetChildPadding(8);
    buttons->SetControlDispatch(kDispatchMouseToParent);
    buttons->Add(new UIControl);
    m_undoButton = UIElementParts::CreateSmallButton(UIElementParts::kUndoText, UIElementParts::kUndoButtonId,
                                                     66, 0, true);
    m_resetButton = UIElementParts::CreateSmallButton(UIElementParts::kResetText,
                                                      UIElementParts::kResetButtonId, 66, 0, true);
    buttons->Add(m_undoButton);
    buttons->Add(m_resetButton);
    m_stem->Add(buttons);

    for (int k = 1; k <= m_indexX * m_indexY; ++k) {
        auto* piece = new UIControl;
        piece->SetId(kPieceId);
        piece->SetUserData(std::to_string(k));
        SetDispatch(piece,
                    {kDispatchButtonDown, kDispatchButtonUp, kDispatchMouseMove, kDispatchMouseToParent});
        piece->SetBkImage(PieceImage(k));
        // A white edge tells the pieces lying over each other apart.
        piece->SetBorderSize(1);
        piece->SetBorderColor(0xFFFFFFFF);
        m_tray->Add(piece);
        m_pieces.push_back(piece);
    }
    ScatterPieces(cw, ch);
    InitAnswer();
}

void UIPinTuElement::ScatterPieces(int cw, int ch) {
    // Spread like cards dealt over the table: on a grid that leaves as much of
    // every piece in sight as the tray allows, in shuffled order (reading order
    // would give the answer away), each nudged a little.
    // The default piece never lies in the tray.
    std::vector<UIControl*> loose;
    for (size_t i = 0; i < m_pieces.size(); ++i) {
        m_pieces[i]->SetAttribute("float", "true");
        m_pieces[i]->SetAttribute("pos", KWStringUtils::Format("0,0,%d,%d", cw, ch));
        if (static_cast<int>(i) + 1 != m_defaultNo)
            loose.push_back(m_pieces[i]);
    }
    const int n = static_cast<int>(loose.size());
    if (n == 0)
        return;
    const int trayW = m_tray->GetFixedWidth(), trayH = m_tray->GetFixedHeight();
    const int spanX = std::max(0, trayW - cw), spanY = std::max(0, trayH - ch);
    int columns = 1;
    double best = -1;
    for (int c = 1; c <= n; ++c) {
        const int r = (n + c - 1) / c;
        const double stepX = c > 1 ? static_cast<double>(spanX) / (c - 1) : cw;
        const double stepY = r > 1 ? static_cast<double>(spanY) / (r - 1) : ch;
        const double seen = std::min<double>(stepX, cw) * std::min<double>(stepY, ch);
        if (seen > best + 0.5) {
            best = seen;
            columns = c;
        }
    }
    const int rows = (n + columns - 1) / columns;
    std::minstd_rand random(Fingerprint(m_question ? m_question->m_id : std::string()) | 1u);
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), random);
    const int jitter = std::min({4, spanX / 8, spanY / 8});
    for (int i = 0; i < n; ++i) {
        const int c = i % columns, r = i / columns;
        int x = columns > 1 ? spanX * c / (columns - 1) : spanX / 2;
        int y = rows > 1 ? spanY * r / (rows - 1) : spanY / 2;
        if (jitter > 0) {
            x += static_cast<int>(random() % (2 * jitter + 1)) - jitter;
            y += static_cast<int>(random() % (2 * jitter + 1)) - jitter;
        }
        x = std::clamp(x, 0, spanX);
        y = std::clamp(y, 0, spanY);
        UIControl* piece = loose[order[i]];
        piece->SetAttribute("pos", KWStringUtils::Format("%d,%d,%d,%d", x, y, x + cw, y + ch));
    }
    // The tray paints later children on top: keep the dealt order.
    for (int i = 0; i < n; ++i)
        m_tray->SetItemIndex(loose[order[i]], i);
}

// ---- answer ----

void UIPinTuElement::InitAnswer() {
    if (m_indexX <= 0 || m_indexY <= 0) {
        VL_LOG_ERROR("UIPinTuElement::Init()...Error,ques->m_nIndexX and ques->m_nIndexY is error");
        return;
    }
    const int count = m_indexX * m_indexY;
    if (m_defaultAnswer.empty()) {
        for (int i = 0; i < count; ++i)
            m_defaultAnswer += i ? ",-1" : "-1";
    }
    std::vector<std::string> entries = UIElementParts::Split(m_defaultAnswer, ',');
    if (HasDefault() && static_cast<size_t>(m_defaultNo) <= entries.size())
        entries[m_defaultNo - 1] = std::to_string(m_defaultNo);
    if (entries.size() != static_cast<size_t>(count) || m_cells.size() != entries.size())
        return;
    // The default piece sits in its own cell whatever the answer says.
    if (HasDefault()) {
        UIControl* cell = m_cells[m_defaultNo - 1];
        cell->SetBkImage(PieceImage(m_defaultNo));
        cell->SetToolTip(kDefaultToolTip);
        m_pieces[m_defaultNo - 1]->SetVisible(false);
    }
    // Each piece in one cell at most, the default piece in its own only.
    m_board.Restore(
        entries, m_cells,
        [this, count](const std::string&, int number) { return number <= count && number != m_defaultNo ? m_pieces[number - 1] : nullptr; },
        [this](const UIControl* cell) { return !IsDefaultCell(cell); });
}

std::string UIPinTuElement::GetAnswer() {
    if (m_indexX <= 0 || m_indexY <= 0) {
        VL_LOG_ERROR("UIPinTuElement::GetResult()...Error, m_indexX and m_indexY is error");
        return std::string();
    }
    std::string answer;
    for (size_t i = 0; i < m_cells.size(); ++i) {
        if (i > 0)
            answer += ",";
        answer += m_cells[i]->GetUserData();
    }
    return answer;
}

void UIPinTuElement::SetAnswer(const std::string& answer) {
    if (m_indexX <= 0 || m_indexY <= 0) {
        VL_LOG_ERROR("UIPinTuElement::SetResult()...Error, m_indexX and m_indexY is error");
        return;
    }
    m_defaultAnswer = answer;
    InitAnswer();
}

void UIPinTuElement::SetEnabled(bool enabled) {
    UIQuestionElement::SetEnabled(enabled);
    for (UIButton* b : {m_undoButton, m_resetButton})
        if (b)
            b->SetEnabled(enabled);
    if (!enabled)
        m_board.EndDrag(m_manager);
}

// ---- placing ----

void UIPinTuElement::ClearCell(UIControl* cell) {
    cell->SetBkImage("");
    cell->SetUserData("-1");
    cell->SetToolTip("");
}

bool UIPinTuElement::IsDraggable(const UIControl* c) const {
    return c && ((c->GetId() == kCellId && c->GetUserData() != "-1") || c->GetId() == kPieceId);
}

// ---- mouse ----

void UIPinTuElement::OnLButtonDown(UIPoint pt) {
    m_board.EndDrag(m_manager);
    if (!IsEnabled() || !m_manager)
        return;
    UIControl* c = m_manager->FindControl(pt);
    if (IsDraggable(c)) {
        m_board.BeginDrag(c, pt);
        m_manager->SetCursor("hand");
    }
}

void UIPinTuElement::OnMouseMove(UIPoint pt) {
    if (!IsEnabled() || !m_manager)
        return;
    if (m_board.GetDragFrom()) {
        m_board.DragTo(m_manager, pt);
        return;
    }
    if (IsDraggable(m_manager->FindControl(pt)))
        m_manager->SetCursor("hand");
}

void UIPinTuElement::OnLButtonUp(UIPoint pt) {
    if (!IsEnabled() || !m_manager) {
        m_board.EndDrag(m_manager);
        return;
    }
    UIControl* c = m_manager->FindControl(pt);
    UIControl* from = m_board.GetDragFrom();
    const bool drop = from && c && c->GetId() == kCellId && KWStringUtils::CompareNoCase(c->GetUserData(), "-1") == 0;
    if (drop) {
        if (!IsDefaultCell(c)) {
            if (from->GetId() == kCellId)
                m_board.Move(from, c);
            else
                m_board.Place(from, c);
            m_manager->SetCursor("arrow");
        }
    } else if (c && c->GetId() == UIElementParts::kUndoButtonId && c->IsEnabled()) {
        m_board.UndoLast();
        Invalidate();
    } else if (c && c->GetId() == UIElementParts::kResetButtonId && c->IsEnabled()) {
        m_board.UndoAll();
        Invalidate();
    }
    m_board.EndDrag(m_manager);
}

void UIPinTuElement::OnLButtonDblClk(UIPoint pt) {
    if (!IsEnabled() || !m_manager)
        return;
    UIControl* c = m_manager->FindControl(pt);
    if (c && c->GetId() == kCellId && m_board.UndoOn(c))
        Invalidate();
}

// ---- painting ----

void UIPinTuElement::DoPaint(cairo_t* cr, const UIRect& rcPaint) {
    UIQuestionElement::DoPaint(cr, rcPaint);
    // The piece follows the pointer, faded, until it is dropped.
    if (UIControl* from = m_board.GetDragFrom())
        m_board.PaintGhost(cr, m_rcItem.Intersect(rcPaint), from->GetBkImage(), 0, 0);
}

}  // namespace KwLib
