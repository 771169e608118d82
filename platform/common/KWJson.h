#pragma once
#include <json/json.h>

#include <string>

namespace KwLib {

// JSON values are jsoncpp values: copyable, indexable by name or position.
using KWJsonValue = Json::Value;

class KWJsonReader {
public:
    // Parses UTF-8 text; false (and `value` null) on malformed input. `flag` is
    // kept for callers that pass one and has no effect.
    static bool Parse(const std::string& utf8Text, KWJsonValue& value, int flag = 0);
};

class KWJsonWriter {
public:
    // Compact UTF-8 text without a trailing newline; non-ASCII text stays as UTF-8.
    static std::string Write(const KWJsonValue& value);
};

// Tolerant getters for values that the platform sends sometimes as a number and
// sometimes as text.
class KWJsonUtils {
public:
    static bool IsInt(const KWJsonValue& v);
    static int32_t AsInt(const KWJsonValue& v, int32_t fallback = 0);
    static int64_t AsInt64(const KWJsonValue& v, int64_t fallback = 0);
    static std::string AsString(const KWJsonValue& v, const std::string& fallback = std::string());
    static const KWJsonValue& Member(const KWJsonValue& obj, const char* name);
};

}  // namespace KwLib
