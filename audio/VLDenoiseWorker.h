#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/common/KWMessage.h"
#include "platform/common/KWThread.h"

struct SpeexPreprocessState_;

namespace KwLib {

// Posted for every file taken from the denoise list, whether or not cleaning
// worked: wParam is a heap `std::string*` holding the path, which the receiver
// owns (wrap it in a std::unique_ptr at once); lParam is 0.
constexpr uint32_t WM_DENOISE_FINISHED = WM_USER + 10;

// Cleans background noise out of finished singing recordings, one file at a
// time and in the order they were added, on its own thread. The cleaned file
// takes the recording's path; the recording as captured stays beside it with
// ".bak" appended. At every moment the path holds either the complete original
// or the complete cleaned file.
//
// Threads: Init, Start, AddFile and Stop are called on the UI thread; the
// worker thread owns the speexdsp state and the frame buffer.
class VLDenoiseWorker {
public:
    static constexpr int kSampleRate = 16000;
    static constexpr int kChannels = 1;
    static constexpr int kBitsPerSample = 16;
    static constexpr int kFrameSamples = 320;  // 20 ms

    // The one worker of the process, created on first use.
    static VLDenoiseWorker& Instance();

    VLDenoiseWorker();
    ~VLDenoiseWorker();
    VLDenoiseWorker(const VLDenoiseWorker&) = delete;
    VLDenoiseWorker& operator=(const VLDenoiseWorker&) = delete;

    // Stores the window that receives WM_DENOISE_FINISHED and prepares the
    // noise suppressor (denoise on, gain control and dereverberation off).
    bool Init(IKWMessageReceiver* receiver);
    // Starts the worker thread; once, after Init.
    bool Start();
    // Queues a finished WAV recording; false (nothing queued) while the worker
    // thread does not run, since nobody would ever hand the file back.
    bool AddFile(const std::string& path);
    // Sets the stop flag, lets the file in hand finish and joins the thread.
    // Files still queued stay as they were recorded.
    void Stop();
    size_t PendingCount() const;

    // Cleans one file in place on the calling thread; false when the file was
    // left as it was (missing, not a 16 kHz mono 16-bit WAV, or not writable).
    bool DenoiseFile(const std::string& path);

private:
    void Run();
    void Shutdown(bool log);
    void Post(const std::string& path);
    bool WriteCleaned(const std::string& source, const std::string& target);

    IKWMessageReceiver* m_receiver = nullptr;
    SpeexPreprocessState_* m_state = nullptr;
    std::unique_ptr<int16_t[]> m_frame;

    mutable KWMutex m_mutex;  // guards m_files
    std::condition_variable_any m_wake;
    std::deque<std::string> m_files;
    std::atomic<bool> m_stop{false};
    std::unique_ptr<KWThread> m_thread;
};

}  // namespace KwLib
