#include "elements/UIChoiceElement.h"

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

constexpr const char* kOptionFont = "CustomFont14";
constexpr UIColor kOptionDisabledTextColor = 0xFF474747;
constexpr int kPictureMaxHeight = 250;
constexpr int kAudioOptionHeight = 42;
constexpr int kMinTextOptionHeight = 17;

// An option that still shows its check while disabled: the student's answer
// must stay visible outside the answering time. The fifth sprite cell is that
// selected-and-disabled look.
class UIChoiceOption : public UIOption {
public:
    void SetSelectedDisabledImage(const std::string& image) {
        m_selectedDisabledImage = image;
        Invalidate();
    }
    void PaintStatusImage(cairo_t* cr) override {
        if (IsSelected() && !IsEnabled() && !m_selectedDisabledImage.empty()) {
            DrawImage(cr, m_selectedDisabledImage);
            return;
        }
        UIOption::PaintStatusImage(cr);
    }

private:
    std::string m_selectedDisabledImage;
};

// The picture box of a picture option. It lies over its option, so a click on
// the picture is a click on the option; a double-click is the box's own.
class UIOptionPictureBox : public UIContainer {
public:
    explicit UIOptionPictureBox(UIOption* option) : m_option(option) {}
    bool Activate() override { return IsVisible() && m_option->Activate(); }

private:
    UIOption* m_option;  // a sibling in the same row
};

std::string SpriteImage(int res, int cell, int y) {
    return KWStringUtils::Format("res='%d' restype='PNG' source='%d,0,%d,15' dest='0,%d,15,%d'", res,
                                 cell * 15, cell * 15 + 15, y, y + 15);
}

}  // namespace

bool UIChoiceElement::GetStyle(Style& style) const {
    if (!m_question)
        return false;
    const int section = m_question->m_section;
    switch (m_question->m_type) {
        case kQuestionSingleChoice:
            if (section == 3)
                return false;
            style = Style{};
            style.radioGroup = kRadioGroup;
            style.maxPictureWidth = section == 2 ? 303 : 645;
            return true;
        case kQuestionMultiChoice:
            if (section == 3)
                return false;
            style = Style{};
            style.optionId = kMultiOptionId;
            style.managerGroup = kMultiGroup;
            style.spriteRes = kCheckSpriteRes;
            style.maxPictureWidth = section == 2 ? 303 : 645;
            return true;
        case kQuestionJudge:
            style = Style{};
            style.radioGroup = kRadioGroup;
            style.maxPictureWidth = 303;
            style.letters = false;
            return true;
        default:
            return false;
    }
}

void UIChoiceElement::AddContent() {
    UISingElement::AddContent();
    m_options.clear();
    m_twoPerLine = false;
    auto* question = dynamic_cast<VLChoiceQuestion*>(m_question);
    Style style;
    if (!question || !m_stem || !GetStyle(style))
        return;

    UISize letter = UIRenderUtils::GetTextSize(m_manager, "D. ", kOptionFont, DT_SINGLELINE | DT_NOPREFIX);
    m_letterWidth = letter.cx;
    m_letterHeight = letter.cy;

    std::vector<std::pair<UIHorizontalLayout*, int>> rows;
    bool allPictures = true;
    bool allHalfWide = true;
    for (size_t i = 0; i < question->m_options.size(); ++i) {
        VLQuestionOption& record = *question->m_options[i];
        record.position = static_cast<int>(i);
        int height = 0;
        UIHorizontalLayout* row = CreateOptionRow(record, style, height);
        rows.emplace_back(row, height);
        allPictures = allPictures && record.kind == VLQuestionOption::kPicture;
        allHalfWide = allHalfWide && row->GetFixedWidth() <= kHalfWidth;
    }
    m_twoPerLine = !rows.empty() && allPictures && (question->m_section != 1 || allHalfWide);
    PlaceRows(rows, m_twoPerLine);
    if (m_manager) {
        for (UIOption* option : m_options)
            m_manager->AddGroup(style.managerGroup, option);
    }
}

UIHorizontalLayout* UIChoiceElement::CreateOptionRow(const VLQuestionOption& record, const Style& style,
                                                     int& height) {
    auto* row = new UIHorizontalLayout;
    row->SetControlDispatch(kDispatchMouseToParent);
    row->SetAttribute("autominheight", "true");

    auto* option = new UIChoiceOption;
    option->SetFont(kOptionFont);
    option->SetTextPadding({kOptionTextIndent, 0, 0, 0});
    option->SetDisabledTextColor(kOptionDisabledTextColor);
    option->SetId(style.optionId);
    if (*style.radioGroup)
        option->SetGroup(style.radioGroup);
    const char letter = static_cast<char>('A' + record.position);
    const int L = m_letterWidth;

    int width = 0;
    int rowWidth = 0;
    UIControl* besides = nullptr;
    switch (record.kind) {
        case VLQuestionOption::kPicture: {
            option->SetText(KWStringUtils::Format("%c. ", letter));
            option->SetAttribute("align", "left vcen wordbreak");
            const int maxW = style.maxPictureWidth - L;
            UISize size = ReadPictureSize(record.value);
            PictureFit fit = FitPicture(size.cx, size.cy, maxW, kPictureMaxHeight);
            width = L + kOptionTextIndent + fit.boxWidth;
            height = fit.boxHeight;
            auto* box = new UIOptionPictureBox(option);
            box->SetBorderSize(kPictureBorder);
            box->SetBorderColor(kPictureBorderColor);
            box->SetId(kPictureBoxId);
            box->SetUserData(record.value);
            box->SetControlNotify(kNotifyDblClick);
            box->SetControlDispatch(kDispatchMouseToParent);
            box->SetToolTip(kPictureToolTip);
            box->SetToolTipDelay(500);
            box->SetBkImage(KWStringUtils::Format("file='%s' source='%d,%d,%d,%d' dest='%d,%d,%d,%d'",
                                                  record.value.c_str(), fit.source.left, fit.source.top,
                                                  fit.source.right, fit.source.bottom, fit.dest.left,
                                                  fit.dest.top, fit.dest.right, fit.dest.bottom));
            // Inside the option, after its letter.
            box->UIControl::SetFloatPos(
                {L + kOptionTextIndent, 0, L + kOptionTextIndent + fit.boxWidth, fit.boxHeight});
            if (fit.cut && fit.source.Width() > kZoomButtonSize && fit.source.Height() > kZoomButtonSize)
                box->Add(CreateZoomButton(record.value, fit.boxWidth, fit.boxHeight));
            besides = box;
            rowWidth = width;
            break;
        }
        case VLQuestionOption::kAudio: {
            option->SetText(KWStringUtils::Format("%c. ", letter));
            option->SetAttribute("align", "left vcen wordbreak");
            width = L + kOptionTextIndent;
            height = std::max(kAudioOptionHeight, m_letterHeight);
            auto* player = new UIVirtualMusicPlayer(record.value);
            player->BuildContent(kClipPlayerWidth);
            player->SetPadding({0, (height - UIVirtualMusicPlayer::kHeight) / 2, 0, 0});
            besides = player;
            rowWidth = width + kClipPlayerWidth;
            break;
        }
        default: {
            const std::string text =
                style.letters ? KWStringUtils::Format("%c. %s", letter, record.value.c_str()) : record.value;
            option->SetText(text);
            option->SetAttribute("align", "left top wordbreak");
            const UISize line =
                UIRenderUtils::GetTextSize(m_manager, text, kOptionFont, DT_SINGLELINE | DT_NOPREFIX);
            const int textWidth = kContentWidth - kOptionTextIndent;
            width = std::min(line.cx + kOptionTextIndent, kContentWidth);
            height = std::max(UIElementParts::WrappedTextHeight(m_manager, text, kOptionFont, textWidth),
                              kMinTextOptionHeight);
            rowWidth = width;
            break;
        }
    }

    const int y = static_cast<int>(std::ceil((height - kCheckSize) * 0.5));
    option->SetNormalImage(SpriteImage(style.spriteRes, 0, y));
    option->SetHotImage(SpriteImage(style.spriteRes, 1, y));
    option->SetSelectedImage(SpriteImage(style.spriteRes, 2, y));
    option->SetDisabledImage(SpriteImage(style.spriteRes, 3, y));
    option->SetSelectedDisabledImage(SpriteImage(style.spriteRes, 4, y));
    option->SetFixedWidth(width);
    option->SetFixedHeight(height);
    option->SetControlDispatch(kDispatchMouseToParent);
    option->SetUserData(std::to_string(record.index));
    m_options.push_back(option);

    row->Add(option);
    if (besides)
        row->Add(besides);
    row->SetFixedWidth(rowWidth);
    return row;
}

void UIChoiceElement::PlaceRows(const std::vector<std::pair<UIHorizontalLayout*, int>>& rows,
                                bool twoPerLine) {
    if (!twoPerLine) {
        for (const auto& [row, height] : rows)
            m_stem->Add(row);
        return;
    }
    for (size_t i = 0; i < rows.size(); i += 2) {
        const bool pair = i + 1 < rows.size();
        const int lineHeight = pair ? std::max(rows[i].second, rows[i + 1].second) : rows[i].second;
        auto* line = new UIHorizontalLayout;
        line->SetFixedWidth(kContentWidth);
        line->SetControlDispatch(kDispatchMouseToParent);
        line->SetAttribute("autominheight", "true");
        line->SetFixedHeight(lineHeight);
        for (size_t k = i; k < std::min(i + 2, rows.size()); ++k) {
            auto [row, height] = rows[k];
            // Each row takes half of the line, vertically centred in it.
            row->SetPadding(
                {0, (lineHeight - height) / 2, std::max(0, kHalfWidth - row->GetFixedWidth()), 0});
            line->Add(row);
        }
        m_stem->Add(line);
    }
}

std::string UIChoiceElement::GetAnswer() {
    std::string answer;
    for (UIOption* option : m_options) {
        if (!option->IsSelected())
            continue;
        if (!answer.empty())
            answer += ",";
        answer += option->GetUserData();
    }
    return answer;
}

void UIChoiceElement::SetAnswer(const std::string& answer) {
    if (answer.empty())
        return;
    std::vector<std::string> tokens;
    size_t start = 0;
    while (true) {
        size_t comma = answer.find(',', start);
        tokens.push_back(
            answer.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    for (UIOption* option : m_options) {
        for (const std::string& token : tokens) {
            if (token == option->GetUserData()) {
                // A restored answer is no click: no notifications.
                option->Selected(true, false);
                break;
            }
        }
    }
}

void UIChoiceElement::SetEnabled(bool enabled) {
    for (UIOption* option : m_options)
        option->SetEnabled(enabled);
}

}  // namespace KwLib
