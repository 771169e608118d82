#pragma once
// Frame animations on controls: every `periodMs` the control's
// OnAnimationStep hook gets the next frame number and the control repaints.
// One manager per paint manager; UI thread only; driven by the toolkit clock,
// so tests step animations with the manual clock.
#include <string>
#include <vector>

namespace KwLib {

class UIControl;
class UIPaintManager;

class UIAnimationManager {
public:
    explicit UIAnimationManager(UIPaintManager* manager) : m_manager(manager) {}
    ~UIAnimationManager();

    // Starts (or restarts) animation `animationId` on `control`. `frameCount`
    // 0 runs until removed; otherwise the frames wrap when `loop`, else the
    // animation stops after the last frame.
    bool AddAnimation(UIControl* control, int animationId, int periodMs, int frameCount, bool loop = true);
    // An animation that shows one image string per frame as the control's
    // background image (a spinner made of PNG resources, for example).
    bool AddAnimation(UIControl* control, int animationId, int periodMs,
                      const std::vector<std::string>& frameImages, bool loop = true);
    void RemoveAnimation(UIControl* control, int animationId);
    void RemoveAnimations(UIControl* control);
    bool IsAnimating(UIControl* control, int animationId) const;
    // Current frame, or -1 when not running.
    int GetCurrentFrame(UIControl* control, int animationId) const;

private:
    struct Animation {
        UIControl* control;
        int id;
        int period;
        int frameCount;
        bool loop;
        int current;
    };
    void Step(UIControl* control, int animationId);
    Animation* Find(UIControl* control, int animationId);
    const Animation* Find(UIControl* control, int animationId) const;

    UIPaintManager* m_manager;
    std::vector<Animation> m_animations;
};

}  // namespace KwLib
