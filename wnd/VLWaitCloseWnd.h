#pragma once
// VLWaitCloseWnd: "程序正在关闭中，请稍等..." while the paper's result goes out
// as the program closes during an exam. Layout window "VLWaitCloseWnd":
// spinner 3900, text 3901, note 3902 (hidden while empty).
//
// The opener creates it, names it as the receiver of the paper result
// request, and shows it modally. It closes only once the answer is in: the
// paper result (WM_EXAM_RESULT_RSP, payload VLExamResultResult*, freed here)
// or the transport failure of that request (WM_HTTP_FAILED with request id
// 14); then no sooner than one second after it was shown, so that it never
// merely flickers. It refuses to be closed by the user before that, because
// the opener clears the stored answers once it ends.
//
// The opener owns the object (it does not delete itself) and reads
// ResultAccepted afterwards. The request worker holds it as a receiver until
// it answers, and the window ends only after that answer.
// UI thread only, except PostMessageW.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/ui/UIWindowImplBase.h"

namespace KwLib {

class VLWaitCloseWnd : public UIWindowImplBase {
public:
    static constexpr int kSpinnerId = 3900;
    static constexpr int kTextId = 3901;
    static constexpr int kNoteId = 3902;
    static constexpr int kSpinnerAnimation = 8201;
    static constexpr int kFramePeriodMs = 100;
    static constexpr int kCloseTimer = 1000;
    // The least time the window stays up once shown.
    static constexpr uint64_t kMinShownMs = 1000;

    VLWaitCloseWnd() = default;
    ~VLWaitCloseWnd() override = default;

    std::string GetWindowClassName() const override { return "VLWaitCloseWnd"; }

    // Creates the window, centred on `owner`.
    bool CreateOver(UIWindowWnd* owner);
    // A second line under the main text; empty hides it.
    void SetNote(const std::string& text);
    // Called once, on the UI thread, when the answer arrives (before the
    // window closes): true when the platform accepted the result (code 0).
    void SetOnResult(std::function<void(bool accepted)> handler) { m_onResult = std::move(handler); }

    // Ends the wait from outside: the result came to another receiver (a
    // submission already under way), or it was never sent (recordings that
    // could not be uploaded in time: `accepted` false).
    void Finish(bool accepted) { OnAnswer(accepted); }

    bool ResultArrived() const { return m_resultArrived; }
    // The platform accepted the paper (code 0); false for a refusal, a lost
    // request, or no answer at all.
    bool ResultAccepted() const { return m_resultAccepted; }
    // The toolkit clock's milliseconds when the window was shown.
    uint64_t ShownAtMs() const { return m_shownMs; }
    // The image string of spinner frame 0..3 (PNG 1027, 96 x 104 cells).
    static std::string SpinnerFrame(int frame);

    void InitWindow() override;
    void OnBeforeModal() override;
    intptr_t OnClose(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    intptr_t OnTimer(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    intptr_t HandleCustomMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    void OnUnreadMessage(const KWMessage& message) override;

private:
    void OnAnswer(bool accepted);
    void FitHeight();

    uint64_t m_shownMs = 0;
    bool m_resultArrived = false;
    bool m_resultAccepted = false;
    bool m_mayClose = false;
    std::string m_note;
    int m_noteExtra = 0;  // the height the note adds to the window
    std::function<void(bool)> m_onResult;
};

}  // namespace KwLib
