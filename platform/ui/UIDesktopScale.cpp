#include "platform/ui/UIDesktopScale.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "platform/common/KWStringUtils.h"

namespace KwLib {

std::string UIDesktopScale::ReadX11Resources() {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return {};
    std::string text;
    if (const char* resources = XResourceManagerString(display))
        text = resources;
    XCloseDisplay(display);
    return text;
}

double UIDesktopScale::FromXftDpi(const std::string& resources) {
    std::istringstream lines(resources);
    std::string line;
    double dpi = 0;
    while (std::getline(lines, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string name = KWStringUtils::Trim(line.substr(0, colon));
        if (name != "Xft.dpi" && name != "Xft*dpi")
            continue;
        const std::string value = KWStringUtils::Trim(line.substr(colon + 1));
        char* end = nullptr;
        const double v = std::strtod(value.c_str(), &end);
        if (end != value.c_str() && v > 0 && v < 10000)
            dpi = v;  // the last one counts, as in the resource database
    }
    if (dpi <= 0)
        return 1.0;
    return std::clamp(dpi / 96.0, 1.0, 4.0);
}

}  // namespace KwLib
