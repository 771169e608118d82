#pragma once
// UIRhythmElement: rhythm questions (types 8 and 9), answered by tapping the
// space bar in time with the music. Below the score (UISingElement) it shows
// the track frame; in the answering phase the scrolling track (UIRhythmTrack,
// drawn on its own thread) lies over the bottom of the question area, notes
// sliding into the hit zone at their times.
//
// The rhythm text has one beat time per line in milliseconds, or a long note
// "start-end"; a line with more than one "-" is ignored. The answer lists the
// tap times in milliseconds from the answer origin, in tap order, joined with
// ","; a tap that caught a long note is followed by "-" and its release time:
// "1200,1800,2400-3300".
//
// Timing: a tap counts at the moment its key event happened (the toolkit's
// message time), not when the UI thread got round to it; the answer origin is
// the moment the first sample of the rhythm music reaches the audio output,
// so a tap exactly on a beat the child hears is 0 ms off. Until the music
// starts, the origin is the end of the count-in.
//
// The element listens to the keyboard through the paint manager's message
// filter, from AddContent until Stop; while it is enabled it keeps the
// keyboard with the exam window. UI thread only; the track's thread reads only
// the origin and the feedback, each a single atomic value.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "elements/UIRhythmTrack.h"
#include "elements/UISingElement.h"
#include "platform/ui/UIPaintManager.h"

namespace KwLib {

class UIFrameView;
class VLAudioPlayer;

class UIRhythmElement : public UISingElement, public IMessageFilterUI {
public:
    static constexpr int kTrackHeight = UIRhythmTrack::kHeight;
    static constexpr int kTrackWidth = UIRhythmTrack::kWidth;
    static constexpr int kFrameLeft = 18;  // the track lies this far into the question area
    static constexpr int kFrameBkRes = 1041;
    static constexpr int kDefaultBpm = 80;
    static constexpr double kPixelsPerBeat = 0.15;  // per millisecond, times beats per second
    static constexpr uint32_t kOriginPollMs = 5;
    static constexpr uint32_t kOriginPollLimitMs = 3000;
    static constexpr int kOriginTimerId = 1;

    using LongNote = UIRhythmTrack::LongNote;
    enum Result : int { kNone = 0, kHit = 1, kHold = 2, kMiss = 3 };

    UIRhythmElement();
    ~UIRhythmElement() override;
    std::string GetClass() const override { return "RhythmElement"; }

    // The score, then the track frame; starts listening to the keyboard.
    void AddContent() override;
    // The taps so far; during a hold with the provisional release (now) added.
    std::string GetAnswer() override;
    // Replaces the answer string.
    void SetAnswer(const std::string& answer) override;

    // Answering begins: Start with the record's bpm; returns the count-in.
    uint32_t StartActivity(VLQuestionBase* question) override;
    void StopActivity() override { Stop(); }
    // The rhythm music has just been started on `player`: the origin follows
    // its first sample to the output.
    void OnActivityMusicStarted(VLAudioPlayer* player) override;

    // Clears the answer, shows the track and starts it; returns the count-in in
    // ms (598 pixels at the speed of `bpm`). The origin is now + count-in.
    uint32_t Start(int bpm);
    // Stops listening and the track; a key still held is released now.
    void Stop();
    bool IsStarted() const { return m_started; }

    // A space-bar press or release at `timeMs` on the toolkit clock.
    void Tap(uint64_t timeMs);
    void Release(uint64_t timeMs);
    // Sets the feedback shown and restarts the animations.
    void SetResult(int result);
    void SetResult(int result, uint64_t atMs);

    // The moment tap times count from, on the toolkit clock; sets it directly
    // (the music hook does this when the first sample reaches the output).
    int64_t GetOrigin() const { return m_origin; }
    void SetOrigin(int64_t originMs);
    // True once the origin follows the music's first sample.
    bool IsOriginFromAudio() const { return m_originFromAudio; }

    intptr_t MessageHandler(uint32_t message, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    void SetPos(UIRect rc, bool needInvalidate = true) override;
    void OnTimer(int timerId) override;

    // The expected taps not hit yet, in file order.
    const std::vector<uint32_t>& GetBeats() const { return m_beats; }
    const std::vector<LongNote>& GetLongNotes() const { return m_longNotes; }
    // All of them as the rhythm text gave them (the track keeps drawing these).
    const std::vector<uint32_t>& GetAllBeats() const { return m_allBeats; }
    const std::vector<LongNote>& GetAllLongNotes() const { return m_allLongNotes; }
    int GetResult() const { return m_result; }
    bool IsHolding() const { return m_hold; }
    int GetTolerance() const { return m_tolerance; }
    float GetSpeed() const { return m_speed; }
    // The track (nullptr before Start) and the control that shows it.
    UIRhythmTrack* GetTrack() const { return m_track.get(); }
    UIFrameView* GetTrackView() const { return m_view; }
    UIControl* GetTrackFrame() const { return m_frame; }

    // Parses a rhythm text into beats and long notes.
    static void ParseRhythm(const std::string& text, std::vector<uint32_t>& beats,
                            std::vector<LongNote>& longNotes);

private:
    void Append(const char* format, int64_t value);
    // Takes the music's start once the audio output knows it.
    bool RefreshOrigin();
    void StopOriginPolling();
    void PlaceTrack();

    std::vector<uint32_t> m_beats;
    std::vector<LongNote> m_longNotes;
    std::vector<uint32_t> m_allBeats;
    std::vector<LongNote> m_allLongNotes;
    bool m_hold = false;
    bool m_keyDown = false;
    int m_result = kNone;
    int64_t m_origin = 0;
    int64_t m_pressOrigin = 0;  // the origin the held key's press was measured from
    int m_bpm = kDefaultBpm;
    float m_speed = 0.2f;  // 80 beats a minute
    int m_tolerance = 100;
    bool m_filtering = false;
    bool m_started = false;

    VLAudioPlayer* m_player = nullptr;  // not owned; only while the origin is looked for
    bool m_originFromAudio = false;
    uint64_t m_musicStartedAt = 0;

    std::unique_ptr<UIRhythmTrack> m_track;
    UIControl* m_spacer = nullptr;  // owned by m_stem; keeps the frame at the bottom of the area
    UIControl* m_frame = nullptr;   // owned by m_stem
    UIFrameView* m_view = nullptr;  // owned by the element (a float child)
};

}  // namespace KwLib
