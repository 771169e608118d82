#include "UITestWindow.h"

#include "platform/ui/UIButton.h"

namespace KwLib {

void TestWindow::Notify(UINotification& msg) {
    auto* option = dynamic_cast<UIOption*>(msg.sender);
    notes.push_back(
        {msg.type, msg.sender ? msg.sender->GetId() : 0, msg.wParam, option && option->IsSelected()});
    if (onNotify)
        onNotify(msg);
}

}  // namespace KwLib
