#pragma once
// Text inside the program is UTF-8 in std::string; KWString names that choice.
#include <cstdint>
#include <string>
#include <vector>

namespace KwLib {

using KWString = std::string;
using KWStringArray = std::vector<std::string>;

// Numbers kept from the platform this program was first written for, so stored
// values and messages keep their meaning.
constexpr int ERROR_ALREADY_EXISTS_CODE = 183;

}  // namespace KwLib
