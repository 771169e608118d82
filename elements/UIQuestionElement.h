#pragma once
// UIQuestionElement: the base of every question element. An element shows one
// question record: the stem (number, text, pictures) at the top and the answer
// area its class builds below it. It turns what the student does into an answer
// string and restores a saved one. Elements know nothing of the main window:
// the window hands them a record and reads their answer.
//
// The window creates an element with CreateQuestionElement, binds it to its
// paint manager, calls InitQuestion and SetAnswer, and adds it to the question
// area (AddsToAreaFirst says in which order). The element scrolls vertically
// by itself; a question area 712 pixels wide leaves the stem its 684 pixels
// beside the scroll bar.
//
// Picture boxes (id 2054) and zoom buttons (id 2055) carry the picture's path
// as user data; picture boxes report double-clicks (kNotifyDblClick). Opening
// the picture is the window's business, not the element's.
// UI thread only.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/ui/UILayout.h"

namespace KwLib {

class UIButton;
class VLAudioPlayer;
class VLQuestionBase;

class UIQuestionElement : public UIVerticalLayout {
public:
    // Width of the stem's text and pictures.
    static constexpr int kContentWidth = 684;
    // Picture boxes and zoom buttons, in the stem and in answer areas.
    static constexpr int kPictureBoxId = 2054;
    static constexpr int kZoomButtonId = 2055;
    static constexpr int kZoomButtonRes = 2101;  // 50 x 25: normal and hot side by side
    static constexpr int kZoomButtonSize = 25;
    static constexpr int kPictureBorder = 3;
    static constexpr UIColor kPictureBorderColor = 0xFFA4DEDD;
    static constexpr UIColor kTextColor = 0xFF26934E;
    static constexpr const char* kPictureToolTip = "双击查看原图";
    // The stem shows a picture in at most this many pixels.
    static constexpr int kStemPictureWidth = 678;
    static constexpr int kStemPictureHeight = 244;

    UIQuestionElement() = default;
    ~UIQuestionElement() override;
    std::string GetClass() const override { return "QuestionElement"; }

    // Binds the record (not owned; it must outlive the element) and builds the
    // stem and the answer area. Once, after the element was given the window's
    // paint manager.
    void InitQuestion(VLQuestionBase* question);
    VLQuestionBase* GetQuestion() const { return m_question; }
    // The stem container (question body and answer area); nullptr before InitQuestion.
    UIVerticalLayout* GetStem() const { return m_stem; }

    // Fills m_stem from the record; nothing without a record.
    virtual void BuildStem();
    // The answer string of the current state.
    virtual std::string GetAnswer() = 0;
    // Restores the state from an answer string; an empty string leaves it untouched.
    virtual void SetAnswer(const std::string& answer) = 0;
    // Builds the answer area into m_stem, after the question body.
    virtual void AddContent() {}
    // Only the element's own flag; element classes pass it on to their parts.
    void SetEnabled(bool enabled = true) override;

    // Elements that run something of their own in the answering phase (the
    // rhythm element's track) start it here and return how long its count-in
    // lasts in ms; the others return 0.
    virtual uint32_t StartActivity(VLQuestionBase* question) {
        (void)question;
        return 0;
    }
    // Stops what StartActivity started; called whenever the question is left.
    virtual void StopActivity() {}
    // The window has just started the music the activity goes with on
    // `player` (the rhythm element counts its taps from the music's first sample).
    virtual void OnActivityMusicStarted(VLAudioPlayer* player) { (void)player; }

    // Height in pixels of a text label kContentWidth wide holding `text` in `font`.
    int CalcTextHeight(const std::string& font, const std::string& text);

protected:
    // Where a picture of w x h goes in a frame of at most maxW x maxH: the part
    // of the picture shown, where it is drawn inside its bordered box, the box
    // size, and whether the picture was cut.
    struct PictureFit {
        UIRect source;
        UIRect dest;
        int boxWidth = 0;
        int boxHeight = 0;
        bool cut = false;
    };
    // Pictures larger than the frame are cut to their middle, keeping the
    // frame's proportions when both sides are too large.
    static PictureFit FitPicture(int w, int h, int maxW, int maxH);
    // The size of a picture file; 0 x 0 when it cannot be read (not yet
    // downloaded, damaged).
    static UISize ReadPictureSize(const std::string& path);

    // A stem text label: kContentWidth wide, as high as its wrapped text.
    UIControl* CreateTextLabel(const std::string& text, const std::string& font);
    // A stem picture box (id 2054) with its zoom button when the picture was cut.
    UIContainer* CreateImageBox(const std::string& path);
    // The 25 x 25 zoom button (id 2055) for a picture box of boxW x boxH: laid
    // out in the box's bottom right corner, 3 pixels in from its edges.
    static UIButton* CreateZoomButton(const std::string& path, int boxW, int boxH);
    // Fixes the stem's height to what its content needs now (after building,
    // and whenever an element class changes its content).
    void UpdateStemHeight();

    VLQuestionBase* m_question = nullptr;  // not owned
    UIVerticalLayout* m_stem = nullptr;    // owned by the control tree
    std::string m_defaultAnswer;
};

// The element class of a question type, or nullptr for a type without one.
std::unique_ptr<UIQuestionElement> CreateQuestionElement(int type);

// True for the types whose element joins the question area before it is bound
// to the paint manager and built (the drawing elements measure their place).
bool AddsToAreaFirst(int type);

}  // namespace KwLib
