#pragma once
#include <cairo.h>

#include <memory>
#include <string>

#include "audio/VLAudioPlayer.h"
#include "platform/ui/UIControl.h"

namespace KwLib {

// The client's one audio engine as a control (layout tag "MusicPlayer", id
// 1511): plays prompts, question audio, accompaniments and clips one at a time,
// records the microphone, and paints a live spectrum of what sounds.
//
// The window finds it by id and calls the operations below. To play a file the
// way every caller should: `uint32_t ms = player->StartPlayback(path);` then
// arm the window's timers with `ms` (0 when the file could not be played);
// `StopPlayback()` stops without a new file. The progress tick asks
// IsPlaying / IsRecording for "finished".
//
// Threads: UI thread only. The spectrum is computed on a tick thread every
// 25 ms; a control timer on the UI thread repaints when a new frame is ready.
class UIMusicPlayer : public UIControl {
public:
    static constexpr int kControlId = 1511;
    static constexpr const char* kTag = "MusicPlayer";
    static constexpr int kRepaintTimerId = 1;

    UIMusicPlayer();
    ~UIMusicPlayer() override;
    // Lets every layout create the control from its tag, for windows that do
    // not create it in their own IDialogBuilderCallback.
    static void RegisterLayoutTag();
    std::string GetClass() const override { return "MusicPlayer"; }

    // ---- playback ----
    // Opens the output device, chooses the microphone, starts the spectrum.
    bool InitAudio();
    // Stops playback and recording (a recording is still written), closes the
    // devices and stops the spectrum. Called again by the destructor.
    void ReleaseAudio();
    bool PlayFile(const std::string& path);
    uint32_t StartPlayback(const std::string& path);
    void StopPlayback();
    void SetVolume(int percent);
    double GetPlayLength() const { return m_player->GetPlayLength(); }
    double GetPlayPosition() const { return m_player->GetPlayPosition(); }
    double GetFileDuration(const std::string& path) const { return m_player->GetFileDuration(path); }
    bool IsPlaying() const { return m_player->IsPlaying(); }
    int PlaybackProgressPermille() const { return m_player->PlaybackProgressPermille(); }
    int RemainingPlaySeconds() const { return m_player->RemainingPlaySeconds(); }

    // ---- recording ----
    bool StartRecord(const std::string& path) { return m_player->StartRecord(path); }
    int StopRecord() { return m_player->StopRecord(); }
    void SetRecordVolume(int percent) { m_player->SetRecordVolume(percent); }
    double GetRecordPosition() const { return m_player->GetRecordPosition(); }
    int64_t RecordSecondsToBytes(int seconds) const { return m_player->RecordSecondsToBytes(seconds); }
    uint64_t GetRecordPositionBytes() const { return m_player->GetRecordPositionBytes(); }
    bool IsRecording() const { return m_player->IsRecording(); }
    bool HasOpenRecording() const { return m_player->HasOpenRecording(); }
    int RecordProgressPermille(int limitSeconds) const {
        return m_player->RecordProgressPermille(limitSeconds);
    }
    // 0 = playback, 1 = recording to a file, 2 = hearing the microphone.
    void SetMode(int mode);
    int GetMode() const { return m_player->GetMode(); }

    bool IsInitialized() const { return m_player->IsInitialized(); }
    // Everything else the engine offers (channels, spectrum frames).
    VLAudioPlayer& GetPlayer() { return *m_player; }

    void DoPaint(cairo_t* cr, const UIRect& rcPaint) override;
    void OnTimer(int timerId) override;

private:
    std::unique_ptr<VLAudioPlayer> m_player;
    uint64_t m_paintedFrame = 0;
    cairo_surface_t* m_surface = nullptr;  // the spectrum as painted, reused between paints
};

}  // namespace KwLib
