#pragma once
// Helpers of the drag-and-draw element tests: records of each kind, pictures
// and region masks drawn with cairo, and the restart check (the answer stored,
// a new element built from it, the same answer and the same screen).
#include <cairo.h>
#include <gtest/gtest.h>

#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "platform/ui/UIRenderUtils.h"
#include "tests/elements/ElementTestUtil.h"

namespace KwLib::ElementTest {

inline UIPoint Offset(UIPoint p, int dx, int dy) {
    return {p.x + dx, p.y + dy};
}

// Draws a w x h PNG with `draw`, on a transparent ground.
template <class Draw>
bool WritePng(const std::string& path, int w, int h, Draw draw) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(s);
    draw(cr);
    cairo_destroy(cr);
    const bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

// The colouring scene, 480 x 300: a line picture of sky, sun and meadow on
// white, and the three region masks (opaque inside, soft at the edges).
struct ColouringScene {
    std::string picture, sky, sun, meadow;
};
constexpr int kSceneW = 480, kSceneH = 300;
inline void SunPath(cairo_t* cr) {
    cairo_arc(cr, 380, 80, 45, 0, 2 * std::numbers::pi);
}
inline void MeadowPath(cairo_t* cr) {
    cairo_move_to(cr, 0, 210);
    cairo_curve_to(cr, 120, 180, 300, 240, 480, 200);
    cairo_line_to(cr, 480, 300);
    cairo_line_to(cr, 0, 300);
    cairo_close_path(cr);
}
inline ColouringScene WriteColouringScene(const TempDir& dir) {
    ColouringScene scene{dir.File("scene.png"), dir.File("sky.png"), dir.File("sun.png"),
                         dir.File("meadow.png")};
    EXPECT_TRUE(WritePng(scene.picture, kSceneW, kSceneH, [](cairo_t* cr) {
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
        cairo_set_line_width(cr, 3);
        SunPath(cr);
        cairo_stroke(cr);
        MeadowPath(cr);
        cairo_stroke(cr);
        cairo_rectangle(cr, 1.5, 1.5, kSceneW - 3, kSceneH - 3);
        cairo_stroke(cr);
    }));
    EXPECT_TRUE(WritePng(scene.sky, kSceneW, kSceneH, [](cairo_t* cr) {
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_rectangle(cr, 3, 3, kSceneW - 6, 240);
        cairo_fill(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_arc(cr, 380, 80, 48, 0, 2 * std::numbers::pi);
        cairo_fill(cr);
        MeadowPath(cr);
        cairo_fill(cr);
    }));
    EXPECT_TRUE(WritePng(scene.sun, kSceneW, kSceneH, [](cairo_t* cr) {
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_arc(cr, 380, 80, 43, 0, 2 * std::numbers::pi);
        cairo_fill(cr);
    }));
    EXPECT_TRUE(WritePng(scene.meadow, kSceneW, kSceneH, [](cairo_t* cr) {
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_translate(cr, 0, 3);
        MeadowPath(cr);
        cairo_clip(cr);
        cairo_rectangle(cr, 3, 0, kSceneW - 6, kSceneH - 9);
        cairo_fill(cr);
    }));
    return scene;
}

inline std::unique_ptr<VLConnectionQuestion> MakeConnection(
    std::vector<std::vector<VLQuestionOption>> columns) {
    auto q = std::make_unique<VLConnectionQuestion>();
    q->m_type = kQuestionConnection;
    q->m_section = 2;
    q->m_id = "conn";
    for (auto& column : columns) {
        auto c = std::make_unique<VLChoiceQuestion>();
        for (auto& o : column)
            c->m_options.push_back(std::make_unique<VLQuestionOption>(std::move(o)));
        q->m_columns.push_back(std::move(c));
    }
    return q;
}

inline std::unique_ptr<VLPinTuQuestion> MakeJigsaw(const std::string& picture, int x, int y, int defaultNo,
                                                   int setType = 2) {
    auto q = std::make_unique<VLPinTuQuestion>();
    q->m_type = kQuestionJigsaw;
    q->m_section = 2;
    q->m_id = "jigsaw";
    q->m_picture = picture;
    q->m_nIndexX = x;
    q->m_nIndexY = y;
    q->m_fragmentCount = x * y;
    q->m_defaultNo = defaultNo;
    q->m_setType = setType;
    return q;
}

inline std::unique_ptr<VLDianXianQuestion> MakeDotLine(const std::string& picture,
                                                       std::vector<VLQuestionLine> lines) {
    auto q = std::make_unique<VLDianXianQuestion>();
    q->m_type = kQuestionDotLine;
    q->m_section = 2;
    q->m_id = "dotline";
    q->m_picture = picture;
    q->m_lines = std::move(lines);
    return q;
}

inline std::unique_ptr<VLTianSeQuestiont> MakeColouring(const std::string& picture,
                                                        std::vector<VLColouringOption> rows) {
    auto q = std::make_unique<VLTianSeQuestiont>();
    q->m_type = kQuestionColouring;
    q->m_section = 2;
    q->m_id = "colour";
    q->m_picture = picture;
    q->m_options = std::move(rows);
    return q;
}

class DragFixture : public ElementFixture {
protected:
    void SetUp() override {
        ElementFixture::SetUp();
        if (UIControl* tips = Pm().FindControl("tips"))
            tips->SetVisible(false);
    }
    // The window's pixels, with the pointer resting where it changes nothing.
    std::vector<uint32_t> Pixels() {
        m_driver.MouseMove({1015, 5});
        m_driver.Pump();
        cairo_surface_t* s = Pm().GetSurface();
        cairo_surface_flush(s);
        const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
        const int stride = cairo_image_surface_get_stride(s);
        std::vector<uint32_t> out(static_cast<size_t>(w) * h);
        const unsigned char* data = cairo_image_surface_get_data(s);
        for (int y = 0; y < h; ++y)
            std::memcpy(&out[static_cast<size_t>(y) * w], data + static_cast<size_t>(y) * stride,
                        static_cast<size_t>(w) * 4);
        return out;
    }

    // Every visible part lies inside the question area (left of the element's
    // scroll bar when it scrolls), and every text fits its control.
    void ExpectTidy(UIQuestionElement* e) {
        const UIRect area = m_area->GetPos();
        const int right = area.right - (e->GetScrollRange() > 0 ? UIContainer::kScrollBarWidth : 0);
        e->ForEach([&](UIControl* c) {
            if (c == e || !c->IsVisible())
                return;
            const UIRect& rc = c->GetPos();
            EXPECT_GE(rc.left, area.left) << c->GetClass() << " " << c->GetId();
            EXPECT_LE(rc.right, right) << c->GetClass() << " " << c->GetId();
            if (c->GetText().empty())
                return;
            UIRect text = rc;
            text.Deflate(c->GetTextPadding());
            const uint32_t style = c->GetTextStyle();
            const UISize need = UIRenderUtils::GetTextSize(&Pm(), c->GetText(), c->GetFont(), style,
                                                           (style & DT_WORDBREAK) ? text.Width() : 0);
            EXPECT_LE(need.cx, text.Width()) << c->GetText();
            EXPECT_LE(need.cy, text.Height()) << c->GetText();
        });
    }

    // The screen as it is now, the pointer where it is (a drag under way).
    void ShotNow(const std::string& name) {
        m_driver.Pump();
        EXPECT_TRUE(m_driver.Screenshot(ShotPath(name)));
    }
    void Shot(const std::string& name) {
        m_driver.MouseMove({1015, 5});
        m_driver.Pump();
        EXPECT_TRUE(m_driver.Screenshot(ShotPath(name)));
    }

    // As after a restart: the answer taken into the record and stored, the
    // element built again from the record. The new element answers the same
    // and the screen shows the same, pixel for pixel, also when it was built
    // while the question area was hidden. Returns the new element.
    template <class T>
    T* ExpectRestoredAfterRestart(T* element, VLQuestionBase& record, const std::string& name) {
        const std::string answer = element->GetAnswer();
        EXPECT_FALSE(answer.empty());
        record.m_answer = answer;
        const std::vector<uint32_t> before = Pixels();
        Shot(name + "_answered.png");
        T* restored = Show<T>(record);
        EXPECT_NE(restored, nullptr);
        if (!restored)
            return nullptr;
        EXPECT_EQ(restored->GetAnswer(), answer);
        const std::vector<uint32_t> after = Pixels();
        size_t differ = 0;
        for (size_t i = 0; i < before.size() && i < after.size(); ++i)
            differ += before[i] != after[i];
        EXPECT_EQ(differ, 0u) << name << ": the restored element looks different";
        if (differ)
            Shot(name + "_restored.png");

        // Reopened from the answer sheet: the window builds the element and
        // restores its answer while the question area is still hidden.
        m_area->SetVisible(false);
        T* reopened = Show<T>(record);
        m_area->SetVisible(true);
        m_driver.Pump();
        EXPECT_NE(reopened, nullptr);
        if (!reopened)
            return nullptr;
        EXPECT_EQ(reopened->GetAnswer(), answer) << name << ": reopened while hidden";
        const std::vector<uint32_t> shown = Pixels();
        differ = 0;
        for (size_t i = 0; i < before.size() && i < shown.size(); ++i)
            differ += before[i] != shown[i];
        EXPECT_EQ(differ, 0u) << name << ": the element restored while hidden looks different";
        if (differ)
            Shot(name + "_reopened.png");
        return reopened;
    }
};

}  // namespace KwLib::ElementTest
