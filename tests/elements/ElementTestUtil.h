#pragma once
// Helpers of the element tests: a window like the exam page (a 712-pixel
// question area) built headless from tests/elements/layouts.xml, pictures
// written with cairo into a temporary folder, and the window's way of
// creating, binding and placing an element.
#include <cairo.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "elements/UIQuestionElement.h"
#include "elements/UISingTips.h"
#include "exam/VLQuestion.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/UIWindowImplBase.h"

namespace KwLib::ElementTest {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vlelementsXXXXXX").string();
        m_path = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::string File(const std::string& name) const {
        return (std::filesystem::path(m_path) / name).string();
    }

private:
    std::string m_path;
};

// A w x h picture whose parts can be told apart: a light gradient, a grid every
// 50 pixels, a frame at the edges and a disc in the middle.
inline bool WritePicture(const std::string& path, int w, int h, double hue = 0.0) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(s);
    cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, w, h);
    cairo_pattern_add_color_stop_rgb(g, 0, 0.85, 0.93 - hue * 0.2, 0.98 - hue * 0.3);
    cairo_pattern_add_color_stop_rgb(g, 1, 0.65 + hue * 0.3, 0.80, 0.92 - hue * 0.4);
    cairo_set_source(cr, g);
    cairo_paint(cr);
    cairo_pattern_destroy(g);
    cairo_set_source_rgba(cr, 0.2, 0.35, 0.5, 0.25);
    cairo_set_line_width(cr, 1);
    for (int x = 50; x < w; x += 50) {
        cairo_move_to(cr, x + 0.5, 0);
        cairo_line_to(cr, x + 0.5, h);
    }
    for (int y = 50; y < h; y += 50) {
        cairo_move_to(cr, 0, y + 0.5);
        cairo_line_to(cr, w, y + 0.5);
    }
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0.85, 0.35 + hue * 0.3, 0.25);
    cairo_arc(cr, w / 2.0, h / 2.0, std::min(w, h) * 0.3, 0, 2 * std::numbers::pi);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.15, 0.3, 0.45);
    cairo_set_line_width(cr, 4);
    cairo_rectangle(cr, 2, 2, w - 4, h - 4);
    cairo_stroke(cr);
    cairo_destroy(cr);
    bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

// A score-like picture: five staff lines and a row of note heads.
inline bool WriteScore(const std::string& path, int w, int h, bool staff) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    const double top = h * 0.3, gap = h * 0.08;
    if (staff) {
        cairo_set_line_width(cr, std::max(1.0, h / 200.0));
        for (int i = 0; i < 5; ++i) {
            cairo_move_to(cr, w * 0.04, top + i * gap);
            cairo_line_to(cr, w * 0.96, top + i * gap);
        }
        cairo_stroke(cr);
        for (int i = 0; i < 12; ++i) {
            cairo_save(cr);
            cairo_translate(cr, w * (0.1 + i * 0.07), top + ((i * 3) % 8) * gap / 2);
            cairo_scale(cr, gap * 0.65, gap * 0.45);
            cairo_arc(cr, 0, 0, 1, 0, 2 * std::numbers::pi);
            cairo_restore(cr);
            cairo_fill(cr);
        }
    } else {
        cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
        cairo_set_font_size(cr, h * 0.18);
        const char* digits = "1 2 3 1 | 1 2 3 1 | 3 4 5 - |";
        cairo_move_to(cr, w * 0.06, h * 0.55);
        cairo_show_text(cr, digits);
    }
    cairo_destroy(cr);
    bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

// Resources another part of the build may not have drawn yet get a plain
// stand-in in the image cache, so screenshots show where they go. A resource
// the build has drawn is used as it is.
inline void AddStandInResource(int id, int w, int h, void (*draw)(cairo_t*)) {
    auto& res = UIResourceSingleton::Instance();
    const std::string key = res.GetResourceFile(id);
    if (std::filesystem::exists(key))
        return;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(s);
    draw(cr);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    UIImageInfo info;
    info.width = w;
    info.height = h;
    info.pixels.resize(static_cast<size_t>(w) * h);
    const int stride = cairo_image_surface_get_stride(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    for (int y = 0; y < h; ++y)
        std::memcpy(&info.pixels[static_cast<size_t>(y) * w], data + static_cast<size_t>(y) * stride,
                    static_cast<size_t>(w) * 4);
    cairo_surface_destroy(s);
    res.AddImage(key, std::move(info));
}

inline void DrawCheckCells(cairo_t* cr, bool round) {
    // normal, hot, selected, disabled, selected while disabled
    const double ring[5][3] = {
        {0.55, 0.6, 0.6}, {0.15, 0.58, 0.31}, {0.15, 0.58, 0.31}, {0.78, 0.78, 0.78}, {0.6, 0.6, 0.6}};
    for (int i = 0; i < 5; ++i) {
        const double x = i * 15;
        cairo_set_line_width(cr, 1.5);
        cairo_set_source_rgb(cr, 1, 1, 1);
        if (round)
            cairo_arc(cr, x + 7.5, 7.5, 6.5, 0, 2 * std::numbers::pi);
        else
            cairo_rectangle(cr, x + 1, 1, 13, 13);
        cairo_fill_preserve(cr);
        cairo_set_source_rgb(cr, ring[i][0], ring[i][1], ring[i][2]);
        cairo_stroke(cr);
        if (i == 2 || i == 4) {
            if (round) {
                cairo_arc(cr, x + 7.5, 7.5, 3.5, 0, 2 * std::numbers::pi);
                cairo_fill(cr);
            } else {
                cairo_set_line_width(cr, 2);
                cairo_move_to(cr, x + 3.5, 7.5);
                cairo_line_to(cr, x + 6.5, 10.5);
                cairo_line_to(cr, x + 11.5, 4);
                cairo_stroke(cr);
            }
        }
    }
}

inline void AddStandInResources() {
    AddStandInResource(202, 75, 15, [](cairo_t* cr) { DrawCheckCells(cr, true); });
    AddStandInResource(1050, 75, 15, [](cairo_t* cr) { DrawCheckCells(cr, false); });
    AddStandInResource(1036, 98, 96, [](cairo_t* cr) {
        const double shade[3] = {0.58, 0.5, 0.42};
        for (int i = 0; i < 3; ++i) {
            cairo_set_source_rgb(cr, 0.15, shade[i], 0.31);
            cairo_rectangle(cr, 1, i * 32 + 1, 96, 30);
            cairo_fill(cr);
        }
    });
    AddStandInResource(1048, 111, 69, [](cairo_t* cr) {
        cairo_set_source_rgb(cr, 0.2, 0.25, 0.3);
        cairo_rectangle(cr, 0, 0, 111, 69);
        cairo_fill(cr);
    });
    AddStandInResource(1049, 26, 28, [](cairo_t* cr) {
        cairo_set_source_rgb(cr, 1.0, 0.75, 0.1);
        cairo_arc(cr, 13, 14, 12, 0, 2 * std::numbers::pi);
        cairo_fill(cr);
    });
}

struct Note {
    int type;
    int id;
    std::string userData;
};

class ElementWindow : public UIWindowImplBase {
public:
    std::string GetWindowClassName() const override { return "ElementTest"; }
    std::string GetSkinFile() const override {
        return std::string(VL_SOURCE_DIR) + "/tests/elements/layouts.xml";
    }
    UIControl* CreateControl(const std::string& tag) override {
        return tag == UISingTips::kTag ? new UISingTips : nullptr;
    }
    void Notify(UINotification& msg) override {
        notes.push_back({msg.type, msg.sender ? msg.sender->GetId() : 0,
                         msg.sender ? msg.sender->GetUserData() : std::string()});
    }
    int Count(int type, int id) const {
        int n = 0;
        for (const Note& note : notes)
            n += note.type == type && note.id == id;
        return n;
    }
    std::vector<Note> notes;
};

// Every descendant of `root` (itself included) with the id.
inline std::vector<UIControl*> FindAll(UIControl* root, int id) {
    std::vector<UIControl*> found;
    root->ForEach([&](UIControl* c) {
        if (c->GetId() == id)
            found.push_back(c);
    });
    return found;
}

inline UIPoint Center(const UIControl* c) {
    const UIRect& rc = c->GetPos();
    return {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

inline std::string ShotPath(const std::string& name) {
    std::filesystem::create_directories(std::string(VL_BINARY_DIR) + "/tests/elements");
    return std::string(VL_BINARY_DIR) + "/tests/elements/" + name;
}

inline std::unique_ptr<VLChoiceQuestion> MakeChoice(int type, int section,
                                                    std::vector<VLQuestionOption> options) {
    auto q = std::make_unique<VLChoiceQuestion>();
    q->m_type = type;
    q->m_section = section;
    q->m_id = "q1";
    for (auto& o : options)
        q->m_options.push_back(std::make_unique<VLQuestionOption>(std::move(o)));
    return q;
}

inline VLQuestionOption Text(int index, const std::string& text) {
    return {VLQuestionOption::kText, index, 0, text};
}
inline VLQuestionOption Picture(int index, const std::string& path) {
    return {VLQuestionOption::kPicture, index, 0, path};
}
inline VLQuestionOption Audio(int index, const std::string& path) {
    return {VLQuestionOption::kAudio, index, 0, path};
}

class ElementFixture : public ::testing::Test {
protected:
    void SetUp() override {
        UIResourceSingleton::Instance().SetResourcePath(std::string(VL_BINARY_DIR) + "/install/bin/res/");
        AddStandInResources();
        m_window = std::make_unique<ElementWindow>();
        ASSERT_TRUE(m_window->Create(nullptr, "elements", 0, 0, 0, 0));
        m_window->ShowWindow(true);
        m_driver.Attach(m_window.get());
        m_driver.Pump();
        m_area = dynamic_cast<UIContainer*>(m_window->PaintManager().FindControl("area"));
        ASSERT_NE(m_area, nullptr);
    }
    void TearDown() override {
        if (m_window)
            m_window->DestroyWindow();
    }

    UIPaintManager& Pm() { return m_window->PaintManager(); }

    // As the window shows a question: clear the groups and the area, create
    // the element, bind and build it, restore the answer, add it.
    template <class T = UIQuestionElement>
    T* Show(VLQuestionBase& record) {
        Pm().RemoveAllGroups();
        m_area->RemoveAll();
        std::unique_ptr<UIQuestionElement> element = CreateQuestionElement(record.m_type);
        if (!element)
            return nullptr;
        UIQuestionElement* raw = element.get();
        if (AddsToAreaFirst(record.m_type)) {
            m_area->Add(std::move(element));
            raw->SetManager(&Pm(), m_area, true);
            raw->InitQuestion(&record);
            raw->SetAnswer(record.m_answer);
        } else {
            raw->SetManager(&Pm(), nullptr, true);
            raw->InitQuestion(&record);
            raw->SetAnswer(record.m_answer);
            m_area->Add(std::move(element));
        }
        m_driver.Pump();
        return dynamic_cast<T*>(raw);
    }

    // Measures a text as the elements do: one line, in a font of the window.
    UISize Measure(const std::string& text, const std::string& font) {
        return UIRenderUtils::GetTextSize(&Pm(), text, font, DT_SINGLELINE | DT_NOPREFIX);
    }

    UITestDriver m_driver;
    std::unique_ptr<ElementWindow> m_window;
    UIContainer* m_area = nullptr;
    TempDir m_dir;
};

}  // namespace KwLib::ElementTest
