#pragma once
// KWLineSocketClient: the other end of a KWLineSocketServer: connects to a
// Unix stream socket, sends a line and reads the answer line. One thread.
#include <string>

namespace KwLib {

class KWLineSocketClient {
public:
    KWLineSocketClient() = default;
    ~KWLineSocketClient();
    KWLineSocketClient(const KWLineSocketClient&) = delete;
    KWLineSocketClient& operator=(const KWLineSocketClient&) = delete;

    bool Connect(const std::string& socketPath, std::string* error = nullptr);
    bool IsConnected() const { return m_fd >= 0; }
    // Sends `line` and a newline. False when the server has gone.
    bool SendLine(const std::string& line);
    // Reads the next line (without its newline); false on end of stream, on
    // an error or when nothing complete came within `timeoutMs` (-1: no limit).
    bool ReadLine(std::string& line, int timeoutMs = -1);
    // Sends a request and reads its answer.
    bool Exchange(const std::string& request, std::string& answer, int timeoutMs = -1);
    void Close();

private:
    int m_fd = -1;
    std::string m_buffer;
};

}  // namespace KwLib
