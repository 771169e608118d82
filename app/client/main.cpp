#include "app/client/VLStartup.h"

int main(int argc, char** argv) {
    const std::string automation = KwLib::ParseStartupOptions(argc, argv).automation;
    return KwLib::RunClient(argc, argv, [&] { return KwLib::CreateStudentWindowHost(automation); });
}
