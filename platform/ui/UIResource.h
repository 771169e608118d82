#pragma once
// Resources of the toolkit: the resource folder, PNG resources by numeric id,
// the image loader and image cache, image attribute strings and the string
// table. UI thread only, except ImageInfoFromFile which is safe anywhere.
#include <cairo.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/UIDefines.h"

namespace KwLib {

// A decoded picture: premultiplied ARGB32 pixels, row after row, no padding.
struct UIImageInfo {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};

// A cached image. Its pixels may be changed in place by a control (the
// colouring element paints regions this way); call MarkDirty afterwards.
class UIImageData {
public:
    explicit UIImageData(UIImageInfo info);
    ~UIImageData();
    UIImageData(const UIImageData&) = delete;
    UIImageData& operator=(const UIImageData&) = delete;

    int Width() const { return m_info.width; }
    int Height() const { return m_info.height; }
    uint32_t* Pixels() { return m_info.pixels.data(); }
    const uint32_t* Pixels() const { return m_info.pixels.data(); }
    // Tells the drawing layer the pixels changed.
    void MarkDirty();
    cairo_surface_t* Surface() const { return m_surface; }

    // Scaled renderings of this image, made once and reused while the pixels
    // do not change, so a frame only copies pixels. nullptr when absent.
    // `opaque` tells whether no pixel of the rendering lets anything through
    // (a photo): it may be copied instead of blended.
    cairo_surface_t* FindScaled(const std::string& key, bool* opaque = nullptr) const;
    void AddScaled(const std::string& key, cairo_surface_t* surface);  // takes the reference

private:
    void DropScaled();
    UIImageInfo m_info;
    cairo_surface_t* m_surface = nullptr;
    struct Scaled {
        cairo_surface_t* surface;
        bool opaque;
    };
    std::map<std::string, Scaled> m_scaled;
};

// A parsed image attribute string, e.g.
// "res='1043' restype='PNG' source='0,0,58,24' dest='3,3,61,27' corner='5,5,5,5'".
// A string without '=' is a file name on its own.
struct UIImageAttr {
    std::string key;  // the image cache key: the resolved file path
    // A resource's picture drawn at twice its size ("<id>@2x.png"), for
    // screens that show more than one pixel per layout unit; empty for files.
    std::string key2x;
    std::string file;
    int res = 0;
    std::string restype;
    UIRect source;  // empty: the whole image
    UIRect dest;    // empty: the whole control
    UIRect corner;  // nine-grid edges in source pixels
    bool hasSource = false;
    bool hasDest = false;
    uint8_t fade = 255;
    bool hole = false;  // nine-grid without its middle
    bool xtiled = false;
    bool ytiled = false;
};

class UIImageString {
public:
    // Parsed once per distinct string; the result lives as long as the process.
    static const UIImageAttr& Parse(const std::string& imageString);
    // The path of the picture file that an image string names.
    static std::string GetImageFile(const std::string& imageString);
};

class UILoadResource {
public:
    // Decodes a PNG or JPEG file (SDL2_image). False when it cannot be read.
    static bool ImageInfoFromFile(const std::string& path, UIImageInfo& out);
    static bool ImageInfoFromMemory(const void* data, size_t size, UIImageInfo& out);
};

class UIResourceSingleton {
public:
    static UIResourceSingleton& Instance();

    // Folder holding the layout files, the PNG resources "<id>.png", the string
    // table "strings.xml" and the font alias file "fonts.conf". Ends in "/".
    // Defaults to "res/" beside the program.
    void SetResourcePath(const std::string& dir);
    const std::string& GetResourcePath() const { return m_resPath; }
    std::string GetResourceFile(int resId, const std::string& restype = "PNG") const;
    // The same resource drawn at twice its size ("<id>@2x.png").
    std::string GetResourceFile2x(int resId, const std::string& restype = "PNG") const;
    std::string ResolvePath(const std::string& file) const;

    // The image cache. GetImage loads on first use; nullptr when unreadable
    // (a file that could not be read is tried again after kRetryMs, since
    // pictures arrive by download while the program runs).
    std::shared_ptr<UIImageData> GetImage(const std::string& path);
    // The sharper of a resource's pictures for a surface showing `scale`
    // pixels per layout unit: the one drawn at twice the size above 1 when
    // it exists. `density` tells which (1 or 2): source rectangles and
    // nine-grid edges are given for the plain one and multiply by it.
    std::shared_ptr<UIImageData> GetImageForScale(const UIImageAttr& attr, double scale, int& density);
    // Puts (or replaces) an image under a key, for pictures made or changed in
    // memory; such an image stays until RemoveImage.
    std::shared_ptr<UIImageData> AddImage(const std::string& key, UIImageInfo info);
    void RemoveImage(const std::string& key);
    // The image cached under a key, without loading anything; nullptr when none.
    std::shared_ptr<UIImageData> FindImage(const std::string& key) const;
    void ClearImages();
    size_t ImageCount() const;
    // Decoded pictures are large: beyond this many bytes the least recently
    // used ones that nothing else holds are dropped (and decoded again if needed).
    void SetImageCacheLimit(size_t bytes);
    size_t GetImageCacheBytes() const { return m_imageBytes; }
    static constexpr uint64_t kRetryMs = 1000;

    // String table text by id; empty when absent.
    std::string LoadStr(int id);

    // Loads the shipped font alias file into fontconfig, once. Called before
    // the first text is laid out.
    void EnsureFonts();

private:
    UIResourceSingleton();
    void LoadStrings();

    std::string m_resPath;
    struct CachedImage {
        std::shared_ptr<UIImageData> image;
        uint64_t lastUse = 0;
        uint64_t failedAt = 0;
        bool pinned = false;
    };
    void Put(const std::string& key, std::shared_ptr<UIImageData> image, bool pinned);
    void Trim();
    std::map<std::string, CachedImage> m_images;
    // Whether a resource's twice-size picture exists, looked up once per file.
    std::map<std::string, bool> m_exists2x;
    size_t m_imageBytes = 0;
    size_t m_imageByteLimit = 256u << 20;
    std::map<int, std::string> m_strings;
    bool m_stringsLoaded = false;
    bool m_fontsLoaded = false;
};

inline std::string LoadStr(int id) {
    return UIResourceSingleton::Instance().LoadStr(id);
}

}  // namespace KwLib
