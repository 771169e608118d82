#pragma once
#include <string>
#include <vector>

namespace KwLib {

// The environment the guard hands the client it starts. The guard may have been
// started from anywhere (a terminal, a session script), and whatever it carries
// would reach every client a page asks for: only what a desktop program needs
// goes on, i.e. its display, sound, folders, language and input method. Nothing
// that changes how a program is loaded (LD_PRELOAD, LD_LIBRARY_PATH) passes.
// Development builds also pass the switches of the project's own tests
// (VL_*, every SDL_* variable, the sanitizers' options), so that a client a
// browser test starts through the guard can be driven and measured.
class VLClientEnvironment {
public:
    // The kept "NAME=value" entries of `environment` (a null-terminated list,
    // as `environ`), in their order.
    static std::vector<std::string> Clean(const char* const* environment, bool developmentBuild);
    static bool Keeps(const std::string& name, bool developmentBuild);
};

}  // namespace KwLib
