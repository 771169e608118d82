#include "elements/UIElementParts.h"

#include <charconv>
#include <cmath>

#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib::UIElementParts {

UIButton* CreateSmallButton(const std::string& text, int id, int width, int height, bool corner) {
    auto* button = new UIButton;
    button->SetId(id);
    button->SetText(text);
    button->SetFixedWidth(width);
    if (height > 0)
        button->SetFixedHeight(height);
    button->SetAttribute("align", "center vcen wordbreak");
    button->SetTextColor(0xFFFFFFFF);
    button->SetDisabledTextColor(0xFFF4F4F4);
    const char* nine = corner ? " corner='5,5,5,5'" : "";
    button->SetNormalImage(
        KWStringUtils::Format("res='%d' restype='PNG' source='0,0,58,24'%s", kButtonRes, nine));
    button->SetHotImage(
        KWStringUtils::Format("res='%d' restype='PNG' source='0,24,58,48'%s", kButtonRes, nine));
    button->SetPushedImage(
        KWStringUtils::Format("res='%d' restype='PNG' source='0,48,58,72'%s", kButtonRes, nine));
    // Outside the answering time the buttons look as inactive as they are.
    button->SetDisabledImage(
        KWStringUtils::Format("res='%d' restype='PNG' source='0,72,58,96'%s", kButtonRes, nine));
    return button;
}

void SetDispatch(UIControl* c, std::initializer_list<int> flags) {
    for (int f : flags)
        c->SetControlDispatch(f);
}

int WrappedTextHeight(UIPaintManager* pm, const std::string& text, const std::string& font, int width) {
    const UISize line = UIRenderUtils::GetTextSize(pm, text, font, DT_SINGLELINE | DT_NOPREFIX);
    const int lines = static_cast<int>(std::ceil(line.cx / static_cast<double>(std::max(width, 1))));
    int height = lines * line.cy;
    if (lines > 1) {
        const UISize wrapped = UIRenderUtils::GetTextSize(pm, text, font, DT_WORDBREAK | DT_NOPREFIX, width);
        height = std::max(height, wrapped.cy);
    }
    return height;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

bool ParseInt(const std::string& text, int& value) {
    if (text.empty())
        return false;
    const char* begin = text.data();
    const char* end = begin + text.size();
    int v = 0;
    auto [ptr, ec] = std::from_chars(begin, end, v);
    if (ec != std::errc() || ptr != end)
        return false;
    value = v;
    return true;
}

}  // namespace KwLib::UIElementParts
