// Painting cost of a full 1024 x 768 window with about 200 controls (texts,
// pictures, nine-grid backgrounds) and of repainting one invalidated button,
// at scale 1 and on screens of more pixels per unit (the argument is the
// scale in thousandths: 2000 is a 2048 x 1536 surface). Goal at scale 2: a
// full paint under 4 ms median.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/UIWindowImplBase.h"

using namespace KwLib;

namespace {

std::string BuildLayout() {
    std::string xml =
        "<Layouts><Font name='Body' face='微软雅黑' size='13' default='true'/>"
        "<Window name='Bench' size='1024,768'><VerticalLayout bkcolor='#FFF4F6F9' inset='12,12,12,12' "
        "childpadding='2'>";
    int id = 1000;
    for (int row = 0; row < 20; ++row) {
        xml += "<HorizontalLayout height='34' childpadding='4'>";
        for (int col = 0; col < 10; ++col, ++id) {
            std::string idAttr = " id='" + std::to_string(id) + "'";
            switch (col % 4) {
                case 0:
                    xml += "<Button" + idAttr +
                           " text='开始考试' textcolor='#FFFFFFFF' normalimage=\"res='9001' restype='PNG' "
                           "source='0,0,100,36' corner='8,8,8,8'\" hotimage=\"res='9001' restype='PNG' "
                           "source='100,0,200,36' corner='8,8,8,8'\"/>";
                    break;
                case 1:
                    xml += "<Label" + idAttr + " text='第" + std::to_string(row + 1) +
                           "题 音乐节拍' textcolor='#FF26934E' align='left vcen singleline endellipsis'/>";
                    break;
                case 2:
                    xml += "<Control" + idAttr +
                           " bkimage=\"res='9007' restype='PNG' source='0,0,240,140'\" bordersize='2' "
                           "bordercolor='#FFA4DEDD'/>";
                    break;
                default:
                    xml += "<Option" + idAttr + " text='选项' group='g" + std::to_string(row) +
                           "' bkimage=\"res='9004' restype='PNG' corner='10,10,10,10'\" "
                           "selectedbkcolor='#FFEAF2FD'/>";
                    break;
            }
        }
        xml += "</HorizontalLayout>";
    }
    xml += "</VerticalLayout></Window></Layouts>";
    return xml;
}

class BenchWnd : public UIWindowImplBase {
public:
    std::string GetWindowClassName() const override { return "Bench"; }
    intptr_t OnCreate(uint32_t, uintptr_t, intptr_t, bool& handled) override {
        handled = true;
        m_pm.Init(this);
        UIDialogBuilder builder;
        UIControl* root = builder.CreateFromString(BuildLayout(), "Bench", this, &m_pm, this);
        if (!root)
            return -1;
        m_pm.AttachDialog(root);
        return 0;
    }
};

struct Fixture {
    explicit Fixture(const benchmark::State& state) {
        UIResourceSingleton::Instance().SetResourcePath(VL_RES_DIR);
        // A screen the scaled window fits on (a window is never scaled past it).
        UIApplication::Instance().SetHeadlessScreenSize({4096, 2304});
        wnd.Create(nullptr, "bench");
        wnd.SetScale(state.range(0) / 1000.0);
        wnd.ShowWindow();
        driver.Attach(&wnd);
        driver.Pump();  // first layout, images loaded, text shaped once
    }
    ~Fixture() { wnd.DestroyWindow(); }
    UITestDriver driver;
    BenchWnd wnd;
};

// Scale 1, a 1920 x 1080 screen's and 2 (the argument in thousandths), five runs each.
void AtEveryScale(benchmark::internal::Benchmark* b) {
    b->Arg(1000)->Arg(1875)->Arg(2000)->Repetitions(5)->ReportAggregatesOnly(true);
}

void BM_FullPaint(benchmark::State& state) {
    Fixture f(state);
    UIPaintManager& pm = f.wnd.PaintManager();
    int controls = 0;
    pm.GetRoot()->ForEach([&](UIControl*) { ++controls; });
    for (auto _ : state) {
        pm.Invalidate();
        benchmark::DoNotOptimize(pm.Paint());
    }
    state.counters["controls"] = controls;
    state.counters["pixels"] = pm.GetDeviceSize().cx * pm.GetDeviceSize().cy;
}
BENCHMARK(BM_FullPaint)->Apply(AtEveryScale)->Unit(benchmark::kMillisecond);

// Every text changes before each paint, so all of them are shaped again: the
// cost of a page whose texts are all new.
void BM_FullPaintNewTexts(benchmark::State& state) {
    Fixture f(state);
    UIPaintManager& pm = f.wnd.PaintManager();
    std::vector<UIControl*> labels;
    pm.GetRoot()->ForEach([&](UIControl* c) {
        if (!c->GetText().empty())
            labels.push_back(c);
    });
    int round = 0;
    for (auto _ : state) {
        ++round;
        for (size_t i = 0; i < labels.size(); ++i)
            labels[i]->SetText(KWStringUtils::Format("第%d题 节拍 %d", static_cast<int>(i), round));
        benchmark::DoNotOptimize(pm.Paint());
    }
    state.counters["texts"] = static_cast<double>(labels.size());
}
BENCHMARK(BM_FullPaintNewTexts)->Apply(AtEveryScale)->Unit(benchmark::kMillisecond);

void BM_RepaintOneButton(benchmark::State& state) {
    Fixture f(state);
    UIPaintManager& pm = f.wnd.PaintManager();
    UIControl* button = pm.FindControl(1104);
    for (auto _ : state) {
        button->Invalidate();
        benchmark::DoNotOptimize(pm.Paint());
    }
}
BENCHMARK(BM_RepaintOneButton)->Apply(AtEveryScale)->Unit(benchmark::kMicrosecond);

void BM_FullLayoutAndPaint(benchmark::State& state) {
    Fixture f(state);
    UIPaintManager& pm = f.wnd.PaintManager();
    for (auto _ : state) {
        pm.UpdateAndInvalidate();
        benchmark::DoNotOptimize(pm.Paint());
    }
}
BENCHMARK(BM_FullLayoutAndPaint)->Apply(AtEveryScale)->Unit(benchmark::kMillisecond);

}  // namespace
