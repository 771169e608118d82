#include "exam/VLQuestionParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "exam/VLQuestionTexts.h"
#include "platform/common/KWMD5Utils.h"
#include "platform/common/KWStringUtils.h"
#include "tests/exam/VLExamTestUtils.h"

namespace KwLib {
namespace {

std::string Group(const std::string& rawType, int isNew, const std::string& items, const char* score = "2",
                  const char* total = "10") {
    return KWStringUtils::Format(
        R"({"conf":{"question_type":"%s","number":"1","score":"%s","total":"%s","desc":"","is_new":%d},"question":[%s]})",
        rawType.c_str(), score, total, isNew, items.c_str());
}

std::string Paper(const std::string& sectionsBody) {
    return R"({"code":0,"data":{)" + sectionsBody + "}}";
}

KWJsonValue ParseJson(const std::string& text) {
    KWJsonValue v;
    EXPECT_TRUE(KWJsonReader::Parse(text, v)) << text;
    return v;
}

class QuestionParserTest : public ::testing::Test {
protected:
    void SetUp() override {
        manager.SetClock([] { return int64_t{1700000000}; });
    }

    std::vector<VLQuestionBase*> Records() {
        auto lock = manager.Lock();
        std::vector<VLQuestionBase*> out;
        for (int i = 0; i < manager.GetCount(); ++i)
            out.push_back(manager.GetQuestion(i));
        return out;
    }

    // Parses one section's groups without regrouping.
    std::vector<VLQuestionBase*> ParseSection(const std::string& groups, int section, int instrument = 0) {
        parser.ParseQuestionGroups(ParseJson("[" + groups + "]"), section, instrument, &receiver, downloads);
        return Records();
    }

    std::string Path(const std::string& url) const { return VLQuestionParser::GetCachePath(dir.Path(), url); }

    test::ScopedTempDir dir;
    VLExamManager manager;
    KWMessageQueue receiver;
    VLQuestionParser parser{manager, dir.Path()};
    std::vector<VLDownloadTask> downloads;
};

TEST_F(QuestionParserTest, RawTypeThreeDependsOnSection) {
    EXPECT_EQ(VLQuestionParser::MapQuestionType(3, 1, true), kQuestionSing);
    EXPECT_EQ(VLQuestionParser::MapQuestionType(3, 2, true), kQuestionJudge);
    EXPECT_EQ(VLQuestionParser::MapQuestionType(3, 3, true), kQuestionInstrument);
    // The single-question document knows only the art mappings.
    EXPECT_EQ(VLQuestionParser::MapQuestionType(3, 3, false), kQuestionSing);
    EXPECT_EQ(VLQuestionParser::MapQuestionType(9, 2, true), kQuestionColouring);
    EXPECT_EQ(VLQuestionParser::MapQuestionType(0, 1, true), 0);
    EXPECT_EQ(VLQuestionParser::MapQuestionType(17, 1, true), 0);

    // The same group in each section gives a singing, a judgement and an instrument record.
    const std::string item =
        R"({"id":"q","question_type":"5","answer":{"options":[{"text":"yes"},{"text":"no"}]}})";
    auto records = ParseSection(Group("3", 0, item), 1, /*instrument=*/4);
    EXPECT_TRUE(records.empty()) << "with an instrument chosen the section-1 singing item is skipped";
    ParseSection(Group("3", 0, item), 2, 4);
    records = ParseSection(Group("3", 0, item), 3, 4);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]->m_type, kQuestionJudge);
    EXPECT_EQ(records[1]->m_type, kQuestionInstrument);
    EXPECT_EQ(records[1]->m_instrument, 4);
    EXPECT_EQ(records[1]->m_section, 1) << "singing records always count as section 1";

    VLExamManager other;
    VLQuestionParser plain(other, dir.Path());
    std::vector<VLDownloadTask> tasks;
    plain.ParseQuestionGroups(ParseJson("[" + Group("3", 0, item) + "]"), 1, 0, nullptr, tasks);
    plain.ParseQuestionGroups(ParseJson("[" + Group("3", 0, item) + "]"), 2, 0, nullptr, tasks);
    plain.ParseQuestionGroups(ParseJson("[" + Group("3", 0, item) + "]"), 3, 0, nullptr, tasks);
    auto lock = other.Lock();
    ASSERT_EQ(other.GetCount(), 2) << "without an instrument the instrument item is skipped";
    EXPECT_EQ(other.GetQuestion(0)->m_type, kQuestionSing);
    EXPECT_EQ(other.GetQuestion(1)->m_type, kQuestionJudge);
    EXPECT_EQ(other.GetQuestion(1)->m_section, 2);
    auto* judge = dynamic_cast<VLChoiceQuestion*>(other.GetQuestion(1));
    ASSERT_NE(judge, nullptr);
    EXPECT_EQ(judge->m_options.size(), 2u);
}

TEST_F(QuestionParserTest, InstrumentFilterMatchesTheItemsOwnType) {
    const std::string items = R"({"id":"violin","question_type":"3"},{"id":"piano","question_type":"5"})";
    auto records = ParseSection(Group("3", 0, items), 3, /*instrument=*/2);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]->m_id, "violin");
    EXPECT_EQ(records[0]->m_instrument, 2);
}

TEST_F(QuestionParserTest, StartAndEndTimes) {
    EXPECT_EQ(VLQuestionParser::ParseTimeMs("12.500"), 12500);
    EXPECT_EQ(VLQuestionParser::ParseTimeMs("12.5"), 12005);
    EXPECT_EQ(VLQuestionParser::ParseTimeMs("30"), 30000);
    EXPECT_EQ(VLQuestionParser::ParseTimeMs(""), 0);
    EXPECT_EQ(VLQuestionParser::ParseTimeMs("1.2.3"), 1000) << "more than two parts: the whole value";
    EXPECT_EQ(VLQuestionParser::ParseTimeMs("99999999999"), INT32_MAX) << "saturates instead of overflowing";

    auto records = ParseSection(
        Group("3", 1,
              R"({"id":"a","answer":{"start":"12.500","end":"30"}},{"id":"b","answer":{"start":"12.5"}})"),
        1);
    ASSERT_EQ(records.size(), 2u);
    auto* a = dynamic_cast<VLSingQuestion*>(records[0]);
    auto* b = dynamic_cast<VLSingQuestion*>(records[1]);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->m_startMs, 12500);
    EXPECT_EQ(a->m_endMs, 30000);
    EXPECT_EQ(b->m_startMs, 12005);
    EXPECT_EQ(b->m_endMs, 0);
}

TEST_F(QuestionParserTest, RhythmTempoDefaultsTo80) {
    auto records =
        ParseSection(Group("8", 1,
                           R"({"id":"none","answer":{}},{"id":"zero","answer":{"bpm":"0"}},)"
                           R"({"id":"set","answer":{"bpm":"96"}},{"id":"number","answer":{"bpm":120}},)"
                           R"({"id":"negative","answer":{"bpm":"-20"}})"),
                     1);
    ASSERT_EQ(records.size(), 5u);
    std::vector<int> bpm;
    for (auto* r : records)
        bpm.push_back(dynamic_cast<VLRhythmQuestion&>(*r).m_bpm);
    EXPECT_EQ(bpm, (std::vector<int>{80, 80, 96, 80, 80}));
}

TEST_F(QuestionParserTest, ConnectionColumnsOfEqualLengthShareOnePermutation) {
    const std::string left =
        R"([{"text":"a"},{"text":"b"},{"text":"c"},{"text":"d"},{"text":"e"},{"text":"f"}])";
    const std::string right =
        R"([{"text":"1"},{"text":"2"},{"text":"3"},{"text":"4"},{"text":"5"},{"text":"6"}])";
    auto records = ParseSection(
        Group("11", 1, R"({"id":"c","answer":{"options":[)" + left + "," + right + R"(,"x"]}})"), 1);
    ASSERT_EQ(records.size(), 1u);
    auto& connection = dynamic_cast<VLConnectionQuestion&>(*records[0]);
    EXPECT_EQ(connection.m_durations[2], 10000);
    ASSERT_EQ(connection.m_columns.size(), 3u);
    EXPECT_TRUE(connection.m_columns[2]->m_options.empty()) << "a column that is not an array stays empty";

    std::vector<int> first, second;
    for (auto& o : connection.m_columns[0]->m_options)
        first.push_back(o->index);
    for (auto& o : connection.m_columns[1]->m_options)
        second.push_back(o->index);
    EXPECT_EQ(first, second);
    std::vector<int> sorted = first;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_NE(first, sorted) << "this seed shuffles";
    // Each option keeps its value with its original index.
    for (auto& o : connection.m_columns[0]->m_options)
        EXPECT_EQ(o->value, std::string(1, char('a' + o->index)));
}

TEST_F(QuestionParserTest, OptionsTakeTextBeforePictureBeforeAudio) {
    auto records = ParseSection(
        Group(
            "1", 1,
            R"({"id":"o","answer":{"options":[{"text":"t","image":"http://h.com/i.png"},{"image":"http://h.com/p.jpg","audio":"http://h.com/a.mp3"},)"
            R"({"audio":"http://h.com/a.mp3"},{},{"text":7}]}})"),
        1);
    ASSERT_EQ(records.size(), 1u);
    auto& choice = dynamic_cast<VLChoiceQuestion&>(*records[0]);
    ASSERT_EQ(choice.m_options.size(), 5u);
    std::vector<VLQuestionOption*> byIndex(5);
    for (auto& o : choice.m_options)
        byIndex[static_cast<size_t>(o->index)] = o.get();
    ASSERT_TRUE(std::all_of(byIndex.begin(), byIndex.end(), [](auto* p) { return p != nullptr; }))
        << "every option keeps a distinct index";
    EXPECT_EQ(byIndex[0]->kind, VLQuestionOption::kText);
    EXPECT_EQ(byIndex[0]->value, "t");
    EXPECT_EQ(byIndex[1]->kind, VLQuestionOption::kPicture);
    EXPECT_EQ(byIndex[1]->value, Path("http://h.com/p.jpg"));
    EXPECT_EQ(byIndex[2]->kind, VLQuestionOption::kAudio);
    EXPECT_EQ(byIndex[2]->value, Path("http://h.com/a.mp3"));
    EXPECT_EQ(byIndex[3]->kind, VLQuestionOption::kText);
    EXPECT_EQ(byIndex[3]->value, "");
    EXPECT_EQ(byIndex[4]->value, "") << "a text that is not a string is no text";

    // Only the chosen file of each option is fetched, and only once.
    std::set<std::string> urls;
    for (auto& t : downloads)
        urls.insert(t.m_url);
    EXPECT_EQ(urls, (std::set<std::string>{"http://h.com/p.jpg", "http://h.com/a.mp3"}));
    EXPECT_EQ(downloads.size(), 2u);
}

TEST_F(QuestionParserTest, ContentPicturesBecomeMarkersWithPathsInOrder) {
    auto records = ParseSection(
        Group(
            "1", 1,
            R"({"id":"p","content":"看图<img>http://h.com/a.png</img>和<img>http://h.com/b.jpg</img>。"},)"
            R"({"id":"d","content":"<img>http://h.com/a.png</img><img>http://h.com/c.gif</img><img>http://h.com/a.png</img>"},)"
            R"({"id":"open","content":"x<img>http://h.com/never-closed.png"})"),
        1);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0]->m_content, "看图/:img和/:img。");
    EXPECT_EQ(records[0]->m_contentImages,
              (std::vector<std::string>{Path("http://h.com/a.png"), Path("http://h.com/b.jpg")}));

    // One path per marker even when a picture repeats, so markers and paths pair up.
    EXPECT_EQ(records[1]->m_content, "/:img/:img/:img");
    EXPECT_EQ(records[1]->m_contentImages,
              (std::vector<std::string>{Path("http://h.com/a.png"), Path("http://h.com/c.gif"),
                                        Path("http://h.com/a.png")}));
    EXPECT_EQ(records[2]->m_content, "x<img>http://h.com/never-closed.png");
    EXPECT_TRUE(records[2]->m_contentImages.empty());

    ASSERT_EQ(downloads.size(), 3u) << "each missing picture is fetched once";
    for (auto& t : downloads)
        EXPECT_EQ(t.m_value, VLDownloadTask::kValuePicture);
}

// The digests below are the MD5 of each URL's bytes in upper-case hex, computed apart from this
// code (md5sum), so a cache name that changed shape, case or input fails here.
TEST_F(QuestionParserTest, CachePathIsFolderMd5AndExtension) {
    EXPECT_EQ(VLQuestionParser::GetCachePath("/data/Download/", "http://files.example.com/q/7/score.png"),
              "/data/Download/DEFEDA74354DDE4B1A3DF8EAE2F60FDC.png");
    EXPECT_EQ(VLQuestionParser::GetCachePath("/d/", "http://h.com/noext"), "/d/50DFAFEB6B123EC948E3972E0C443238");
}

TEST_F(QuestionParserTest, CachePathTakesOnlyAShortPlainExtension) {
    const std::vector<std::pair<std::string, std::string>> kept = {
        {"http://h.com/a.MP3", "/d/2FE6C53FF14574AFC8502B07B0C95D29.MP3"},
        {"http://h.com/a.b.jpeg", "/d/503CFB4063396A857111C4452CE9F8D9.jpeg"},
        {"http://h.com/x.abcdefghijklmnop", "/d/1A7E8C06C4DB83BFEEAD428F41A11C62.abcdefghijklmnop"},
    };
    for (const auto& [url, path] : kept)
        EXPECT_EQ(VLQuestionParser::GetCachePath("/d/", url), path) << url;
    // A name the download folder cannot hold (the paper would never start), a
    // query, or anything that is not letters and digits: no extension at all.
    const std::vector<std::pair<std::string, std::string>> bare = {
        {"http://h.com/a." + std::string(300, 'x'), "E142F8DFDDA210EF8AB0E97FA7278D36"},
        {"http://h.com/x.abcdefghijklmnopq", "3E9795816F23B8B51D1FA0153884A231"},
        {"http://h.com/a.png?v=2", "C341DA6615245AEE466BD3F0728367F6"},
        {"http://h.com/a.p%2Fng", "94179A71BA822E4F73D35BB6E6C6AA36"},
        {"http://h.com/a.pn g", "D0D4730FBDAEAF057D2B5BEED4499757"},
        {"http://h.com/a.", "AAAC5244FDABBC0DC6DEAC645E2C0EBF"},
        {"http://h.com/a.png#x", "847E3CCF93C6EBB559DD4406BF67AFDD"},
        {"http://h.com/a.音乐", "A7D486EA25D793F56692C8E931D5398D"},
        {"http://h.com/a.png\\..\\x", "415C3D5FCDBAEEBA887C2862184D597D"},
    };
    for (const auto& [url, digest] : bare)
        EXPECT_EQ(VLQuestionParser::GetCachePath("/d/", url), "/d/" + digest) << url;
}

TEST_F(QuestionParserTest, DownloadListHoldsExactlyTheMissingFiles) {
    const std::string present = "http://h.com/present.mp3";
    std::ofstream(Path(present)) << "already here";
    VLQuestionParser rewriting(manager, dir.Path(), [](const std::string& url) { return "agent:" + url; });
    const std::string item =
        R"({"id":"s","content":"<img>http://h.com/pic.png</img>","answer":{"background_file":"http://h.com/present.mp3",)"
        R"("banzou_file":"http://h.com/acc.mp3","mid_file":"http://h.com/mel.mid","wx_music_pic":"http://h.com/wx.png",)"
        R"("jp_music_pic":"","rhythm_file":"1 1 0 1","art_pic":"http://h.com/not-for-singing.png"}})";
    rewriting.ParseQuestionGroups(ParseJson("[" + Group("3", 1, item) + "]"), 1, 0, &receiver, downloads);

    auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    const VLQuestionBase& q = *records[0];
    EXPECT_EQ(q.m_backgroundFile, Path(present))
        << "the record gets the path whether or not the file is there";
    EXPECT_EQ(q.m_accompanimentFile, Path("http://h.com/acc.mp3"));
    EXPECT_EQ(q.m_midFile, Path("http://h.com/mel.mid"));
    EXPECT_EQ(q.m_staffPic, Path("http://h.com/wx.png"));
    EXPECT_EQ(q.m_numberedPic, "") << "an empty reference names no file";
    EXPECT_EQ(q.m_rhythmFile, "1 1 0 1");

    std::set<std::string> saved;
    for (const VLDownloadTask& t : downloads) {
        saved.insert(t.m_savePath);
        std::string original = t.m_url.substr(std::string("agent:").size());
        EXPECT_EQ(t.m_url, "agent:" + original) << "the URL is rewritten";
        EXPECT_EQ(t.m_savePath, Path(original)) << "the path follows the original URL";
        EXPECT_EQ(t.m_tag, KWMD5Utils::CalcuteMD5String(original));
        EXPECT_EQ(t.m_kind, VLDownloadTask::kQuestionFile);
        EXPECT_EQ(t.m_receiver, &receiver);
        EXPECT_EQ(t.m_maxAttempts, 3);
        EXPECT_EQ(t.m_value, original == "http://h.com/pic.png" ? VLDownloadTask::kValuePicture
                                                                : VLDownloadTask::kValueFile);
    }
    EXPECT_EQ(saved, (std::set<std::string>{Path("http://h.com/pic.png"), Path("http://h.com/acc.mp3"),
                                            Path("http://h.com/mel.mid"), Path("http://h.com/wx.png")}));
    EXPECT_EQ(downloads.size(), 4u);
}

TEST_F(QuestionParserTest, MalformedGroupsAndItemsAreSkipped) {
    const std::string good = R"({"id":"ok"})";
    const std::string groups =
        R"({"conf":{"question_type":"1","number":"1","score":"2","total":"4","is_new":1},"question":[{"id":"nodesc"}]},)"
        R"({"conf":"not an object","question":[{"id":"x"}]},)"
        R"({"question":[{"id":"noconf"}]},)"
        R"({"conf":{"question_type":"1","number":"1","score":"2","total":"4","desc":"","is_new":1},"question":{"id":"notarray"}},)"
        R"({"conf":{"question_type":"99","number":"1","score":"2","total":"4","desc":"","is_new":1},"question":[{"id":"badtype"}]},)"
        R"({"conf":{"question_type":"15","number":"1","score":"2","total":"4","desc":"","is_new":1},"question":[{"id":"nobadtype"}]},)"
        R"(42,"text",null,)" +
        Group("1", 1,
              R"(7,"item",[1],{"id":"ok","answer":{"options":"not an array"}},{"id":"ok2","answer":5})");
    auto records = ParseSection(groups, 1);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0]->m_id, "nobadtype") << "raw 15 stays 15 outside the art section";
    EXPECT_EQ(records[0]->m_groupIndex, 5);
    EXPECT_EQ(records[1]->m_id, "ok");
    EXPECT_EQ(records[1]->m_groupIndex, 9);
    EXPECT_EQ(records[1]->m_indexInGroup, 3);
    EXPECT_TRUE(dynamic_cast<VLChoiceQuestion&>(*records[1]).m_options.empty());
    EXPECT_EQ(records[2]->m_id, "ok2");

    parser.ParseQuestionGroups(ParseJson(R"({"not":"an array"})"), 1, 0, nullptr, downloads);
    EXPECT_EQ(Records().size(), 3u);
}

TEST_F(QuestionParserTest, CommonFieldsAndTexts) {
    auto records =
        ParseSection(Group("1", 1, R"({"id":"a"},{"id":"b","content":"题目"})", "5", "10") + "," +
                         Group("4", 0, R"({"id":"old1"},{"id":"old2"})") + "," +
                         Group("3", 1, R"({"id":"new1"})") + "," + Group("5", 1, R"({"id":"new2"})"),
                     1);
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[1]->m_scoreText, "每题5分，共计10分");
    EXPECT_EQ(records[1]->m_content, "题目");
    EXPECT_EQ(records[1]->m_instruction, VLQuestionTexts::GetInstruction(1, true));
    EXPECT_EQ(records[1]->m_addIndex, 1);
    EXPECT_EQ(records[1]->m_sequence, 1);
    EXPECT_EQ(records[1]->m_isNew, 1);
    EXPECT_EQ(records[1]->m_phase, 1);
    EXPECT_EQ(records[1]->m_durations[2], 5000);

    // Old papers keep the type, the old instruction and the index in the group.
    EXPECT_EQ(records[3]->m_type, kQuestionPitchImitation);
    EXPECT_EQ(records[3]->m_instruction, "请先聆听录音，在听到“开始答题”提示后，根据题目要求模唱出来。");
    EXPECT_EQ(records[3]->m_indexInGroup, 1);
    EXPECT_EQ(records[3]->m_isNew, 0);
    // New papers turn every singing item into code 3, numbered across the groups of the call.
    EXPECT_EQ(records[4]->m_type, kQuestionSing);
    EXPECT_EQ(records[5]->m_type, kQuestionSing);
    EXPECT_EQ(records[4]->m_indexInGroup, 0);
    EXPECT_EQ(records[5]->m_indexInGroup, 1);
    EXPECT_EQ(records[5]->m_instruction, VLQuestionTexts::GetInstruction(3, true));

    EXPECT_EQ(VLQuestionTexts::GetTypeName(16, true), "填色题");
    EXPECT_EQ(VLQuestionTexts::GetTypeName(12, false), "") << "past the end of the old set";
    EXPECT_EQ(VLQuestionTexts::GetPromptFile(3, false), "02.片段视唱题.mp3");
    EXPECT_EQ(VLQuestionTexts::GetPromptFile(10, true), "10.判断题.mp3");
    EXPECT_EQ(VLQuestionTexts::GetTypeName(9, true), "");
}

TEST_F(QuestionParserTest, ArtTypes) {
    const std::string jigsaw =
        R"({"id":"j","answer":{"pt_art_pic":"http://h.com/j.png","pt_art_pic_frag":"9","pt_art_pic_frag_x":"3",)"
        R"("pt_art_pic_frag_y":"3","default_no":"4"}},{"id":"j2","answer":{"set_type":"1"}})";
    const std::string dotLine =
        R"({"id":"d","answer":{"art_pic":"http://h.com/d.png","correct":[{"points":"10-20,30-40","move":0},)"
        R"({"points":"1-2"},{"points":"5-6,x-8"},{"move":3},"junk"]}})";
    const std::string colouring =
        R"({"id":"c","answer":{"art_color_pic":"http://h.com/c.png","options":[{"text":"天空","url":"http://h.com/sky.png",)"
        R"("colors":[{"rgb":"#0000FF"},{"rgb":"#87CEEB"},{"x":1}]},"junk"]}})";
    auto records = ParseSection(
        Group("7", 1, jigsaw) + "," + Group("8", 1, dotLine) + "," + Group("9", 1, colouring), 2);
    ASSERT_EQ(records.size(), 4u);

    auto& j = dynamic_cast<VLPinTuQuestion&>(*records[0]);
    EXPECT_EQ(j.m_type, kQuestionJigsaw);
    EXPECT_EQ(j.m_picture, Path("http://h.com/j.png"));
    EXPECT_EQ(j.m_fragmentCount, 9);
    EXPECT_EQ(j.m_nIndexX, 3);
    EXPECT_EQ(j.m_nIndexY, 3);
    EXPECT_EQ(j.m_defaultNo, 4);
    EXPECT_EQ(j.m_setType, 2);
    EXPECT_EQ(dynamic_cast<VLPinTuQuestion&>(*records[1]).m_setType, 1);
    EXPECT_EQ(dynamic_cast<VLPinTuQuestion&>(*records[1]).m_defaultNo, 0);

    auto& d = dynamic_cast<VLDianXianQuestion&>(*records[2]);
    ASSERT_EQ(d.m_lines.size(), 5u);
    EXPECT_EQ(d.m_lines[0].x1, 10);
    EXPECT_EQ(d.m_lines[0].y1, 20);
    EXPECT_EQ(d.m_lines[0].x2, 30);
    EXPECT_EQ(d.m_lines[0].y2, 40);
    EXPECT_EQ(d.m_lines[0].move, 0);
    EXPECT_EQ(d.m_lines[1].x1, 0) << "one end only: nothing taken";
    EXPECT_EQ(d.m_lines[1].move, 1);
    EXPECT_EQ(d.m_lines[2].x1, 5);
    EXPECT_EQ(d.m_lines[2].y1, 6);
    EXPECT_EQ(d.m_lines[2].x2, 0) << "a malformed end stays 0";
    EXPECT_EQ(d.m_lines[3].move, 3);
    EXPECT_EQ(d.m_section, 2);

    auto& c = dynamic_cast<VLTianSeQuestiont&>(*records[3]);
    EXPECT_EQ(c.m_picture, Path("http://h.com/c.png"));
    ASSERT_EQ(c.m_options.size(), 2u);
    EXPECT_EQ(c.m_options[0].text, "天空");
    EXPECT_EQ(c.m_options[0].picture, Path("http://h.com/sky.png"));
    EXPECT_EQ(c.m_options[0].colors, (std::vector<std::string>{"#0000FF", "#87CEEB"}));
    EXPECT_TRUE(c.m_options[1].text.empty());
    EXPECT_EQ(c.m_staffPic, "") << "score pictures are not read for art types";
}

TEST_F(QuestionParserTest, PaperResponseIsRegroupedAndDropsOldInstrumentItems) {
    // Section 2 is listed first in the text; the paper still starts with section 1.
    const std::string text = Paper(R"("2":[)" + Group("1", 1, R"({"id":"art1"},{"id":"art2"})") + "," +
                                   Group("6", 1, R"({"id":"sort"})") + R"(],"1":[)" +
                                   Group("1", 1, R"({"id":"m1"},{"id":"m2"},{"id":"m3"})") + "," +
                                   Group("3", 1, R"({"id":"sing"})") + R"(],"3":[)" +
                                   Group("3", 0, R"({"id":"old-instr","question_type":"3"})") + "," +
                                   Group("3", 1, R"({"id":"new-instr","question_type":"3"})") + "]");
    VLQuestionParseResult result = parser.ParsePaperResponse(text, /*instrument=*/2, &receiver);
    EXPECT_EQ(result.code, 0);

    auto records = Records();
    ASSERT_EQ(result.questionCount, static_cast<int>(records.size()));
    std::vector<std::string> ids;
    for (auto* r : records)
        ids.push_back(r->m_id);
    ASSERT_EQ(records.size(), 7u) << testing::PrintToString(ids);
    // Section-1 choices, then the instrument item (code 3), then the art choices and the sort item.
    std::set<std::string> head(ids.begin(), ids.begin() + 3);
    EXPECT_EQ(head, (std::set<std::string>{"m1", "m2", "m3"}));
    EXPECT_EQ(ids[3], "new-instr");
    EXPECT_EQ(records[3]->m_type, kQuestionSing);
    EXPECT_EQ(records[3]->m_instrument, 2);
    EXPECT_EQ(std::set<std::string>(ids.begin() + 4, ids.begin() + 6),
              (std::set<std::string>{"art1", "art2"}));
    EXPECT_EQ(ids[6], "sort");
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "old-instr"), 0);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "sing"), 0) << "an instrument was chosen";
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(records[i]->m_sequence, static_cast<int>(i));
    EXPECT_EQ(records[0]->m_indexInGroup, 0);
    EXPECT_EQ(records[2]->m_indexInGroup, 2);
    EXPECT_EQ(records[4]->m_indexInGroup, 0);
    EXPECT_EQ(manager.GetFirstArtIndex(), 4);
}

TEST_F(QuestionParserTest, RegroupKeepsTypesInOrderOfFirstAppearance) {
    const std::string text = Paper(
        R"("2":[)" + Group("6", 1, R"({"id":"sort"})") + "," + Group("3", 1, R"({"id":"art-judge"})") +
        R"(],"1":[)" + Group("10", 1, R"({"id":"judge"})") + "," + Group("8", 1, R"({"id":"rhythm"})") + "]");
    parser.ParsePaperResponse(text, 0, &receiver);
    std::vector<std::string> ids;
    for (auto* r : Records())
        ids.push_back(r->m_id);
    EXPECT_EQ(ids, (std::vector<std::string>{"judge", "rhythm", "sort", "art-judge"}));
}

TEST_F(QuestionParserTest, ResponsesThatAreNotPapers) {
    EXPECT_EQ(parser.ParsePaperResponse("not json", 0, &receiver).code, -1);
    EXPECT_EQ(parser.ParsePaperResponse(R"({"code":"0","data":{}})", 0, &receiver).code, -1);
    EXPECT_EQ(parser.ParsePaperResponse(R"([1,2])", 0, &receiver).code, -1);
    auto failed = parser.ParsePaperResponse(
        R"({"code":5,"data":{"1":[)" + Group("1", 1, R"({"id":"x"})") + "]}}", 0, &receiver);
    EXPECT_EQ(failed.code, 5);
    EXPECT_EQ(failed.questionCount, 0);
    EXPECT_EQ(parser.ParsePaperResponse(R"({"code":0,"data":[]})", 0, &receiver).code, 0);
    const std::string deep =
        R"({"code":0,"data":{"1":)" + std::string(5000, '[') + std::string(5000, ']') + "}}";
    EXPECT_EQ(parser.ParsePaperResponse(deep, 0, &receiver).code, -1)
        << "deep nesting is refused, not thrown";
    EXPECT_EQ(parser.ParseSingleQuestionResponse(deep, &receiver).code, -1);
    EXPECT_TRUE(Records().empty());
}

TEST_F(QuestionParserTest, SingleQuestionDocument) {
    const std::string text =
        R"({"code":0,"data":[{"id":"j","question_type":"3","stype":"2","answer":{"options":[{"text":"对"},{"text":"错"}]}},)"
        R"({"id":"s","question_type":"3","stype":"3","answer":{"start":"1.5"}},)"
        R"({"id":"bad","question_type":"30","stype":"1"},"junk",)"
        R"({"id":"r","question_type":"9","stype":"1","content":"<img>http://h.com/r.png</img>"}]})";
    VLQuestionParseResult result = parser.ParseSingleQuestionResponse(text, &receiver);
    EXPECT_EQ(result.code, 0);
    auto records = Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0]->m_type, kQuestionJudge);
    EXPECT_EQ(records[0]->m_section, 2);
    EXPECT_EQ(records[0]->m_scoreText, "每题100分，共计100分");
    EXPECT_EQ(records[0]->m_isNew, 1);
    EXPECT_EQ(records[1]->m_type, kQuestionSing) << "no instrument mapping in the single-question document";
    EXPECT_EQ(dynamic_cast<VLSingQuestion&>(*records[1]).m_startMs, 1005);
    EXPECT_EQ(records[2]->m_type, kQuestionRhythm);
    EXPECT_EQ(records[2]->m_instruction, VLQuestionTexts::GetInstruction(8, true));
    ASSERT_EQ(result.downloads.size(), 1u);
    EXPECT_EQ(result.downloads[0].m_savePath, Path("http://h.com/r.png"));
}

TEST_F(QuestionParserTest, InvalidUtf8TextIsRepaired) {
    std::string item = "{\"id\":\"u\",\"content\":\"ab\xff\xfe\"}";
    auto records = ParseSection(Group("1", 1, item), 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]->m_content.substr(0, 2), "ab");
    EXPECT_EQ(records[0]->m_content.find('\xff'), std::string::npos);
}

}  // namespace
}  // namespace KwLib
