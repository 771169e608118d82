// Feeds arbitrary answer strings to SetAnswer of every drag-and-draw element
// over arbitrary records, then drags and clicks over the element. Whatever
// the input, GetAnswer must keep its element's own format, and an element
// rebuilt from that answer (a restart) must give it back unchanged.
// Input: the record and the user's actions from FuzzedDataProvider; the
// answer string is the last part of the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "elements/UIElementParts.h"
#include "elements/UIQuestionElement.h"
#include "exam/VLQuestion.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDialogBuilder.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/UIWindowImplBase.h"

using namespace KwLib;

namespace {

const char* kLayout = R"(<?xml version="1.0" encoding="utf-8"?>
<Layouts>
  <Font name="CustomFont12" face="微软雅黑" size="12" default="true"/>
  <Font name="CustomFont14" face="微软雅黑" size="14"/>
  <Font name="CustomFont16" face="微软雅黑" size="16"/>
  <Font name="CustomFont18" face="微软雅黑" size="18"/>
  <Font name="font28" face="微软雅黑" size="28"/>
  <Window name="F" size="1024,768">
    <HorizontalLayout inset="20,20,20,20">
      <VerticalLayout name="area" width="712"/>
    </HorizontalLayout>
  </Window>
</Layouts>)";

class FuzzWindow : public UIWindowImplBase {
public:
    std::string GetWindowClassName() const override { return "F"; }
    intptr_t OnCreate(uint32_t, uintptr_t, intptr_t, bool& handled) override {
        handled = true;
        m_pm.Init(this);
        UIDialogBuilder builder;
        UIControl* root = builder.CreateFromString(kLayout, "F", this, &m_pm, nullptr);
        if (!root)
            return -1;
        m_pm.AttachDialog(root);
        return 0;
    }
};

[[noreturn]] void Fail(const char* what, const std::string& answer) {
    std::fprintf(stderr, "element answer out of format (%s): \"%s\"\n", what, answer.c_str());
    std::abort();
}

bool IsInt(const std::string& s, int& v) {
    return UIElementParts::ParseInt(s, v) && std::to_string(v) == s;
}

// Pictures and masks: resources of several sizes, a missing file, no file.
std::string PicturePath(FuzzedDataProvider& in) {
    static const char* names[] = {"1051.png", "1052.png",    "2002.png", "1001.png",
                                  "1058.png", "missing.png", ""};
    const char* name = names[in.ConsumeIntegralInRange<size_t>(0, std::size(names) - 1)];
    return *name ? std::string(VL_FUZZ_RES_DIR) + name : std::string();
}

// Option records as the parser makes them: each column's document positions are 0 .. n-1, shown shuffled.
void AddOptions(FuzzedDataProvider& in, VLChoiceQuestion& q, size_t count, bool pictures) {
    std::vector<int> order(count);
    for (size_t i = 0; i < count; ++i)
        order[i] = static_cast<int>(i);
    for (size_t i = count; i > 1; --i)
        std::swap(order[i - 1], order[in.ConsumeIntegralInRange<size_t>(0, i - 1)]);
    for (int index : order) {
        auto o = std::make_unique<VLQuestionOption>();
        o->kind = pictures ? VLQuestionOption::kPicture : in.ConsumeIntegralInRange(0, 2);
        o->index = index;
        o->value = o->kind == VLQuestionOption::kText ? in.ConsumeRandomLengthString(12) : PicturePath(in);
        q.m_options.push_back(std::move(o));
    }
}

std::unique_ptr<VLQuestionBase> MakeRecord(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0: {
            auto q = std::make_unique<VLConnectionQuestion>();
            q->m_type = kQuestionConnection;
            for (size_t c = in.ConsumeIntegralInRange<size_t>(0, 4); c > 0; --c) {
                auto column = std::make_unique<VLChoiceQuestion>();
                AddOptions(in, *column, in.ConsumeIntegralInRange<size_t>(0, 5), false);
                q->m_columns.push_back(std::move(column));
            }
            return q;
        }
        case 1: {
            auto q = std::make_unique<VLChoiceQuestion>();
            q->m_type = kQuestionSort;
            AddOptions(in, *q, in.ConsumeIntegralInRange<size_t>(0, 7), true);
            return q;
        }
        case 2: {
            auto q = std::make_unique<VLPinTuQuestion>();
            q->m_type = kQuestionJigsaw;
            q->m_picture = PicturePath(in);
            q->m_nIndexX = in.ConsumeIntegralInRange(-2, 24);
            q->m_nIndexY = in.ConsumeIntegralInRange(-2, 24);
            q->m_defaultNo = in.ConsumeIntegralInRange(-2, 30);
            q->m_setType = in.ConsumeIntegralInRange(0, 3);
            return q;
        }
        case 3: {
            auto q = std::make_unique<VLDianXianQuestion>();
            q->m_type = kQuestionDotLine;
            q->m_picture = PicturePath(in);
            for (size_t n = in.ConsumeIntegralInRange<size_t>(0, 6); n > 0; --n) {
                VLQuestionLine line;
                const bool wide = in.ConsumeBool();
                auto coord = [&] {
                    return wide ? in.ConsumeIntegral<int>() : in.ConsumeIntegralInRange(-50, 650);
                };
                line.x1 = coord();
                line.y1 = coord();
                line.x2 = coord();
                line.y2 = coord();
                line.move = in.ConsumeIntegralInRange(-1, 3);
                q->m_lines.push_back(line);
            }
            return q;
        }
        default: {
            auto q = std::make_unique<VLTianSeQuestiont>();
            q->m_type = kQuestionColouring;
            q->m_picture = PicturePath(in);
            for (size_t n = in.ConsumeIntegralInRange<size_t>(0, 4); n > 0; --n) {
                VLColouringOption row;
                row.text = in.ConsumeRandomLengthString(8);
                row.picture = PicturePath(in);
                for (size_t k = in.ConsumeIntegralInRange<size_t>(0, 5); k > 0; --k)
                    row.colors.push_back(in.ConsumeRandomLengthString(8));
                q->m_options.push_back(std::move(row));
            }
            return q;
        }
    }
}

// The element's own answer format for this record.
void CheckFormat(const VLQuestionBase& q, UIQuestionElement& e, const std::string& answer) {
    if (answer.empty())
        return;
    const std::vector<std::string> parts =
        UIElementParts::Split(answer, q.m_type == kQuestionDotLine ? ';' : ',');
    int v = 0;
    switch (q.m_type) {
        case kQuestionConnection: {
            // Pairs of a first-column and a second-column item, each pair once.
            const auto& columns = static_cast<const VLConnectionQuestion&>(q).m_columns;
            std::set<std::string> seen;
            for (const std::string& pair : parts) {
                const std::vector<std::string> ends = UIElementParts::Split(pair, '-');
                if (ends.size() != 2 || columns.size() < 2 || !seen.insert(pair).second)
                    Fail("connection pair", answer);
                for (size_t c = 0; c < 2; ++c)
                    if (!IsInt(ends[c], v) || v < 1 || v > static_cast<int>(columns[c]->m_options.size()))
                        Fail("connection item", answer);
            }
            return;
        }
        case kQuestionSort: {
            // One entry per picture, each picture in one slot at most.
            const size_t n = static_cast<const VLChoiceQuestion&>(q).m_options.size();
            std::set<int> placed;
            if (parts.size() != n)
                Fail("sort entries", answer);
            for (const std::string& p : parts)
                if (!IsInt(p, v) ||
                    (v != -1 && (v < 1 || v > static_cast<int>(n) || !placed.insert(v).second)))
                    Fail("sort entry", answer);
            return;
        }
        case kQuestionJigsaw: {
            const auto& j = static_cast<const VLPinTuQuestion&>(q);
            const int n = j.m_nIndexX * j.m_nIndexY;
            std::set<int> placed;
            if (j.m_nIndexX <= 0 || j.m_nIndexY <= 0 || static_cast<int>(parts.size()) != n)
                Fail("jigsaw entries", answer);
            for (int i = 0; i < n; ++i) {
                if (!IsInt(parts[i], v) || (v != -1 && (v < 1 || v > n || v == j.m_defaultNo ||
                                                        i + 1 == j.m_defaultNo || !placed.insert(v).second)))
                    Fail("jigsaw entry", answer);
            }
            return;
        }
        case kQuestionDotLine: {
            const auto& d = static_cast<const VLDianXianQuestion&>(q);
            if (parts.size() != d.m_lines.size())
                Fail("dot-line segments", answer);
            for (const std::string& p : parts) {
                const std::vector<std::string> points = UIElementParts::Split(p, ',');
                if (points.size() != 2)
                    Fail("dot-line points", answer);
                for (const std::string& point : points) {
                    const std::vector<std::string> xy = UIElementParts::Split(point, '^');
                    if (xy.size() != 2)
                        Fail("dot-line point", answer);
                    for (const std::string& c : xy)
                        if (!IsInt(c, v) || std::abs(v) > 100000)
                            Fail("dot-line coordinate", answer);
                }
            }
            return;
        }
        case kQuestionColouring: {
            const auto& rows = static_cast<const VLTianSeQuestiont&>(q).m_options;
            bool any = false;
            if (parts.size() != rows.size())
                Fail("colouring rows", answer);
            for (size_t i = 0; i < parts.size(); ++i) {
                if (!IsInt(parts[i], v) || v < -1 || v >= static_cast<int>(rows[i].colors.size()))
                    Fail("colouring choice", answer);
                any = any || v >= 0;
            }
            if (!any)
                Fail("colouring: only -1", answer);
            return;
        }
        default:
            (void)e;
            return;
    }
}

// Creates, binds, builds and restores the element as the window does.
UIQuestionElement* Show(UIContainer* area, UIPaintManager* pm, VLQuestionBase& q) {
    pm->RemoveAllGroups();
    area->RemoveAll();
    std::unique_ptr<UIQuestionElement> element = CreateQuestionElement(q.m_type);
    UIQuestionElement* e = element.get();
    area->Add(std::move(element));
    e->SetManager(pm, area, true);
    e->InitQuestion(&q);
    e->SetAnswer(q.m_answer);
    e->SetEnabled(true);
    return e;
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
    FuzzedDataProvider in(data, size);
    std::unique_ptr<VLQuestionBase> record = MakeRecord(in);
    record->m_id = "fuzz";
    struct Action {
        int kind;
        size_t from, to;
        int dx, dy;
    };
    std::vector<Action> actions(in.ConsumeIntegralInRange<size_t>(0, 6));
    for (Action& a : actions)
        a = {in.ConsumeIntegralInRange(0, 3), in.ConsumeIntegral<size_t>(), in.ConsumeIntegral<size_t>(),
             in.ConsumeIntegralInRange(-60, 60), in.ConsumeIntegralInRange(-60, 60)};
    record->m_answer = in.ConsumeRemainingBytesAsString();

    UITestDriver driver;
    UIApplication::Instance().SetHeadlessScreenSize({1024, 768});
    auto* wnd = new FuzzWindow;
    if (wnd->Create(nullptr, "fuzz", 0, 0, 1024, 768)) {
        wnd->ShowWindow(true);
        driver.Attach(wnd);
        driver.Pump();
        UIPaintManager* pm = wnd->GetPaintManager();
        auto* area = dynamic_cast<UIContainer*>(pm->FindControl("area"));
        UIQuestionElement* e = Show(area, pm, *record);
        driver.Pump();
        CheckFormat(*record, *e, e->GetAnswer());

        // What a student does: drags between the element's parts, clicks, double-clicks.
        std::vector<UIControl*> parts;
        e->ForEach([&](UIControl* c) {
            if (c->GetId() != 0)
                parts.push_back(c);
        });
        for (const Action& a : actions) {
            if (parts.empty())
                break;
            const UIRect from = parts[a.from % parts.size()]->GetPos();
            const UIRect to = parts[a.to % parts.size()]->GetPos();
            const UIPoint p{(from.left + from.right) / 2 + a.dx / 4, (from.top + from.bottom) / 2 + a.dy / 4};
            const UIPoint q{(to.left + to.right) / 2 + a.dx, (to.top + to.bottom) / 2 + a.dy};
            switch (a.kind) {
                case 0:
                    driver.Drag(p, q, 3);
                    break;
                case 1:
                    driver.ClickAt(p);
                    break;
                case 2:
                    driver.DoubleClickAt(p);
                    break;
                default:
                    driver.MouseDown(p);
                    e->SetEnabled(false);
                    driver.MouseUp(q);
                    e->SetEnabled(true);
                    break;
            }
            driver.Pump();
            CheckFormat(*record, *e, e->GetAnswer());
        }

        // A restart: the stored answer builds the same answer again.
        const std::string answer = e->GetAnswer();
        record->m_answer = answer;
        UIQuestionElement* again = Show(area, pm, *record);
        driver.Pump();
        if (again->GetAnswer() != answer)
            Fail("not restored", answer + "\" became \"" + again->GetAnswer());
        if (UIApplication::Instance().IsAlive(wnd))
            wnd->DestroyWindow();
    }
    delete wnd;
    return 0;
}
