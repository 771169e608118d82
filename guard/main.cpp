#include <cstdio>
#include <string>

#include "guard/VLGuardApp.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWShellUtils.h"
#include "platform/common/KWStringUtils.h"

#ifndef VL_DEVELOPMENT_BUILD
#error "the build says whether this is a development or a package build"
#endif

// VLGuard takes no arguments. VL_GUARD_PORT moves the control server off its
// usual port (0 picks a free one), so that tests can run side by side.
int main() {
    using namespace KwLib;
    setvbuf(stdout, nullptr, _IOLBF, 0);
    VLGuardOptions options;
    options.developmentBuild = VL_DEVELOPMENT_BUILD != 0;
    options.guardDir = KWFileSystemUtils::GetOnlyDirPrefix(KWSharedLibrary::GetModuleFullName());
    std::string port = KWEnvironmentVariable::GetEnvironmentVar("VL_GUARD_PORT");
    if (!port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos) {
        int value = KWStringUtils::ConvertStringToInt32(port);
        if (value >= 0 && value <= 65535)
            options.port = value;
    }
    return VLGuardApp(options).Run();
}
