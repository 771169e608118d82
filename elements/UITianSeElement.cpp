#include "elements/UITianSeElement.h"

#include <algorithm>

#include "elements/UIElementParts.h"
#include "exam/VLQuestion.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILayout.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIResource.h"

namespace KwLib {

namespace {

// As large as the 20-pixel row allows: the caption says which part of the picture a row colours.
constexpr const char* kCaptionFont = "CustomFont14";

void SetAreaDispatch(UIControl* c) {
    UIElementParts::SetDispatch(c, {kDispatchButtonDown, kDispatchButtonUp, kDispatchMouseMove, kDispatchMouseToParent});
}

}  // namespace

UITianSeElement::~UITianSeElement() {
    // The painted copy belongs to this question on screen; the next one starts from the file.
    auto& cache = UIResourceSingleton::Instance();
    if (m_picture && cache.FindImage(m_picturePath) == m_picture)
        cache.RemoveImage(m_picturePath);
}

void UITianSeElement::AddContent() {
    m_rows.clear();
    auto* question = dynamic_cast<VLTianSeQuestiont*>(m_question);
    if (!question || !m_stem)
        return;
    SetAreaDispatch(m_stem);

    // A fresh copy of the picture under its path: painting changes its pixels.
    m_picturePath = question->m_picture;
    auto& cache = UIResourceSingleton::Instance();
    UIImageInfo info;
    if (!m_picturePath.empty() && UILoadResource::ImageInfoFromFile(m_picturePath, info))
        m_picture = cache.AddImage(m_picturePath, std::move(info));
    else
        VL_LOG_WARN("the colouring picture %s cannot be read", m_picturePath.c_str());
    int w = m_picture ? m_picture->Width() : 0, h = m_picture ? m_picture->Height() : 0;
    if (w > kContentWidth) {
        h = static_cast<int>(static_cast<int64_t>(h) * kContentWidth / w);
        w = kContentWidth;
    }
    m_pictureBlock = new UIContainer;
    m_pictureBlock->SetFixedWidth(w);
    m_pictureBlock->SetFixedHeight(h);
    m_pictureBlock->SetBkImage(KWStringUtils::Format("file='%s'", m_picturePath.c_str()));
    m_pictureBlock->SetPadding({0, 0, 0, 10});
    m_pictureBlock->SetControlDispatch(kDispatchMouseToParent);
    m_stem->Add(m_pictureBlock);

    for (size_t i = 0; i < question->m_options.size(); ++i) {
        const VLColouringOption& option = question->m_options[i];
        Row row;
        row.group = kFirstGroupId + static_cast<int>(i);
        row.mask = option.picture;
        // Decoded once now, painted from whenever a colour is chosen.
        if (!row.mask.empty())
            cache.GetImage(row.mask);

        auto* caption = new UIControl;
        caption->SetFixedHeight(20);
        caption->SetText(option.text);
        caption->SetAttribute("align", "vcen left singleline");
        caption->SetFont(kCaptionFont);
        SetAreaDispatch(caption);
        m_stem->Add(caption);

        auto* palette = new UIGridList;
        palette->SetItemSize({kSwatchSize, kSwatchSize});
        // Swatches a little apart read as separate choices.
        palette->SetItemMargin(UISize{kSwatchGap, kSwatchGap});
        palette->SetUserData(row.mask);
        const int columns = (kContentWidth + kSwatchGap) / (kSwatchSize + kSwatchGap);
        const int lines = std::max<int>(1, (static_cast<int>(option.colors.size()) + columns - 1) / columns);
        palette->SetFixedHeight(lines * kSwatchSize + (lines - 1) * kSwatchGap);
        SetAreaDispatch(palette);
        const std::string group = std::to_string(row.group);
        for (size_t k = 0; k < option.colors.size(); ++k) {
            // "#RRGGBB" is read as the six digits it carries.
            std::string rgb = option.colors[k];
            if (!rgb.empty() && rgb[0] == '#')
                rgb.erase(0, 1);
            auto* swatch = new UIOption;
            swatch->SetAttribute("normalbkcolor", KWStringUtils::Format("0xff%s", rgb.c_str()));
            swatch->SetId(kSwatchId);
            swatch->SetBorderSize(1);
            swatch->SetBorderColor(kSwatchBorderColor);
            swatch->SetTag(static_cast<intptr_t>(k));
            swatch->SetGroup(group);
            swatch->SetSelectedImage(
                KWStringUtils::Format("res='%d' restype='PNG' dest='32,32,50,50'", kCheckRes));
            SetAreaDispatch(swatch);
            palette->Add(swatch);
            row.swatches.push_back(swatch);
        }
        m_stem->Add(palette);
        if (m_manager) {
            for (UIOption* swatch : row.swatches)
                m_manager->AddGroup(group, swatch);
        }
        m_rows.push_back(std::move(row));
    }
}

// ---- answer ----

std::string UITianSeElement::GetAnswer() {
    std::string answer;
    bool any = false;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        int chosen = -1;
        for (UIOption* swatch : m_rows[i].swatches)
            if (swatch->IsSelected())
                chosen = static_cast<int>(swatch->GetTag());
        any = any || chosen >= 0;
        if (i > 0)
            answer += ",";
        answer += std::to_string(chosen);
    }
    return any ? answer : std::string();
}

void UITianSeElement::SetAnswer(const std::string& answer) {
    if (answer.empty())
        return;
    const std::vector<std::string> parts = UIElementParts::Split(answer, ',');
    if (parts.size() != m_rows.size())
        return;
    for (size_t i = 0; i < parts.size(); ++i) {
        int v = -1;
        if (!UIElementParts::ParseInt(parts[i], v))
            v = -1;
        const UIOption* chosen = nullptr;
        for (UIOption* swatch : m_rows[i].swatches) {
            const bool on = swatch->GetTag() == v;
            swatch->Selected(on, false);
            if (on)
                chosen = swatch;
        }
        if (chosen && m_pictureBlock)
            PaintRegion(m_rows[i], *chosen);
    }
}

void UITianSeElement::SetEnabled(bool enabled) {
    for (const Row& row : m_rows)
        for (UIOption* swatch : row.swatches)
            swatch->SetEnabled(enabled);
    UIQuestionElement::SetEnabled(enabled);
}

void UITianSeElement::OnLButtonUp(UIPoint pt) {
    if (!IsEnabled() || !m_manager || !m_pictureBlock)
        return;
    UIControl* c = m_manager->FindControl(pt);
    if (!c || c->GetId() != kSwatchId)
        return;
    for (const Row& row : m_rows) {
        if (std::find(row.swatches.begin(), row.swatches.end(), c) == row.swatches.end())
            continue;
        // The row's chosen colour: a press begun on another swatch chose nothing,
        // and the picture must show what the answer says.
        for (const UIOption* swatch : row.swatches)
            if (swatch->IsSelected())
                PaintRegion(row, *swatch);
        return;
    }
}

// ---- painting the picture ----

void UITianSeElement::PaintRegion(const Row& row, const UIOption& swatch) {
    if (!m_picture || row.mask.empty())
        return;
    std::shared_ptr<UIImageData> mask = UIResourceSingleton::Instance().GetImage(row.mask);
    if (!mask)
        return;
    const size_t pictureCount = static_cast<size_t>(m_picture->Width()) * m_picture->Height();
    const size_t maskCount = static_cast<size_t>(mask->Width()) * mask->Height();
    // The mask has the picture's layout; a larger one would reach past its end.
    if (pictureCount < maskCount)
        return;
    const UIColor colour = swatch.GetNormalBkColor();
    const uint32_t r = (colour >> 16) & 0xFF, g = (colour >> 8) & 0xFF, b = colour & 0xFF;
    const uint32_t* in = mask->Pixels();
    uint32_t* out = m_picture->Pixels();
    for (size_t i = 0; i < maskCount; ++i) {
        const uint32_t a = in[i] >> 24;
        if (a == 0)
            continue;
        // The cache keeps premultiplied pixels: the colour is scaled by the mask's alpha.
        out[i] = (a << 24) | ((r * a + 127) / 255) << 16 | ((g * a + 127) / 255) << 8 | ((b * a + 127) / 255);
    }
    m_picture->MarkDirty();
    m_pictureBlock->Invalidate();
}

}  // namespace KwLib
