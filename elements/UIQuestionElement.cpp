#include "elements/UIQuestionElement.h"

#include <cmath>

#include "elements/UIElementParts.h"
#include "exam/VLQuestion.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIRenderUtils.h"
#include "platform/ui/UIResource.h"

namespace KwLib {

namespace {

constexpr const char* kImageMarker = "/:img";
constexpr const char* kHeadingFont = "CustomFont18";
constexpr const char* kTextFont = "CustomFont16";
constexpr const char* kTextAlign = "left top wordbreak";

// Instrument items of the singing type carry their instrument in front of the text.
const char* InstrumentPrefix(int instrument) {
    switch (instrument) {
        case 1:
            return "【口琴】";
        case 2:
            return "【竖笛】";
        case 3:
            return "【陶笛】";
        case 4:
            return "【葫芦丝】";
        case 5:
            return "【口风琴】";
        default:
            return "";
    }
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (true) {
        size_t nl = text.find('\n', start);
        std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        // Documents written on Windows end their lines with "\r\n"; a lone "\r"
        // would start a second line inside a label measured for one.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    return lines;
}

}  // namespace

UIQuestionElement::~UIQuestionElement() = default;

void UIQuestionElement::InitQuestion(VLQuestionBase* question) {
    if (m_stem) {
        VL_LOG_WARN("the element of question %s is built already",
                    m_question ? m_question->m_id.c_str() : "(none)");
        return;
    }
    m_question = question;
    EnableScrollBar(true, false);

    auto stem = std::make_unique<UIVerticalLayout>();
    stem->SetChildPadding(10);
    stem->SetPadding({15, 10, 5, 5});
    stem->SetAttribute("autominheight", "true");
    stem->SetControlDispatch(kDispatchMouseToParent);
    m_stem = stem.get();
    Add(std::move(stem));

    BuildStem();
    AddContent();
    UpdateStemHeight();
}

void UIQuestionElement::UpdateStemHeight() {
    if (!m_stem)
        return;
    // Estimated with no space given: every part of the stem has its own size.
    UISize size = m_stem->EstimateSize({0, 0});
    m_stem->SetFixedHeight(size.cy);
    NeedUpdate();
}

void UIQuestionElement::SetEnabled(bool enabled) {
    UIControl::SetEnabled(enabled);
}

int UIQuestionElement::CalcTextHeight(const std::string& font, const std::string& text) {
    return UIElementParts::WrappedTextHeight(m_manager, text, font, kContentWidth);
}

UIControl* UIQuestionElement::CreateTextLabel(const std::string& text, const std::string& font) {
    auto* label = new UIControl;
    label->SetText(text);
    label->SetAttribute("align", kTextAlign);
    label->SetControlDispatch(kDispatchMouseToParent);
    label->SetFont(font);
    label->SetTextColor(kTextColor);
    label->SetFixedWidth(kContentWidth);
    label->SetFixedHeight(CalcTextHeight(font, text));
    return label;
}

UIQuestionElement::PictureFit UIQuestionElement::FitPicture(int w, int h, int maxW, int maxH) {
    PictureFit fit;
    w = std::max(0, w);
    h = std::max(0, h);
    const int b = kPictureBorder;
    if (w <= maxW && h <= maxH) {
        fit.source = {0, 0, w, h};
        fit.dest = {b, b, w + b, h + b};
        fit.boxWidth = w + 2 * b;
        fit.boxHeight = h + 2 * b;
        return fit;
    }
    fit.cut = true;
    if (w <= maxW) {
        int top = (h - maxH) / 2;
        fit.source = {0, top, w, top + maxH};
        fit.dest = {b, b, w + b, maxH + b};
        fit.boxWidth = w + 2 * b;
        fit.boxHeight = maxH + 2 * b;
    } else if (h <= maxH) {
        int left = (w - maxW) / 2;
        fit.source = {left, 0, left + maxW, h};
        fit.dest = {b, b, maxW + b, h + b};
        fit.boxWidth = maxW + 2 * b;
        fit.boxHeight = h + 2 * b;
    } else {
        // Too large both ways: cut the middle part that has the frame's proportions.
        if (static_cast<double>(w) / h >= static_cast<double>(maxW) / maxH) {
            int c = static_cast<int>(static_cast<int64_t>(h) * maxW / static_cast<double>(maxH));
            int left = (w - c) / 2;
            fit.source = {left, 0, left + c, h};
        } else {
            int c = static_cast<int>(static_cast<int64_t>(w) * maxH / static_cast<double>(maxW));
            int top = (h - c) / 2;
            fit.source = {0, top, w, top + c};
        }
        fit.dest = {b, b, maxW + b, maxH + b};
        fit.boxWidth = maxW + 2 * b;
        fit.boxHeight = maxH + 2 * b;
    }
    return fit;
}

UISize UIQuestionElement::ReadPictureSize(const std::string& path) {
    if (path.empty())
        return {};
    // Through the image cache: the picture is drawn from the same decoded copy.
    auto image = UIResourceSingleton::Instance().GetImage(path);
    if (!image)
        return {};
    return {image->Width(), image->Height()};
}

UIButton* UIQuestionElement::CreateZoomButton(const std::string& path, int boxW, int boxH) {
    auto* button = new UIButton;
    button->SetId(kZoomButtonId);
    button->SetFixedWidth(kZoomButtonSize);
    button->SetFixedHeight(kZoomButtonSize);
    button->SetPadding({boxW - 28, boxH - 28, 0, 0});
    button->SetNormalImage(
        KWStringUtils::Format("res='%d' restype='PNG' source='0,0,25,25'", kZoomButtonRes));
    button->SetHotImage(KWStringUtils::Format("res='%d' restype='PNG' source='25,0,50,25'", kZoomButtonRes));
    button->SetUserData(path);
    return button;
}

UIContainer* UIQuestionElement::CreateImageBox(const std::string& path) {
    UISize size = ReadPictureSize(path);
    PictureFit fit = FitPicture(size.cx, size.cy, kStemPictureWidth, kStemPictureHeight);

    auto* box = new UIContainer;
    box->SetBkImage(KWStringUtils::Format(
        "file='%s' source='%d,%d,%d,%d' dest='%d,%d,%d,%d'", path.c_str(), fit.source.left, fit.source.top,
        fit.source.right, fit.source.bottom, fit.dest.left, fit.dest.top, fit.dest.right, fit.dest.bottom));
    box->SetBorderSize(kPictureBorder);
    box->SetBorderColor(kPictureBorderColor);
    box->SetControlDispatch(kDispatchMouseToParent);
    box->SetId(kPictureBoxId);
    box->SetUserData(path);
    box->SetControlNotify(kNotifyDblClick);
    box->SetToolTip(kPictureToolTip);
    box->SetToolTipDelay(500);
    box->SetFixedWidth(fit.boxWidth);
    box->SetFixedHeight(fit.boxHeight);
    if (fit.cut && fit.source.Width() > kZoomButtonSize && fit.source.Height() > kZoomButtonSize)
        box->Add(CreateZoomButton(path, fit.boxWidth, fit.boxHeight));
    return box;
}

void UIQuestionElement::BuildStem() {
    if (!m_question || !m_stem)
        return;
    const VLQuestionBase& q = *m_question;

    if (q.m_indexInGroup == 0 && !q.m_instruction.empty()) {
        auto* heading = new UIControl;
        heading->SetText(q.m_instruction);
        heading->SetAttribute("align", kTextAlign);
        heading->SetFont(kHeadingFont);
        heading->SetPadding({0, 0, 0, 8});
        heading->SetControlDispatch(kDispatchMouseToParent);
        heading->SetFixedWidth(kContentWidth);
        heading->SetFixedHeight(CalcTextHeight(kHeadingFont, q.m_instruction));
        m_stem->Add(heading);
    }

    std::string text = q.m_content;
    if (q.m_type == kQuestionSing || q.m_type == kQuestionInstrument)
        text = InstrumentPrefix(q.m_instrument) + text;
    std::string title = KWStringUtils::Format("%d.%s", q.m_indexInGroup + 1, text.c_str());

    auto body = std::make_unique<UIVerticalLayout>();
    body->SetControlDispatch(kDispatchMouseToParent);
    body->SetAttribute("autominheight", "true");
    body->SetChildPadding(8);
    const std::string marker = kImageMarker;
    size_t picture = 0;  // markers count over the whole text
    for (const std::string& line : SplitLines(title)) {
        if (line.find(marker) == std::string::npos) {
            body->Add(CreateTextLabel(line, kTextFont));
            continue;
        }
        size_t start = 0;
        for (size_t at = line.find(marker); at != std::string::npos; at = line.find(marker, start)) {
            if (at > start)
                body->Add(CreateTextLabel(line.substr(start, at - start), kTextFont));
            // A text with more markers than pictures still shows a (blank) box for each.
            const std::string path = picture < q.m_contentImages.size() ? q.m_contentImages[picture] : "";
            ++picture;
            body->Add(CreateImageBox(path));
            start = at + marker.size();
        }
        if (start < line.size())
            body->Add(CreateTextLabel(line.substr(start), kTextFont));
    }
    m_stem->Add(std::move(body));
}

}  // namespace KwLib
