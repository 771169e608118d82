// vl-automate: sends commands to a program's automation socket and prints the
// answers, one line each. Driver scripts in bash or Python build on it.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/common/KWJson.h"
#include "platform/common/KWLineSocketClient.h"

namespace {

using KwLib::KWJsonValue;

constexpr int kExitFailed = 1;
constexpr int kExitTrouble = 2;

void Usage(FILE* to) {
    std::fputs(
        "Usage: vl-automate [--socket PATH] [--timeout SECONDS] [--keep-going] [COMMAND...]\n"
        "\n"
        "Sends each COMMAND to the automation socket of a running program and prints\n"
        "each answer on its own line. A COMMAND is one JSON object, such as\n"
        "'{\"cmd\":\"click\",\"id\":514}', or a bare command name such as state.\n"
        "Without COMMANDs, reads one command per line from standard input (blank\n"
        "lines and lines starting with # are skipped).\n"
        "\n"
        "  --socket PATH      the socket given to the program with -automation=PATH\n"
        "                     (default: the environment variable VL_AUTOMATION_SOCKET)\n"
        "  --timeout SECONDS  longest wait for one answer (default 300; \"wait\" adds its own)\n"
        "  --keep-going       go on after an answer with \"ok\": false\n"
        "\n"
        "Exit status: 0 when every answer had \"ok\": true, 1 when one did not (the\n"
        "commands after it are not sent unless --keep-going), 2 when the program\n"
        "could not be reached or did not answer.\n",
        to);
}

// A bare word is shorthand for a command without fields.
std::string RequestLine(const std::string& command) {
    size_t start = command.find_first_not_of(" \t");
    if (start != std::string::npos && command[start] == '{')
        return command;
    KWJsonValue request(Json::objectValue);
    request["cmd"] = command;
    return KwLib::KWJsonWriter::Write(request);
}

// The answer of a "wait" may take as long as the wait itself.
int AnswerTimeoutMs(const std::string& line, int timeoutMs) {
    KWJsonValue request;
    if (!KwLib::KWJsonReader::Parse(line, request) || !request.isObject())
        return timeoutMs;
    const KWJsonValue& ms = KwLib::KWJsonUtils::Member(request, "ms");
    if (KwLib::KWJsonUtils::AsString(KwLib::KWJsonUtils::Member(request, "cmd")) == "wait" && ms.isInt() &&
        ms.asInt() > 0)
        return timeoutMs + ms.asInt();
    return timeoutMs;
}

}  // namespace

int main(int argc, char** argv) {
    std::string socketPath;
    if (const char* env = std::getenv("VL_AUTOMATION_SOCKET"))
        socketPath = env;
    int timeoutMs = 300 * 1000;
    bool keepGoing = false;
    std::vector<std::string> commands;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* name) -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vl-automate: %s needs a value\n", name);
                std::exit(kExitTrouble);
            }
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            Usage(stdout);
            return 0;
        } else if (arg == "--socket" || arg == "-s") {
            socketPath = value("--socket");
        } else if (arg.rfind("--socket=", 0) == 0) {
            socketPath = arg.substr(9);
        } else if (arg == "--timeout") {
            std::string text = value("--timeout");
            char* end = nullptr;
            long seconds = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end || seconds <= 0 || seconds > 86400) {
                std::fprintf(stderr, "vl-automate: bad --timeout \"%s\"\n", text.c_str());
                return kExitTrouble;
            }
            timeoutMs = static_cast<int>(seconds * 1000);
        } else if (arg == "--keep-going" || arg == "-k") {
            keepGoing = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            std::fprintf(stderr, "vl-automate: unknown option %s\n", arg.c_str());
            Usage(stderr);
            return kExitTrouble;
        } else {
            commands.push_back(arg);
        }
    }
    if (socketPath.empty()) {
        std::fprintf(stderr, "vl-automate: no socket (use --socket or VL_AUTOMATION_SOCKET)\n");
        return kExitTrouble;
    }

    KwLib::KWLineSocketClient client;
    std::string error;
    if (!client.Connect(socketPath, &error)) {
        std::fprintf(stderr, "vl-automate: cannot reach the program: %s\n", error.c_str());
        return kExitTrouble;
    }
    bool fromStdin = commands.empty();
    int status = 0;
    size_t next = 0;
    for (;;) {
        std::string command;
        if (fromStdin) {
            if (!std::getline(std::cin, command))
                break;
            size_t start = command.find_first_not_of(" \t\r");
            if (start == std::string::npos || command[start] == '#')
                continue;
            if (command.back() == '\r')
                command.pop_back();
        } else {
            if (next >= commands.size())
                break;
            command = commands[next++];
        }
        std::string line = RequestLine(command);
        std::string answer;
        if (!client.SendLine(line)) {
            std::fprintf(stderr, "vl-automate: the program closed the connection\n");
            return kExitTrouble;
        }
        if (!client.ReadLine(answer, AnswerTimeoutMs(line, timeoutMs))) {
            std::fprintf(stderr, "vl-automate: no answer to %s\n", line.c_str());
            return kExitTrouble;
        }
        std::fwrite(answer.data(), 1, answer.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
        KWJsonValue parsed;
        bool ok = KwLib::KWJsonReader::Parse(answer, parsed) && parsed.isObject() &&
                  KwLib::KWJsonUtils::Member(parsed, "ok").isBool() &&
                  KwLib::KWJsonUtils::Member(parsed, "ok").asBool();
        if (!ok) {
            status = kExitFailed;
            if (!keepGoing)
                break;
        }
    }
    return status;
}
