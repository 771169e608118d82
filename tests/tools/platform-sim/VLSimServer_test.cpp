#include "tools/platform-sim/VLSimServer.h"

#include <cairo.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>

#include <curl/curl.h>

#include <map>
#include <set>
#include <thread>

#include "audio/VLAudioDecoder.h"
#include "net/VLHttpClient.h"
#include "platform/common/KWMD5Utils.h"
#include "platform/common/KWStringUtils.h"
#include "tests/net/VLNetTestSupport.h"
#include "tools/platform-sim/VLSimAssets.h"

extern char** environ;

namespace KwLib {
namespace {

struct Reply {
    int code = -1;
    long status = 0;
    std::string body;
    std::string headers;
};

// A raw request with libcurl, so that the test sees status, headers and body.
Reply Fetch(const std::string& url, const std::string& range = "", bool head = false) {
    Reply r;
    CURL* curl = curl_easy_init();
    auto append = +[](char* d, size_t s, size_t n, void* u) {
        static_cast<std::string*>(u)->append(d, s * n);
        return s * n;
    };
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &r.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, append);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &r.headers);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);  // let "../" reach the server
    if (!range.empty())
        curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    if (head)
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    r.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &r.status);
    curl_easy_cleanup(curl);
    return r;
}

KWJsonValue Json(const std::string& text) {
    KWJsonValue v;
    KWJsonReader::Parse(text, v);
    return v;
}

std::string ReadFileOr(const std::string& path) {
    return KWFile::ReadAll(path).value_or("");
}

std::string Signed(const std::string& base, const std::string& query) {
    return base + "?" + query +
           "&signature=" + KWStringUtils::MakeLower(KWMD5Utils::CalcuteMD5String(query + VLSimServer::kSalt));
}

class VLSimServerTest : public VLSimTest {
protected:
    std::string Api(const std::string& path) { return s_sim->ApiBase() + path; }
};

TEST_F(VLSimServerTest, ApiChecksTheSignatureOfEveryGet) {
    const std::string query = "school_id=11&client_version=1.7.1.1393";
    KWJsonValue good = Json(Fetch(Signed(Api("/api2/getCfg"), query)).body);
    EXPECT_EQ(good["code"].asInt(), 0);
    EXPECT_EQ(good["data"]["rhythm_deviation"].asString(), "150");
    KWJsonValue bad = Json(Fetch(Api("/api2/getCfg?") + query + "&signature=0123").body);
    EXPECT_EQ(bad["code"].asInt(), 403);
    KWJsonValue missing = Json(Fetch(Api("/api2/getCfg?") + query).body);
    EXPECT_EQ(missing["code"].asInt(), 403);
    KWJsonValue records = s_sim->GetRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0]["signature"].asString(), "ok");
    EXPECT_EQ(records[1]["signature"].asString(), "bad");
    EXPECT_EQ(records[2]["kind"].asString(), "bad_signature");
    // The same records over HTTP, for scripts and the demo.
    KWJsonValue over = Json(Fetch(Api("/__sim/records")).body);
    EXPECT_EQ(over["data"].size(), 3u);
    EXPECT_EQ(over["data"][0]["path"].asString(), "/api2/getCfg");
}

TEST_F(VLSimServerTest, SamplePaperHoldsEveryTypeOfBothGenerationsWithFilesThatExist) {
    KWJsonValue paper = s_sim->GetPaper();
    std::set<std::string> seen;  // "section/raw type/is_new"
    std::set<std::string> urls;
    std::function<void(const KWJsonValue&)> collect = [&](const KWJsonValue& v) {
        if (v.isString()) {
            std::string s = v.asString();
            size_t at = s.find(s_sim->FileBase() + "/files/");
            if (at != std::string::npos) {
                size_t end = s.find("</img>", at);
                urls.insert(s.substr(at, end == std::string::npos ? std::string::npos : end - at));
            }
        }
        for (const auto& child : v)
            collect(child);
    };
    for (const char* section : {"1", "2", "3"}) {
        ASSERT_TRUE(paper[section].isArray()) << section;
        for (const auto& group : paper[section]) {
            seen.insert(std::string(section) + "/" + group["conf"]["question_type"].asString() + "/" +
                        std::to_string(group["conf"]["is_new"].asInt()));
            for (const char* key : {"question_type", "number", "score", "total", "desc", "is_new"})
                EXPECT_TRUE(group["conf"].isMember(key)) << key;
            collect(group["question"]);
        }
    }
    for (const char* want : {"1/1/1", "1/2/1", "1/3/1", "1/8/1", "1/10/1", "1/11/1", "1/3/0", "1/4/0",
                             "1/5/0", "1/6/0", "1/7/0", "1/8/0", "1/9/0",  "2/1/1",  "2/2/1", "2/3/1",
                             "2/4/1", "2/6/1", "2/7/1", "2/8/1", "2/9/1",  "3/3/1",  "3/3/0"})
        EXPECT_TRUE(seen.count(want)) << want;

    // Every referenced file is served, pictures are PNGs and music decodes.
    ASSERT_GT(urls.size(), 20u);
    int pictures = 0, wav = 0, mp3 = 0, melodies = 0;
    for (const auto& url : urls) {
        Reply r = Fetch(url);
        ASSERT_EQ(r.status, 200) << url;
        std::string local = m_work + "f" + KWFilePathUtils::Extension(url);
        KWFile::WriteAtomic(local, r.body);
        if (KWFilePathUtils::Extension(url) == ".png") {
            cairo_surface_t* s = cairo_image_surface_create_from_png(local.c_str());
            EXPECT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS) << url;
            EXPECT_GT(cairo_image_surface_get_width(s), 50) << url;
            cairo_surface_destroy(s);
            ++pictures;
        } else if (KWFilePathUtils::Extension(url) == ".mid") {
            // The sung melody: a MIDI file whose tempo map gives it the 3 s of the recordings it times.
            EXPECT_EQ(r.body.compare(0, 4, "MThd"), 0) << url;
            EXPECT_NEAR(VLAudioDecoder::MidiDurationSeconds(local), 3.0, 1e-6) << url;
            ++melodies;
        } else {
            SF_INFO info{};
            SNDFILE* f = sf_open(local.c_str(), SFM_READ, &info);
            ASSERT_TRUE(f) << url;
            short buf[4096];
            EXPECT_GT(sf_read_short(f, buf, 4096), 1000) << url;
            sf_close(f);
            (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV ? ++wav : ++mp3;
        }
    }
    EXPECT_GT(pictures, 10);
    EXPECT_GT(wav, 0);
    EXPECT_GT(mp3, 0);
    EXPECT_GT(melodies, 0);
}

TEST_F(VLSimServerTest, FilesHonourRangeAndStayInsideTheirFolder) {
    const std::string source = ReadFile(s_sim->FilesDir() + "staff_1.png");
    const std::string size = std::to_string(source.size());
    Reply head = Fetch(FileUrl("staff_1.png"), "", true);
    EXPECT_EQ(head.status, 200);
    EXPECT_NE(head.headers.find("Content-Length: " + size), std::string::npos) << head.headers;
    Reply part = Fetch(FileUrl("staff_1.png"), "100-" + size);
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(part.body, source.substr(100));
    EXPECT_NE(part.headers.find("Content-Range: bytes 100-" + std::to_string(source.size() - 1) + "/" + size),
              std::string::npos);
    Reply tail = Fetch(FileUrl("staff_1.png"), "-10");
    EXPECT_EQ(tail.body, source.substr(source.size() - 10));
    EXPECT_EQ(Fetch(FileUrl("staff_1.png"), size + "-").status, 416);
    // A Range it cannot read is ignored, as by any server, and the simulator goes on.
    for (const std::string odd : {"abc-10", "99999999999999999999999-", "5-x", "-"}) {
        Reply whole = Fetch(FileUrl("staff_1.png"), odd);
        EXPECT_EQ(whole.status, 200) << odd;
        EXPECT_EQ(whole.body, source) << odd;
    }
    EXPECT_EQ(Fetch(FileUrl("nothing.png")).status, 404);
    EXPECT_EQ(Fetch(s_sim->FileBase() + "/files/..%2Fuploads").status, 404);
    EXPECT_EQ(Fetch(s_sim->FileBase() + "/files/../sim/files/staff_1.png").status, 404);
}

TEST_F(VLSimServerTest, FaultSwitchesSetOverHttpApplyPerPathAndCount) {
    auto set = [&](const std::string& q) {
        return Json(Fetch(Api("/__sim/fault?") + q).body)["code"].asInt();
    };
    ASSERT_EQ(set("path=/files/opt_a.png&status=404&times=1"), 0);
    EXPECT_EQ(Fetch(FileUrl("opt_a.png")).status, 404);
    EXPECT_EQ(Fetch(FileUrl("opt_a.png")).status, 200);
    EXPECT_EQ(Fetch(FileUrl("opt_b.png")).status, 200);

    const std::string source = ReadFile(s_sim->FilesDir() + "opt_a.png");
    ASSERT_EQ(set("path=/files/opt_a.png&ignore_range=1&times=1"), 0);
    Reply whole = Fetch(FileUrl("opt_a.png"), "10-20");
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, source);

    ASSERT_EQ(set("path=/files/opt_a.png&truncate=50&times=1"), 0);
    Reply cut = Fetch(FileUrl("opt_a.png"));
    EXPECT_EQ(cut.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(cut.body.size(), 50u);

    ASSERT_EQ(set("path=/files/opt_a.png&drop=1&times=1"), 0);
    EXPECT_EQ(Fetch(FileUrl("opt_a.png")).code, CURLE_GOT_NOTHING);

    ASSERT_EQ(set("path=/api2/getCfg&non_json=1"), 0);
    Reply html = Fetch(Signed(Api("/api2/getCfg"), "school_id=1"));
    EXPECT_EQ(html.status, 200);
    EXPECT_TRUE(Json(html.body).isNull());
    EXPECT_EQ(Fetch(Api("/__sim/clear_faults")).status, 200);
    EXPECT_EQ(Json(Fetch(Signed(Api("/api2/getCfg"), "school_id=1")).body)["code"].asInt(), 0);
    EXPECT_EQ(set("delay=5"), 1);  // no path

    // A delayed answer arrives late but whole; others are not held up.
    s_sim->SetFault("/files/opt_c.png", VLSimFault{400, false, false, 0, -1, false, 1});
    std::thread slow([&] { EXPECT_EQ(Fetch(FileUrl("opt_c.png")).status, 200); });
    EXPECT_EQ(Fetch(FileUrl("opt_d.png")).status, 200);
    slow.join();
    std::vector<std::string> order;
    for (const auto& r : s_sim->GetRecords())
        order.push_back(r["path"].asString());
    EXPECT_EQ(order.back(), "/files/opt_c.png");
}

TEST_F(VLSimServerTest, PortFaultsReachEveryPathOfTheirPortAndPathFaultsComeFirst) {
    auto set = [&](const std::string& q) {
        return Json(Fetch(Api("/__sim/fault?") + q).body)["code"].asInt();
    };
    ASSERT_EQ(set("port=download&status=503&times=2"), 0);
    EXPECT_EQ(set("port=printer&status=503"), 1);
    // The download port fails both requests, whatever their path; the API port is untouched.
    EXPECT_EQ(Fetch(FileUrl("opt_a.png")).status, 503);
    EXPECT_EQ(Json(Fetch(Signed(Api("/api2/getCfg"), "school_id=1")).body)["code"].asInt(), 0);
    EXPECT_EQ(Fetch(FileUrl("opt_b.png")).status, 503);
    EXPECT_EQ(Fetch(FileUrl("opt_b.png")).status, 200);

    // A fault of the exact path wins over the port's.
    EXPECT_TRUE(s_sim->SetPortFault("download", VLSimFault{0, false, false, 503, -1, false, -1}));
    s_sim->SetFault("/files/opt_a.png", VLSimFault{0, false, false, 404, -1, false, -1});
    EXPECT_EQ(Fetch(FileUrl("opt_a.png")).status, 404);
    EXPECT_EQ(Fetch(FileUrl("opt_c.png")).status, 503);
    s_sim->ClearFaults();

    // A slow port: the answer comes whole after the delay.
    ASSERT_EQ(set("port=api&delay=300&times=1"), 0);
    const auto start = std::chrono::steady_clock::now();
    const Reply slow = Fetch(Signed(Api("/api2/getCfg"), "school_id=1"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(Json(slow.body)["data"]["rhythm_deviation"].asString(), "150");

    // A fault for one request keeps all its switches through its delay.
    VLSimFault slowGarbled;
    slowGarbled.m_delayMs = 200;
    slowGarbled.m_nonJson = true;
    slowGarbled.m_times = 1;
    s_sim->SetFault("/api2/getCfg", slowGarbled);
    EXPECT_TRUE(Json(Fetch(Signed(Api("/api2/getCfg"), "school_id=1")).body).isNull());
    EXPECT_EQ(Json(Fetch(Signed(Api("/api2/getCfg"), "school_id=1")).body)["code"].asInt(), 0);
}

TEST_F(VLSimServerTest, APaperNarrowedToSomeItemsKeepsTheirGroupsAndPlaces) {
    const KWJsonValue sample = s_sim->GetPaper();
    const std::map<std::string, KWJsonValue> before = [&] {
        std::map<std::string, KWJsonValue> m;
        for (const auto& id : VLSimAssets::CollectItems(sample).getMemberNames())
            m[id] = VLSimAssets::CollectItems(sample)[id];
        return m;
    }();
    ASSERT_TRUE(before.count("102") && before.count("104") && before.count("203"));
    EXPECT_EQ(Json(Fetch(Api("/__sim/paper?keep=nothing-here")).body)["code"].asInt(), 1);
    EXPECT_EQ(s_sim->GetPaper(), sample);

    ASSERT_EQ(Json(Fetch(Api("/__sim/paper?keep=203,102,104")).body)["code"].asInt(), 0);
    const KWJsonValue shortPaper = s_sim->GetPaper();
    const KWJsonValue items = VLSimAssets::CollectItems(shortPaper);
    EXPECT_EQ(items.getMemberNames(), (std::vector<std::string>{"102", "104", "203"}));
    for (const auto& id : items.getMemberNames())
        EXPECT_EQ(items[id], before.at(id)) << id;
    int groups = 0;
    for (const char* section : {"1", "2", "3"}) {
        for (const auto& group : shortPaper[section]) {
            ++groups;
            EXPECT_EQ(group["conf"]["number"].asString(), std::to_string(group["question"].size()));
        }
    }
    EXPECT_EQ(groups, 3);
    // The single-question documents follow the narrowed paper.
    EXPECT_EQ(Json(Fetch(Signed(Api("/api2/getQuestion"), "id=101")).body)["code"].asInt(), 404);
    s_sim->SetPaper(sample);
}

TEST_F(VLSimServerTest, ClientGivingUpOnADelayedAnswerLeavesTheSimulatorServing) {
    VLSimFault slow;
    slow.m_delayMs = 1300;
    s_sim->SetFault("/files/opt_b.png", slow);
    std::string body;
    // The client's whole time-out (1 s) ends before the answer is due.
    EXPECT_EQ(VLHttpClient::HttpGet(FileUrl("opt_b.png"), body, 1, 1), CURLE_OPERATION_TIMEDOUT);
    // Past the moment the answer was due, with nobody left to take it.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    s_sim->ClearFaults();
    Reply after = Fetch(FileUrl("opt_b.png"));
    EXPECT_EQ(after.status, 200);
    EXPECT_EQ(after.body, ReadFile(s_sim->FilesDir() + "opt_b.png"));
}

TEST_F(VLSimServerTest, UploadsAreStoredAndAnsweredInBothFormats) {
    std::string response;
    CURL* curl = curl_easy_init();
    curl_mime* form = curl_mime_init(curl);
    curl_mimepart* part = curl_mime_addpart(form);
    curl_mime_name(part, "userfile");
    const std::string content = std::string("RIFF\0\x01\x02 binary\r\n--not a boundary", 32);
    curl_mime_data(part, content.data(), content.size());
    curl_mime_filename(part, "../../rec 1.wav");
    auto append = +[](char* d, size_t s, size_t n, void* u) {
        static_cast<std::string*>(u)->append(d, s * n);
        return s * n;
    };
    const std::string url =
        "http://127.0.0.1:" + std::to_string(s_sim->UploadPort()) + "/api2?c=file&m=upFile&dataType=json";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, form);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    ASSERT_EQ(curl_easy_perform(curl), CURLE_OK);
    curl_mime_free(form);
    curl_easy_cleanup(curl);

    KWJsonValue answer = Json(response);
    EXPECT_EQ(answer["code"].asInt(), 0);
    const std::string stored = answer["img_path"].asString();
    EXPECT_EQ(answer["data"]["url"].asString(), stored);
    KWJsonValue uploads = RecordsOfKind("upload");
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0]["file_name"].asString(), "rec 1.wav");  // no folders from the client
    EXPECT_EQ(ReadFile(s_sim->UploadsDir() + uploads[0]["stored"].asString()), content);
    EXPECT_EQ(Fetch(stored).body, content);
    // A form without the "userfile" part is refused.
    std::string refused;
    EXPECT_EQ(VLHttpClient::HttpPost(url, "other=1", refused), 0);
    EXPECT_NE(Json(refused)["code"].asInt(), 0);
}

TEST_F(VLSimServerTest, SignInAndStudentsFollowTheRoster) {
    KWJsonValue ok = Json(Fetch(Signed(Api("/api2/getStudentHeadImg"), "school_id=1&student_no=1003")).body);
    EXPECT_EQ(ok["data"]["student_name"].asString(), "王小明");
    std::string body;
    VLHttpClient::HttpPost(Api("/api2/studentLogin?"), "account=王小明&password=1003&school_id=1", body);
    EXPECT_EQ(Json(body)["data"]["code"].asInt(), 200);
    body.clear();
    VLHttpClient::HttpPost(Api("/api2/studentLogin?"), "account=王小明&password=1001&school_id=1", body);
    EXPECT_EQ(Json(body)["code"].asInt(), 0);
    EXPECT_EQ(Json(body)["data"]["code"].asInt(), 3);
    // Another paper can be served while it runs.
    std::string answer;
    VLHttpClient::HttpPost(Api("/__sim/paper"), R"({"data":{"1":[]}})", answer);
    EXPECT_EQ(Json(answer)["code"].asInt(), 0);
    KWJsonValue paper = Json(Fetch(Signed(Api("/api2/getExamQuestionByPaper"), "paper_id=3")).body);
    EXPECT_EQ(KWJsonWriter::Write(paper["data"]), R"({"1":[]})");
    s_sim->SetPaper(VLSimAssets::BuildSamplePaper(s_sim->FileBase()));
    EXPECT_NE(Fetch(Api("/resulter?schoolid=1")).body.find("<html>"), std::string::npos);
    // The exam state is switchable while it runs.
    Fetch(Api("/__sim/exam_state?state=2"));
    KWJsonValue state = Json(Fetch(Signed(Api("/api2/studentClientSchedule"), "status=1")).body);
    EXPECT_EQ(state["data"]["exam_state"].asInt(), 2);
    s_sim->SetExamState(1);
}

TEST_F(VLSimServerTest, AClassroomTellsWhoseEveryRequestAndConnectionIs) {
    VLSimConfig config;
    config.m_dataDir = s_dir + "classroom/";
    config.m_filesDir = s_sim->FilesDir();
    config.m_apiPort = config.m_downloadPort = config.m_uploadPort = config.m_remotePort = 0;
    config.m_students = 5;
    VLSimServer room(config);
    ASSERT_TRUE(room.Start());
    const std::string api = room.ApiBase();

    // Each student has an exam of its own; 1001's is the one of the roster of three.
    std::string body;
    VLHttpClient::HttpPost(api + "/api2/studentLogin?", "account=学生1005&password=1005&school_id=1", body);
    const KWJsonValue signIn = Json(body)["data"];
    const size_t signInBytes = body.size();
    ASSERT_EQ(signIn["code"].asInt(), 200);
    EXPECT_EQ(signIn["record_id"].asString(), "8589934601");
    body.clear();
    VLHttpClient::HttpPost(api + "/api2/studentLogin?", "account=张三&password=1001&school_id=1", body);
    EXPECT_EQ(Json(body)["data"]["record_id"].asString(), "8589934597");

    // The paper of 1005's exam names its files below /s/1005/, and they are the same files.
    const std::string paper =
        Fetch(Signed(api + "/api2/get_exam_question", "school_id=1&classroom_id=2&record_id=8589934601")).body;
    const std::string prefix = room.FileBase() + "/s/1005/files/";
    EXPECT_EQ(paper.find(room.FileBase() + "/files/"), std::string::npos);
    const size_t at = paper.find(prefix);
    ASSERT_NE(at, std::string::npos);
    const std::string name = paper.substr(at + prefix.size(), paper.find('"', at) - at - prefix.size());
    EXPECT_EQ(Fetch(prefix + name).body, ReadFileOr(room.FilesDir() + name));
    // Not a student of the class: the file still, but nobody's.
    EXPECT_EQ(Fetch(room.FileBase() + "/s/1009/files/" + name).status, 200);

    // One connection: a file of 1002's, then a request that names nobody.
    CURL* kept = curl_easy_init();
    std::string ignored;
    auto sink = +[](char*, size_t s, size_t n, void*) { return s * n; };
    curl_easy_setopt(kept, CURLOPT_WRITEFUNCTION, sink);
    for (const std::string& url :
         {room.FileBase() + "/s/1002/files/" + name, room.FileBase() + "/s/1002/files/" + name,
          Signed(room.FileBase() + "/api2/getCfg", "school_id=1")}) {
        curl_easy_setopt(kept, CURLOPT_URL, url.c_str());
        EXPECT_EQ(curl_easy_perform(kept), CURLE_OK);
    }
    curl_easy_cleanup(kept);
    // A request of nobody on a connection of its own.
    Fetch(Signed(api + "/api2/getClientVersion", "school_id=1"));

    const KWJsonValue stats = room.Stats();
    const KWJsonValue& s1005 = stats["students"]["1005"];
    EXPECT_EQ(s1005["kinds"]["sign_in"].asInt(), 1);
    EXPECT_EQ(s1005["kinds"]["paper"].asInt(), 1);
    EXPECT_EQ(s1005["kinds"]["download GET"].asInt(), 1);
    EXPECT_EQ(s1005["requests"].asInt(), 3);
    EXPECT_EQ(s1005["connections"].asInt(), 3);
    EXPECT_EQ(s1005["bytes"].asUInt64(), signInBytes + paper.size() + ReadFileOr(room.FilesDir() + name).size());
    const KWJsonValue& s1002 = stats["students"]["1002"];
    EXPECT_EQ(s1002["requests"].asInt(), 3);
    EXPECT_EQ(s1002["connections"].asInt(), 1);
    EXPECT_EQ(s1002["kinds"]["server_cfg"].asInt(), 1) << "the connection's other request belongs to its student";
    EXPECT_EQ(s1002["most_transfers_of_one_file"].asInt(), 2);
    EXPECT_EQ(stats["unattributed"]["kinds"]["update_check"].asInt(), 1);
    EXPECT_EQ(stats["unattributed"]["requests"].asInt(), 2) << "the update check and the unknown student's file";
    EXPECT_FALSE(stats["students"].isMember("1009"));
    EXPECT_EQ(stats["students"]["1001"]["requests"].asInt(), 1);
    EXPECT_EQ(stats["total"]["requests"].asInt(), 9);
    EXPECT_EQ(stats["total"]["connections"].asInt(), 7);
    EXPECT_GE(stats["total"]["peak_requests_per_second"].asInt(), 1);
    EXPECT_GT(stats["total"]["bytes"].asInt64(), static_cast<int64_t>(paper.size()));
    // Over HTTP too, for the scripts.
    EXPECT_EQ(Json(Fetch(api + "/__sim/stats").body)["data"]["total"]["requests"].asInt(), 9);
    const std::string lines = Fetch(api + "/__sim/stats?format=text").body;
    EXPECT_NE(lines.find("student:1002 requests 3 connections 1 "), std::string::npos) << lines;
    EXPECT_NE(lines.find("download_GET=2,server_cfg=1\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("\ntotal requests 9 connections 7 "), std::string::npos) << lines;
    room.Stop();
}

// The program as the start-up code and the demo run it.
TEST(VLPlatformSimProgramTest, RunsOnGivenPortsLogsRequestsAndStopsOnSignal) {
    const std::string exe = std::string(VL_BINARY_DIR) + "/tools/platform-sim/platform-sim";
    const std::string dir = MakeTestDir("program");
    const std::string out = dir + "out.txt", log = dir + "requests.jsonl";

    std::string help = dir + "help.txt";
    EXPECT_EQ(std::system((exe + " --help > " + help).c_str()), 0);
    EXPECT_NE(ReadFileOr(help).find("--data DIR"), std::string::npos);
    EXPECT_NE(std::system((exe + " --bogus 2>/dev/null").c_str()), 0);

    std::vector<std::string> args = {
        exe, "--data",        dir + "data", "--api-port", "0", "--download-port", "0", "--upload-port",
        "0", "--remote-port", "0",          "--log",      log};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // Never leave the simulator running, whatever fails below.
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            if (pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    } reaper{pid};

    std::string line;
    for (int i = 0; i < 600 && line.find("listening") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        line = ReadFileOr(out);
    }
    ASSERT_NE(line.find("listening"), std::string::npos) << line;
    int api = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "platform-sim listening on 127.0.0.1: api %d", &api), 1);
    std::string body;
    EXPECT_EQ(VLHttpClient::HttpGet("http://127.0.0.1:" + std::to_string(api) + "/request", body), 0);
    EXPECT_EQ(Json(body)["code"].asInt(), 0);
    EXPECT_NE(ReadFileOr(log).find("\"kind\":\"relay\""), std::string::npos);

    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    reaper.pid = 0;
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    KWFilePathUtils::RemoveAll(dir);
}

}  // namespace
}  // namespace KwLib
