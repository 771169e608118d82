#include "platform/ui/UIAnimationManager.h"

#include "platform/ui/UIApplication.h"
#include "platform/ui/UIControl.h"

namespace KwLib {

UIAnimationManager::~UIAnimationManager() {
    UIApplication::Instance().KillTimers(this);
}

UIAnimationManager::Animation* UIAnimationManager::Find(UIControl* control, int id) {
    for (auto& a : m_animations)
        if (a.control == control && a.id == id)
            return &a;
    return nullptr;
}

const UIAnimationManager::Animation* UIAnimationManager::Find(UIControl* control, int id) const {
    for (auto& a : m_animations)
        if (a.control == control && a.id == id)
            return &a;
    return nullptr;
}

bool UIAnimationManager::AddAnimation(UIControl* control, int id, int periodMs, int frameCount, bool loop) {
    if (!control || periodMs <= 0 || frameCount < 0)
        return false;
    if (Animation* a = Find(control, id)) {
        *a = {control, id, periodMs, frameCount, loop, 0};
    } else {
        m_animations.push_back({control, id, periodMs, frameCount, loop, 0});
    }
    UIApplication::Instance().SetTimer(this, control, id, static_cast<uint32_t>(periodMs),
                                       [this, control, id] { Step(control, id); });
    control->Invalidate();
    control->OnAnimationStart(id);
    if (IsAnimating(control, id))  // the start hook may have ended it
        control->OnAnimationStep(id, 0, frameCount);
    return true;
}

bool UIAnimationManager::AddAnimation(UIControl* control, int id, int periodMs,
                                      const std::vector<std::string>& frameImages, bool loop) {
    if (!control || frameImages.empty())
        return false;
    control->m_animationFrames[id] = frameImages;
    return AddAnimation(control, id, periodMs, static_cast<int>(frameImages.size()), loop);
}

void UIAnimationManager::Step(UIControl* control, int id) {
    Animation* a = Find(control, id);
    if (!a)
        return;
    ++a->current;
    if (a->frameCount > 0 && a->current >= a->frameCount) {
        if (!a->loop) {
            RemoveAnimation(control, id);
            return;
        }
        a->current = 0;
    }
    int frame = a->current, count = a->frameCount;
    // Invalidating only marks the area, so it may come first: the control may
    // remove (and so delete) itself in its step hook, which must be the last use.
    control->Invalidate();
    control->OnAnimationStep(id, frame, count);
}

void UIAnimationManager::RemoveAnimation(UIControl* control, int id) {
    for (auto it = m_animations.begin(); it != m_animations.end(); ++it) {
        if (it->control != control || it->id != id)
            continue;
        m_animations.erase(it);
        UIApplication::Instance().KillTimer(this, control, id);
        control->m_animationFrames.erase(id);
        control->OnAnimationStop(id);
        return;
    }
}

void UIAnimationManager::RemoveAnimations(UIControl* control) {
    for (size_t i = 0; i < m_animations.size();) {
        if (m_animations[i].control == control) {
            UIApplication::Instance().KillTimer(this, control, m_animations[i].id);
            m_animations.erase(m_animations.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
}

bool UIAnimationManager::IsAnimating(UIControl* control, int id) const {
    return Find(control, id) != nullptr;
}

int UIAnimationManager::GetCurrentFrame(UIControl* control, int id) const {
    const Animation* a = Find(control, id);
    return a ? a->current : -1;
}

}  // namespace KwLib
