#include "app/client/VLStartup.h"

int main(int argc, char** argv) {
    return KwLib::RunClient(argc, argv, KwLib::CreateStudentWindowHost);
}
