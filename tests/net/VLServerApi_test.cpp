#include "net/VLServerApi.h"

#include <gtest/gtest.h>

#include "net/VLAgentSettings.h"
#include "tests/net/VLNetTestSupport.h"

namespace KwLib {
namespace {

TEST(VLServerApiTest, SignInReadsDataOnlyUnderASuccessfulEnvelope) {
    auto now = [] { return int64_t{1800000000}; };
    VLStudentLoginResult refused;
    VLServerApi::ParseStudentLoginRsp(
        R"({"code":0,"data":{"code":3,"msg":"账号或密码错误","exam_state":1,"record_id":"12","student_id":5,
            "time_type":2,"time_limit":600,"school_name":"S","instrument":"1,3"}})",
        refused, now);
    EXPECT_EQ(refused.m_code, 3);  // the inner code wins, the fields are filled all the same
    EXPECT_EQ(refused.m_msg, "账号或密码错误");
    EXPECT_EQ(refused.m_examState, 1);
    EXPECT_EQ(refused.m_recordId, 12);
    EXPECT_EQ(refused.m_studentId, 5);
    EXPECT_EQ(refused.m_deadline, 1800000600);
    EXPECT_EQ(refused.m_schoolName, "S");
    EXPECT_EQ(refused.m_instrument, "1,3");

    VLStudentLoginResult big;
    VLServerApi::ParseStudentLoginRsp(R"({"code":0,"data":{"code":200,"record_id":"9223372036854775807"}})",
                                      big, now);
    EXPECT_EQ(big.m_recordId, 9223372036854775807LL);
    VLStudentLoginResult wide;
    VLServerApi::ParseStudentLoginRsp(R"({"code":0,"data":{"code":200,"record_id":"4294967297"}})", wide,
                                      now);
    EXPECT_EQ(wide.m_recordId, 4294967297LL);

    // A limit past every clock saturates instead of wrapping round into the past.
    VLStudentLoginResult endless;
    VLServerApi::ParseStudentLoginRsp(R"({"code":0,"data":{"code":200,"time_limit":9223372036854775807}})",
                                      endless, now);
    EXPECT_EQ(endless.m_deadline, INT64_MAX);

    VLStudentLoginResult number;
    VLServerApi::ParseStudentLoginRsp(
        R"({"code":0,"data":{"code":200,"record_id":4294967297,"time_type":"2"}})", number, now);
    EXPECT_EQ(number.m_code, 200);
    EXPECT_EQ(number.m_recordId, 0);  // a number where text is expected is not read
    EXPECT_EQ(number.m_timeType, 0);
    EXPECT_EQ(number.m_deadline, 0);

    VLStudentLoginResult outer;
    VLServerApi::ParseStudentLoginRsp(R"({"code":7,"data":{"code":200,"record_id":"5"}})", outer, now);
    EXPECT_EQ(outer.m_code, 7);
    EXPECT_EQ(outer.m_recordId, 0);

    for (const char* bad : {"", "not json", "[1]", R"({"code":"0"})", R"({"data":{"code":200}})"}) {
        VLStudentLoginResult r;
        VLServerApi::ParseStudentLoginRsp(bad, r, now);
        EXPECT_EQ(r.m_code, -1) << bad;
        EXPECT_EQ(r.m_recordId, 0) << bad;
    }
}

TEST(VLServerApiTest, ServerConfigurationAndExamState) {
    VLServerCfgResult cfg;
    VLServerApi::ParseServerCfgRsp(R"({"code":0,"data":{}})", cfg);
    EXPECT_EQ(cfg.m_code, 0);
    EXPECT_EQ(cfg.m_rhythmDeviation, 100);
    VLServerCfgResult number;
    VLServerApi::ParseServerCfgRsp(R"({"code":0,"data":{"rhythm_deviation":80}})", number);
    EXPECT_EQ(number.m_rhythmDeviation, 100);
    VLServerCfgResult text;
    VLServerApi::ParseServerCfgRsp(R"({"code":0,"data":{"rhythm_deviation":"80"}})", text);
    EXPECT_EQ(text.m_rhythmDeviation, 80);
    // A text without a number is not a tolerance of 0 ms.
    for (const char* garbled : {R"("")", R"(" ")", R"("abc")", R"("80ms")", R"("-")"}) {
        VLServerCfgResult r;
        VLServerApi::ParseServerCfgRsp(
            std::string(R"({"code":0,"data":{"rhythm_deviation":)") + garbled + "}}", r);
        EXPECT_EQ(r.m_code, 0) << garbled;
        EXPECT_EQ(r.m_rhythmDeviation, 100) << garbled;
    }

    VLExamStateResult ended;
    VLServerApi::ParseExamStateRsp(R"({"code":0,"data":{"exam_state":2}})", ended);
    EXPECT_EQ(ended.m_examState, 2);
    VLExamStateResult refused;
    VLServerApi::ParseExamStateRsp(R"({"code":9,"data":{"exam_state":1}})", refused);
    EXPECT_EQ(refused.m_code, 9);
    EXPECT_EQ(refused.m_examState, 0);  // a refused report means "not running"
    VLExamStateResult unreadable;
    VLServerApi::ParseExamStateRsp("<html>", unreadable);
    EXPECT_EQ(unreadable.m_code, -1);
    EXPECT_EQ(unreadable.m_examState, 0);
}

TEST(VLServerApiTest, UpdateCheckOffersOnlyNewerVersions) {
    const std::string mine = "1.7.1.1393";
    VLUpdateCheckResult same;
    VLServerApi::ParseUpdateCheckRsp(R"({"code":0,"data":{"number":"1.7.1.1393","url":"http://u"}})", mine,
                                     same);
    EXPECT_FALSE(same.m_updateAvailable);
    EXPECT_EQ(same.m_versionNumber, mine);
    EXPECT_TRUE(same.m_downloadUrl.empty());
    VLUpdateCheckResult older;
    VLServerApi::ParseUpdateCheckRsp(R"({"code":0,"data":{"number":"1.7.0.2000","url":"http://u"}})", mine,
                                     older);
    EXPECT_FALSE(older.m_updateAvailable);
    VLUpdateCheckResult newer;
    VLServerApi::ParseUpdateCheckRsp(R"({"code":0,"data":{"number":"1.7.10","url":"http://u"}})", mine,
                                     newer);
    EXPECT_TRUE(newer.m_updateAvailable);
    EXPECT_EQ(newer.m_downloadUrl, "http://u");
    VLUpdateCheckResult refused;
    VLServerApi::ParseUpdateCheckRsp(R"({"code":1,"data":{"number":"9.0","url":"http://u"}})", mine, refused);
    EXPECT_FALSE(refused.m_updateAvailable);
    EXPECT_TRUE(refused.m_versionNumber.empty());
}

TEST(VLServerApiTest, ResultsScoreAndLogReport) {
    VLExamResultResult single;
    VLServerApi::ParseExamResultSignalRsp(R"({"code":0,"msg":"root","data":{"score":70,"msg":"inner"}})",
                                          single);
    EXPECT_EQ(single.m_score, 70);
    EXPECT_EQ(single.m_msg, "inner");
    VLExamResultResult rootOnly;
    VLServerApi::ParseExamResultSignalRsp(R"({"code":4,"msg":"题目已下线"})", rootOnly);
    EXPECT_EQ(rootOnly.m_code, 4);
    EXPECT_EQ(rootOnly.m_msg, "题目已下线");
    EXPECT_EQ(rootOnly.m_score, 0);

    VLExamResultResult paper;
    VLServerApi::ParseExamResultRsp(R"({"code":0,"data":{"score":99}})", paper);
    EXPECT_EQ(paper.m_code, 0);
    EXPECT_EQ(paper.m_score, 0);

    VLExamScoreResult score;
    VLServerApi::ParsesExamScoreRsp(R"({"code":0,"msg":"m","data":{"state":2,"score":"88.5"}})", score);
    EXPECT_EQ(score.m_msg, "m");
    EXPECT_EQ(score.m_state, 2);
    EXPECT_EQ(score.m_score, "88.5");

    VLLogUploadResult log;
    VLServerApi::ParseLogUploadRsp(R"({"code":0})", log);
    EXPECT_EQ(log.m_code, 0);

    // Numbers where text is expected and text where numbers are: nothing is read.
    VLExamScoreResult swapped;
    VLServerApi::ParsesExamScoreRsp(R"({"code":0,"msg":3,"data":{"state":"2","score":88}})", swapped);
    EXPECT_EQ(swapped.m_code, 0);
    EXPECT_EQ(swapped.m_msg, "");
    EXPECT_EQ(swapped.m_state, 0);
    EXPECT_EQ(swapped.m_score, "");
    VLExamResultResult textScore;
    VLServerApi::ParseExamResultSignalRsp(R"({"code":0,"data":{"score":"70"}})", textScore);
    EXPECT_EQ(textScore.m_score, 0);
    VLUpdateCheckResult numberVersion;
    VLServerApi::ParseUpdateCheckRsp(R"({"code":0,"data":{"number":9,"url":"http://u"}})", "1.0",
                                     numberVersion);
    EXPECT_FALSE(numberVersion.m_updateAvailable);
    EXPECT_TRUE(numberVersion.m_downloadUrl.empty());
    VLExamStateResult textState;
    VLServerApi::ParseExamStateRsp(R"({"code":0,"data":{"exam_state":"2"}})", textState);
    EXPECT_EQ(textState.m_examState, 0);
    // A data member that is not an object is not read at all.
    VLExamResultResult arrayData;
    VLServerApi::ParseExamResultSignalRsp(R"({"code":0,"data":[{"score":70}]})", arrayData);
    EXPECT_EQ(arrayData.m_code, 0);
    EXPECT_EQ(arrayData.m_score, 0);
}

TEST(VLServerApiTest, InformationCheckQueuesTheHeadImageOnlyWhenItIsMissing) {
    const std::string dir = MakeTestDir("info");
    KWMessageQueue window;
    const std::string text =
        R"({"code":0,"msg":"ok","data":{"number":3,"student_name":"王小明","head_img":"http://img.virelo.com/h/1.jpg"}})";
    auto rewrite = [](const std::string& u) { return "rewritten:" + u; };
    VLStudentInfoResult first;
    std::vector<VLDownloadTask> downloads;
    VLServerApi::ParseInformationCheckRsp(text, first, dir, rewrite, &window, downloads);
    EXPECT_EQ(first.m_code, 0);
    EXPECT_EQ(first.m_number, 3);
    EXPECT_EQ(first.m_studentName, "王小明");
    EXPECT_EQ(first.m_msg, "ok");
    EXPECT_EQ(first.m_headImagePath, VLAgentSettings::CachePath(dir, "http://img.virelo.com/h/1.jpg"));
    EXPECT_EQ(first.m_headImagePath.substr(first.m_headImagePath.size() - 4), ".jpg");
    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_EQ(downloads[0].m_kind, VLDownloadTask::kHeadImage);
    EXPECT_EQ(downloads[0].m_url, "rewritten:http://img.virelo.com/h/1.jpg");
    EXPECT_EQ(downloads[0].m_savePath, first.m_headImagePath);
    EXPECT_EQ(downloads[0].m_receiver, &window);

    KWFile::WriteAtomic(first.m_headImagePath, "jpeg");
    VLStudentInfoResult second;
    downloads.clear();
    VLServerApi::ParseInformationCheckRsp(text, second, dir, rewrite, &window, downloads);
    EXPECT_EQ(second.m_headImagePath, first.m_headImagePath);
    EXPECT_TRUE(downloads.empty());

    VLStudentInfoResult swapped;
    VLServerApi::ParseInformationCheckRsp(R"({"code":0,"data":{"number":"3","student_name":5,"head_img":7}})",
                                          swapped, dir, rewrite, &window, downloads);
    EXPECT_EQ(swapped.m_number, 1);
    EXPECT_TRUE(swapped.m_studentName.empty());
    EXPECT_TRUE(swapped.m_headImagePath.empty());
    EXPECT_TRUE(downloads.empty());

    VLStudentInfoResult none;
    VLServerApi::ParseInformationCheckRsp(R"({"code":2,"msg":"学号不存在"})", none, dir, rewrite, &window,
                                          downloads);
    EXPECT_EQ(none.m_code, 2);
    EXPECT_EQ(none.m_number, 1);
    EXPECT_TRUE(none.m_headImagePath.empty());
    EXPECT_TRUE(downloads.empty());
    KWFilePathUtils::RemoveAll(dir);
}

}  // namespace
}  // namespace KwLib
