#include "app/client/VLReadinessCheck.h"
#include "app/client/VLStartup.h"

int main(int argc, char** argv) {
    const KwLib::VLStartupOptions options = KwLib::ParseStartupOptions(argc, argv);
    // The technician's readiness check runs beside a running client and changes nothing.
    if (options.check)
        return KwLib::RunReadinessCheck();
    return KwLib::RunClient(argc, argv, [&] { return KwLib::CreateStudentWindowHost(options.automation); });
}
