// The toolkit gallery: a window with one of every control, built from
// gallery.xml. Interactive by default; with --screenshot it renders headless
// and writes a PNG; with --automation it can be driven by scripts (vl-automate)
// before they meet the real program.
//
//   VLUiGallery [--screenshot out.png] [--res <resource folder>] [--click <id>] [--hover <id>]
//               [--scale <pixels per unit>] [--automation <socket>]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWShellUtils.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIAnimationManager.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIAutomationServer.h"
#include "platform/ui/UIProgress.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/UIWindowImplBase.h"

using namespace KwLib;

namespace {

class GalleryWnd : public UIWindowImplBase {
public:
    explicit GalleryWnd(std::string layout) : m_layout(std::move(layout)) {}
    std::string GetWindowClassName() const override { return "UIGallery"; }
    std::string GetSkinFile() const override { return m_layout; }

    void InitWindow() override {
        SetIcon(9006);
        std::vector<std::string> frames;
        for (int id = 1200; id <= 1215; ++id)
            frames.push_back(KWStringUtils::Format("res='%d' restype='PNG'", id));
        if (UIControl* spinner = m_pm.FindControl(700))
            m_pm.GetAnimationManager().AddAnimation(spinner, 8201, 80, frames);
    }

    void Notify(UINotification& msg) override {
        int id = msg.sender ? msg.sender->GetId() : 0;
        if (msg.type == kNotifyClick && id == 504)
            Close(IDCLOSE);
        else if (msg.type == kNotifyClick && id == 501)
            SendMessageW(WM_SYSCOMMAND, SC_MINIMIZE, 0);
        else if ((msg.type == kNotifyValueChanged || msg.type == kNotifyValueChanging) && id == 633) {
            if (UIControl* label = m_pm.FindControl(634))
                label->SetText(std::to_string(msg.wParam));
            if (auto* progress = m_pm.FindControlAs<UIProgress>(631))
                progress->SetValue(static_cast<int>(msg.wParam));
            if (UIControl* label = m_pm.FindControl(632))
                label->SetText(std::to_string(msg.wParam) + "%");
        } else if (msg.type == kNotifySelectChanged && id >= 801 && id <= 804 && msg.wParam) {
            // The side bar shows all sections or one of them.
            for (int section = 910; section <= 912; ++section)
                if (UIControl* c = m_pm.FindControl(section))
                    c->SetVisible(id == 801 || id - 802 == section - 910);
        } else if (msg.type == kNotifyReturn && id == 621) {
            if (UIControl* label = m_pm.FindControl(624))
                label->SetText("已提交：" + msg.sender->GetText());
        }
    }

    intptr_t OnDestroy(uint32_t, uintptr_t, intptr_t, bool& handled) override {
        PostQuitMessage(0);
        handled = false;
        return 0;
    }

private:
    std::string m_layout;
};

class GalleryHost : public IUIAutomationHost {
public:
    explicit GalleryHost(UIWindowWnd* wnd) : m_wnd(wnd) {}
    UIWindowWnd* GetAutomationMainWindow() override { return m_wnd; }
    void FillState(KWJsonValue& state) override { state["screen"] = "gallery"; }

private:
    UIWindowWnd* m_wnd;
};

}  // namespace

int main(int argc, char** argv) {
    std::string screenshot, res, hover, click, automationPath;
    double scale = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--screenshot") && i + 1 < argc)
            screenshot = argv[++i];
        else if (!std::strcmp(argv[i], "--res") && i + 1 < argc)
            res = argv[++i];
        else if (!std::strcmp(argv[i], "--hover") && i + 1 < argc)
            hover = argv[++i];
        else if (!std::strcmp(argv[i], "--click") && i + 1 < argc)
            click = argv[++i];
        else if (!std::strcmp(argv[i], "--scale") && i + 1 < argc)
            scale = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--automation") && i + 1 < argc)
            automationPath = argv[++i];
        else if (!std::strncmp(argv[i], "-automation=", 12))
            automationPath = argv[i] + 12;
        else {
            std::fprintf(stderr,
                         "usage: %s [--screenshot out.png] [--res folder] [--click id] [--hover id] "
                         "[--scale pixels-per-unit] [--automation socket]\n",
                         argv[0]);
            return 2;
        }
    }
    std::string exeDir = KWFileName::GetDirectory(KWSharedLibrary::GetModuleFullName());
    if (res.empty())
        res = KWFilePathUtils::IsExistsFile(exeDir + "res/fonts.conf") ? exeDir + "res/" : VL_GALLERY_RES_DIR;
    UIResourceSingleton::Instance().SetResourcePath(res);
    // The whole gallery drawn larger, as on a screen of that many pixels per unit.
    if (scale > 0)
        UIApplication::Instance().SetScaleOverride(scale);
    std::string layout = exeDir + "gallery.xml";

    if (!screenshot.empty()) {
        UITestDriver driver;  // headless, with a clock the screenshot can stop
        GalleryWnd wnd(layout);
        if (!wnd.Create(nullptr, "KwUI gallery")) {
            std::fprintf(stderr, "cannot build the gallery window from %s\n", layout.c_str());
            return 1;
        }
        wnd.ShowWindow();
        driver.Attach(&wnd);
        driver.Advance(400);
        if (!click.empty())
            driver.Click(KWStringUtils::ConvertStringToInt32(click));
        if (!hover.empty()) {
            UIPoint pt;
            if (driver.CenterOf(KWStringUtils::ConvertStringToInt32(hover), pt)) {
                driver.MouseMove(pt);
                driver.Advance(600);
            }
        }
        bool ok = driver.Screenshot(screenshot);
        wnd.DestroyWindow();
        std::printf("%s %s\n", ok ? "wrote" : "could not write", screenshot.c_str());
        return ok ? 0 : 1;
    }

    auto* wnd = new GalleryWnd(layout);
    if (!wnd->Create(nullptr, "KwUI gallery")) {
        std::fprintf(stderr, "cannot open the gallery window (is there a display?)\n");
        delete wnd;
        return 1;
    }
    wnd->ShowWindow();
    GalleryHost host(wnd);
    UIAutomationServer automation;
    std::string error;
    if (!automationPath.empty() && !automation.Start(automationPath, &host, &error)) {
        std::fprintf(stderr, "automation: %s\n", error.c_str());
        wnd->DestroyWindow();
        delete wnd;
        return 1;
    }
    UIPaintManager::MessageLoop();
    automation.Stop();
    delete wnd;
    return 0;
}
