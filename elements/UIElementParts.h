#pragma once
// What the drag-and-draw elements share: their small "撤消" and "重置"
// buttons, and the careful reading of answer strings (a saved answer comes
// from disk and may be damaged, so nothing in it is trusted).
// UI thread only.
#include <initializer_list>
#include <string>
#include <vector>

namespace KwLib {

class UIButton;
class UIControl;
class UIPaintManager;

namespace UIElementParts {

constexpr int kUndoButtonId = 2056;
constexpr int kResetButtonId = 2057;
constexpr const char* kUndoText = "撤消";
constexpr const char* kResetText = "重置";
constexpr int kButtonRes = 2002;  // 58 x 96: normal, hot, pushed, disabled, 58 x 24 each

// A small button with the faces of resource 2002, white text in the middle.
// `corner` keeps the rounded ends unstretched (nine-grid 5).
UIButton* CreateSmallButton(const std::string& text, int id, int width, int height, bool corner);

// Switches on each of the toolkit's dispatch `flags` of `c` (which mouse
// events over it reach the element).
void SetDispatch(UIControl* c, std::initializer_list<int> flags);

// The height a text needs in `font` wrapped at `width`: at least its lines
// counted by width alone, and more where wrapping at words takes an extra line
// (a box sized by the division alone would cut the last line off).
int WrappedTextHeight(UIPaintManager* pm, const std::string& text, const std::string& font, int width);

// Splits at every `separator`, empty parts kept ("1,,2" gives three parts).
std::vector<std::string> Split(const std::string& text, char separator);

// A whole decimal number, optionally negative, nothing else around it, that
// fits in an int; false otherwise.
bool ParseInt(const std::string& text, int& value);

}  // namespace UIElementParts
}  // namespace KwLib
