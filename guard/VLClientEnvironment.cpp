#include "guard/VLClientEnvironment.h"

#include <cstring>

namespace KwLib {

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// What a classroom PC's session gives a desktop program, and what a school may
// set on purpose to pick the sound or video system.
constexpr const char* kAlways[] = {
    "DISPLAY",
    "WAYLAND_DISPLAY",
    "XAUTHORITY",
    "HOME",
    "USER",
    "LOGNAME",
    "LANG",
    "LANGUAGE",
    "PATH",
    "TMPDIR",
    "TZ",
    "DBUS_SESSION_BUS_ADDRESS",
    "PULSE_SERVER",
    "SDL_AUDIODRIVER",
    "SDL_VIDEODRIVER",
    "GTK_IM_MODULE",
    "QT_IM_MODULE",
    "XMODIFIERS",
    "SDL_IM_MODULE",
};
constexpr const char* kAlwaysPrefixes[] = {"XDG_", "LC_"};

constexpr const char* kDevelopment[] = {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"};
constexpr const char* kDevelopmentPrefixes[] = {"VL_", "SDL_"};

template <size_t N, size_t M>
bool Matches(const std::string& name, const char* const (&names)[N], const char* const (&prefixes)[M]) {
    for (const char* n : names)
        if (name == n)
            return true;
    for (const char* p : prefixes)
        if (StartsWith(name, p) && name.size() > std::strlen(p))
            return true;
    return false;
}

}  // namespace

bool VLClientEnvironment::Keeps(const std::string& name, bool developmentBuild) {
    return Matches(name, kAlways, kAlwaysPrefixes) ||
           (developmentBuild && Matches(name, kDevelopment, kDevelopmentPrefixes));
}

std::vector<std::string> VLClientEnvironment::Clean(const char* const* environment, bool developmentBuild) {
    std::vector<std::string> kept;
    for (const char* const* entry = environment; entry && *entry; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (!equals)
            continue;
        const std::string name(*entry, static_cast<size_t>(equals - *entry));
        if (Keeps(name, developmentBuild))
            kept.emplace_back(*entry);
    }
    return kept;
}

}  // namespace KwLib
