// The automation channel, driven through a real socket in this process: a
// client thread sends commands while the test thread runs the UI loop, as the
// program's own loop would.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <SDL.h>
#include <cairo.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "UITestWindow.h"
#include "platform/common/KWJson.h"
#include "platform/common/KWLineSocketClient.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIAutomationServer.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIProgress.h"
#include "platform/ui/UIRichEdit.h"

namespace KwLib {
namespace {

constexpr int kAnswerGuardMs = 120000;  // only keeps a broken build from hanging the suite

// What the exam window would add: its main window, a state field and commands.
class TestHost : public IUIAutomationHost {
public:
    UIWindowWnd* GetAutomationMainWindow() override { return main; }
    void FillState(KWJsonValue& state) override { state["screen"] = "rehearsal"; }
    bool HandleCommand(const std::string& cmd, const KWJsonValue& request, KWJsonValue& answer) override {
        if (cmd == "answers") {
            answer["answers"] = "A|B";
            return true;
        }
        if (cmd == "refuse") {
            answer["ok"] = false;
            answer["error"] = "not now";
            return true;
        }
        if (cmd == "advance" && driver) {
            driver->Advance(static_cast<uint64_t>(request["ms"].asInt()));
            answer["now"] = static_cast<Json::UInt64>(UIClock::NowMs());
            return true;
        }
        if (cmd == "stop" && server) {
            server->Stop();  // as a window might when a command closes it
            return true;
        }
        if (cmd == "hide" && main && main->GetPaintManager()) {
            main->GetPaintManager()->FindControl(request["id"].asInt())->SetVisible(false);
            return true;
        }
        return false;
    }
    UIWindowWnd* main = nullptr;
    UITestDriver* driver = nullptr;
    UIAutomationServer* server = nullptr;
};

KWJsonValue Parse(const std::string& line) {
    KWJsonValue v;
    EXPECT_TRUE(KWJsonReader::Parse(line, v)) << line;
    return v;
}

// The control of a "state" answer with the given id, or null.
KWJsonValue ControlOf(const KWJsonValue& state, int id) {
    for (const auto& c : state["controls"])
        if (c["id"].asInt() == id)
            return c;
    return KWJsonValue();
}

int CountNotes(const TestWindow& w, int type, int id) {
    int n = 0;
    for (auto& note : w.notes)
        n += note.type == type && note.id == id;
    return n;
}

std::string Centre(UIControl* c) {
    const UIRect& r = c->GetPos();
    return "\"x\":" + std::to_string((r.left + r.right) / 2) +
           ",\"y\":" + std::to_string((r.top + r.bottom) / 2);
}

uint32_t PngPixel(cairo_surface_t* png, int x, int y) {
    cairo_surface_flush(png);
    const unsigned char* data = cairo_image_surface_get_data(png);
    return *reinterpret_cast<const uint32_t*>(data + y * cairo_image_surface_get_stride(png) + x * 4);
}

class UIAutomationTest : public ::testing::Test, public UITestBase {
protected:
    void SetUp() override {
        std::string tmpl = std::filesystem::temp_directory_path() / "vlauto.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        m_folder = tmpl;
        m_path = m_folder + "/auto.sock";
        host.driver = &driver;
    }
    void TearDown() override {
        server.Stop();
        driver.Pump();
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }

    void StartServer() {
        std::string error;
        ASSERT_TRUE(server.Start(m_path, &host, &error)) << error;
    }

    // A click on the owner's button 1 opens the box "ModalBox" modally over
    // it; the box's OK (105) closes it with its result in `result`.
    void OpenBoxOnClick(TestWindow* owner, std::unique_ptr<TestWindow>& box, int& result) {
        owner->onNotify = [owner, &box, &result](UINotification& msg) {
            if (msg.type != kNotifyClick || msg.sender->GetId() != 1)
                return;
            box = std::make_unique<TestWindow>("ModalBox");
            ASSERT_TRUE(box->Create(owner, "box"));
            box->onNotify = [&box](UINotification& m) {
                if (m.type == kNotifyClick && m.sender->GetId() == 105)
                    box->Close(IDOK);
            };
            result = box->ShowModal();
        };
    }

    // Runs one client per script, each on its own thread, while this thread
    // runs the UI loop until they are all done. Returns each script's answers.
    using Script = std::function<void(KWLineSocketClient&, std::vector<KWJsonValue>&)>;
    std::vector<std::vector<KWJsonValue>> DriveAll(const std::vector<Script>& scripts) {
        std::vector<std::vector<KWJsonValue>> answers(scripts.size());
        std::atomic<size_t> finished{0};
        std::vector<std::thread> threads;
        for (size_t i = 0; i < scripts.size(); ++i) {
            threads.emplace_back([&, i] {
                KWLineSocketClient client;
                std::string error;
                if (client.Connect(m_path, &error))
                    scripts[i](client, answers[i]);
                else
                    ADD_FAILURE() << error;
                ++finished;
                UIApplication::Instance().Wake();
            });
        }
        UIApplication::Instance().RunUntil([&] { return finished == scripts.size(); });
        for (auto& t : threads)
            t.join();
        return answers;
    }

    // Sends the lines in order from one client and returns the answers.
    std::vector<KWJsonValue> Drive(const std::vector<std::string>& lines) {
        return DriveAll({[&lines](KWLineSocketClient& client, std::vector<KWJsonValue>& out) {
            for (const auto& line : lines) {
                std::string answer;
                if (!client.Exchange(line, answer, kAnswerGuardMs)) {
                    ADD_FAILURE() << "no answer to " << line;
                    return;
                }
                out.push_back(Parse(answer));
            }
        }})[0];
    }

    TestHost host;
    UIAutomationServer server;
    std::string m_folder;
    std::string m_path;
};

TEST_F(UIAutomationTest, StateListsWindowsAndVisibleControlsWithTheirGeometry) {
    auto w = Open("ControlTest");
    host.main = w.get();
    StartServer();
    auto* password = driver.FindAs<UIRichEdit>(502);
    password->SetText("secret");
    auto a = Drive({R"({"cmd":"state"})", R"({"cmd":"hide","id":602})", R"({"cmd":"state"})"});
    ASSERT_EQ(a.size(), 3u);
    const KWJsonValue& state = a[0];
    EXPECT_TRUE(state["ok"].asBool());
    EXPECT_EQ(state["window"].asString(), "ControlTest");
    EXPECT_EQ(state["screen"].asString(), "rehearsal");  // the host's own field
    ASSERT_EQ(state["windows"].size(), 1u);
    EXPECT_EQ(state["windows"][0]["class"].asString(), "ControlTest");
    EXPECT_EQ(state["windows"][0]["title"].asString(), "ControlTest");
    EXPECT_EQ(state["windows"][0]["w"].asInt(), 420);
    EXPECT_EQ(state["windows"][0]["h"].asInt(), 320);
    EXPECT_FALSE(state["windows"][0]["modal"].asBool());

    for (int id : {1, 101, 201, 202, 301, 401, 402, 501, 601}) {
        KWJsonValue c = ControlOf(state, id);
        ASSERT_FALSE(c.isNull()) << id;
        const UIRect& r = driver.Find(id)->GetPos();
        EXPECT_EQ(c["x"].asInt(), r.left) << id;
        EXPECT_EQ(c["y"].asInt(), r.top) << id;
        EXPECT_EQ(c["w"].asInt(), r.Width()) << id;
        EXPECT_EQ(c["h"].asInt(), r.Height()) << id;
        EXPECT_EQ(c["class"].asString(), driver.Find(id)->GetClass()) << id;
    }
    EXPECT_EQ(ControlOf(state, 201)["text"].asString(), "OK");
    EXPECT_TRUE(ControlOf(state, 201)["enabled"].asBool());
    EXPECT_FALSE(ControlOf(state, 202)["enabled"].asBool());
    EXPECT_TRUE(ControlOf(state, 103)["selected"].asBool());
    EXPECT_FALSE(ControlOf(state, 101)["selected"].asBool());
    EXPECT_FALSE(ControlOf(state, 201).isMember("selected"));
    EXPECT_EQ(ControlOf(state, 401)["value"].asInt(), 50);
    EXPECT_EQ(ControlOf(state, 401)["max"].asInt(), 100);
    EXPECT_EQ(ControlOf(state, 402)["value"].asInt(), 3);
    // A password shows as the screen shows it.
    EXPECT_EQ(ControlOf(state, 502)["text"].asString(), "******");
    EXPECT_TRUE(ControlOf(state, 502)["password"].asBool());
    // Controls without an id are not listed.
    for (const auto& c : state["controls"])
        EXPECT_NE(c["id"].asInt(), 0);

    // A control the program hid is gone from the list.
    EXPECT_TRUE(a[1]["ok"].asBool());
    EXPECT_FALSE(ControlOf(a[0], 602).isNull());
    EXPECT_TRUE(ControlOf(a[2], 602).isNull());
}

TEST_F(UIAutomationTest, ClicksGoThroughTheWindowAsAUsersWould) {
    auto w = Open("ControlTest");
    host.main = w.get();
    std::vector<uint64_t> stamps;
    w->onNotify = [&](UINotification& msg) {
        if (msg.type == kNotifyClick)
            stamps.push_back(msg.timestamp);
    };
    StartServer();
    UIControl* option = driver.Find(102);
    UIControl* off = driver.Find(202);
    UIRect slide = driver.Find(401)->GetPos();
    // Past the end: the pointer may leave the control while the button is held.
    std::string slideEnd = "[" + std::to_string(slide.right + 5) + "," + std::to_string(slide.top + 5) + "]";
    auto a = Drive({
        R"({"cmd":"advance","ms":250})",
        R"({"cmd":"click","id":201})",
        "{\"cmd\":\"click\"," + Centre(option) + "}",
        R"({"cmd":"click","id":202})",
        "{\"cmd\":\"click\"," + Centre(off) + "}",
        R"({"cmd":"click","id":999})",
        R"({"cmd":"click","x":5000,"y":10})",
        R"({"cmd":"hide","id":201})",
        R"({"cmd":"click","id":201})",
        R"({"cmd":"drag","id":401,"to":)" + slideEnd + "}",
    });
    ASSERT_EQ(a.size(), 10u);
    EXPECT_EQ(a[0]["now"].asUInt64(), 1250u);

    // By id: the centre of the control, after the pointer came to rest on it.
    EXPECT_TRUE(a[1]["ok"].asBool()) << a[1];
    EXPECT_EQ(a[1]["window"].asString(), "ControlTest");
    EXPECT_EQ(CountNotes(*w, kNotifyClick, 201), 1);
    ASSERT_FALSE(stamps.empty());
    EXPECT_EQ(stamps[0], 1250u);  // stamped with the clock when it was dispatched
    // By point: an option of the group is chosen.
    EXPECT_TRUE(a[2]["ok"].asBool()) << a[2];
    EXPECT_EQ(CountNotes(*w, kNotifyClick, 102), 1);
    EXPECT_TRUE(driver.FindAs<UIOption>(102)->IsSelected());
    EXPECT_FALSE(driver.FindAs<UIOption>(103)->IsSelected());

    // A disabled control: refused by id, and a click on its place does nothing.
    EXPECT_FALSE(a[3]["ok"].asBool());
    EXPECT_NE(a[3]["error"].asString().find("disabled"), std::string::npos) << a[3];
    EXPECT_TRUE(a[4]["ok"].asBool());
    EXPECT_EQ(CountNotes(*w, kNotifyClick, 202), 0);

    EXPECT_FALSE(a[5]["ok"].asBool());
    EXPECT_NE(a[5]["error"].asString().find("no control 999"), std::string::npos) << a[5];
    EXPECT_FALSE(a[6]["ok"].asBool());
    EXPECT_NE(a[6]["error"].asString().find("outside"), std::string::npos) << a[6];
    EXPECT_FALSE(a[8]["ok"].asBool());
    EXPECT_NE(a[8]["error"].asString().find("hidden"), std::string::npos) << a[8];
    EXPECT_EQ(CountNotes(*w, kNotifyClick, 201), 1);

    // Dragging the slider's thumb to its end.
    EXPECT_TRUE(a[9]["ok"].asBool()) << a[9];
    EXPECT_EQ(driver.FindAs<UISlide>(401)->GetValue(), 100);
    EXPECT_GE(CountNotes(*w, kNotifyValueChanging, 401), 1);
    EXPECT_EQ(CountNotes(*w, kNotifyValueChanged, 401), 1);

    // The pointer came to rest on the control first and stays there.
    auto b = Drive({R"({"cmd":"click","id":601})"});
    EXPECT_TRUE(b[0]["ok"].asBool()) << b[0];
    EXPECT_TRUE(driver.Find(601)->IsHot());
    EXPECT_EQ(driver.GetPaintManager()->GetMousePos(), (UIPoint{b[0]["x"].asInt(), b[0]["y"].asInt()}));
}

TEST_F(UIAutomationTest, DoubleClickNotifiesAndADragPassesThroughItsPoints) {
    auto w = Open("DispatchTest");
    host.main = w.get();
    StartServer();
    auto* element = driver.FindAs<TestElement>(50);
    auto a = Drive({
        R"({"cmd":"dblclick","id":52})",
        R"({"cmd":"drag","from":[2,100],"to":[2,180],"steps":4})",
        R"({"cmd":"drag","from":[2,100]})",
        R"({"cmd":"drag","from":[2,100],"to":[2,180],"steps":0})",
    });
    ASSERT_EQ(a.size(), 4u);
    EXPECT_TRUE(a[0]["ok"].asBool()) << a[0];
    EXPECT_EQ(CountNotes(*w, kNotifyDblClick, 52), 1);  // notify flag 13
    EXPECT_EQ(element->dblclks.size(), 1u);             // passed on by dispatch flag 10

    EXPECT_TRUE(a[1]["ok"].asBool()) << a[1];
    ASSERT_EQ(element->downs.size(), 2u);  // the double-click's first press, then the drag's
    EXPECT_EQ(element->downs.back(), (UIPoint{2, 100}));
    ASSERT_GE(element->moves.size(), 4u);
    std::vector<UIPoint> tail(element->moves.end() - 4, element->moves.end());
    EXPECT_EQ(tail, (std::vector<UIPoint>{{2, 120}, {2, 140}, {2, 160}, {2, 180}}));
    EXPECT_EQ(element->ups.back(), (UIPoint{2, 180}));

    EXPECT_FALSE(a[2]["ok"].asBool());
    EXPECT_NE(a[2]["error"].asString().find("\"to\""), std::string::npos) << a[2];
    EXPECT_FALSE(a[3]["ok"].asBool());
    EXPECT_NE(a[3]["error"].asString().find("\"steps\""), std::string::npos) << a[3];
}

TEST_F(UIAutomationTest, MoveHoversAndStateTellsTheCursor) {
    auto w = Open("ControlTest");
    host.main = w.get();
    StartServer();
    UIControl* button = driver.Find(201);
    auto a = Drive({
        "{\"cmd\":\"move\"," + Centre(button) + "}",
        R"({"cmd":"state"})",
        R"({"cmd":"move","x":5,"y":310})",
        R"({"cmd":"state"})",
        R"({"cmd":"move","x":5000,"y":10})",
        R"({"cmd":"move","x":5})",
    });
    ASSERT_EQ(a.size(), 6u);
    EXPECT_TRUE(a[0]["ok"].asBool()) << a[0];
    EXPECT_EQ(a[1]["cursor"].asString(), "hand");  // buttons show the hand
    EXPECT_TRUE(a[2]["ok"].asBool()) << a[2];
    EXPECT_EQ(a[3]["cursor"].asString(), "arrow");
    EXPECT_FALSE(button->IsHot());
    EXPECT_EQ(CountNotes(*w, kNotifyClick, 201), 0);  // no button was pressed
    EXPECT_FALSE(a[4]["ok"].asBool());
    EXPECT_NE(a[4]["error"].asString().find("outside"), std::string::npos) << a[4];
    EXPECT_FALSE(a[5]["ok"].asBool());
}

TEST_F(UIAutomationTest, TypedTextAndKeysReachTheFocusedField) {
    auto w = Open("ControlTest");
    host.main = w.get();
    StartServer();
    auto a = Drive({
        R"({"cmd":"click","id":501})",
        R"({"cmd":"type","text":"音乐ab"})",
        R"({"cmd":"key","key":"backspace"})",
        R"({"cmd":"key","key":"left"})",
        R"({"cmd":"type","text":"Z"})",
        R"({"cmd":"key","key":"enter"})",
        R"({"cmd":"state"})",
        R"({"cmd":"key","key":"A","mods":["ctrl"]})",
        R"({"cmd":"type","text":"123456"})",
        R"({"cmd":"type","text":"a\nb"})",
        R"({"cmd":"key","key":"hyper"})",
        R"({"cmd":"key","key":"space","mods":["meta"]})",
        R"({"cmd":"key","key":"shift","down":true})",
    });
    ASSERT_EQ(a.size(), 13u);
    for (int i : {0, 1, 2, 3, 4, 5, 7, 8, 12})
        EXPECT_TRUE(a[i]["ok"].asBool()) << i << ": " << a[i];
    EXPECT_EQ(a[1]["chars"].asInt(), 4);
    EXPECT_EQ(CountNotes(*w, kNotifyReturn, 501), 1);
    EXPECT_EQ(ControlOf(a[6], 501)["text"].asString(), "音乐Za");
    EXPECT_EQ(a[6]["focus"].asInt(), 501);
    // Ctrl+A selected everything, so typing replaced it, up to the field's five characters.
    EXPECT_EQ(driver.Find(501)->GetText(), "12345");

    EXPECT_FALSE(a[9]["ok"].asBool());
    EXPECT_NE(a[9]["error"].asString().find("U+000A"), std::string::npos) << a[9];
    EXPECT_FALSE(a[10]["ok"].asBool());
    EXPECT_NE(a[10]["error"].asString().find("unknown key"), std::string::npos) << a[10];
    EXPECT_FALSE(a[11]["ok"].asBool());
    EXPECT_NE(a[11]["error"].asString().find("modifier"), std::string::npos) << a[11];
    EXPECT_EQ(driver.Find(501)->GetText(), "12345");

    // A key held down stays down until a later command lets go of it.
    EXPECT_TRUE(UIIsKeyDown(VK_SHIFT));
    auto b = Drive({R"({"cmd":"key","key":"shift","down":false})"});
    EXPECT_TRUE(b[0]["ok"].asBool());
    EXPECT_FALSE(UIIsKeyDown(VK_SHIFT));
}

TEST_F(UIAutomationTest, AModalBoxOpenedByAClickIsAnsweredByTheNextCommand) {
    auto owner = Open("ModalOwner");
    host.main = owner.get();
    std::unique_ptr<TestWindow> box;
    int result = 0;
    OpenBoxOnClick(owner.get(), box, result);
    StartServer();
    std::string shot = TestOutputDir() + "automation_modal.png";  // kept as an artefact
    auto a = Drive({
        R"({"cmd":"click","id":1})",
        R"({"cmd":"state"})",
        R"({"cmd":"click","id":1,"window":"ModalOwner"})",
        R"({"cmd":"screenshot","path":")" + shot + R"("})",
        R"({"cmd":"screenshot","path":"relative.png"})",
        R"({"cmd":"screenshot","path":")" + m_folder + R"(/missing/x.png"})",
        R"({"cmd":"click","id":105})",
        R"({"cmd":"state"})",
    });
    ASSERT_EQ(a.size(), 8u);
    EXPECT_TRUE(a[0]["ok"].asBool()) << a[0];
    // The box is the active window now, and the owner behind it takes no input.
    EXPECT_EQ(a[1]["window"].asString(), "ModalBox");
    ASSERT_EQ(a[1]["windows"].size(), 2u);
    EXPECT_TRUE(a[1]["windows"][1]["modal"].asBool());
    EXPECT_EQ(a[1]["windows"][1]["x"].asInt(), 50);  // centred on its 300 x 200 owner
    EXPECT_EQ(a[1]["windows"][1]["y"].asInt(), 50);
    EXPECT_FALSE(ControlOf(a[1], 105).isNull());
    EXPECT_FALSE(a[2]["ok"].asBool());
    EXPECT_NE(a[2]["error"].asString().find("takes no input"), std::string::npos) << a[2];

    // The screenshot is what the student sees: the box over the owner.
    EXPECT_TRUE(a[3]["ok"].asBool()) << a[3];
    EXPECT_EQ(a[3]["w"].asInt(), 300);
    EXPECT_EQ(a[3]["h"].asInt(), 200);
    cairo_surface_t* png = cairo_image_surface_create_from_png(shot.c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(png), 300);
    EXPECT_EQ(cairo_image_surface_get_height(png), 200);
    EXPECT_EQ(PngPixel(png, 55, 55), 0xFFEEEEEEu);    // inside the box
    EXPECT_EQ(PngPixel(png, 10, 190), 0xFFFFFFFFu);   // the owner's page around it
    EXPECT_EQ(PngPixel(png, 260, 100), 0xFFFFFFFFu);  // right of the box
    cairo_surface_destroy(png);
    EXPECT_FALSE(a[4]["ok"].asBool());
    EXPECT_NE(a[4]["error"].asString().find("absolute"), std::string::npos) << a[4];
    EXPECT_FALSE(a[5]["ok"].asBool());
    EXPECT_NE(a[5]["error"].asString().find("does not exist"), std::string::npos) << a[5];

    EXPECT_TRUE(a[6]["ok"].asBool()) << a[6];
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(a[7]["window"].asString(), "ModalOwner");
    EXPECT_EQ(a[7]["windows"].size(), 1u);
    EXPECT_TRUE(owner->IsInputEnabled());
}

// At 2.5 pixels per unit a script still works in layout units (state, clicks
// by id or point), and the screenshot is the screen's picture, the box over
// its owner, both drawn at the same scale.
TEST_F(UIAutomationTest, AScaledWindowIsDrivenInLayoutUnitsAndPicturedInPixels) {
    auto owner = Open("ModalOwner");
    owner->SetScale(2.5);
    host.main = owner.get();
    std::unique_ptr<TestWindow> box;
    int result = 0;
    OpenBoxOnClick(owner.get(), box, result);
    StartServer();
    std::string shot = TestOutputDir() + "automation_scaled.png";
    auto a = Drive({
        R"({"cmd":"click","id":1})",
        R"({"cmd":"state"})",
        R"({"cmd":"screenshot","path":")" + shot + R"("})",
        R"({"cmd":"click","id":105})",
    });
    ASSERT_EQ(a.size(), 4u);
    EXPECT_TRUE(a[0]["ok"].asBool()) << a[0];
    ASSERT_EQ(a[1]["windows"].size(), 2u);
    const KWJsonValue& main = a[1]["windows"][0];
    EXPECT_EQ(main["cw"].asInt(), 300);
    EXPECT_EQ(main["ch"].asInt(), 200);
    EXPECT_DOUBLE_EQ(main["scale"].asDouble(), 2.5);
    EXPECT_EQ(main["w"].asInt(), 750);
    EXPECT_DOUBLE_EQ(a[1]["windows"][1]["scale"].asDouble(), 2.5);
    // The box's controls in its own units, as at scale 1.
    const UIRect ok = box ? box->PaintManager().FindControl(105)->GetPos() : UIRect{};
    EXPECT_EQ(ControlOf(a[1], 105)["w"].asInt(), ok.Width());
    EXPECT_TRUE(a[2]["ok"].asBool()) << a[2];
    EXPECT_EQ(a[2]["w"].asInt(), 750);
    EXPECT_EQ(a[2]["h"].asInt(), 500);
    cairo_surface_t* png = cairo_image_surface_create_from_png(shot.c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(png), 750);
    EXPECT_EQ(PngPixel(png, 137, 137), 0xFFEEEEEEu);  // inside the box, 50 units in
    EXPECT_EQ(PngPixel(png, 25, 475), 0xFFFFFFFFu);   // the owner's page around it
    cairo_surface_destroy(png);
    EXPECT_TRUE(a[3]["ok"].asBool()) << a[3];
    EXPECT_EQ(result, IDOK);
}

TEST_F(UIAutomationTest, BadRequestsAreAnsweredAndTheConnectionGoesOn) {
    auto w = Open("ControlTest");
    host.main = w.get();
    StartServer();
    auto a = Drive({
        "{not json",
        "[1,2]",
        R"({"id":514})",
        R"({"cmd":5})",
        R"({"cmd":"fly"})",
        R"({"cmd":"click"})",
        R"({"cmd":"answers"})",
        R"({"cmd":"refuse"})",
        std::string(UIAutomationServer::kMaxLineBytes + 10, ' '),
        R"({"cmd":"wait","ms":-1})",
        R"({"cmd":"wait","ms":0})",
        R"({"cmd":"state"})",
    });
    ASSERT_EQ(a.size(), 12u);
    const char* expected[] = {"bad JSON",        "one JSON object",         "missing field \"cmd\"",
                              "\"cmd\" must be", "unknown command \"fly\"", "missing field \"id\""};
    for (int i = 0; i < 6; ++i) {
        EXPECT_FALSE(a[i]["ok"].asBool()) << i;
        EXPECT_NE(a[i]["error"].asString().find(expected[i]), std::string::npos) << a[i];
    }
    // Commands the host knows.
    EXPECT_TRUE(a[6]["ok"].asBool());
    EXPECT_EQ(a[6]["answers"].asString(), "A|B");
    EXPECT_FALSE(a[7]["ok"].asBool());
    EXPECT_EQ(a[7]["error"].asString(), "not now");
    // A line past the limit is refused without being read as a command.
    EXPECT_FALSE(a[8]["ok"].asBool());
    EXPECT_NE(a[8]["error"].asString().find("longer than"), std::string::npos) << a[8];
    EXPECT_FALSE(a[9]["ok"].asBool());
    EXPECT_TRUE(a[10]["ok"].asBool());
    EXPECT_TRUE(a[11]["ok"].asBool());
    EXPECT_EQ(a[11]["window"].asString(), "ControlTest");
}

TEST_F(UIAutomationTest, WaitFollowsTheProgramClockWithoutHoldingUpOthers) {
    auto w = Open("ControlTest");
    host.main = w.get();
    StartServer();
    std::atomic<bool> waited{false};
    uint64_t start = UIClock::NowMs();
    auto answers = DriveAll({
        [&](KWLineSocketClient& c, std::vector<KWJsonValue>& out) {
            std::string answer;
            ASSERT_TRUE(c.Exchange(R"({"cmd":"wait","ms":500})", answer, kAnswerGuardMs));
            out.push_back(Parse(answer));
            waited = true;
        },
        // Another client moves the manual clock on meanwhile, and is answered
        // while the first one still waits.
        [&](KWLineSocketClient& c, std::vector<KWJsonValue>& out) {
            std::string answer;
            for (int i = 0; i < 1000 && !waited; ++i) {
                ASSERT_TRUE(c.Exchange(R"({"cmd":"advance","ms":100})", answer, kAnswerGuardMs));
                out.push_back(Parse(answer));
            }
        },
    });
    ASSERT_EQ(answers[0].size(), 1u);
    EXPECT_TRUE(answers[0][0]["ok"].asBool()) << answers[0][0];
    EXPECT_EQ(answers[0][0]["waited"].asUInt64(), 500u);
    EXPECT_GE(answers[1].size(), 5u);
    EXPECT_GE(UIClock::NowMs(), start + 500);
}

TEST_F(UIAutomationTest, ClientsThatVanishOrTimeOutDoNoHarm) {
    auto w = Open("ControlTest");
    host.main = w.get();
    StartServer();
    // Gone before their answers: one after a state, one after a click.
    for (const char* line : {R"({"cmd":"state"})", R"({"cmd":"click","id":101})"}) {
        KWLineSocketClient quitter;
        ASSERT_TRUE(quitter.Connect(m_path));
        ASSERT_TRUE(quitter.SendLine(line));
    }
    auto a = Drive({R"({"cmd":"state"})"});
    ASSERT_EQ(a.size(), 1u);
    EXPECT_TRUE(a[0]["ok"].asBool());
    driver.Pump();

    // A UI thread that does not come round in time: the client hears so, and
    // the command is dropped rather than run late.
    server.SetCommandTimeout(50);
    int before = CountNotes(*w, kNotifyClick, 201);
    KWJsonValue late;
    std::thread client([&] {
        KWLineSocketClient c;
        std::string answer;
        ASSERT_TRUE(c.Connect(m_path));
        ASSERT_TRUE(c.Exchange(R"({"cmd":"click","id":201})", answer, kAnswerGuardMs));
        late = Parse(answer);
    });
    client.join();  // this thread runs no loop meanwhile
    driver.Pump();
    EXPECT_FALSE(late["ok"].asBool());
    EXPECT_NE(late["error"].asString().find("did not take"), std::string::npos) << late;
    EXPECT_EQ(CountNotes(*w, kNotifyClick, 201), before);
    server.SetCommandTimeout(UIAutomationServer::kDefaultCommandTimeoutMs);
}

TEST_F(UIAutomationTest, OnlyStartListensInAPrivateFolderAndStopRemovesTheSocket) {
    auto w = Open("ControlTest");
    host.main = w.get();
    KWLineSocketClient probe;
    EXPECT_FALSE(probe.Connect(m_path));  // nothing listens without Start
    struct stat st {};
    EXPECT_NE(lstat(m_path.c_str(), &st), 0);
    EXPECT_FALSE(UIApplication::Instance().HasExternalDriver());

    std::string open = m_folder + "/open";
    ASSERT_EQ(mkdir(open.c_str(), 0777), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    std::string error;
    EXPECT_FALSE(server.Start(open + "/auto.sock", &host, &error));
    EXPECT_NE(error.find("writable by group or others"), std::string::npos) << error;
    EXPECT_FALSE(server.IsRunning());

    StartServer();
    ASSERT_EQ(lstat(m_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(server.Start(m_path, &host, &error));
    EXPECT_NE(error.find("already listening"), std::string::npos) << error;
    EXPECT_TRUE(UIApplication::Instance().HasExternalDriver());

    // Stop while a client waits for a command the loop has not taken yet.
    KWJsonValue answer;
    std::atomic<bool> sent{false};
    std::thread client([&] {
        KWLineSocketClient c;
        std::string line;
        ASSERT_TRUE(c.Connect(m_path));
        ASSERT_TRUE(c.SendLine(R"({"cmd":"state"})"));
        sent = true;
        if (c.ReadLine(line, kAnswerGuardMs))
            answer = Parse(line);
    });
    while (!sent)
        std::this_thread::yield();
    server.Stop();
    client.join();
    EXPECT_FALSE(answer["ok"].asBool());
    EXPECT_NE(lstat(m_path.c_str(), &st), 0);
    EXPECT_FALSE(probe.Connect(m_path));
    EXPECT_FALSE(UIApplication::Instance().HasExternalDriver());
    driver.Pump();  // the dropped command does not run after Stop

    // A command whose handling stops the server (its window closing) ends cleanly.
    StartServer();
    host.server = &server;
    auto a = Drive({R"({"cmd":"stop"})"});
    ASSERT_EQ(a.size(), 1u);
    EXPECT_FALSE(a[0]["ok"].asBool());
    EXPECT_NE(a[0]["error"].asString().find("shutting down"), std::string::npos) << a[0];
    EXPECT_FALSE(server.IsRunning());
    EXPECT_NE(lstat(m_path.c_str(), &st), 0);
}

// Real SDL windows: on the X display when there is one (Xvfb), otherwise on
// SDL's offscreen driver. The loop waits in SDL's event queue here, so the
// commands must wake it through SDL.
TEST(UIAutomationSdlTest, DrivesRealWindowsOnTheRealClock) {
    if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY"))
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
    UITestDriver driver;
    UIClock::SetManual(false);
    auto& app = UIApplication::Instance();
    app.SetHeadless(false);
    if (!app.EnsureVideo())
        GTEST_SKIP() << "no SDL video: " << SDL_GetError();
    UIResourceSingleton::Instance().SetResourcePath(TestResourceDir());
    std::string tmpl = std::filesystem::temp_directory_path() / "vlauto.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    std::string shot = tmpl + "/sdl.png";
    {
        TestWindow w("ControlTest");
        ASSERT_TRUE(w.Create(nullptr, "sdl automation", 10, 20));
        ASSERT_NE(w.GetNativeWindow(), nullptr);
        w.ShowWindow();
        driver.Attach(&w);
        driver.Pump();
        TestHost host;
        host.main = &w;
        UIAutomationServer server;
        std::string error;
        ASSERT_TRUE(server.Start(tmpl + "/auto.sock", &host, &error)) << error;

        std::vector<KWJsonValue> answers;
        std::atomic<bool> done{false};
        std::thread client([&] {
            KWLineSocketClient c;
            std::string line;
            if (c.Connect(tmpl + "/auto.sock")) {
                for (std::string request :
                     {std::string(R"({"cmd":"state"})"), std::string(R"({"cmd":"click","id":201})"),
                      std::string(R"({"cmd":"click","id":501})"),
                      std::string(R"({"cmd":"type","text":"乐"})"),
                      R"({"cmd":"screenshot","path":")" + shot + R"("})"}) {
                    if (!c.Exchange(request, line, kAnswerGuardMs))
                        break;
                    answers.push_back(Parse(line));
                }
            }
            done = true;
            UIApplication::Instance().Wake();
        });
        app.RunUntil([&] { return done.load(); });
        client.join();
        server.Stop();

        ASSERT_EQ(answers.size(), 5u);
        for (auto& a : answers)
            EXPECT_TRUE(a["ok"].asBool()) << a;
        EXPECT_EQ(answers[0]["windows"][0]["w"].asInt(), 420);
        EXPECT_EQ(CountNotes(w, kNotifyClick, 201), 1);
        EXPECT_EQ(driver.Find(501)->GetText(), "乐");
        cairo_surface_t* png = cairo_image_surface_create_from_png(shot.c_str());
        EXPECT_EQ(cairo_image_surface_get_width(png), 420);
        EXPECT_EQ(cairo_image_surface_get_height(png), 320);
        cairo_surface_destroy(png);
        w.DestroyWindow();
    }
    app.ShutdownVideo();
    app.SetHeadless(true);
    std::error_code ec;
    std::filesystem::remove_all(tmpl, ec);
}

}  // namespace
}  // namespace KwLib
