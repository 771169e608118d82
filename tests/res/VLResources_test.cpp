// The generated resources as the windows and elements use them: every picture
// that a layout or an element addresses exists with the size its sprite
// rectangles assume, the cells of a sprite are distinct pictures, the parts a
// nine-grid stretches are plain, and every prompt the exam can play is there
// and holds speech.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "audio/VLAudioDecoder.h"
#include "exam/VLQuestionTexts.h"

namespace KwLib {
namespace {

class Picture {
public:
    explicit Picture(int id, const char* suffix = "")
        : m_surface(cairo_image_surface_create_from_png(
              (VL_RES_DIR + std::to_string(id) + suffix + ".png").c_str())) {}
    ~Picture() { cairo_surface_destroy(m_surface); }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    bool Loaded() const { return cairo_surface_status(m_surface) == CAIRO_STATUS_SUCCESS; }
    int Width() const { return cairo_image_surface_get_width(m_surface); }
    int Height() const { return cairo_image_surface_get_height(m_surface); }
    // Premultiplied ARGB; cairo reads PNGs without alpha as opaque.
    uint32_t At(int x, int y) const {
        const uint8_t* row =
            cairo_image_surface_get_data(m_surface) + y * cairo_image_surface_get_stride(m_surface);
        uint32_t pixel = reinterpret_cast<const uint32_t*>(row)[x];
        return cairo_image_surface_get_format(m_surface) == CAIRO_FORMAT_RGB24 ? pixel | 0xFF000000 : pixel;
    }
    static int Alpha(uint32_t pixel) { return static_cast<int>(pixel >> 24); }

    // Something a user can see: a pixel of the rectangle that is not nearly transparent.
    bool HasInk(int x, int y, int w, int h) const {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i)
                if (Alpha(At(i, j)) > 24)
                    return true;
        return false;
    }
    bool SameArea(int ax, int ay, int bx, int by, int w, int h) const {
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i)
                if (At(ax + i, ay + j) != At(bx + i, by + j))
                    return false;
        return true;
    }
    bool SameAs(const Picture& other) const {
        if (Width() != other.Width() || Height() != other.Height())
            return false;
        for (int y = 0; y < Height(); ++y)
            for (int x = 0; x < Width(); ++x)
                if (At(x, y) != other.At(x, y))
                    return false;
        return true;
    }
    // Columns x0..x1-1 of the rows y0..y1-1 are all the same as column x0.
    bool PlainAcross(int x0, int x1, int y0, int y1) const {
        for (int y = y0; y < y1; ++y)
            for (int x = x0 + 1; x < x1; ++x)
                if (At(x, y) != At(x0, y))
                    return false;
        return true;
    }
    // Rows y0..y1-1 of the columns x0..x1-1 are all the same as row y0.
    bool PlainDown(int y0, int y1, int x0, int x1) const {
        for (int y = y0 + 1; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (At(x, y) != At(x, y0))
                    return false;
        return true;
    }

private:
    cairo_surface_t* m_surface;
};

struct Size {
    int id, width, height;
};

std::vector<Size> ExpectedSizes() {
    std::vector<Size> sizes = {
        // Named with their sprite rectangles by the elements and windows.
        {202, 75, 15},
        {1050, 75, 15},
        {1058, 18, 18},
        {1027, 384, 104},
        {1036, 98, 96},
        {1041, 40, 155},
        {1100, 260, 155},
        {1124, 37, 38},
        {1125, 51, 37},
        {1043, 64, 96},
        {1044, 40, 20},
        {1046, 72, 13},
        {1047, 42, 17},
        {1048, 111, 69},
        {1049, 26, 28},
        {1051, 40, 40},
        {1052, 28, 29},
        {1053, 40, 40},
        {2002, 58, 96},
        {1001, 1024, 768},
        {1008, 1024, 768},
        {2001, 144, 36},
        {2101, 50, 25},
        {1035, 84, 42},
        {1037, 60, 27},
        {1038, 18, 24},
        // The main window's own pictures.
        {100, 64, 64},
        {1018, 32, 32},
        {1020, 32, 32},
        {1021, 32, 32},
        {1045, 32, 32},
        {1019, 120, 150},
        {1022, 160, 120},
        {1023, 160, 120},
        {1024, 96, 96},
        {1025, 200, 140},
        {1026, 96, 96},
        {1028, 384, 64},
        {1029, 36, 36},
        {1030, 48, 24},
        {1031, 48, 24},
        {1032, 48, 24},
        {1033, 40, 20},
        {1034, 40, 20},
        {1039, 32, 16},
    };
    for (int id = 1101; id <= 1123; ++id)
        sizes.push_back({id, 90, 90});
    sizes.push_back({1126, 90, 90});
    for (int id = 1200; id <= 1215; ++id)
        sizes.push_back({id, 48, 48});
    for (int id = 1300; id <= 1307; ++id)
        sizes.push_back({id, 130, 32});
    return sizes;
}

TEST(VLResources, EveryPictureHasTheSizeItsSpriteRectanglesAssume) {
    for (const Size& s : ExpectedSizes()) {
        SCOPED_TRACE("resource " + std::to_string(s.id));
        Picture p(s.id);
        ASSERT_TRUE(p.Loaded());
        EXPECT_EQ(p.Width(), s.width);
        EXPECT_EQ(p.Height(), s.height);
    }
}

// Every picture is drawn a second time at twice its size for screens of two
// pixels per unit: the same picture, sharper. Shrunk back by averaging each
// 2 x 2 block it is close to the plain one everywhere.
TEST(VLResources, EveryPictureHasATwiceSizeDrawingOfTheSamePicture) {
    for (const Size& s : ExpectedSizes()) {
        SCOPED_TRACE("resource " + std::to_string(s.id));
        Picture plain(s.id), twice(s.id, "@2x");
        ASSERT_TRUE(twice.Loaded());
        ASSERT_EQ(twice.Width(), 2 * s.width);
        ASSERT_EQ(twice.Height(), 2 * s.height);
        double total = 0;
        int worst = 0;
        for (int y = 0; y < s.height; ++y) {
            for (int x = 0; x < s.width; ++x) {
                const uint32_t a = plain.At(x, y);
                for (int shift = 0; shift < 32; shift += 8) {
                    int sum = 0;
                    for (int j = 0; j < 2; ++j)
                        for (int i = 0; i < 2; ++i)
                            sum += (twice.At(2 * x + i, 2 * y + j) >> shift) & 0xFF;
                    const int d = std::abs(sum / 4 - static_cast<int>((a >> shift) & 0xFF));
                    total += d;
                    worst = std::max(worst, d);
                }
            }
        }
        // Edges fall between pixels differently at the two sizes, which
        // counts most in small pictures of thin lines; the pictures agree.
        EXPECT_LT(total / (4.0 * s.width * s.height), std::min(s.width, s.height) < 32 ? 12.0 : 4.0);
        EXPECT_LT(worst, 200);
    }
}

TEST(VLResources, SpriteCellsAreDistinctVisiblePictures) {
    struct Sprite {
        int id, columns, rows, cellWidth, cellHeight;
    };
    const Sprite sprites[] = {
        {202, 5, 1, 15, 15},   {1050, 5, 1, 15, 15}, {1043, 2, 3, 32, 32}, {1044, 2, 1, 20, 20},
        {1046, 3, 1, 24, 13},  {1047, 2, 1, 21, 17}, {1036, 1, 3, 98, 32}, {2002, 1, 4, 58, 24},
        {1027, 4, 1, 96, 104}, {1028, 6, 1, 64, 64}, {1030, 2, 1, 24, 24}, {1031, 2, 1, 24, 24},
        {1032, 2, 1, 24, 24},  {1033, 2, 1, 20, 20}, {1034, 2, 1, 20, 20}, {1039, 2, 1, 16, 16},
        {2001, 4, 1, 36, 36},  {2101, 2, 1, 25, 25}, {1035, 2, 1, 42, 42}, {1038, 1, 2, 18, 12},
    };
    for (const Sprite& s : sprites) {
        Picture p(s.id);
        ASSERT_TRUE(p.Loaded()) << s.id;
        ASSERT_EQ(p.Width(), s.columns * s.cellWidth) << s.id;
        ASSERT_EQ(p.Height(), s.rows * s.cellHeight) << s.id;
        std::vector<std::pair<int, int>> cells;
        for (int r = 0; r < s.rows; ++r)
            for (int c = 0; c < s.columns; ++c)
                cells.push_back({c * s.cellWidth, r * s.cellHeight});
        for (size_t i = 0; i < cells.size(); ++i) {
            EXPECT_TRUE(p.HasInk(cells[i].first, cells[i].second, s.cellWidth, s.cellHeight))
                << "resource " << s.id << " cell " << i << " is empty";
            for (size_t j = i + 1; j < cells.size(); ++j)
                EXPECT_FALSE(p.SameArea(cells[i].first, cells[i].second, cells[j].first, cells[j].second,
                                        s.cellWidth, s.cellHeight))
                    << "resource " << s.id << " cells " << i << " and " << j << " look the same";
        }
    }
}

TEST(VLResources, AnimationFramesMoveOnFromOneToTheNext) {
    struct Animation {
        const char* name;
        int first, last;
        bool fadesOut;  // a one-shot animation may end on an empty frame
    };
    const Animation animations[] = {{"loading spinner", 1200, 1215, false},
                                    {"countdown blink", 1300, 1307, false},
                                    {"rhythm hit", 1101, 1108, true},
                                    {"rhythm hold", 1109, 1118, false},
                                    {"rhythm miss", 1119, 1123, true}};
    for (const Animation& a : animations) {
        SCOPED_TRACE(a.name);
        for (int id = a.first; id <= a.last; ++id) {
            Picture frame(id);
            ASSERT_TRUE(frame.Loaded()) << id;
            if (id < a.last || !a.fadesOut) {
                EXPECT_TRUE(frame.HasInk(0, 0, frame.Width(), frame.Height())) << id;
            }
            if (id > a.first) {
                EXPECT_FALSE(frame.SameAs(Picture(id - 1))) << id << " repeats the frame before it";
            }
        }
    }
    // The hold animation is drawn over its steady glow.
    Picture glow(1126);
    EXPECT_TRUE(glow.HasInk(0, 0, glow.Width(), glow.Height()));
}

TEST(VLResources, PartsANineGridStretchesArePlain) {
    // The rhythm track background, corner 10,0,10,0.
    Picture track(1041);
    EXPECT_TRUE(track.PlainAcross(10, 30, 0, 155));
    // The track frame, corner 0,0,200,0: everything left of the hit zone stretches.
    Picture frame(1100);
    EXPECT_TRUE(frame.PlainAcross(0, 60, 0, 155));
    // The long note stretches sideways between its rounded ends.
    Picture bar(1125);
    EXPECT_TRUE(bar.PlainAcross(18, 33, 0, 37));
    // Item frame and panel, corner 5 on every side.
    for (int id : {1051, 1053}) {
        Picture p(id);
        EXPECT_TRUE(p.PlainAcross(5, 35, 0, 40)) << id;
        EXPECT_TRUE(p.PlainDown(5, 35, 0, 40)) << id;
    }
    // Button faces, corner 5, each state on its own.
    Picture buttons(2002);
    for (int state = 0; state < 4; ++state)
        EXPECT_TRUE(buttons.PlainAcross(5, 53, state * 24, state * 24 + 24)) << "state " << state;
    // The clip player's strip (corner 15,0,15,0) and bars (corner 5,0,5,0).
    EXPECT_TRUE(Picture(1037).PlainAcross(15, 45, 0, 27));
    EXPECT_TRUE(Picture(1038).PlainAcross(5, 13, 0, 24));
}

TEST(VLResources, BackgroundsAndThePhotoCoverTheirWholeArea) {
    for (int id : {1001, 1008, 1019, 1100}) {
        Picture p(id);
        ASSERT_TRUE(p.Loaded()) << id;
        int seeThrough = 0;
        for (int y = 0; y < p.Height(); ++y)
            for (int x = 0; x < p.Width(); ++x)
                seeThrough += Picture::Alpha(p.At(x, y)) != 255;
        EXPECT_EQ(seeThrough, 0) << id;
    }
}

struct PromptRow {
    int line;
    std::string file, voice, text, pinyin;
};

std::vector<PromptRow> ReadPromptTable() {
    std::ifstream in(VL_PROMPTS_TABLE);
    std::vector<PromptRow> rows;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> columns;
        std::stringstream split(line);
        for (std::string c; std::getline(split, c, '\t');)
            columns.push_back(c);
        columns.resize(4);
        rows.push_back({n, columns[0], columns[1], columns[2], columns[3]});
    }
    return rows;
}

// Code points of the CJK Unified Ideographs block: the spoken characters,
// without the full-width punctuation.
int CountHanCharacters(const std::string& utf8) {
    int count = 0;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0xE0 && c < 0xF0 && i + 2 < utf8.size()) {
            uint32_t cp = ((c & 0x0Fu) << 12) | ((utf8[i + 1] & 0x3Fu) << 6) | (utf8[i + 2] & 0x3Fu);
            count += cp >= 0x4E00 && cp <= 0x9FFF;
            i += 3;
        } else {
            i += c < 0x80 ? 1 : c < 0xE0 ? 2 : 4;
        }
    }
    return count;
}

std::vector<std::string> PromptsTheExamPlays() {
    std::vector<std::string> names = {
        "设备检查提示.mp3", "开始测试.mp3",       "设备测试.mp3",       "开始考试.mp3",
        "题目阅读.mp3",     "第一遍.mp3",         "第二遍.mp3",         "开始答题.mp3",
        "下一题.mp3",       "上一题.mp3",         "题目阅读_Inner.mp3", "第一遍_Inner.mp3",
        "第二遍_Inner.mp3", "开始答题_Inner.mp3", "下一题_Inner.mp3",   "上一题_Inner.mp3"};
    for (bool newSet : {true, false})
        for (int code = 0; code <= 16; ++code) {
            std::string name = VLQuestionTexts::GetPromptFile(code, newSet);
            if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);
        }
    return names;
}

TEST(VLResources, PromptTableSpeaksEveryCharacterAndCoversEveryPrompt) {
    const std::vector<PromptRow> rows = ReadPromptTable();
    ASSERT_FALSE(rows.empty());
    // One pinyin syllable (letters and a tone number) per spoken character,
    // so no word of the text is left out of what is said.
    const std::regex word("([a-z]+[1-5])+");
    std::set<std::string> files;
    for (const PromptRow& row : rows) {
        SCOPED_TRACE("prompts.tsv line " + std::to_string(row.line) + ": " + row.file);
        EXPECT_TRUE(files.insert(row.file).second) << "listed twice";
        EXPECT_EQ(row.voice.rfind("cmn-latn-pinyin", 0), 0u) << row.voice;
        int syllables = static_cast<int>(
            std::count_if(row.pinyin.begin(), row.pinyin.end(), [](char c) { return c >= '1' && c <= '5'; }));
        EXPECT_EQ(syllables, CountHanCharacters(row.text));
        std::stringstream tokens(row.pinyin);
        for (std::string token; tokens >> token;) {
            while (!token.empty() && (token.back() == ',' || token.back() == '.'))
                token.pop_back();
            EXPECT_TRUE(std::regex_match(token, word)) << token;
        }
    }
    for (const std::string& name : PromptsTheExamPlays())
        EXPECT_TRUE(files.count(name)) << name << " is not in the table";
}

TEST(VLResources, EveryPromptTheExamPlaysIsSpeechOfAFewSeconds) {
    for (const std::string& name : PromptsTheExamPlays()) {
        SCOPED_TRACE(name);
        auto audio = VLAudioDecoder::Decode(VL_AUDIO_DIR + name, 22050);
        ASSERT_TRUE(audio.has_value());
        EXPECT_EQ(audio->channels, 1);
        EXPECT_GE(audio->Seconds(), 0.5);
        EXPECT_LE(audio->Seconds(), 8.0);
        int peak = 0;
        double energy = 0;
        for (int16_t s : audio->samples) {
            peak = std::max(peak, std::abs(static_cast<int>(s)));
            energy += static_cast<double>(s) * s;
        }
        double rms = std::sqrt(energy / static_cast<double>(std::max<size_t>(1, audio->samples.size())));
        // Levelled speech: loud peaks and a steady body of sound, not silence or a click.
        EXPECT_GT(peak, 20000);
        EXPECT_GT(rms, 1000);
    }
}

}  // namespace
}  // namespace KwLib
