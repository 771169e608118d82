#include "platform/common/KWMD5Utils.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace KwLib {

namespace {
std::string Hex(const unsigned char* digest, unsigned int len) {
    static const char* kDigits = "0123456789ABCDEF";
    std::string out;
    out.reserve(len * 2);
    for (unsigned int i = 0; i < len; ++i) {
        out += kDigits[digest[i] >> 4];
        out += kDigits[digest[i] & 0xF];
    }
    return out;
}

using CtxPtr = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;
}  // namespace

std::string KWMD5Utils::CalcuteMD5String(const void* data, size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!EVP_Digest(data, size, digest, &len, EVP_md5(), nullptr))
        return std::string();
    return Hex(digest, len);
}

std::string KWMD5Utils::CalcuteMD5String(const std::string& bytes) {
    return CalcuteMD5String(bytes.data(), bytes.size());
}

std::string KWMD5Utils::CalcuteFileMD5String(const std::string& path) {
    std::unique_ptr<FILE, decltype(&std::fclose)> f(std::fopen(path.c_str(), "rbe"), &std::fclose);
    if (!f)
        return std::string();
    CtxPtr ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || !EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr))
        return std::string();
    std::vector<char> buf(256 * 1024);
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f.get())) > 0)
        EVP_DigestUpdate(ctx.get(), buf.data(), n);
    if (std::ferror(f.get()))
        return std::string();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx.get(), digest, &len);
    return Hex(digest, len);
}

}  // namespace KwLib
