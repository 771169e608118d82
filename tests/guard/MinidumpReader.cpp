#include "tests/guard/MinidumpReader.h"

#include <cstring>

namespace KwLib::TestSupport {

namespace {
struct Cursor {
    const std::string& data;
    bool ok = true;
    template <typename T>
    T At(uint64_t offset) {
        T v{};
        if (offset + sizeof(T) > data.size()) {
            ok = false;
            return v;
        }
        std::memcpy(&v, data.data() + offset, sizeof(T));  // the test machines are little-endian
        return v;
    }
    std::string Range(uint64_t offset, uint64_t size) {
        if (offset + size > data.size()) {
            ok = false;
            return {};
        }
        return data.substr(offset, size);
    }
    std::string Location(uint64_t at) { return Range(At<uint32_t>(at + 4), At<uint32_t>(at)); }
    std::string String(uint32_t rva) {
        uint32_t bytes = At<uint32_t>(rva);
        std::string raw = Range(rva + 4, bytes);
        std::string out;
        for (size_t i = 0; i + 1 < raw.size(); i += 2) {
            uint32_t c = static_cast<uint8_t>(raw[i]) | (static_cast<uint8_t>(raw[i + 1]) << 8);
            if (c >= 0xd800 && c < 0xdc00 && i + 3 < raw.size()) {
                uint32_t lo = static_cast<uint8_t>(raw[i + 2]) | (static_cast<uint8_t>(raw[i + 3]) << 8);
                c = 0x10000 + ((c - 0xd800) << 10) + (lo - 0xdc00);
                i += 2;
            }
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else if (c < 0x800) {
                out += static_cast<char>(0xc0 | (c >> 6));
                out += static_cast<char>(0x80 | (c & 0x3f));
            } else if (c < 0x10000) {
                out += static_cast<char>(0xe0 | (c >> 12));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
                out += static_cast<char>(0x80 | (c & 0x3f));
            } else {
                out += static_cast<char>(0xf0 | (c >> 18));
                out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
                out += static_cast<char>(0x80 | (c & 0x3f));
            }
        }
        return out;
    }
};

uint64_t U64(const std::string& s, size_t at) {
    uint64_t v = 0;
    if (at + 8 <= s.size())
        std::memcpy(&v, s.data() + at, 8);
    return v;
}
}  // namespace

uint64_t MinidumpFile::ContextRip(const std::string& context) {
    return U64(context, 248);
}
uint64_t MinidumpFile::ContextRsp(const std::string& context) {
    return U64(context, 152);
}
uint32_t MinidumpFile::ContextFlags(const std::string& context) {
    uint32_t v = 0;
    if (context.size() >= 52)
        std::memcpy(&v, context.data() + 48, 4);
    return v;
}

std::optional<MinidumpFile> ReadMinidump(const std::string& data, std::string* error) {
    auto fail = [&](const char* why) -> std::optional<MinidumpFile> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    Cursor c{data};
    MinidumpFile dump;
    if (c.At<uint32_t>(0) != 0x504d444d)
        return fail("no MDMP signature");
    dump.version = c.At<uint32_t>(4) & 0xffff;
    uint32_t count = c.At<uint32_t>(8);
    uint32_t directory = c.At<uint32_t>(12);
    dump.timeStamp = c.At<uint32_t>(20);
    std::map<uint32_t, uint32_t> rvaOf;
    for (uint32_t i = 0; i < count && c.ok; ++i) {
        uint64_t entry = directory + i * 12ull;
        uint32_t type = c.At<uint32_t>(entry);
        rvaOf[type] = c.At<uint32_t>(entry + 8);
        dump.streams[type] = c.Location(entry + 4);
    }
    if (!c.ok)
        return fail("directory outside the file");

    if (rvaOf.count(3)) {
        uint32_t at = rvaOf[3];
        uint32_t threads = c.At<uint32_t>(at);
        for (uint32_t i = 0; i < threads && c.ok; ++i) {
            uint64_t t = at + 4 + i * 48ull;
            MinidumpFile::Thread thread;
            thread.id = c.At<uint32_t>(t);
            thread.stackStart = c.At<uint64_t>(t + 24);
            thread.stack = c.Location(t + 32);
            thread.context = c.Location(t + 40);
            dump.threads.push_back(thread);
        }
    }
    if (rvaOf.count(4)) {
        uint32_t at = rvaOf[4];
        uint32_t modules = c.At<uint32_t>(at);
        for (uint32_t i = 0; i < modules && c.ok; ++i) {
            uint64_t m = at + 4 + i * 108ull;
            MinidumpFile::Module module;
            module.base = c.At<uint64_t>(m);
            module.size = c.At<uint32_t>(m + 8);
            module.name = c.String(c.At<uint32_t>(m + 20));
            module.cvRecord = c.Location(m + 76);
            dump.modules.push_back(module);
        }
    }
    if (rvaOf.count(6)) {
        uint32_t at = rvaOf[6];
        dump.exceptionThread = c.At<uint32_t>(at);
        dump.exceptionCode = c.At<uint32_t>(at + 8);
        dump.exceptionFlags = c.At<uint32_t>(at + 12);
        dump.exceptionAddress = c.At<uint64_t>(at + 24);
        dump.exceptionContext = c.Location(at + 160);
    }
    if (rvaOf.count(7)) {
        uint32_t at = rvaOf[7];
        dump.cpu = c.At<uint16_t>(at);
        dump.platformId = c.At<uint32_t>(at + 20);
        dump.osDescription = c.String(c.At<uint32_t>(at + 24));
    }
    if (!c.ok)
        return fail("a stream points outside the file");
    return dump;
}

}  // namespace KwLib::TestSupport
