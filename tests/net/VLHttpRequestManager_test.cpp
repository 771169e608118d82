#include "net/VLHttpRequestManager.h"

#include <gtest/gtest.h>

#include <set>

#include "exam/VLExamManager.h"
#include "net/VLAgentSettings.h"
#include "net/VLDownloadManager.h"
#include "net/VLNetMessages.h"
#include "net/VLServerApi.h"
#include "tests/net/VLNetTestSupport.h"

namespace KwLib {
namespace {

constexpr const char* kVersion = "1.7.1.1393";

VLSysUrlInfo MakeUrls(const std::string& api, const std::string& upload) {
    VLSysUrlInfo u;
    u.ProductName = "Virelo";
    u.ClientVersionUrl = api + "/api2/getClientVersion?client_type=1&type=%d&school_id=%s";
    u.StudentLoginUrl =
        api + "/api2/studentLogin?account=%s&password=%s&school_id=%s&classroom_id=%s&useragent=%s";
    u.ExamQuestionListUrl = api + "/api2/get_exam_question?school_id=%s&classroom_id=%s&record_id=%I64d";
    u.ExamQuestionUrl = api + "/api2/getQuestion?id=%s";
    u.ExamStatusUrl =
        api +
        "/api2/studentClientSchedule?school_id=%s&classroom_id=%s&exam_record_id=%I64d&student_id=%I64d&"
        "question_id=%s&status=%d&number_first=%d&number_second=%d";
    u.ExamResultListUrl =
        api +
        "/api2/testResult?school_id=%s&classroom_id=%s&paper_id=%I64d&student_id=%I64d&student_num=%"
        "s&student_name=%s&result=%s";
    u.ExamResultUrl = api + "/api2/singleTestResult?result=%s";
    u.FileUploadUrl = upload + "/api2?c=file&m=upFile&dataType=json";
    u.BugReportUrl = api + "/api2/clientUploadBreakdown?";
    u.ServerCfgUrl = api + "/api2/getCfg?school_id=%s";
    u.StudentHeardUrl = api + "/api2/getStudentHeadImg?school_id=%s&student_no=%s";
    u.ExamScoreUrl =
        api + "/api2/getStudentResultScore?school_id=%s&classroom_id=%s&paper_id=%I64d&student_id=%I64d";
    return u;
}

// The client as in a classroom: platform URLs on ".com" hosts, rewritten to the
// agent, which is the simulator on loopback.
class VLHttpRequestManagerTest : public VLSimTest {
protected:
    void SetUp() override {
        VLSimTest::SetUp();
        if (IsSkipped())
            return;
        m_agent.SetRunMode(3);
        m_agent.SetValues("127.0.0.1", s_sim->ApiPort(), s_sim->DownloadPort(), s_sim->UploadPort(),
                          s_sim->RemotePort());
        // Traffic must stay on loopback: stop here if the rewriting ever lets a
        // platform host through.
        ASSERT_EQ(m_agent.RewriteRequestUrl("http://api.virelo-music.com/x").rfind("127.0.0.1:", 0), 0u);
        ASSERT_EQ(m_agent.RewriteUploadUrl("http://up.virelo-music.com/x").rfind("127.0.0.1:", 0), 0u);
        m_manager.SetClientVersion(kVersion);
        m_manager.SetSysUrls(MakeUrls("http://api.virelo-music.com", "http://up.virelo-music.com"));
        m_manager.SetAgentSettings(&m_agent);
        m_manager.SetDownloadDir(m_work + "Download/");
        m_manager.SetDownloadManager(&m_downloads);
        m_manager.SetExamManager(&m_exam);
        m_exam.SetClock([] { return int64_t{1700000000}; });
    }
    void TearDown() override {
        m_manager.Release();
        m_downloads.Release();
        m_exam.Release();
        ExpectNoSenderLeft(m_queue);
    }
    template <typename T>
    std::unique_ptr<T> Take(uint32_t message) {
        auto m = WaitFor(m_queue, message);
        EXPECT_TRUE(m) << "no message " << message;
        return std::unique_ptr<T>(m ? reinterpret_cast<T*>(m->wParam) : nullptr);
    }

    KWMessageQueue m_queue;
    VLAgentSettings m_agent;
    VLDownloadManager m_downloads;
    VLExamManager m_exam;
    VLHttpRequestManager m_manager;
};

TEST_F(VLHttpRequestManagerTest, RequestsAreServedInArrivalOrderAndSigned) {
    m_manager.SendServerCfgReq("11", &m_queue);
    m_manager.SendInfomationCheckReq("11", "1002", &m_queue);
    m_manager.SendStudentLoginReq("李四", "1002", "11", "22", "VLStudent/1.7 (Linux)", &m_queue);
    m_manager.SendExamStateReq("11", "22", 8589934597LL, 7000001002LL, "105", 2, 3, 4, &m_queue);
    m_manager.Start();
    auto cfg = Take<VLServerCfgResult>(WM_SERVER_CFG_RSP);
    auto info = Take<VLStudentInfoResult>(WM_INFORMATION_CHECK_RSP);
    auto login = Take<VLStudentLoginResult>(WM_STUDENT_LOGIN_RSP);
    auto state = Take<VLExamStateResult>(WM_EXAM_STATE_RSP);
    ASSERT_TRUE(cfg && info && login && state);

    KWJsonValue records = s_sim->GetRecords();
    std::vector<std::string> kinds;
    for (const auto& r : records) {
        kinds.push_back(r["kind"].asString());
        if (r["method"].asString() == "GET") {
            EXPECT_EQ(r["signature"].asString(), "ok") << r["query"].asString();
        }
        EXPECT_EQ(r["port"].asString(), "api");
        EXPECT_EQ(r["fields"]["client_version"].asString(), kVersion);
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"server_cfg", "information_check", "sign_in", "progress"}));

    EXPECT_EQ(cfg->m_code, 0);
    EXPECT_EQ(cfg->m_rhythmDeviation, 150);
    EXPECT_EQ(info->m_code, 0);
    EXPECT_EQ(info->m_studentName, "李四");
    EXPECT_EQ(info->m_headImagePath,
              VLAgentSettings::CachePath(m_work + "Download/", s_sim->FileBase() + "/files/head_1002.png"));
    EXPECT_EQ(login->m_code, 200);
    EXPECT_EQ(login->m_recordId, 8589934597LL);  // past 32 bits
    EXPECT_EQ(login->m_studentId, 7000001002LL);
    EXPECT_EQ(login->m_timeType, 2);
    EXPECT_EQ(login->m_paperName, "音乐与美术综合测评（样卷）");
    EXPECT_EQ(login->m_instrument, "1,2,3,4,5,6");
    EXPECT_EQ(state->m_examState, 1);
    // What reaches the wire, byte for byte: the template's pairs in order, the
    // version, and for GET the signature (digests worked out apart from the program).
    EXPECT_EQ(records[0]["path"].asString(), "/api2/getCfg");
    EXPECT_EQ(records[0]["query"].asString(),
              "school_id=11&client_version=1.7.1.1393&signature=20415324a898370347ba1df30a365e0e");
    EXPECT_EQ(records[2]["method"].asString(), "POST");
    EXPECT_EQ(records[2]["path"].asString(), "/api2/studentLogin");
    EXPECT_EQ(records[2]["body"].asString(),
              "account=李四&password=1002&school_id=11&classroom_id=22&useragent=VLStudent/1.7 (Linux)"
              "&client_version=1.7.1.1393");
    EXPECT_EQ(records[3]["path"].asString(), "/api2/studentClientSchedule");
    EXPECT_EQ(records[3]["query"].asString(),
              "school_id=11&classroom_id=22&exam_record_id=8589934597&student_id=7000001002&question_id=105"
              "&status=2&number_first=3&number_second=4&client_version=1.7.1.1393"
              "&signature=4cf81203c2f6ab81885ab7fd2dedf0dc");
    EXPECT_EQ(records[2]["fields"]["account"].asString(), "李四");
    EXPECT_EQ(records[2]["fields"]["useragent"].asString(), "VLStudent/1.7 (Linux)");
    EXPECT_EQ(records[3]["fields"]["exam_record_id"].asString(), "8589934597");
    EXPECT_EQ(records[3]["fields"]["status"].asString(), "2");
    EXPECT_EQ(records[3]["fields"]["number_second"].asString(), "4");
}

TEST_F(VLHttpRequestManagerTest, HeadImageOfTheInformationCheckIsDownloaded) {
    m_downloads.Start();
    m_manager.Start();
    m_manager.SendInfomationCheckReq("11", "1001", &m_queue);
    auto info = Take<VLStudentInfoResult>(WM_INFORMATION_CHECK_RSP);
    ASSERT_TRUE(info);
    auto done = Take<VLDownloadTask>(WM_DOWNLOAD_DONE);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->m_kind, VLDownloadTask::kHeadImage);
    EXPECT_EQ(done->m_savePath, info->m_headImagePath);
    EXPECT_EQ(ReadFile(info->m_headImagePath), ReadFile(s_sim->FilesDir() + "head_1001.png"));
    // Known now: a second check queues nothing.
    s_sim->ClearRecords();
    m_manager.SendInfomationCheckReq("11", "1001", &m_queue);
    ASSERT_TRUE(Take<VLStudentInfoResult>(WM_INFORMATION_CHECK_RSP));
    m_downloads.Release();
    EXPECT_EQ(RecordsOfKind("download").size(), 0u);
    // An unknown student is refused with the platform's message.
    m_manager.SendInfomationCheckReq("11", "9999", &m_queue);
    auto unknown = Take<VLStudentInfoResult>(WM_INFORMATION_CHECK_RSP);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->m_code, 1);
    EXPECT_FALSE(unknown->m_msg.empty());
    EXPECT_TRUE(unknown->m_headImagePath.empty());
}

TEST_F(VLHttpRequestManagerTest, PaperGoesToTheRemotePortAndItsRecordsAndFilesArrive) {
    m_manager.Start();
    m_manager.SendExamQuestionReq("11", "22", 8589934597LL, "", &m_queue);
    auto m = WaitFor(m_queue, WM_EXAM_QUESTION_RSP);
    ASSERT_TRUE(m);
    std::unique_ptr<VLQuestionList> list(reinterpret_cast<VLQuestionList*>(m->lParam));
    EXPECT_EQ(static_cast<int>(m->wParam), 0);
    ASSERT_TRUE(list);
    KWJsonValue paper = RecordsOfKind("paper");
    ASSERT_EQ(paper.size(), 1u);
    EXPECT_EQ(paper[0]["port"].asString(), "remote");
    EXPECT_EQ(paper[0]["fields"]["record_id"].asString(), "8589934597");
    {
        auto lock = m_exam.Lock();
        EXPECT_EQ(list->m_questionCount, m_exam.GetCount());
        std::set<int> types;
        for (int i = 0; i < m_exam.GetCount(); ++i)
            types.insert(m_exam.GetQuestion(i)->m_type);
        // Without an instrument every singing kind stays and no instrument item does.
        EXPECT_EQ(types, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14, 15, 16}));
        m_exam.Clear();
    }
    // Every file of the paper is missing locally, each queued once, rewritten to the download port.
    ASSERT_FALSE(list->m_downloads.empty());
    std::set<std::string> paths;
    for (const auto& t : list->m_downloads) {
        EXPECT_EQ(t.m_url.rfind("http://127.0.0.1:" + std::to_string(s_sim->DownloadPort()) + "/files/", 0),
                  0u)
            << t.m_url;
        EXPECT_EQ(t.m_receiver, &m_queue);
        paths.insert(t.m_savePath);
    }
    EXPECT_EQ(paths.size(), list->m_downloads.size());

    // The recorder (instrument 2) keeps its own item of the new paper, as a singing question.
    m_manager.SendExamQuestionReq("11", "22", 8589934597LL, "2", &m_queue);
    auto second = WaitFor(m_queue, WM_EXAM_QUESTION_RSP);
    ASSERT_TRUE(second);
    delete reinterpret_cast<VLQuestionList*>(second->lParam);
    auto lock = m_exam.Lock();
    std::vector<std::string> singing;
    for (int i = 0; i < m_exam.GetCount(); ++i)
        if (m_exam.GetQuestion(i)->m_type >= 3 && m_exam.GetQuestion(i)->m_type <= 7)
            singing.push_back(m_exam.GetQuestion(i)->m_id);
    EXPECT_EQ(singing, std::vector<std::string>{"302"});
}

TEST_F(VLHttpRequestManagerTest, SingleQuestionAndItsScore) {
    m_manager.Start();
    m_manager.SendExamQuestionReq("206", &m_queue);
    auto m = WaitFor(m_queue, WM_EXAM_QUESTION_SIGNAL_RSP);
    ASSERT_TRUE(m);
    std::unique_ptr<VLQuestionList> list(reinterpret_cast<VLQuestionList*>(m->lParam));
    EXPECT_EQ(static_cast<int>(m->wParam), 0);
    {
        auto lock = m_exam.Lock();
        ASSERT_EQ(m_exam.GetCount(), 1);
        EXPECT_EQ(m_exam.GetQuestion(0)->m_type, 14);
        EXPECT_EQ(m_exam.GetQuestion(0)->m_id, "206");
    }
    EXPECT_EQ(list->m_downloads.size(), 1u);  // the jigsaw picture

    const std::string answer = R"([{"id":"206","answer":"2,1,3"}])";
    m_manager.SendExamResultReq(answer, &m_queue);
    m_manager.SendExamScoreReq("11", "22", 5, 7000001001LL, &m_queue);
    auto result = Take<VLExamResultResult>(WM_EXAM_RESULT_SIGNAL_RSP);
    auto score = Take<VLExamScoreResult>(WM_EXAM_SCORE_RSP);
    ASSERT_TRUE(result && score);
    EXPECT_EQ(result->m_code, 0);
    EXPECT_EQ(result->m_score, 85);
    EXPECT_EQ(result->m_msg, "提交成功");
    EXPECT_EQ(score->m_state, 1);
    EXPECT_EQ(score->m_score, "92");
    EXPECT_EQ(RecordsOfKind("single_result")[0]["fields"]["result"].asString(), answer);
}

TEST_F(VLHttpRequestManagerTest, WholeResultUpdateCheckAndLogReport) {
    m_manager.Start();
    const std::string answers = R"([{"id":"101","answer":"A"},{"id":"104","answer":"http://x/a.wav"}])";
    m_manager.SendExamResultReq("11", "22", 8589934597LL, 7000001001LL, "1001", "张三", answers, &m_queue);
    m_manager.SendUpdateCheckReq(2, "11", &m_queue);
    m_manager.SendLogUploadReq("http://files/log.zip", &m_queue);
    auto result = Take<VLExamResultResult>(WM_EXAM_RESULT_RSP);
    auto update = Take<VLUpdateCheckResult>(WM_UPDATE_CHECK_RSP);
    auto log = Take<VLLogUploadResult>(WM_LOG_UPLOAD_RSP);
    ASSERT_TRUE(result && update && log);
    EXPECT_EQ(result->m_code, 0);
    KWJsonValue sent = RecordsOfKind("result");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["port"].asString(), "remote");
    EXPECT_EQ(sent[0]["fields"]["paper_id"].asString(), "8589934597");
    EXPECT_EQ(sent[0]["fields"]["student_name"].asString(), "张三");
    // The result is the body's last pair and reaches the platform whole.
    EXPECT_EQ(sent[0]["fields"]["result"].asString(), answers);
    // The simulator offers the client's own version: no update.
    EXPECT_EQ(update->m_code, 0);
    EXPECT_FALSE(update->m_updateAvailable);
    EXPECT_TRUE(update->m_downloadUrl.empty());
    EXPECT_EQ(log->m_code, 0);
    KWJsonValue report = RecordsOfKind("log_upload");
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0]["fields"]["description"].asString(), "学生端日志");
    EXPECT_EQ(report[0]["fields"]["log_url"].asString(), "http://files/log.zip");
    EXPECT_EQ(report[0]["fields"]["type"].asString(), "student");
    EXPECT_EQ(report[0]["fields"]["version"].asString(), kVersion);
}

TEST_F(VLHttpRequestManagerTest, UrlWithoutQueryGetsTheVersionAndNoSignature) {
    m_manager.Start();
    VLHttpRequest relay;
    relay.m_id = kReqAgentRelay;
    relay.m_url = "127.0.0.1:" + std::to_string(s_sim->ApiPort()) + "/request";
    relay.m_receiver = &m_queue;
    m_manager.AddRequest(relay);
    ASSERT_TRUE(WaitFor(m_queue, WM_AGENT_RELAY_RSP));
    KWJsonValue seen = RecordsOfKind("relay");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0]["query"].asString(), std::string("&client_version=") + kVersion);
    EXPECT_EQ(seen[0]["signature"].asString(), "none");
    // The settings window's test form: "host:port/request?" is signed over the version pair.
    relay.m_url += "?";
    m_manager.AddRequest(relay);
    ASSERT_TRUE(WaitFor(m_queue, WM_AGENT_RELAY_RSP));
    EXPECT_EQ(RecordsOfKind("relay")[1]["signature"].asString(), "ok");

    EXPECT_EQ(VLHttpRequestManager::SignUrl("http://h/p"), "http://h/p");
    EXPECT_EQ(VLHttpRequestManager::SignUrl("http://h/p?"), "http://h/p?");
    // md5("a=1&client_version=2qlvzmtrewyhodsnapkbu"), worked out apart from the program.
    EXPECT_EQ(VLHttpRequestManager::SignUrl("http://h/p?a=1&client_version=2"),
              "http://h/p?a=1&client_version=2&signature=4c3198b96305bc385c9ef24a0d5c707f");
    std::string url, fields;
    VLHttpRequestManager::SplitPostUrl("http://h/p?a=1&b=2", url, fields);
    EXPECT_EQ(url, "http://h/p?");
    EXPECT_EQ(fields, "a=1&b=2");
    VLHttpRequestManager::SplitPostUrl("http://h/p&client_version=1", url, fields);
    EXPECT_EQ(url, "http://h/p&client_version=1");
    EXPECT_EQ(fields, "");
}

TEST_F(VLHttpRequestManagerTest, ErrorPagesReachTheParserAndTransportFailuresDoNot) {
    VLSimFault page;
    page.m_status = 502;
    s_sim->SetFault("/api2/getCfg", page);
    VLSimFault drop;
    drop.m_drop = true;
    s_sim->SetFault("/api2/studentClientSchedule", drop);
    VLSimFault html;
    html.m_nonJson = true;
    s_sim->SetFault("/api2/studentLogin", html);
    m_manager.Start();
    m_manager.SendServerCfgReq("11", &m_queue);
    m_manager.SendExamStateReq("11", "22", 1, 2, "", 0, 0, 0, &m_queue);
    m_manager.SendStudentLoginReq("张三", "1001", "11", "22", "ua", &m_queue);

    auto cfg = Take<VLServerCfgResult>(WM_SERVER_CFG_RSP);
    ASSERT_TRUE(cfg);
    EXPECT_EQ(cfg->m_code, -1);
    EXPECT_EQ(cfg->m_rhythmDeviation, 100);
    auto failed = WaitFor(m_queue, WM_HTTP_FAILED);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->wParam, static_cast<uintptr_t>(kReqExamState));
    EXPECT_EQ(failed->lParam, 52);  // CURLE_GOT_NOTHING
    auto login = Take<VLStudentLoginResult>(WM_STUDENT_LOGIN_RSP);
    ASSERT_TRUE(login);
    EXPECT_EQ(login->m_code, -1);
    EXPECT_EQ(login->m_recordId, 0);
}

TEST_F(VLHttpRequestManagerTest, SlowRequestDelaysTheNextAndReleaseWaitsForIt) {
    VLSimFault slow;
    slow.m_delayMs = 600;
    s_sim->SetFault("/api2/getCfg", slow);
    m_manager.SendServerCfgReq("11", &m_queue);
    m_manager.SendUpdateCheckReq(2, "11", &m_queue);
    m_manager.Start();
    auto first = WaitFor(m_queue, WM_SERVER_CFG_RSP);
    ASSERT_TRUE(first);
    delete reinterpret_cast<VLServerCfgResult*>(first->wParam);
    delete Take<VLUpdateCheckResult>(WM_UPDATE_CHECK_RSP).release();

    // Release while a slow request is in transfer returns only after its answer.
    m_manager.SendServerCfgReq("11", &m_queue);
    // Wait until the worker has taken the request (the simulator holds its answer).
    for (int i = 0; i < 5000 && m_manager.QueuedCount() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_manager.Release();
    auto after = m_queue.Take(std::chrono::milliseconds(0));
    ASSERT_TRUE(after);
    EXPECT_EQ(after->message, WM_SERVER_CFG_RSP);
    delete reinterpret_cast<VLServerCfgResult*>(after->wParam);
}

TEST_F(VLHttpRequestManagerTest, AForgottenReceiverHearsNothingMoreNotEvenTheAnswerInFlight) {
    VLSimFault slow;
    slow.m_delayMs = 400;
    s_sim->SetFault("/api2/getCfg", slow);
    m_manager.Start();
    // A window on the stack asks, and closes while the worker waits for the answer.
    auto gone = std::make_unique<KWMessageQueue>();
    m_manager.SendServerCfgReq("11", gone.get());
    m_manager.SendUpdateCheckReq(2, "11", gone.get());  // still queued behind it
    for (int i = 0; i < 5000 && m_manager.QueuedCount() > 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_manager.ForgetReceiver(gone.get());
    EXPECT_EQ(m_manager.QueuedCount(), 0u);
    gone->Close();  // a post from now on would reach a freed window
    // Others are answered as before, after the one in flight.
    m_manager.SendUpdateCheckReq(2, "11", &m_queue);
    delete Take<VLUpdateCheckResult>(WM_UPDATE_CHECK_RSP).release();
    EXPECT_EQ(gone->RefusedPosts(), 0u);
    EXPECT_EQ(gone->Size(), 0u);
}

}  // namespace
}  // namespace KwLib

namespace KwLib {
namespace {

// A manager that was never told where to send, or which agent rules hold,
// sends nothing at all: no default address may ever be used.
TEST(VLHttpRequestManagerWiring, RequestsWithoutAddressOrAgentSettingsAreRefusedNotSent) {
    KWMessageQueue queue;
    VLAgentSettings agent;
    agent.SetRunMode(5);
    {
        VLHttpRequestManager noUrls;  // no SysUrl row
        noUrls.SetAgentSettings(&agent);
        noUrls.Start();
        noUrls.SendServerCfgReq("11", &queue);
        noUrls.SendLogUploadReq("http://127.0.0.1:1/log.zip", &queue);
        EXPECT_EQ(noUrls.QueuedCount(), 0u);
        for (int expected : {kReqServerCfg, kReqLogUpload}) {
            auto m = queue.Take(std::chrono::milliseconds(2000));
            ASSERT_TRUE(m);
            EXPECT_EQ(m->message, WM_HTTP_FAILED);
            EXPECT_EQ(static_cast<int>(m->wParam), expected);
            EXPECT_EQ(m->lParam, VLHttpRequestManager::kRefusedCode);
        }
        noUrls.Release();
    }
    {
        VLHttpRequestManager noAgent;  // addresses, but nobody decided whether they go to an agent
        VLSysUrlInfo urls;
        urls.ServerCfgUrl = "http://127.0.0.1:1/api2/getCfg?school_id=%s";
        noAgent.SetSysUrls(urls);
        noAgent.SendServerCfgReq("11", &queue);
        EXPECT_EQ(noAgent.QueuedCount(), 0u);
        auto m = queue.Take(std::chrono::milliseconds(2000));
        ASSERT_TRUE(m);
        EXPECT_EQ(m->message, WM_HTTP_FAILED);
        EXPECT_EQ(static_cast<int>(m->wParam), kReqServerCfg);
    }
    EXPECT_EQ(queue.Size(), 0u);
}

}  // namespace
}  // namespace KwLib
