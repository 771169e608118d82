#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/common/KWJson.h"

struct event_base;
struct evhttp;
struct evhttp_request;
struct event;
struct evhttp_connection;

namespace KwLib {

// Settings of one simulator instance. A port of 0 lets the system choose a free
// one (tests do this so that parallel runs and a running demo never collide).
struct VLSimConfig {
    std::string m_dataDir;  // working folder: generated files, uploads, paper
    // Folder of the files served under "/files/"; empty: "<data>/files/". Tests
    // share one so that the sample files are generated once per build.
    std::string m_filesDir;
    int m_apiPort = 9500;
    int m_downloadPort = 9501;
    int m_uploadPort = 9502;
    int m_remotePort = 9600;
    // Address prefix of the file URLs the simulator hands out (paper files, head
    // images, uploaded files). Empty: "http://127.0.0.1:<download port>".
    std::string m_fileBase;
    std::string m_paperFile;                     // a paper document to serve instead of the sample
    std::string m_logFile;                       // every received request appended as one JSON line
    std::string m_clientVersion = "1.7.1.1393";  // newest version the update check offers
    int m_examState = 1;
    // A classroom of this many students, numbers 1001 upwards; 0 keeps the
    // roster of three. Each student's exam then has a record id of its own and
    // the paper it is given names its files below "/s/<number>/", so that every
    // request and connection can be told to whom it belongs (Stats).
    int m_students = 0;
};

// What the simulator does wrong on purpose for one path.
struct VLSimFault {
    int m_delayMs = 0;           // answer only after this long
    bool m_drop = false;         // close the connection without an answer
    bool m_ignoreRange = false;  // send the whole file with 200 whatever Range asks
    int m_status = 0;            // answer with this HTTP status and an HTML page
    int64_t m_truncate = -1;     // send only this many body bytes, then close
    bool m_nonJson = false;      // answer 200 with an HTML page instead of JSON
    int m_times = -1;            // how many requests it applies to (HEAD not counted); -1 for all
};

// The platform on loopback: the API of the student client, file downloads with
// Range, multipart uploads, a generated sample paper, a record of everything
// received and switchable faults. Runs its own event loop thread; every public
// operation may be called from any thread. The host process should ignore
// SIGPIPE: clients that give up mid-answer are part of what it simulates.
class VLSimServer {
public:
    static constexpr const char* kSalt = "qlvzmtrewyhodsnapkbu";

    explicit VLSimServer(VLSimConfig config);
    ~VLSimServer();
    VLSimServer(const VLSimServer&) = delete;
    VLSimServer& operator=(const VLSimServer&) = delete;

    // Generates the sample files, binds 127.0.0.1 on the four ports and starts the
    // loop thread. False (with `error` set) when a port cannot be bound.
    bool Start(std::string* error = nullptr);
    // Stops the loop and joins its thread; safe to call twice.
    void Stop();

    int ApiPort() const { return m_ports[0]; }
    int DownloadPort() const { return m_ports[1]; }
    int UploadPort() const { return m_ports[2]; }
    int RemotePort() const { return m_ports[3]; }
    std::string FileBase() const;
    std::string ApiBase() const;  // "http://127.0.0.1:<api port>"
    const std::string& DataDir() const { return m_config.m_dataDir; }
    // Folder of the files served under "/files/".
    std::string FilesDir() const;
    std::string UploadsDir() const;

    void SetFault(const std::string& path, const VLSimFault& fault);
    // A fault for every request that arrives on one port ("api", "download",
    // "upload" or "remote"), such as a slow request port. A fault set for the
    // exact path of a request comes first.
    bool SetPortFault(const std::string& portName, const VLSimFault& fault);
    void ClearFaults();
    void SetExamState(int state);
    // What a successful sign-in tells about the exam: its time type (2 timed, 3
    // moving on by itself), its time limit in seconds and the instrument codes.
    void SetSignInExam(int timeType, int timeLimit, const std::string& instrument);
    // The newest version the update check offers.
    void SetOfferedVersion(const std::string& version);

    // Every request received so far (control requests excluded), oldest first.
    // Each names its connection ("conn": the port and the client's port), the
    // student it belongs to where a request tells ("student"), the milliseconds
    // since the start ("ms") and the body bytes answered ("bytes").
    KWJsonValue GetRecords() const;
    // The records summed up per student: requests (by kind), connections and
    // bytes, the most attempts at one file, and the totals with the busiest
    // second. A connection belongs to the student of any request it carried;
    // an upload to the student whose result names it.
    KWJsonValue Stats() const;
    void ClearRecords();
    // The paper served (the `data` member of the paper response): the sample
    // paper unless replaced.
    KWJsonValue GetPaper() const;
    void SetPaper(const KWJsonValue& paper);
    // Narrows the paper served to the items with these ids, in their places,
    // dropping groups left empty: a short paper made of sample questions.
    // False when none of the ids is in the paper (the paper is then unchanged).
    bool KeepItems(const std::vector<std::string>& ids);

private:
    struct Pending;
    static void OnRequest(evhttp_request* req, void* arg);
    static void OnDelayed(int fd, short what, void* arg);
    static void OnPendingClosed(evhttp_connection* conn, void* arg);

    // `delayed`: the fault this request met when it arrived, now that its delay
    // is over; `arrivedMs`: when it arrived (-1: now).
    void Handle(evhttp_request* req, int portIndex, const VLSimFault* delayed, int64_t arrivedMs);
    bool TakeFault(const std::string& path, int portIndex, bool count, VLSimFault& fault);
    // The key of the fault that applies to a request (its path, else its port), or "".
    std::string FaultKey(const std::string& path, int portIndex) const;
    void Record(KWJsonValue record);
    void HandleControl(evhttp_request* req, const std::string& path, const std::string& query);
    void HandleFile(evhttp_request* req, const std::string& path, const VLSimFault& fault,
                    KWJsonValue& record);
    void HandleUpload(evhttp_request* req, const VLSimFault& fault, KWJsonValue& record);
    KWJsonValue HandleApi(const std::string& path, const std::map<std::string, std::string>& fields,
                          KWJsonValue& record);
    void SendJson(evhttp_request* req, const KWJsonValue& value, const VLSimFault& fault);
    void SendText(evhttp_request* req, int status, const std::string& contentType, const std::string& body,
                  const VLSimFault& fault);
    void LoadPaper();
    // The student a request names (number as text), or "".
    std::string StudentOf(const std::string& path, const std::map<std::string, std::string>& fields) const;
    int64_t RecordIdOf(const std::string& number) const;

    VLSimConfig m_config;
    int m_ports[4] = {0, 0, 0, 0};
    event_base* m_base = nullptr;
    // Activated by Stop(): unlike a loop break, an activation made before the
    // loop thread has entered its loop is not lost.
    event* m_stopEvent = nullptr;
    evhttp* m_http[4] = {nullptr, nullptr, nullptr, nullptr};
    struct PortBinding {
        VLSimServer* server;
        int index;
    } m_bindings[4];
    std::thread m_thread;
    std::atomic<bool> m_running{false};

    mutable std::mutex m_mutex;  // guards the fields below
    std::map<std::string, VLSimFault> m_faults;
    KWJsonValue m_records{Json::arrayValue};
    int64_t m_seq = 0;
    int m_examState = 1;
    int m_signInTimeType = 2;
    int m_signInTimeLimit = 3600;
    std::string m_signInInstrument = "1,2,3,4,5,6";
    std::string m_offeredVersion;
    KWJsonValue m_paper;
    std::map<std::string, std::string> m_roster;  // student number -> name
    std::vector<Pending*> m_pending;              // delayed requests (loop thread only)
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
};

}  // namespace KwLib
