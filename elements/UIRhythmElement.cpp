#include "elements/UIRhythmElement.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "app/core/VLAppState.h"
#include "audio/VLAudioPlayer.h"
#include "exam/VLQuestion.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIClock.h"
#include "platform/ui/UIFrameView.h"
#include "platform/ui/UIWindowWnd.h"

namespace KwLib {

namespace {

// A key an input method has taken still tells that a key went down.
constexpr uintptr_t kProcessKey = 229;

// A whole unsigned number, nothing else but blanks around it.
bool ParseTime(std::string text, uint32_t& out) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start])))
        ++start;
    text = text.substr(start);
    if (text.empty() || text.size() > 10)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (v > UINT32_MAX)
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

UIRhythmElement::UIRhythmElement() : m_tolerance(VLAppState::Get().rhythmDeviation) {}

UIRhythmElement::~UIRhythmElement() {
    // The paint manager must not call a filter that is gone.
    Stop();
    if (m_filtering && m_manager)
        m_manager->RemoveMessageFilter(this);
}

void UIRhythmElement::ParseRhythm(const std::string& text, std::vector<uint32_t>& beats,
                                  std::vector<LongNote>& longNotes) {
    beats.clear();
    longNotes.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        const std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        start = nl == std::string::npos ? text.size() + 1 : nl + 1;
        const size_t dash = line.find('-');
        if (dash == std::string::npos) {
            // Blank lines (a text ending in a newline) are no beat at 0 ms.
            uint32_t beat = 0;
            if (ParseTime(line, beat))
                beats.push_back(beat);
            continue;
        }
        if (line.find('-', dash + 1) != std::string::npos)
            continue;
        LongNote note;
        if (ParseTime(line.substr(0, dash), note.start) && ParseTime(line.substr(dash + 1), note.end) &&
            note.end >= note.start)
            longNotes.push_back(note);
    }
}

void UIRhythmElement::AddContent() {
    UISingElement::AddContent();
    m_frame = nullptr;
    if (!m_question || !m_stem)
        return;
    if (m_manager && !m_filtering)
        m_filtering = m_manager->AddMessageFilter(this);
    ParseRhythm(m_question->m_rhythmFile, m_beats, m_longNotes);
    m_allBeats = m_beats;
    m_allLongNotes = m_longNotes;

    auto* frame = new UIControl;
    frame->SetFixedHeight(kTrackHeight);
    frame->SetBkImage(KWStringUtils::Format("res='%d' restype='PNG' corner='10,0,10,0'", kFrameBkRes));
    // The track's place: 18 pixels into the question area like the track
    // itself, just inside the frame's border, as the stem starts 15 pixels in.
    const int trackLeft = kFrameLeft - m_stem->GetPadding().left;
    frame->SetNormalImage(
        KWStringUtils::Format("res='%d' restype='PNG' corner='0,0,200,0' dest='%d,%d,%d,%d'",
                              UIRhythmTrack::kFrameRes, trackLeft, 0, trackLeft + kTrackWidth, kTrackHeight));
    frame->SetControlDispatch(kDispatchMouseToParent);
    m_frame = frame;
    m_stem->Add(frame);
}

std::string UIRhythmElement::GetAnswer() {
    if (!m_hold)
        return m_defaultAnswer;
    // Read during a hold: the release is now for the moment, but the stored
    // taps stay as they are, so reading twice never writes two releases.
    const int64_t now = std::max<int64_t>(static_cast<int64_t>(UIClock::NowMs()) - m_pressOrigin, 0);
    return m_defaultAnswer + KWStringUtils::Format("-%lld", static_cast<long long>(now));
}

void UIRhythmElement::SetAnswer(const std::string& answer) {
    m_defaultAnswer = answer;
}

uint32_t UIRhythmElement::StartActivity(VLQuestionBase* question) {
    auto* rhythm = dynamic_cast<VLRhythmQuestion*>(question);
    return Start(rhythm ? rhythm->m_bpm : kDefaultBpm);
}

uint32_t UIRhythmElement::Start(int bpm) {
    m_defaultAnswer.clear();
    // A paper without a tempo keeps the default rather than dividing by zero.
    m_bpm = bpm > 0 ? bpm : kDefaultBpm;
    // In double: 80 beats a minute are 0.2 pixels per ms and 2990 ms exactly.
    const double speed = m_bpm / 60.0 * kPixelsPerBeat;
    m_speed = static_cast<float>(speed);
    const uint32_t leadIn = static_cast<uint32_t>(UIRhythmTrack::kHitEdge / speed);
    m_hold = false;
    m_result = kNone;
    m_originFromAudio = false;
    m_player = nullptr;

    if (!m_track)
        m_track = std::make_unique<UIRhythmTrack>();
    m_track->Stop();
    m_track->SetNotes(m_beats, m_longNotes, m_speed);
    m_track->SetScale(m_manager ? m_manager->GetScale() : 1.0);
    m_track->SetFeedback(kNone, 0);
    SetOrigin(static_cast<int64_t>(UIClock::NowMs()) + leadIn);
    m_track->Load();
    m_track->Start();

    if (!m_view) {
        auto view = std::make_unique<UIFrameView>();
        m_view = view.get();
        m_view->SetFloat(true);
        Add(std::move(view));
    }
    m_view->SetExchange(m_track->Frames());
    m_view->SetFrameScale(m_track->GetScale());
    m_view->SetVisible(true);
    // Twice per picture, so a new one is on screen at most 5 ms after it was drawn.
    m_view->StartPolling(UIRhythmTrack::kRenderIntervalMs / 2);
    PlaceTrack();
    if (m_manager && !m_filtering)
        m_filtering = m_manager->AddMessageFilter(this);
    m_started = true;
    return leadIn;
}

void UIRhythmElement::Stop() {
    StopOriginPolling();
    if (m_filtering && m_manager) {
        m_manager->RemoveMessageFilter(this);
        m_filtering = false;
    }
    if (m_started && m_hold)
        Release(UIClock::NowMs());
    m_hold = false;
    m_keyDown = false;
    if (m_track) {
        m_track->Stop();
        m_track.reset();
    }
    if (m_view) {
        m_view->StopPolling();
        m_view->SetExchange(nullptr);
        m_view->SetVisible(false);
    }
    m_started = false;
}

void UIRhythmElement::SetOrigin(int64_t originMs) {
    m_origin = originMs;
    if (m_track)
        m_track->SetOrigin(originMs);
}

void UIRhythmElement::Append(const char* format, int64_t value) {
    m_defaultAnswer += KWStringUtils::Format(format, static_cast<long long>(value));
}

void UIRhythmElement::Tap(uint64_t timeMs) {
    if (m_keyDown)
        return;  // the key's auto-repeat
    m_keyDown = true;
    if (!m_started)
        return;
    RefreshOrigin();
    // A long note's release is measured from the same moment as its press, even
    // when the music's first sample reaches the output in between.
    m_pressOrigin = m_origin;
    const int64_t at = static_cast<int64_t>(timeMs) - m_origin;
    // Well before the music there is nothing to tap along with. A tap just
    // before it is judged as early as it was, and written as 0: a negative time
    // would read as a release in the answer.
    if (at <= -static_cast<int64_t>(m_tolerance))
        return;
    Append(m_defaultAnswer.empty() ? "%lld" : ",%lld", std::max<int64_t>(at, 0));
    for (auto it = m_beats.begin(); it != m_beats.end(); ++it) {
        if (std::llabs(at - static_cast<int64_t>(*it)) < m_tolerance) {
            m_beats.erase(it);
            SetResult(kHit, timeMs);
            return;
        }
    }
    for (auto it = m_longNotes.begin(); it != m_longNotes.end(); ++it) {
        if (std::llabs(at - static_cast<int64_t>(it->start)) < m_tolerance) {
            m_longNotes.erase(it);
            m_hold = true;
            SetResult(kHold, timeMs);
            return;
        }
    }
    SetResult(kMiss, timeMs);
}

void UIRhythmElement::Release(uint64_t timeMs) {
    if (m_hold) {
        m_hold = false;
        Append("-%lld", std::max<int64_t>(static_cast<int64_t>(timeMs) - m_pressOrigin, 0));
        SetResult(kNone, timeMs);
    }
    m_keyDown = false;
}

void UIRhythmElement::SetResult(int result) {
    SetResult(result, UIClock::NowMs());
}

void UIRhythmElement::SetResult(int result, uint64_t atMs) {
    m_result = result;
    if (m_track)
        m_track->SetFeedback(result, atMs);
}

void UIRhythmElement::OnActivityMusicStarted(VLAudioPlayer* player) {
    if (!m_started || !player)
        return;
    m_player = player;
    m_originFromAudio = false;
    m_musicStartedAt = UIClock::NowMs();
    // The mixer takes the first sample within one buffer; until then the end
    // of the count-in stands in for it.
    if (!RefreshOrigin())
        SetTimer(kOriginTimerId, kOriginPollMs);
}

bool UIRhythmElement::RefreshOrigin() {
    if (m_originFromAudio || !m_player)
        return m_originFromAudio;
    double fromNow = 0.0;
    if (!m_player->GetPlaybackStartFromNow(fromNow))
        return false;
    SetOrigin(static_cast<int64_t>(UIClock::NowMs()) + std::llround(fromNow));
    m_originFromAudio = true;
    StopOriginPolling();
    return true;
}

void UIRhythmElement::StopOriginPolling() {
    KillTimer(kOriginTimerId);
    m_player = nullptr;
}

void UIRhythmElement::OnTimer(int timerId) {
    if (timerId != kOriginTimerId) {
        UISingElement::OnTimer(timerId);
        return;
    }
    // Music that never starts (a file that cannot be played) leaves the count-in's origin.
    if (!RefreshOrigin() && UIClock::NowMs() - m_musicStartedAt > kOriginPollLimitMs) {
        VL_LOG_WARN("the rhythm music did not reach the output; taps count from the end of the count-in");
        StopOriginPolling();
    }
}

intptr_t UIRhythmElement::MessageHandler(uint32_t message, uintptr_t wParam, intptr_t lParam, bool& handled) {
    (void)lParam;
    if (!IsEnabled())
        return 0;
    switch (message) {
        case WM_KILLFOCUS: {
            // The space bar must keep reaching the exam window. A modal box of
            // our own is left alone: it needs the keyboard itself.
            UIWindowWnd* window = m_manager ? m_manager->GetWindow() : nullptr;
            if (window && window->IsInputEnabled()) {
                handled = true;
                window->BringToFront();
            }
            break;
        }
        case WM_KEYDOWN:
            if (wParam == VK_SPACE || wParam == kProcessKey)
                Tap(UIApplication::Instance().GetMessageTime());
            break;
        case WM_KEYUP:
            if (wParam == VK_SPACE)
                Release(UIApplication::Instance().GetMessageTime());
            break;
        default:
            break;
    }
    return 0;
}

void UIRhythmElement::SetPos(UIRect rc, bool needInvalidate) {
    if (m_frame && m_stem) {
        // When the score leaves room, the frame sits at the bottom of the
        // question area, right under the track.
        const UIRect& stemPad = m_stem->GetPadding();
        UIRect framePad = m_frame->GetPadding();
        const int natural = m_stem->GetFixedHeight() - framePad.top;
        const int fill = std::max(0, rc.Height() - stemPad.top - stemPad.bottom - natural);
        if (fill != framePad.top) {
            framePad.top = fill;
            m_frame->SetPadding(framePad);
            m_stem->SetFixedHeight(natural + fill);
        }
    }
    if (m_view) {
        // Over the frame's track place when the frame lies at the bottom.
        const int bottom = rc.Height() - (m_stem ? m_stem->GetPadding().bottom : 0);
        const UIRect place{kFrameLeft, bottom - kTrackHeight, kFrameLeft + kTrackWidth, bottom};
        if (!(m_view->GetFloatPos() == place))
            m_view->SetFloatPos(place);
    }
    UISingElement::SetPos(rc, needInvalidate);
}

void UIRhythmElement::PlaceTrack() {
    NeedUpdate();
}

}  // namespace KwLib
