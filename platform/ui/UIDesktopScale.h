#pragma once
// The desktop's wish for the size of windows under X11: the "Xft.dpi"
// setting that desktops (GNOME, KDE, xrdb) put into the X server's resource
// database for a high-resolution screen. 96 dots per inch is scale 1.
#include <string>

namespace KwLib {

class UIDesktopScale {
public:
    // The resource database of the display named by $DISPLAY; empty when
    // there is none or no X server answers.
    static std::string ReadX11Resources();
    // The scale an "Xft.dpi" line of `resources` asks for; 1 without one or
    // for nonsense. Kept within 1 to 4: the exam is never drawn smaller than
    // its layout.
    static double FromXftDpi(const std::string& resources);
};

}  // namespace KwLib
