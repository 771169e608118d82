// Feeds arbitrary layout XML and image strings to the layout builder on a
// headless window, then lays out, paints and clicks the result.
// Input: layout XML (window name "F"), then after a NUL byte one image string
// per line, each drawn on its own into the window.
#include <cstddef>
#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "platform/ui/UIApplication.h"
#include "platform/ui/UIRenderUtils.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/UIWindowImplBase.h"

using namespace KwLib;

namespace {

class FuzzWindow : public UIWindowImplBase {
public:
    explicit FuzzWindow(std::string xml) : m_xml(std::move(xml)) {}
    std::string GetWindowClassName() const override { return "F"; }
    intptr_t OnCreate(uint32_t, uintptr_t, intptr_t, bool& handled) override {
        handled = true;
        m_pm.Init(this);
        UIDialogBuilder builder;
        // No window handed over: a layout's own window size would make every
        // iteration allocate a surface of up to the largest coordinate.
        UIControl* root = builder.CreateFromString(m_xml, "F", this, &m_pm, nullptr);
        if (!root)
            return -1;
        m_pm.AttachDialog(root);
        m_pm.AddNotifier(this);
        return 0;
    }

private:
    std::string m_xml;
};

// Paths with a folder in them could name devices or huge files; a bare name
// stays inside the resource folder.
bool NamesFolder(const std::string& s) {
    return s.find('/') != std::string::npos;
}

bool AttributesNameFolder(const std::string& xml) {
    pugi::xml_document doc;
    if (!doc.load_string(xml.c_str()))
        return false;  // the builder refuses it before reading any attribute
    std::vector<pugi::xml_node> stack{doc};
    while (!stack.empty()) {
        pugi::xml_node n = stack.back();
        stack.pop_back();
        for (auto a : n.attributes())
            if (NamesFolder(a.value()))
                return true;
        for (auto c : n.children())
            stack.push_back(c);
    }
    return false;
}

}  // namespace

// The font libraries keep process-wide caches until exit, as in the tests
// (tests/lsan.supp); whatever leaks in our own code is still reported.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libpango\nleak:libpangoft2\nleak:libcairo\nleak:libglib\n"
           "leak:libgobject\nleak:libharfbuzz\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    UIResourceSingleton::Instance().SetResourcePath(VL_FUZZ_RES_DIR);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t nul = input.find('\0');
    std::string xml = input.substr(0, nul);
    std::vector<std::string> images;
    if (nul != std::string::npos) {
        std::string rest = input.substr(nul + 1);
        size_t start = 0;
        while (start <= rest.size() && images.size() < 8) {
            size_t end = rest.find('\n', start);
            if (end == std::string::npos)
                end = rest.size();
            images.push_back(rest.substr(start, end - start));
            start = end + 1;
        }
    }
    for (const auto& s : images)
        if (NamesFolder(s))
            return -1;
    if (AttributesNameFolder(xml))
        return -1;

    UITestDriver driver;
    UIApplication::Instance().SetHeadlessScreenSize({320, 240});
    auto* wnd = new FuzzWindow(xml);
    if (wnd->Create(nullptr, "fuzz", 0, 0, 320, 240)) {
        wnd->ShowWindow(true);
        driver.Attach(wnd);
        driver.Pump();
        UIPaintManager* pm = wnd->GetPaintManager();
        // Image strings drawn straight onto the window, with and without corners.
        if (!images.empty() && pm->GetSurface()) {
            cairo_t* cr = cairo_create(pm->GetSurface());
            int x = 0;
            for (const auto& s : images) {
                UIRenderUtils::DrawImageString(cr, {x, 10, x + 40 + x / 2, 60}, s);
                x += 40;
            }
            cairo_destroy(cr);
        }
        // What a user does: move over, click, type, wait.
        const UIPoint points[] = {{160, 120}, {10, 10}, {300, 220}, {40, 200}};
        for (const auto& pt : points) {
            if (!driver.GetPaintManager())
                break;
            driver.ClickAt(pt);
        }
        if (driver.GetPaintManager()) {
            driver.TypeText("a\xE4\xB8\xAD");
            driver.PressKey(VK_LEFT, kModShift);
            driver.PressKey(VK_BACK);
            driver.PressKey(VK_RETURN);
            driver.Wheel({160, 120}, -2);
            driver.Drag({20, 120}, {200, 120}, 2);
            driver.Advance(600);
            if (UIPaintManager* p = driver.GetPaintManager()) {
                p->UpdateAndInvalidate();
                p->Paint();
            }
        }
        if (UIApplication::Instance().IsAlive(wnd))
            wnd->DestroyWindow();
    }
    delete wnd;
    return 0;
}
