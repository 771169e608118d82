#include "platform/ui/UIResource.h"

#include <SDL.h>
#include <SDL_image.h>
#include <fontconfig/fontconfig.h>

#include <pugixml.hpp>

#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWShellUtils.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIClock.h"

namespace KwLib {

UIImageData::UIImageData(UIImageInfo info) : m_info(std::move(info)) {
    m_surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(m_info.pixels.data()),
                                                    CAIRO_FORMAT_ARGB32, m_info.width, m_info.height,
                                                    m_info.width * 4);
}

UIImageData::~UIImageData() {
    DropScaled();
    cairo_surface_destroy(m_surface);
}

void UIImageData::MarkDirty() {
    cairo_surface_mark_dirty(m_surface);
    DropScaled();
}

cairo_surface_t* UIImageData::FindScaled(const std::string& key, bool* opaque) const {
    auto it = m_scaled.find(key);
    if (it == m_scaled.end())
        return nullptr;
    if (opaque)
        *opaque = it->second.opaque;
    return it->second.surface;
}

namespace {
bool AllOpaque(cairo_surface_t* s) {
    cairo_surface_flush(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < w; ++x)
            if ((row[x] >> 24) != 0xFF)
                return false;
    }
    return true;
}
}  // namespace

void UIImageData::AddScaled(const std::string& key, cairo_surface_t* surface) {
    // A control being resized continuously would otherwise leave one rendering per size.
    if (m_scaled.size() >= 32)
        DropScaled();
    const Scaled entry{surface, AllOpaque(surface)};
    auto [it, inserted] = m_scaled.emplace(key, entry);
    if (!inserted) {
        cairo_surface_destroy(it->second.surface);
        it->second = entry;
    }
}

void UIImageData::DropScaled() {
    for (auto& [key, scaled] : m_scaled)
        cairo_surface_destroy(scaled.surface);
    m_scaled.clear();
}

// ---- image strings ----

namespace {

// Splits "a='x' b='y z'" into pairs; values may also be in double quotes.
std::vector<std::pair<std::string, std::string>> SplitAttributes(const std::string& s) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
            ++i;
        size_t eq = s.find('=', i);
        if (eq == std::string::npos)
            break;
        std::string name = KWStringUtils::Trim(s.substr(i, eq - i));
        size_t q = eq + 1;
        while (q < s.size() && s[q] == ' ')
            ++q;
        if (q >= s.size())
            break;
        char quote = s[q];
        std::string value;
        if (quote == '\'' || quote == '"') {
            size_t close = s.find(quote, q + 1);
            if (close == std::string::npos)
                close = s.size();
            value = s.substr(q + 1, close - q - 1);
            i = close + 1;
        } else {
            size_t sp = s.find(' ', q);
            if (sp == std::string::npos)
                sp = s.size();
            value = s.substr(q, sp - q);
            i = sp;
        }
        out.emplace_back(KWStringUtils::MakeLower(name), value);
    }
    return out;
}

}  // namespace

const UIImageAttr& UIImageString::Parse(const std::string& imageString) {
    static std::map<std::string, UIImageAttr> cache;
    auto it = cache.find(imageString);
    if (it != cache.end())
        return it->second;
    UIImageAttr a;
    if (imageString.find('=') == std::string::npos) {
        a.file = KWStringUtils::Trim(imageString);
    } else {
        for (auto& [name, value] : SplitAttributes(imageString)) {
            if (name == "file")
                a.file = value;
            else if (name == "res")
                a.res = KWStringUtils::ConvertStringToInt32(value);
            else if (name == "restype")
                a.restype = value;
            else if (name == "source") {
                a.source = ParseRect(value);
                a.hasSource = true;
            } else if (name == "dest") {
                a.dest = ParseRect(value);
                a.hasDest = true;
            } else if (name == "corner")
                a.corner = ParseRect(value);
            else if (name == "fade")
                a.fade = static_cast<uint8_t>(std::clamp(KWStringUtils::ConvertStringToInt32(value), 0, 255));
            else if (name == "hole")
                a.hole = value == "true";
            else if (name == "xtiled")
                a.xtiled = value == "true";
            else if (name == "ytiled")
                a.ytiled = value == "true";
        }
    }
    auto& res = UIResourceSingleton::Instance();
    if (!a.file.empty())
        a.key = res.ResolvePath(a.file);
    else if (a.res > 0) {
        a.key = res.GetResourceFile(a.res, a.restype.empty() ? "PNG" : a.restype);
        a.key2x = res.GetResourceFile2x(a.res, a.restype.empty() ? "PNG" : a.restype);
    }
    return cache.emplace(imageString, std::move(a)).first->second;
}

std::string UIImageString::GetImageFile(const std::string& imageString) {
    return Parse(imageString).key;
}

// ---- image loader ----

namespace {

bool FromSurface(SDL_Surface* loaded, UIImageInfo& out) {
    if (!loaded)
        return false;
    SDL_Surface* s = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(loaded);
    if (!s)
        return false;
    out.width = s->w;
    out.height = s->h;
    out.pixels.assign(static_cast<size_t>(s->w) * s->h, 0);
    SDL_LockSurface(s);
    for (int y = 0; y < s->h; ++y) {
        const uint32_t* row =
            reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(s->pixels) + y * s->pitch);
        uint32_t* dst = out.pixels.data() + static_cast<size_t>(y) * s->w;
        for (int x = 0; x < s->w; ++x) {
            uint32_t p = row[x];
            uint32_t a = p >> 24;
            if (a == 255) {
                dst[x] = p;
            } else {
                // cairo wants premultiplied alpha.
                uint32_t r = ((p >> 16) & 0xFF) * a / 255, g = ((p >> 8) & 0xFF) * a / 255,
                         b = (p & 0xFF) * a / 255;
                dst[x] = (a << 24) | (r << 16) | (g << 8) | b;
            }
        }
    }
    SDL_UnlockSurface(s);
    SDL_FreeSurface(s);
    return out.width > 0 && out.height > 0;
}

void InitImageLib() {
    static std::once_flag once;
    std::call_once(once, [] { IMG_Init(IMG_INIT_PNG | IMG_INIT_JPG); });
}

}  // namespace

bool UILoadResource::ImageInfoFromFile(const std::string& path, UIImageInfo& out) {
    if (path.empty())
        return false;
    InitImageLib();
    return FromSurface(IMG_Load(path.c_str()), out);
}

bool UILoadResource::ImageInfoFromMemory(const void* data, size_t size, UIImageInfo& out) {
    if (!data || size == 0)
        return false;
    InitImageLib();
    SDL_RWops* rw = SDL_RWFromConstMem(data, static_cast<int>(size));
    return FromSurface(rw ? IMG_Load_RW(rw, 1) : nullptr, out);
}

// ---- resource singleton ----

UIResourceSingleton& UIResourceSingleton::Instance() {
    static UIResourceSingleton instance;
    return instance;
}

UIResourceSingleton::UIResourceSingleton() {
    std::string exe = KWSharedLibrary::GetModuleFullName();
    m_resPath = KWFileName::GetDirectory(exe) + "res/";
}

void UIResourceSingleton::SetResourcePath(const std::string& dir) {
    m_resPath = dir;
    if (!m_resPath.empty() && m_resPath.back() != '/')
        m_resPath += '/';
    m_stringsLoaded = false;
    m_strings.clear();
    m_exists2x.clear();
}

std::string UIResourceSingleton::GetResourceFile(int resId, const std::string& restype) const {
    return m_resPath + std::to_string(resId) + "." + KWStringUtils::MakeLower(restype);
}

std::string UIResourceSingleton::GetResourceFile2x(int resId, const std::string& restype) const {
    return m_resPath + std::to_string(resId) + "@2x." + KWStringUtils::MakeLower(restype);
}

std::string UIResourceSingleton::ResolvePath(const std::string& file) const {
    if (file.empty() || file[0] == '/')
        return file;
    return m_resPath + file;
}

namespace {
size_t BytesOf(const std::shared_ptr<UIImageData>& image) {
    return image ? static_cast<size_t>(image->Width()) * image->Height() * 4 : 0;
}
}  // namespace

std::shared_ptr<UIImageData> UIResourceSingleton::GetImage(const std::string& path) {
    uint64_t now = UIClock::NowMs();
    auto it = m_images.find(path);
    bool failedBefore = false;
    if (it != m_images.end()) {
        if (it->second.image) {
            it->second.lastUse = now;
            return it->second.image;
        }
        // A missing picture is not looked for on every frame.
        if (now - it->second.failedAt < kRetryMs)
            return nullptr;
        failedBefore = true;
    }
    UIImageInfo info;
    if (!UILoadResource::ImageInfoFromFile(path, info)) {
        if (!failedBefore)
            VL_LOG_WARN("image cannot be read: %s", path.c_str());
        CachedImage& entry = m_images[path];
        entry.failedAt = now;
        return nullptr;
    }
    auto image = std::make_shared<UIImageData>(std::move(info));
    Put(path, image, false);
    return image;
}

std::shared_ptr<UIImageData> UIResourceSingleton::GetImageForScale(const UIImageAttr& attr, double scale,
                                                                   int& density) {
    density = 1;
    if (scale > 1.0 + 1e-6 && !attr.key2x.empty()) {
        auto known = m_exists2x.find(attr.key2x);
        if (known == m_exists2x.end())
            known = m_exists2x.emplace(attr.key2x, KWFilePathUtils::IsExistsFile(attr.key2x)).first;
        if (known->second) {
            if (auto image = GetImage(attr.key2x)) {
                density = 2;
                return image;
            }
        }
    }
    return GetImage(attr.key);
}

std::shared_ptr<UIImageData> UIResourceSingleton::AddImage(const std::string& key, UIImageInfo info) {
    auto image = std::make_shared<UIImageData>(std::move(info));
    Put(key, image, true);
    return image;
}

void UIResourceSingleton::Put(const std::string& key, std::shared_ptr<UIImageData> image, bool pinned) {
    CachedImage& entry = m_images[key];
    m_imageBytes -= BytesOf(entry.image);
    entry.image = std::move(image);
    entry.lastUse = UIClock::NowMs();
    entry.failedAt = 0;
    entry.pinned = pinned;
    m_imageBytes += BytesOf(entry.image);
    Trim();
}

void UIResourceSingleton::Trim() {
    while (m_imageBytes > m_imageByteLimit) {
        auto victim = m_images.end();
        for (auto it = m_images.begin(); it != m_images.end(); ++it) {
            const CachedImage& e = it->second;
            // Pictures a control still holds, or that were made in memory, stay.
            if (!e.image || e.pinned || e.image.use_count() > 1)
                continue;
            if (victim == m_images.end() || e.lastUse < victim->second.lastUse)
                victim = it;
        }
        if (victim == m_images.end())
            return;
        m_imageBytes -= BytesOf(victim->second.image);
        m_images.erase(victim);
    }
}

void UIResourceSingleton::SetImageCacheLimit(size_t bytes) {
    m_imageByteLimit = bytes;
    Trim();
}

void UIResourceSingleton::RemoveImage(const std::string& key) {
    auto it = m_images.find(key);
    if (it == m_images.end())
        return;
    m_imageBytes -= BytesOf(it->second.image);
    m_images.erase(it);
}

std::shared_ptr<UIImageData> UIResourceSingleton::FindImage(const std::string& key) const {
    auto it = m_images.find(key);
    return it == m_images.end() ? nullptr : it->second.image;
}

void UIResourceSingleton::ClearImages() {
    m_images.clear();
    m_exists2x.clear();
    m_imageBytes = 0;
}

size_t UIResourceSingleton::ImageCount() const {
    size_t n = 0;
    for (auto& [key, entry] : m_images)
        n += entry.image != nullptr;
    return n;
}

void UIResourceSingleton::LoadStrings() {
    m_stringsLoaded = true;
    pugi::xml_document doc;
    if (!doc.load_file((m_resPath + "strings.xml").c_str()))
        return;
    for (auto s : doc.child("Strings").children("String"))
        m_strings[s.attribute("id").as_int()] =
            s.attribute("value") ? s.attribute("value").value() : s.text().get();
}

std::string UIResourceSingleton::LoadStr(int id) {
    if (!m_stringsLoaded)
        LoadStrings();
    auto it = m_strings.find(id);
    return it == m_strings.end() ? std::string() : it->second;
}

void UIResourceSingleton::EnsureFonts() {
    if (m_fontsLoaded)
        return;
    m_fontsLoaded = true;
    std::string conf = m_resPath + "fonts.conf";
    if (!KWFilePathUtils::IsExistsFile(conf)) {
        VL_LOG_WARN("font alias file missing: %s", conf.c_str());
        return;
    }
    FcConfig* config = FcConfigGetCurrent();
    if (!FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(conf.c_str()), FcTrue))
        VL_LOG_WARN("font alias file rejected: %s", conf.c_str());
}

}  // namespace KwLib
