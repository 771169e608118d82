#include "tools/platform-sim/VLSimServer.h"

#include <arpa/inet.h>
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>
#include <event2/keyvalq_struct.h>
#include <event2/thread.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>

#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWMD5Utils.h"
#include "platform/common/KWStringToken.h"
#include "platform/common/KWStringUtils.h"
#include "tools/platform-sim/VLSimAssets.h"

namespace KwLib {

namespace {

const char* const kPortNames[4] = {"api", "download", "upload", "remote"};

std::string Lower(const std::string& s) {
    return KWStringUtils::MakeLower(s);
}

// "a=1&b=2" into pairs, without percent-decoding: the client places values into
// its URLs as they are, so the raw text is what it meant. The result text is the
// last pair of its templates and may itself hold "&" and "=", so "result" takes
// the rest of the text (up to the version pair the client appends).
std::map<std::string, std::string> ParsePairs(const std::string& text) {
    std::map<std::string, std::string> out;
    size_t pos = 0;
    while (pos <= text.size()) {
        if (text.compare(pos, 7, "result=") == 0) {
            std::string rest = text.substr(pos + 7);
            // The client appends its version after the result.
            size_t version = rest.rfind("&client_version=");
            if (version != std::string::npos && rest.find('&', version + 1) == std::string::npos) {
                out["client_version"] = rest.substr(version + 16);
                rest.resize(version);
            }
            out["result"] = rest;
            break;
        }
        size_t amp = text.find('&', pos);
        std::string pair = text.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
        if (!pair.empty()) {
            size_t eq = pair.find('=');
            if (eq == std::string::npos)
                out[pair] = "";
            else
                out[pair.substr(0, eq)] = pair.substr(eq + 1);
        }
        if (amp == std::string::npos)
            break;
        pos = amp + 1;
    }
    return out;
}

std::string BodyOf(evhttp_request* req) {
    evbuffer* in = evhttp_request_get_input_buffer(req);
    size_t len = evbuffer_get_length(in);
    std::string body(len, '\0');
    if (len)
        evbuffer_copyout(in, body.data(), len);
    return body;
}

const char* MethodName(evhttp_cmd_type t) {
    switch (t) {
        case EVHTTP_REQ_GET:
            return "GET";
        case EVHTTP_REQ_POST:
            return "POST";
        case EVHTTP_REQ_HEAD:
            return "HEAD";
        default:
            return "OTHER";
    }
}

// Splits the raw request target into path and query. A client URL without "?"
// still carries "&client_version=..." appended to the path; that belongs to the query.
void SplitTarget(const std::string& target, std::string& path, std::string& query) {
    size_t q = target.find('?');
    if (q == std::string::npos) {
        size_t amp = target.find('&');
        path = target.substr(0, amp);
        query = amp == std::string::npos ? "" : target.substr(amp);
    } else {
        path = target.substr(0, q);
        query = target.substr(q + 1);
    }
}

// "none" for a GET without query, "ok" or "bad" otherwise.
std::string CheckSignature(const std::string& target) {
    size_t q = target.find('?');
    if (q == std::string::npos || q + 1 == target.size())
        return "none";
    std::string query = target.substr(q + 1);
    size_t sig = query.rfind("&signature=");
    if (sig == std::string::npos)
        return "bad";
    std::string given = query.substr(sig + 11);
    std::string signedPart = query.substr(0, sig);
    std::string expected = Lower(KWMD5Utils::CalcuteMD5String(signedPart + VLSimServer::kSalt));
    return given == expected ? "ok" : "bad";
}

// Digits only (empty allowed, as a missing bound), within 64 bits.
bool ParseDecimal(const std::string& text, int64_t& value) {
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > (INT64_MAX - (c - '0')) / 10)
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

KWJsonValue Envelope(int code, const std::string& msg) {
    KWJsonValue v(Json::objectValue);
    v["code"] = code;
    v["msg"] = msg;
    return v;
}

std::string Field(const std::map<std::string, std::string>& f, const char* key) {
    auto it = f.find(key);
    return it == f.end() ? std::string() : it->second;
}

}  // namespace

struct VLSimServer::Pending {
    VLSimServer* server;
    evhttp_request* req;
    evhttp_connection* conn;
    event* timer;
    int portIndex;
    int64_t arrivedMs;
    // The fault as taken on arrival: a fault for one request is gone from the table by now.
    VLSimFault fault;
};

VLSimServer::VLSimServer(VLSimConfig config) : m_config(std::move(config)) {
    if (!m_config.m_dataDir.empty() && m_config.m_dataDir.back() != '/')
        m_config.m_dataDir += '/';
    m_examState = m_config.m_examState;
    m_offeredVersion = m_config.m_clientVersion;
    m_roster = {{"1001", "张三"}, {"1002", "李四"}, {"1003", "王小明"}};
    for (int i = 3; i < m_config.m_students; ++i)
        m_roster[std::to_string(1001 + i)] = "学生" + std::to_string(1001 + i);
}

int64_t VLSimServer::RecordIdOf(const std::string& number) const {
    // Past 32 bits on purpose: the id must survive as a 64-bit number.
    constexpr int64_t kFirstRecord = 8589934597LL;
    if (m_config.m_students <= 0)
        return kFirstRecord;
    return kFirstRecord + (std::stoll(number) - 1001);
}

std::string VLSimServer::StudentOf(const std::string& path,
                                   const std::map<std::string, std::string>& fields) const {
    // m_roster is not changed after construction: no lock needed.
    auto known = [this](const std::string& number) { return m_roster.count(number) ? number : std::string(); };
    auto number = [&](const char* key, int64_t offset) {
        int64_t v = 0;
        auto it = fields.find(key);
        if (it == fields.end() || !ParseDecimal(it->second, v) || v < offset)
            return std::string();
        return known(std::to_string(v - offset));
    };
    if (path.rfind("/s/", 0) == 0)
        return known(path.substr(3, path.find('/', 3) - 3));
    for (const char* key : {"student_num", "student_no"}) {
        auto it = fields.find(key);
        if (it != fields.end() && !known(it->second).empty())
            return it->second;
    }
    std::string who = number("student_id", 7000000000LL);
    if (who.empty() && m_config.m_students > 0) {
        who = number("record_id", 8589934597LL - 1001);
        if (who.empty())
            who = number("exam_record_id", 8589934597LL - 1001);
    }
    if (who.empty() && path == "/api2/studentLogin") {
        auto it = fields.find("password");
        if (it != fields.end())
            who = known(it->second);
    }
    return who;
}

VLSimServer::~VLSimServer() {
    Stop();
}

std::string VLSimServer::FilesDir() const {
    if (m_config.m_filesDir.empty())
        return m_config.m_dataDir + "files/";
    return m_config.m_filesDir.back() == '/' ? m_config.m_filesDir : m_config.m_filesDir + "/";
}
std::string VLSimServer::UploadsDir() const {
    return m_config.m_dataDir + "uploads/";
}

std::string VLSimServer::FileBase() const {
    if (!m_config.m_fileBase.empty())
        return m_config.m_fileBase;
    return "http://127.0.0.1:" + std::to_string(m_ports[1]);
}

std::string VLSimServer::ApiBase() const {
    return "http://127.0.0.1:" + std::to_string(m_ports[0]);
}

bool VLSimServer::Start(std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        for (auto*& h : m_http) {
            if (h)
                evhttp_free(h);
            h = nullptr;
        }
        if (m_base)
            event_base_free(m_base);
        m_base = nullptr;
        return false;
    };
    if (m_config.m_dataDir.empty())
        return fail("no data folder");
    if (!KWFilePathUtils::CreateDirectories(UploadsDir()) || !VLSimAssets::GenerateSampleFiles(FilesDir()))
        return fail("cannot write the sample files into " + m_config.m_dataDir);

    static std::once_flag threadsOnce;
    std::call_once(threadsOnce, [] { evthread_use_pthreads(); });
    m_base = event_base_new();
    if (!m_base)
        return fail("event_base_new failed");

    const int wanted[4] = {m_config.m_apiPort, m_config.m_downloadPort, m_config.m_uploadPort,
                           m_config.m_remotePort};
    for (int i = 0; i < 4; ++i) {
        m_http[i] = evhttp_new(m_base);
        m_bindings[i] = {this, i};
        evhttp_set_allowed_methods(m_http[i], EVHTTP_REQ_GET | EVHTTP_REQ_POST | EVHTTP_REQ_HEAD);
        evhttp_set_gencb(m_http[i], &VLSimServer::OnRequest, &m_bindings[i]);
        evhttp_bound_socket* bound = evhttp_bind_socket_with_handle(m_http[i], "127.0.0.1", wanted[i]);
        if (!bound)
            return fail(
                KWStringUtils::Format("cannot listen on 127.0.0.1:%d (%s port)", wanted[i], kPortNames[i]));
        sockaddr_in addr{};
        socklen_t len = sizeof(addr);
        getsockname(evhttp_bound_socket_get_fd(bound), reinterpret_cast<sockaddr*>(&addr), &len);
        m_ports[i] = ntohs(addr.sin_port);
    }
    LoadPaper();
    m_stopEvent = event_new(
        m_base, -1, 0, [](evutil_socket_t, short, void* base) { event_base_loopbreak(static_cast<event_base*>(base)); },
        m_base);
    if (!m_stopEvent)
        return fail("event_new failed");
    m_running = true;
    m_thread = std::thread([this] { event_base_dispatch(m_base); });
    return true;
}

void VLSimServer::Stop() {
    if (!m_base)
        return;
    if (m_thread.joinable()) {
        event_active(m_stopEvent, EV_READ, 0);
        m_thread.join();
    }
    event_free(m_stopEvent);
    m_stopEvent = nullptr;
    for (Pending* p : m_pending) {
        evhttp_connection_set_closecb(p->conn, nullptr, nullptr);
        event_free(p->timer);
        delete p;
    }
    m_pending.clear();
    for (auto*& h : m_http) {
        if (h)
            evhttp_free(h);
        h = nullptr;
    }
    event_base_free(m_base);
    m_base = nullptr;
    m_running = false;
}

void VLSimServer::LoadPaper() {
    KWJsonValue paper;
    if (!m_config.m_paperFile.empty()) {
        auto text = KWFile::ReadAll(m_config.m_paperFile);
        KWJsonValue root;
        if (text && KWJsonReader::Parse(*text, root) && root.isObject())
            paper = root.isMember("data") ? root["data"] : root;
    }
    if (paper.isNull())
        paper = VLSimAssets::BuildSamplePaper(FileBase());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_paper = paper;
}

void VLSimServer::SetPaper(const KWJsonValue& paper) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_paper = paper;
}

bool VLSimServer::KeepItems(const std::vector<std::string>& ids) {
    std::lock_guard<std::mutex> lock(m_mutex);
    KWJsonValue narrowed = m_paper;
    int kept = 0;
    for (const char* section : {"1", "2", "3"}) {
        if (!m_paper[section].isArray())
            continue;
        KWJsonValue groups(Json::arrayValue);
        for (const KWJsonValue& group : m_paper[section]) {
            KWJsonValue g = group;
            g["question"] = KWJsonValue(Json::arrayValue);
            for (const KWJsonValue& item : group["question"]) {
                if (item.isObject() && item["id"].isString() &&
                    std::find(ids.begin(), ids.end(), item["id"].asString()) != ids.end())
                    g["question"].append(item);
            }
            if (g["question"].empty())
                continue;
            // The group announces how many questions it holds.
            if (g["conf"].isObject())
                g["conf"]["number"] = std::to_string(g["question"].size());
            kept += static_cast<int>(g["question"].size());
            groups.append(g);
        }
        narrowed[section] = groups;
    }
    if (kept == 0)
        return false;
    m_paper = narrowed;
    return true;
}

KWJsonValue VLSimServer::GetPaper() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_paper;
}

void VLSimServer::SetFault(const std::string& path, const VLSimFault& fault) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults[path] = fault;
}

bool VLSimServer::SetPortFault(const std::string& portName, const VLSimFault& fault) {
    if (std::find(std::begin(kPortNames), std::end(kPortNames), portName) == std::end(kPortNames))
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults["port:" + portName] = fault;
    return true;
}

void VLSimServer::ClearFaults() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
}

void VLSimServer::SetExamState(int state) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_examState = state;
}

void VLSimServer::SetOfferedVersion(const std::string& version) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_offeredVersion = version;
}

void VLSimServer::SetSignInExam(int timeType, int timeLimit, const std::string& instrument) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signInTimeType = timeType;
    m_signInTimeLimit = timeLimit;
    m_signInInstrument = instrument;
}

KWJsonValue VLSimServer::GetRecords() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

KWJsonValue VLSimServer::Stats() const {
    const KWJsonValue records = GetRecords();
    // Whose each connection is, and whose each upload (the result that names it).
    std::map<std::string, std::string> connOwner, uploadOwner;
    for (const KWJsonValue& r : records)
        if (r.isMember("student"))
            connOwner.emplace(r["conn"].asString(), r["student"].asString());
    for (const KWJsonValue& up : records) {
        const std::string stored = up["stored"].asString();
        if (up["kind"].asString() != "upload" || stored.empty())
            continue;
        for (const KWJsonValue& r : records)
            if (r["kind"].asString() == "result" && r.isMember("student") &&
                r["fields"]["result"].asString().find("/uploads/" + stored) != std::string::npos)
                uploadOwner[stored] = r["student"].asString();
    }

    struct Tally {
        int64_t requests = 0, bytes = 0, firstMs = -1, lastMs = 0;
        std::set<std::string> connections;
        std::map<std::string, int64_t> kinds;
        std::map<std::string, int> filesFetched;  // body transfers of each file
    };
    std::map<std::string, Tally> students;
    Tally unattributed, total;
    std::map<int64_t, int64_t> perSecond;
    for (const KWJsonValue& r : records) {
        std::string who = r["student"].asString();
        if (who.empty()) {
            auto c = connOwner.find(r["conn"].asString());
            auto u = uploadOwner.find(r["stored"].asString());
            who = c != connOwner.end() ? c->second : u != uploadOwner.end() ? u->second : std::string();
        }
        const int64_t ms = r["ms"].asInt64();
        ++perSecond[ms / 1000];
        for (Tally* t : {who.empty() ? &unattributed : &students[who], &total}) {
            ++t->requests;
            t->bytes += r["bytes"].asInt64();
            t->connections.insert(r["conn"].asString());
            if (t->firstMs < 0)
                t->firstMs = ms;
            t->lastMs = std::max(t->lastMs, ms);
            const std::string kind = r["kind"].asString();
            ++t->kinds[kind == "download" ? "download " + r["method"].asString() : kind];
            if (kind == "download" && r["method"].asString() == "GET")
                ++t->filesFetched[r["path"].asString()];
        }
    }
    auto write = [](const Tally& t) {
        KWJsonValue v(Json::objectValue);
        v["requests"] = static_cast<Json::Int64>(t.requests);
        v["connections"] = static_cast<Json::Int64>(t.connections.size());
        v["bytes"] = static_cast<Json::Int64>(t.bytes);
        v["first_ms"] = static_cast<Json::Int64>(std::max<int64_t>(t.firstMs, 0));
        v["last_ms"] = static_cast<Json::Int64>(t.lastMs);
        KWJsonValue kinds(Json::objectValue);
        for (const auto& [k, n] : t.kinds)
            kinds[k] = static_cast<Json::Int64>(n);
        v["kinds"] = kinds;
        int most = 0;
        for (const auto& [file, n] : t.filesFetched)
            most = std::max(most, n);
        v["files"] = static_cast<Json::Int64>(t.filesFetched.size());
        v["most_transfers_of_one_file"] = most;
        return v;
    };
    KWJsonValue out(Json::objectValue);
    out["students"] = KWJsonValue(Json::objectValue);
    for (const auto& [who, t] : students)
        out["students"][who] = write(t);
    out["unattributed"] = write(unattributed);
    out["total"] = write(total);
    int64_t peak = 0;
    for (const auto& [second, n] : perSecond)
        peak = std::max(peak, n);
    out["total"]["peak_requests_per_second"] = static_cast<Json::Int64>(peak);
    return out;
}

void VLSimServer::ClearRecords() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records = KWJsonValue(Json::arrayValue);
}

std::string VLSimServer::FaultKey(const std::string& path, int portIndex) const {
    if (m_faults.count(path))
        return path;
    const std::string port = std::string("port:") + kPortNames[portIndex];
    return m_faults.count(port) ? port : std::string();
}

bool VLSimServer::TakeFault(const std::string& path, int portIndex, bool count, VLSimFault& fault) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_faults.find(FaultKey(path, portIndex));
    if (it == m_faults.end())
        return false;
    fault = it->second;
    if (count && it->second.m_times > 0 && --it->second.m_times == 0)
        m_faults.erase(it);
    return true;
}

void VLSimServer::Record(KWJsonValue record) {
    std::string line;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        record["seq"] = static_cast<Json::Int64>(++m_seq);
        record["time"] = static_cast<Json::Int64>(std::time(nullptr));
        m_records.append(record);
        if (!m_config.m_logFile.empty())
            line = KWJsonWriter::Write(record) + "\n";
    }
    if (!line.empty()) {
        std::ofstream out(m_config.m_logFile, std::ios::app | std::ios::binary);
        out << line;
    }
}

void VLSimServer::OnRequest(evhttp_request* req, void* arg) {
    auto* binding = static_cast<PortBinding*>(arg);
    // Headers and body leave in separate writes; without this a client that keeps
    // its connection waits for the delayed acknowledgement on every answer.
    int fd = bufferevent_getfd(evhttp_connection_get_bufferevent(evhttp_request_get_connection(req)));
    int one = 1;
    if (fd >= 0)
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    binding->server->Handle(req, binding->index, nullptr, -1);
}

void VLSimServer::OnDelayed(int, short, void* arg) {
    auto* p = static_cast<Pending*>(arg);
    VLSimServer* self = p->server;
    self->m_pending.erase(std::remove(self->m_pending.begin(), self->m_pending.end(), p),
                          self->m_pending.end());
    evhttp_connection_set_closecb(p->conn, nullptr, nullptr);
    event_free(p->timer);
    evhttp_request* req = p->req;
    int portIndex = p->portIndex;
    const VLSimFault fault = p->fault;
    const int64_t arrived = p->arrivedMs;
    delete p;
    self->Handle(req, portIndex, &fault, arrived);
}

// The client gave up while its answer was delayed: forget the request, whose
// memory went with the connection.
void VLSimServer::OnPendingClosed(evhttp_connection* conn, void* arg) {
    auto* self = static_cast<VLSimServer*>(arg);
    for (auto it = self->m_pending.begin(); it != self->m_pending.end(); ++it) {
        if ((*it)->conn == conn) {
            event_free((*it)->timer);
            delete *it;
            self->m_pending.erase(it);
            break;
        }
    }
}

void VLSimServer::Handle(evhttp_request* req, int portIndex, const VLSimFault* delayed, int64_t arrivedMs) {
    const std::string target = evhttp_request_get_uri(req);
    std::string path, query;
    SplitTarget(target, path, query);

    if (path.rfind("/__sim/", 0) == 0) {
        HandleControl(req, path, query);
        return;
    }
    if (arrivedMs < 0)
        arrivedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                          m_started)
                        .count();
    // A classroom's paper names its files below "/s/<number>/": the file is the
    // same for everyone, the prefix only tells whose download it is.
    std::string student;
    if (path.rfind("/s/", 0) == 0) {
        const size_t files = path.find('/', 3);
        if (files != std::string::npos && path.compare(files, 7, "/files/") == 0) {
            student = StudentOf(path, {});
            path = path.substr(files);
        }
    }

    VLSimFault fault;
    bool hasFault = false;
    if (delayed) {
        // The fault was taken when the request arrived; keep its other switches.
        fault = *delayed;
        fault.m_delayMs = 0;
        hasFault = true;
    } else {
        // A size probe (HEAD) sees the fault but does not use up one of its times,
        // so "the next download fails" means the next body transfer.
        hasFault = TakeFault(path, portIndex, evhttp_request_get_command(req) != EVHTTP_REQ_HEAD, fault);
    }
    if (hasFault && fault.m_delayMs > 0) {
        auto* p =
            new Pending{this, req, evhttp_request_get_connection(req), nullptr, portIndex, arrivedMs, fault};
        p->timer = evtimer_new(m_base, &VLSimServer::OnDelayed, p);
        timeval tv{fault.m_delayMs / 1000, (fault.m_delayMs % 1000) * 1000};
        evhttp_connection_set_closecb(p->conn, &VLSimServer::OnPendingClosed, this);
        m_pending.push_back(p);
        evtimer_add(p->timer, &tv);
        return;
    }

    KWJsonValue record(Json::objectValue);
    record["port"] = kPortNames[portIndex];
    record["method"] = MethodName(evhttp_request_get_command(req));
    record["path"] = path;
    record["query"] = query;
    record["ms"] = static_cast<Json::Int64>(arrivedMs);
    record["bytes"] = 0;
    {
        // A connection is told by its client's port: loopback hands out a new
        // one for every connection, and reuses one only after many thousands.
        char* address = nullptr;
        ev_uint16_t peer = 0;
        evhttp_connection_get_peer(evhttp_request_get_connection(req), &address, &peer);
        record["conn"] = std::string(kPortNames[portIndex]) + ":" + std::to_string(peer);
    }
    if (!student.empty())
        record["student"] = student;
    if (hasFault)
        record["fault"] = true;

    if (fault.m_drop) {
        record["kind"] = "dropped";
        Record(record);
        // Closing the socket under the connection makes libevent see the end of it
        // and free the connection with this request.
        evhttp_connection* conn = evhttp_request_get_connection(req);
        int fd = bufferevent_getfd(evhttp_connection_get_bufferevent(conn));
        ::shutdown(fd, SHUT_RDWR);
        return;
    }
    if (fault.m_status >= 400) {
        record["kind"] = "error_page";
        record["status"] = fault.m_status;
        Record(record);
        SendText(
            req, fault.m_status, "text/html",
            KWStringUtils::Format("<html><body><h1>%d</h1>%s</body></html>", fault.m_status, path.c_str()),
            VLSimFault{});
        return;
    }

    if (path.rfind("/files/", 0) == 0 || path.rfind("/uploads/", 0) == 0) {
        HandleFile(req, path, fault, record);
        return;
    }
    if (path == "/api2" && ParsePairs(query)["m"] == "upFile") {
        HandleUpload(req, fault, record);
        return;
    }

    if (path == "/" || path == "/index/index" || path == "/pc/show_student" || path == "/resulter") {
        // The platform's web sites: pages, not JSON.
        record["kind"] = "web_page";
        Record(record);
        SendText(req, 200, "text/html; charset=utf-8",
                 "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Virelo</title></head><body><h1>" +
                     path + "</h1></body></html>",
                 fault);
        return;
    }

    std::map<std::string, std::string> fields;
    const bool post = evhttp_request_get_command(req) == EVHTTP_REQ_POST;
    if (post) {
        std::string body = BodyOf(req);
        record["body"] = body;
        fields = ParsePairs(body);
    } else {
        record["signature"] = CheckSignature(target);
        fields = ParsePairs(query);
        fields.erase("signature");
    }
    KWJsonValue answer;
    if (!post && record["signature"].asString() == "bad") {
        record["kind"] = "bad_signature";
        answer = Envelope(403, "签名错误");
    } else {
        answer = HandleApi(path, fields, record);
    }
    KWJsonValue f(Json::objectValue);
    for (const auto& [k, v] : fields)
        f[k] = v;
    record["fields"] = f;
    student = StudentOf(path, fields);
    if (!student.empty())
        record["student"] = student;
    record["bytes"] = static_cast<Json::Int64>(KWJsonWriter::Write(answer).size());
    Record(record);
    SendJson(req, answer, fault);
}

KWJsonValue VLSimServer::HandleApi(const std::string& path, const std::map<std::string, std::string>& f,
                                   KWJsonValue& record) {
    const std::string base = FileBase();
    KWJsonValue out = Envelope(0, "");
    KWJsonValue data(Json::objectValue);
    int examState;
    int timeType, timeLimit;
    std::string instrument;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        examState = m_examState;
        timeType = m_signInTimeType;
        timeLimit = m_signInTimeLimit;
        instrument = m_signInInstrument;
    }
    if (path == "/request") {
        record["kind"] = "relay";
        out["msg"] = "ok";
        return out;
    }
    if (path == "/api2/getCfg") {
        record["kind"] = "server_cfg";
        data["rhythm_deviation"] = "150";
    } else if (path == "/api2/getStudentHeadImg") {
        record["kind"] = "information_check";
        auto it = m_roster.find(Field(f, "student_no"));
        if (it == m_roster.end())
            return Envelope(1, "学号不存在，请检查后重新输入。");
        data["number"] = 1;
        data["student_name"] = it->second;
        if (m_config.m_students > 0) {
            // The three drawn head images go round the classroom.
            const int drawn = 1001 + (std::stoi(it->first) - 1001) % 3;
            data["head_img"] = base + "/s/" + it->first + "/files/head_" + std::to_string(drawn) + ".png";
        } else {
            data["head_img"] = base + "/files/head_" + it->first + ".png";
        }
    } else if (path == "/api2/studentLogin") {
        record["kind"] = "sign_in";
        auto it = m_roster.find(Field(f, "password"));
        if (it == m_roster.end() || it->second != Field(f, "account")) {
            data["code"] = 3;
            data["msg"] = "账号或密码错误。";
        } else {
            data["code"] = 200;
            data["msg"] = "登录成功";
            data["exam_state"] = examState;
            data["record_id"] = std::to_string(RecordIdOf(it->first));
            data["student_id"] = static_cast<Json::Int64>(7000000000LL + std::stoll(it->first));
            data["time_type"] = timeType;
            data["time_limit"] = timeLimit;
            data["school_name"] = "模拟实验小学";
            data["school_address"] = "示范路 1 号";
            data["classroom_name"] = "三年级二班";
            data["paper_name"] = "音乐与美术综合测评（样卷）";
            data["teacher_name"] = "陈老师";
            data["instrument"] = instrument;
        }
    } else if (path == "/api2/get_exam_question" || path == "/api2/getExamQuestionByPaper") {
        record["kind"] = "paper";
        const std::string student = StudentOf(path, f);
        std::lock_guard<std::mutex> lock(m_mutex);
        out["data"] = m_paper;
        if (m_config.m_students > 0 && !student.empty()) {
            std::string text = KWJsonWriter::Write(m_paper);
            const std::string from = base + "/files/", to = base + "/s/" + student + "/files/";
            for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
                text.replace(at, from.size(), to);
            KWJsonValue paper;
            if (KWJsonReader::Parse(text, paper))
                out["data"] = paper;
        }
        return out;
    } else if (path == "/api2/getQuestion") {
        record["kind"] = "question";
        KWJsonValue items;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            items = VLSimAssets::CollectItems(m_paper);
        }
        // "id=101,104,106" asks for several items at once: a short direct paper.
        std::vector<std::string> ids;
        KWStringToken::StringToArray(Field(f, "id"), ",", ids);
        out["data"] = KWJsonValue(Json::arrayValue);
        for (const std::string& id : ids) {
            if (!items.isMember(id))
                return Envelope(404, "题目不存在。");
            out["data"].append(items[id]);
        }
        if (ids.empty())
            return Envelope(404, "题目不存在。");
        return out;
    } else if (path == "/api2/studentClientSchedule") {
        record["kind"] = "progress";
        data["exam_state"] = examState;
    } else if (path == "/api2/testResult") {
        record["kind"] = "result";
        out["msg"] = "提交成功";
    } else if (path == "/api2/singleTestResult") {
        record["kind"] = "single_result";
        out["msg"] = "提交成功";
        data["score"] = 85;
        data["msg"] = "提交成功";
    } else if (path == "/api2/getStudentResultScore") {
        record["kind"] = "score";
        data["state"] = 1;
        data["score"] = "92";
    } else if (path == "/api2/getClientVersion") {
        record["kind"] = "update_check";
        std::string offered;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            offered = m_offeredVersion;
        }
        data["number"] = offered;
        data["url"] = base + "/files/VLSetup-" + offered + ".tar.gz";
    } else if (path == "/api2/clientUploadBreakdown") {
        record["kind"] = "log_upload";
    } else if (path == "/api2/pcClientVersionStatistics") {
        record["kind"] = "statistics";
    } else if (path == "/api2/checkLogin") {
        // The teacher's client shares the table; answer it plainly.
        record["kind"] = "teacher_sign_in";
        data["teacher_name"] = "陈老师";
    } else if (path == "/api2/checkImportFormat" || path == "/api2/importStudent") {
        record["kind"] = "student_import";
    } else if (path == "/api2/forgetSendMessage" || path == "/api2/forgetCheckCode" ||
               path == "/api2/forgetResetPasswd") {
        record["kind"] = "password_reset";
    } else {
        record["kind"] = "unknown";
        return Envelope(404, "接口不存在");
    }
    out["data"] = data;
    return out;
}

void VLSimServer::HandleFile(evhttp_request* req, const std::string& path, const VLSimFault& fault,
                             KWJsonValue& record) {
    record["kind"] = "download";
    const bool uploads = path.rfind("/uploads/", 0) == 0;
    std::string name = path.substr(uploads ? 9 : 7);
    if (name.empty() || name.find("..") != std::string::npos || name.find('/') != std::string::npos) {
        record["status"] = 404;
        Record(record);
        SendText(req, 404, "text/html", "<html><body>not found</body></html>", VLSimFault{});
        return;
    }
    std::string full = (uploads ? UploadsDir() : FilesDir()) + name;
    int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        record["status"] = 404;
        Record(record);
        SendText(req, 404, "text/html", "<html><body>not found</body></html>", VLSimFault{});
        return;
    }
    const int64_t size = st.st_size;
    int64_t first = 0, last = size - 1;
    int status = 200;
    const char* range = evhttp_find_header(evhttp_request_get_input_headers(req), "Range");
    if (range)
        record["range"] = range;
    if (range && !fault.m_ignoreRange && std::strncmp(range, "bytes=", 6) == 0) {
        std::string spec = range + 6;
        size_t dash = spec.find('-');
        std::string a, b;
        if (dash != std::string::npos) {
            a = spec.substr(0, dash);
            b = spec.substr(dash + 1);
        }
        int64_t va = 0, vb = 0;
        // A Range that is not one plain "first-last" is ignored, as a server does.
        if (dash != std::string::npos && ParseDecimal(a, va) && ParseDecimal(b, vb) &&
            (!a.empty() || !b.empty())) {
            if (!a.empty()) {
                first = va;
                if (!b.empty())
                    last = std::min<int64_t>(vb, size - 1);
            } else {
                first = std::max<int64_t>(0, size - vb);
            }
            if (first >= size || first > last) {
                ::close(fd);
                record["status"] = 416;
                Record(record);
                evhttp_add_header(
                    evhttp_request_get_output_headers(req), "Content-Range",
                    KWStringUtils::Format("bytes */%lld", static_cast<long long>(size)).c_str());
                evhttp_send_reply(req, 416, "Range Not Satisfiable", nullptr);
                return;
            }
            status = 206;
        }
    }
    const int64_t length = last - first + 1;
    evkeyvalq* headers = evhttp_request_get_output_headers(req);
    evhttp_add_header(headers, "Content-Type", "application/octet-stream");
    evhttp_add_header(headers, "Accept-Ranges", "bytes");
    if (status == 206)
        evhttp_add_header(headers, "Content-Range",
                          KWStringUtils::Format("bytes %lld-%lld/%lld", static_cast<long long>(first),
                                                static_cast<long long>(last), static_cast<long long>(size))
                              .c_str());
    evhttp_add_header(headers, "Content-Length", std::to_string(length).c_str());
    record["status"] = status;

    if (evhttp_request_get_command(req) == EVHTTP_REQ_HEAD) {
        Record(record);
        ::close(fd);
        evhttp_send_reply(req, status, status == 206 ? "Partial Content" : "OK", nullptr);
        return;
    }
    int64_t send = length;
    if (fault.m_truncate >= 0 && fault.m_truncate < length) {
        send = fault.m_truncate;
        evhttp_add_header(headers, "Connection", "close");
    }
    record["bytes"] = static_cast<Json::Int64>(send);
    Record(record);
    evbuffer* body = evbuffer_new();
    if (send > 0)
        evbuffer_add_file(body, fd, first, send);  // takes the descriptor
    else
        ::close(fd);
    evhttp_send_reply(req, status, status == 206 ? "Partial Content" : "OK", body);
    evbuffer_free(body);
}

void VLSimServer::HandleUpload(evhttp_request* req, const VLSimFault& fault, KWJsonValue& record) {
    record["kind"] = "upload";
    const char* type = evhttp_find_header(evhttp_request_get_input_headers(req), "Content-Type");
    std::string body = BodyOf(req);
    std::string boundary;
    if (type) {
        std::string t = type;
        size_t b = t.find("boundary=");
        if (b != std::string::npos) {
            boundary = t.substr(b + 9);
            if (!boundary.empty() && boundary.front() == '"')
                boundary = boundary.substr(1, boundary.find('"', 1) - 1);
        }
    }
    std::string fileName, content;
    bool found = false;
    if (!boundary.empty()) {
        const std::string delim = "--" + boundary;
        size_t pos = body.find(delim);
        while (pos != std::string::npos && !found) {
            size_t headStart = pos + delim.size() + 2;
            size_t headEnd = body.find("\r\n\r\n", headStart);
            if (headEnd == std::string::npos)
                break;
            std::string head = body.substr(headStart, headEnd - headStart);
            size_t next = body.find("\r\n" + delim, headEnd + 4);
            if (next == std::string::npos)
                break;
            if (head.find("name=\"userfile\"") != std::string::npos) {
                size_t fn = head.find("filename=\"");
                if (fn != std::string::npos)
                    fileName = head.substr(fn + 10, head.find('"', fn + 10) - fn - 10);
                content = body.substr(headEnd + 4, next - headEnd - 4);
                found = true;
            }
            pos = next + 2;
        }
    }
    KWJsonValue answer;
    if (!found) {
        record["status"] = 400;
        answer = Envelope(1, "没有收到文件 userfile");
    } else {
        fileName = KWFilePathUtils::FileName(fileName);
        if (fileName.empty() || fileName == "." || fileName == "..")
            fileName = "upload.bin";
        std::string stored;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            stored = std::to_string(m_seq + 1) + "_" + fileName;
        }
        // The stored name goes into a URL as it is: keep it to safe characters.
        for (char& c : stored)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-')
                c = '_';
        std::ofstream out(UploadsDir() + stored, std::ios::binary);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.close();
        const std::string url = FileBase() + "/uploads/" + stored;
        record["file_name"] = fileName;
        record["stored"] = stored;
        record["size"] = static_cast<Json::Int64>(content.size());
        record["md5"] = KWMD5Utils::CalcuteMD5String(content);
        // Both answer formats in one object: the log upload reads code and
        // data.url, every other upload reads img_path.
        answer = Envelope(0, "上传成功");
        answer["data"]["url"] = url;
        answer["img_path"] = url;
    }
    record["bytes"] = static_cast<Json::Int64>(KWJsonWriter::Write(answer).size());
    Record(record);
    SendJson(req, answer, fault);
}

void VLSimServer::HandleControl(evhttp_request* req, const std::string& path, const std::string& query) {
    auto q = ParsePairs(query);
    KWJsonValue out = Envelope(0, "ok");
    if (path == "/__sim/fault") {
        VLSimFault f;
        f.m_delayMs = KWStringUtils::ConvertStringToInt32(q["delay"]);
        f.m_drop = q["drop"] == "1";
        f.m_ignoreRange = q["ignore_range"] == "1";
        f.m_status = KWStringUtils::ConvertStringToInt32(q["status"]);
        f.m_truncate = q.count("truncate") ? KWStringUtils::ConvertStringToInt64(q["truncate"]) : -1;
        f.m_nonJson = q["non_json"] == "1";
        f.m_times = q.count("times") ? KWStringUtils::ConvertStringToInt32(q["times"]) : -1;
        if (!q["port"].empty()) {
            if (!SetPortFault(q["port"], f))
                out = Envelope(1, "unknown port (api, download, upload or remote)");
        } else if (q["path"].empty()) {
            out = Envelope(1, "path missing");
        } else {
            SetFault(q["path"], f);
        }
    } else if (path == "/__sim/clear_faults") {
        ClearFaults();
    } else if (path == "/__sim/records") {
        out["data"] = GetRecords();
    } else if (path == "/__sim/stats" && q["format"] == "text") {
        // One line per student, then the unattributed and the totals, for shell scripts:
        // "<who> requests R connections C bytes B files F most M peak P kinds KIND=N,KIND=N".
        const KWJsonValue stats = Stats();
        std::string text;
        auto line = [&text](const std::string& who, const KWJsonValue& t) {
            std::string kinds;
            for (const std::string& k : t["kinds"].getMemberNames()) {
                std::string name = k;
                std::replace(name.begin(), name.end(), ' ', '_');
                kinds += (kinds.empty() ? "" : ",") + name + "=" + std::to_string(t["kinds"][k].asInt64());
            }
            text += KWStringUtils::Format("%s requests %lld connections %lld bytes %lld files %lld most %lld peak %lld kinds %s\n",
                                          who.c_str(), static_cast<long long>(t["requests"].asInt64()),
                                          static_cast<long long>(t["connections"].asInt64()),
                                          static_cast<long long>(t["bytes"].asInt64()),
                                          static_cast<long long>(t["files"].asInt64()),
                                          static_cast<long long>(t["most_transfers_of_one_file"].asInt64()),
                                          static_cast<long long>(t["peak_requests_per_second"].asInt64()),
                                          kinds.empty() ? "-" : kinds.c_str());
        };
        for (const std::string& who : stats["students"].getMemberNames())
            line("student:" + who, stats["students"][who]);
        line("unattributed", stats["unattributed"]);
        line("total", stats["total"]);
        SendText(req, 200, "text/plain; charset=utf-8", text, VLSimFault{});
        return;
    } else if (path == "/__sim/stats") {
        out["data"] = Stats();
    } else if (path == "/__sim/clear_records") {
        ClearRecords();
    } else if (path == "/__sim/exam_state") {
        SetExamState(KWStringUtils::ConvertStringToInt32(q["state"]));
    } else if (path == "/__sim/sign_in") {
        SetSignInExam(q.count("time_type") ? KWStringUtils::ConvertStringToInt32(q["time_type"]) : 2,
                      q.count("time_limit") ? KWStringUtils::ConvertStringToInt32(q["time_limit"]) : 3600,
                      q.count("instrument") ? q["instrument"] : std::string("1,2,3,4,5,6"));
    } else if (path == "/__sim/paper" && !q["keep"].empty()) {
        // GET with keep=ID,ID: the paper narrowed to those items.
        std::vector<std::string> ids;
        KWStringToken::StringToArray(q["keep"], ",", ids);
        if (!KeepItems(ids))
            out = Envelope(1, "none of these items is in the paper");
    } else if (path == "/__sim/paper") {
        // POST a paper document (or its data member) to serve from now on.
        KWJsonValue root;
        if (KWJsonReader::Parse(BodyOf(req), root) && root.isObject())
            SetPaper(root.isMember("data") ? root["data"] : root);
        else
            out = Envelope(1, "the body is not a JSON object");
    } else if (path == "/__sim/info") {
        KWJsonValue d(Json::objectValue);
        for (int i = 0; i < 4; ++i)
            d[std::string(kPortNames[i]) + "_port"] = m_ports[i];
        d["file_base"] = FileBase();
        d["data_dir"] = m_config.m_dataDir;
        out["data"] = d;
    } else {
        out = Envelope(404, "unknown control path");
    }
    SendJson(req, out, VLSimFault{});
}

void VLSimServer::SendJson(evhttp_request* req, const KWJsonValue& value, const VLSimFault& fault) {
    if (fault.m_nonJson) {
        SendText(req, 200, "text/html", "<html><body>502 Bad Gateway</body></html>", fault);
        return;
    }
    SendText(req, 200, "application/json; charset=utf-8", KWJsonWriter::Write(value), fault);
}

void VLSimServer::SendText(evhttp_request* req, int status, const std::string& contentType,
                           const std::string& body, const VLSimFault& fault) {
    evkeyvalq* headers = evhttp_request_get_output_headers(req);
    evhttp_add_header(headers, "Content-Type", contentType.c_str());
    size_t send = body.size();
    if (fault.m_truncate >= 0 && static_cast<size_t>(fault.m_truncate) < body.size()) {
        // Announce the whole length, send less and close: the client sees a short body.
        evhttp_add_header(headers, "Content-Length", std::to_string(body.size()).c_str());
        evhttp_add_header(headers, "Connection", "close");
        send = static_cast<size_t>(fault.m_truncate);
    }
    evbuffer* buf = evbuffer_new();
    evbuffer_add(buf, body.data(), send);
    evhttp_send_reply(req, status, status == 200 ? "OK" : "Error", buf);
    evbuffer_free(buf);
}

}  // namespace KwLib
