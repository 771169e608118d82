#include "app/client/VLReadinessCheck.h"
#include "app/client/VLStartup.h"

#ifndef VL_DEVELOPMENT_BUILD
#error "the build says whether this is a development or a package build"
#endif
#ifndef VL_AUTOMATION_GATE_FILE
#error "the build names the administrator's file that enables the automation channel"
#endif

int main(int argc, char** argv) {
    const KwLib::VLStartupOptions options = KwLib::ParseStartupOptions(argc, argv);
    // The technician's readiness check runs beside a running client and changes nothing.
    if (options.check)
        return KwLib::RunReadinessCheck();
    // Compiled in: nothing a student's account sets (environment, files of its
    // own) can turn a package build's channel on.
    const KwLib::VLAutomationPolicy policy{VL_DEVELOPMENT_BUILD != 0, VL_AUTOMATION_GATE_FILE};
    return KwLib::RunClient(argc, argv, policy, [](const std::string& automation) {
        return KwLib::CreateStudentWindowHost(automation);
    });
}
