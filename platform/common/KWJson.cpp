#include "platform/common/KWJson.h"

#include <memory>

namespace KwLib {

bool KWJsonReader::Parse(const std::string& utf8Text, KWJsonValue& value, int) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    builder["failIfExtra"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    value = KWJsonValue();
    try {
        if (reader->parse(utf8Text.data(), utf8Text.data() + utf8Text.size(), &value, &errors))
            return true;
    } catch (const std::exception&) {
        // jsoncpp throws on nesting deeper than its stack limit; that is malformed input too.
    }
    value = KWJsonValue();
    return false;
}

std::string KWJsonWriter::Write(const KWJsonValue& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

bool KWJsonUtils::IsInt(const KWJsonValue& v) {
    return v.isInt() || v.isUInt() || v.isInt64();
}

int32_t KWJsonUtils::AsInt(const KWJsonValue& v, int32_t fallback) {
    if (v.isInt())
        return v.asInt();
    if (v.isNumeric() && v.isConvertibleTo(Json::intValue))
        return v.asInt();
    return fallback;
}

int64_t KWJsonUtils::AsInt64(const KWJsonValue& v, int64_t fallback) {
    if (v.isInt64())
        return v.asInt64();
    if (v.isNumeric() && v.isConvertibleTo(Json::intValue))
        return v.asInt();
    return fallback;
}

std::string KWJsonUtils::AsString(const KWJsonValue& v, const std::string& fallback) {
    return v.isString() ? v.asString() : fallback;
}

const KWJsonValue& KWJsonUtils::Member(const KWJsonValue& obj, const char* name) {
    static const KWJsonValue kNull;
    if (!obj.isObject())
        return kNull;
    const KWJsonValue* found = obj.find(name, name + std::char_traits<char>::length(name));
    return found ? *found : kNull;
}

}  // namespace KwLib
