#include "tools/platform-sim/VLSimAssets.h"

#include <cairo.h>
#include <sndfile.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWStringUtils.h"

namespace KwLib {

namespace {

struct Picture {
    const char* name;
    int width;
    int height;
    const char* label;
};

// Sizes follow what the elements show: option pictures are small, the jigsaw,
// dot-line and colouring pictures fill the question area.
const Picture kPictures[] = {
    {"content_1.png", 480, 200, "Listen and choose"},
    {"content_2.png", 360, 180, "Look at the picture"},
    {"opt_a.png", 160, 120, "A"},
    {"opt_b.png", 160, 120, "B"},
    {"opt_c.png", 160, 120, "C"},
    {"opt_d.png", 160, 120, "D"},
    {"staff_1.png", 640, 160, "Staff notation"},
    {"jianpu_1.png", 640, 160, "1 2 3 5 | 6 5 3 -"},
    {"sort_1.png", 150, 150, "1"},
    {"sort_2.png", 150, 150, "2"},
    {"sort_3.png", 150, 150, "3"},
    {"sort_4.png", 150, 150, "4"},
    {"conn_1.png", 140, 100, "Violin"},
    {"conn_2.png", 140, 100, "Drum"},
    {"conn_3.png", 140, 100, "Flute"},
    {"jigsaw.png", 480, 360, "Jigsaw"},
    {"dotline.png", 480, 360, "Dots"},
    {"colour.png", 480, 360, "Colour me"},
    {"colour_opt_1.png", 120, 90, "Sky"},
    {"colour_opt_2.png", 120, 90, "Sun"},
    {"colour_opt_3.png", 120, 90, "Grass"},
    {"head_1001.png", 120, 160, "1001"},
    {"head_1002.png", 120, 160, "1002"},
    {"head_1003.png", 120, 160, "1003"},
};

struct Tune {
    const char* name;
    double seconds;
};

const Tune kTunes[] = {
    {"bg_1.mp3", 4.0},        {"bg_2.wav", 3.0},        {"melody_1.mp3", 4.0},
    {"banzou_1.mp3", 4.0},    {"opt_audio_1.wav", 1.5},
    {"opt_audio_2.wav", 1.5}, {"opt_audio_3.mp3", 1.5}, {"rhythm_bg.wav", 4.0},
};

// Several simulators may fill one shared folder at once: each writes its own
// temporary files and renames them into place.
std::string PartSuffix() {
    return ".part" + std::to_string(::getpid()) + "_" +
           std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id()) % 100000);
}

std::string FileUrl(const std::string& base, const char* name) {
    return base + "/files/" + name;
}

KWJsonValue Conf(int rawType, int count, int isNew) {
    KWJsonValue conf(Json::objectValue);
    conf["question_type"] = std::to_string(rawType);
    conf["number"] = std::to_string(count);
    conf["score"] = "5";
    conf["total"] = std::to_string(5 * count);
    conf["desc"] = "";
    conf["is_new"] = isNew;
    return conf;
}

KWJsonValue Group(int rawType, int isNew, std::vector<KWJsonValue> items) {
    KWJsonValue group(Json::objectValue);
    group["conf"] = Conf(rawType, static_cast<int>(items.size()), isNew);
    group["question"] = KWJsonValue(Json::arrayValue);
    for (auto& item : items)
        group["question"].append(std::move(item));
    return group;
}

KWJsonValue Item(const std::string& id, const std::string& content) {
    KWJsonValue item(Json::objectValue);
    item["id"] = id;
    item["content"] = content;
    item["answer"] = KWJsonValue(Json::objectValue);
    return item;
}

KWJsonValue TextOption(const char* text) {
    KWJsonValue o(Json::objectValue);
    o["text"] = text;
    return o;
}

KWJsonValue FileOption(const char* key, const std::string& url) {
    KWJsonValue o(Json::objectValue);
    o[key] = url;
    return o;
}

void SetScores(KWJsonValue& answer, const std::string& base) {
    answer["wx_music_pic"] = FileUrl(base, "staff_1.png");
    answer["jp_music_pic"] = FileUrl(base, "jianpu_1.png");
}

KWJsonValue SingItem(const std::string& id, const std::string& base, const char* content, const char* start,
                     const char* end, bool withAccompaniment) {
    KWJsonValue item = Item(id, content);
    KWJsonValue& a = item["answer"];
    SetScores(a, base);
    a["background_file"] = FileUrl(base, "bg_1.mp3");
    a["mid_file"] = FileUrl(base, "mel.mid");
    if (withAccompaniment)
        a["banzou_file"] = FileUrl(base, "banzou_1.mp3");
    a["rhythm_file"] = "";
    a["start"] = start;
    a["end"] = end;
    return item;
}

KWJsonValue RhythmItem(const std::string& id, const std::string& base, const char* content, const char* bpm) {
    KWJsonValue item = Item(id, content);
    KWJsonValue& a = item["answer"];
    SetScores(a, base);
    a["background_file"] = FileUrl(base, "rhythm_bg.wav");
    a["rhythm_file"] = "750\n1500\n2250-3000\n3750\n4500";
    if (bpm)
        a["bpm"] = bpm;
    return item;
}

KWJsonValue ChoiceItem(const std::string& id, const std::string& base, const std::string& content,
                       std::vector<KWJsonValue> options, bool withMusic) {
    KWJsonValue item = Item(id, content);
    KWJsonValue& a = item["answer"];
    if (withMusic)
        a["background_file"] = FileUrl(base, "bg_2.wav");
    a["options"] = KWJsonValue(Json::arrayValue);
    for (auto& o : options)
        a["options"].append(std::move(o));
    return item;
}

}  // namespace

namespace {

// Pictures whose content the question relies on: the dot-line picture has its
// dots where the correct lines run, the colouring picture has outlined regions,
// the staff picture has a staff with notes.
bool DrawSpecial(cairo_t* cr, const std::string& name, int width, int height) {
    if (name == "dotline.png") {
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        const double dots[][2] = {{100, 300}, {240, 60}, {380, 300}, {160, 180}, {320, 180}};
        int n = 1;
        for (const auto& d : dots) {
            cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
            cairo_arc(cr, d[0], d[1], 7, 0, 2 * M_PI);
            cairo_fill(cr);
            cairo_set_font_size(cr, 18);
            cairo_move_to(cr, d[0] + 10, d[1] - 10);
            cairo_show_text(cr, std::to_string(n++).c_str());
        }
        return true;
    }
    if (name == "colour.png") {
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        cairo_set_line_width(cr, 4);
        cairo_arc(cr, width * 0.75, height * 0.25, height * 0.14, 0, 2 * M_PI);  // sun
        cairo_stroke(cr);
        cairo_move_to(cr, 0, height * 0.65);  // horizon between sky and grass
        cairo_curve_to(cr, width * 0.3, height * 0.55, width * 0.6, height * 0.75, width, height * 0.62);
        cairo_stroke(cr);
        cairo_rectangle(cr, 2, 2, width - 4, height - 4);
        cairo_stroke(cr);
        return true;
    }
    if (name == "staff_1.png") {
        cairo_set_source_rgb(cr, 1, 1, 0.97);
        cairo_paint(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_set_line_width(cr, 1.5);
        const double top = height * 0.3, gap = height * 0.08;
        for (int i = 0; i < 5; ++i) {
            cairo_move_to(cr, 20, top + i * gap);
            cairo_line_to(cr, width - 20, top + i * gap);
        }
        cairo_stroke(cr);
        const int steps[] = {8, 7, 6, 4, 3, 4, 6, 6};
        for (int i = 0; i < 8; ++i) {
            double x = 80 + i * (width - 140) / 8.0, y = top + steps[i] * gap / 2;
            cairo_save(cr);
            cairo_translate(cr, x, y);
            cairo_scale(cr, 1.3, 1.0);
            cairo_arc(cr, 0, 0, gap / 2, 0, 2 * M_PI);
            cairo_restore(cr);
            cairo_fill(cr);
            cairo_move_to(cr, x + gap * 0.62, y);
            cairo_line_to(cr, x + gap * 0.62, y - 3 * gap);
            cairo_stroke(cr);
        }
        return true;
    }
    return false;
}

}  // namespace

bool VLSimAssets::WritePicture(const std::string& path, int width, int height, const std::string& label,
                               unsigned seed) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
    const std::string name = KWFilePathUtils::FileName(path.substr(0, path.find(".png") + 4));
    if (DrawSpecial(cr, name, width, height)) {
        cairo_destroy(cr);
        bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
        cairo_surface_destroy(surface);
        return ok;
    }
    double hue = (seed % 7) / 7.0;
    cairo_set_source_rgb(cr, 0.92 - 0.3 * hue, 0.95, 0.85 + 0.1 * hue);
    cairo_paint(cr);
    for (unsigned i = 0; i < 6; ++i) {
        unsigned k = seed * 31 + i * 17;
        cairo_set_source_rgba(cr, (k % 5) / 5.0, (k % 3) / 3.0, (k % 7) / 7.0, 0.6);
        double cx = (k * 37 % 100) / 100.0 * width;
        double cy = (k * 53 % 100) / 100.0 * height;
        double r = std::min(width, height) * (0.1 + (k % 4) * 0.05);
        if (i % 2)
            cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
        else
            cairo_rectangle(cr, cx - r, cy - r / 2, 2 * r, r);
        cairo_fill(cr);
    }
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    cairo_set_line_width(cr, 3);
    cairo_rectangle(cr, 1.5, 1.5, width - 3, height - 3);
    cairo_stroke(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, std::max(12, height / 6));
    cairo_text_extents_t ext;
    cairo_text_extents(cr, label.c_str(), &ext);
    cairo_move_to(cr, (width - ext.width) / 2 - ext.x_bearing, (height - ext.height) / 2 - ext.y_bearing);
    cairo_show_text(cr, label.c_str());
    cairo_destroy(cr);
    bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok;
}

bool VLSimAssets::WriteTune(const std::string& path, double seconds, unsigned seed) {
    const int rate = 22050;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    bool mp3 = KWStringUtils::CompareNoCase(KWFilePathUtils::Extension(path), ".mp3") == 0;
    info.format = mp3 ? (SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III) : (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    // A pentatonic melody of quarter notes with a soft attack and decay per note.
    static const double kScale[] = {261.63, 293.66, 329.63, 392.0, 440.0, 523.25};
    const int total = static_cast<int>(seconds * rate);
    const int noteLength = rate / 2;
    std::vector<short> samples(total);
    for (int i = 0; i < total; ++i) {
        int note = i / noteLength;
        double f = kScale[(seed + note * 3 + note * note) % 6];
        double t = static_cast<double>(i % noteLength) / rate;
        double env = std::min(1.0, t * 40) * std::exp(-3.0 * t);
        double v = std::sin(2 * M_PI * f * i / rate) + 0.3 * std::sin(4 * M_PI * f * i / rate);
        samples[i] = static_cast<short>(9000 * env * v);
    }
    bool ok = sf_write_short(file, samples.data(), total) == total;
    sf_close(file);
    return ok;
}

bool VLSimAssets::WriteMelody(const std::string& path, int quarters, unsigned seed) {
    constexpr int kDivision = 480;  // ticks per quarter note
    std::string track;
    auto varLen = [&track](uint32_t v) {
        char bytes[5];
        int n = 0;
        bytes[n++] = static_cast<char>(v & 0x7F);
        while ((v >>= 7) != 0)
            bytes[n++] = static_cast<char>(0x80 | (v & 0x7F));
        while (n > 0)
            track += bytes[--n];
    };
    // Tempo: 500000 microseconds a quarter note.
    varLen(0);
    track += std::string("\xFF\x51\x03\x07\xA1\x20", 6);
    static const unsigned char kScale[] = {60, 62, 64, 67, 69, 72};
    for (int i = 0; i < quarters; ++i) {
        const auto note = static_cast<char>(kScale[(seed + i * 3 + i * i) % 6]);
        varLen(0);
        track += '\x90';
        track += note;
        track += '\x50';
        varLen(kDivision);
        track += '\x80';
        track += note;
        track += '\x40';
    }
    varLen(0);
    track += std::string("\xFF\x2F\x00", 3);
    auto be32 = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    std::string file = "MThd" + be32(6) + std::string("\x00\x00\x00\x01", 4);
    file += static_cast<char>(kDivision >> 8);
    file += static_cast<char>(kDivision & 0xFF);
    file += "MTrk" + be32(static_cast<uint32_t>(track.size())) + track;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && ok;
}

bool VLSimAssets::WritePatternFile(const std::string& path, int64_t size, unsigned seed) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::vector<unsigned char> block(1 << 16);
    uint32_t x = seed * 2654435761u + 1;
    int64_t left = size;
    bool ok = true;
    while (left > 0 && ok) {
        for (auto& b : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<unsigned char>(x);
        }
        size_t n = static_cast<size_t>(std::min<int64_t>(left, block.size()));
        ok = std::fwrite(block.data(), 1, n, f) == n;
        left -= n;
    }
    return std::fclose(f) == 0 && ok;
}

bool VLSimAssets::GenerateSampleFiles(const std::string& filesDir) {
    if (!KWFilePathUtils::CreateDirectories(filesDir))
        return false;
    unsigned seed = 1;
    for (const auto& p : kPictures) {
        std::string path = filesDir + p.name;
        ++seed;
        if (KWFilePathUtils::IsExistsFile(path))
            continue;
        const std::string part = path + PartSuffix();
        if (!WritePicture(part, p.width, p.height, p.label, seed) || !KWFilePathUtils::Rename(part, path))
            return false;
    }
    for (const auto& t : kTunes) {
        std::string path = filesDir + t.name;
        ++seed;
        if (KWFilePathUtils::IsExistsFile(path))
            continue;
        // The temporary name keeps the extension so that the encoder is chosen by it.
        std::string part = filesDir + "part" + PartSuffix() + "_" + t.name;
        if (!WriteTune(part, t.seconds, seed) || !KWFilePathUtils::Rename(part, path))
            return false;
    }
    // The sung melody, 3 s like the recordings it times.
    const std::string melody = filesDir + "mel.mid";
    if (!KWFilePathUtils::IsExistsFile(melody)) {
        const std::string part = melody + PartSuffix();
        if (!WriteMelody(part, 6, ++seed) || !KWFilePathUtils::Rename(part, melody))
            return false;
    }
    return true;
}

KWJsonValue VLSimAssets::BuildSamplePaper(const std::string& base) {
    KWJsonValue data(Json::objectValue);
    const std::string img1 = "<img>" + FileUrl(base, "content_1.png") + "</img>";
    const std::string img2 = "<img>" + FileUrl(base, "content_2.png") + "</img>";

    // Section 1: music questions of a paper marked new, then an old-paper group
    // with every old singing and rhythm kind.
    KWJsonValue s1(Json::arrayValue);
    s1.append(Group(
        1, 1,
        {ChoiceItem("101", base, "听音乐，选出演奏这段音乐的乐器。" + img1,
                    {TextOption("小提琴"), TextOption("钢琴"), TextOption("二胡"), TextOption("琵琶")}, true),
         ChoiceItem("102", base, "下面哪一幅图画是小提琴？",
                    {FileOption("image", FileUrl(base, "opt_a.png")),
                     FileOption("image", FileUrl(base, "opt_b.png")),
                     FileOption("image", FileUrl(base, "opt_c.png")),
                     FileOption("image", FileUrl(base, "opt_d.png"))},
                    false)}));
    s1.append(Group(2, 1,
                    {ChoiceItem("103", base, "选出所有节拍是四四拍的片段。",
                                {FileOption("audio", FileUrl(base, "opt_audio_1.wav")),
                                 FileOption("audio", FileUrl(base, "opt_audio_2.wav")),
                                 FileOption("audio", FileUrl(base, "opt_audio_3.mp3"))},
                                false)}));
    s1.append(Group(3, 1, {SingItem("104", base, "演唱歌曲《小星星》的第一段。", "0", "12.500", true)}));
    s1.append(Group(8, 1, {RhythmItem("105", base, "跟着音乐敲击出节奏。", "90")}));
    s1.append(Group(10, 1,
                    {ChoiceItem("106", base, "《义勇军进行曲》是中华人民共和国国歌。",
                                {TextOption("正确"), TextOption("错误")}, false)}));
    {
        KWJsonValue conn = Item("107", "将乐器与它的声音连接起来。");
        KWJsonValue cols(Json::arrayValue);
        KWJsonValue left(Json::arrayValue), right(Json::arrayValue);
        left.append(FileOption("image", FileUrl(base, "conn_1.png")));
        left.append(FileOption("image", FileUrl(base, "conn_2.png")));
        left.append(FileOption("image", FileUrl(base, "conn_3.png")));
        right.append(FileOption("audio", FileUrl(base, "opt_audio_1.wav")));
        right.append(FileOption("audio", FileUrl(base, "opt_audio_2.wav")));
        right.append(FileOption("audio", FileUrl(base, "opt_audio_3.mp3")));
        cols.append(left);
        cols.append(right);
        conn["answer"]["options"] = cols;
        s1.append(Group(11, 1, {conn}));
    }
    // Old paper: singing kinds 3 to 7 and rhythm kinds 8 and 9 keep their codes.
    s1.append(Group(3, 0, {SingItem("111", base, "视唱下面的旋律。", "2.5", "30", false)}));
    s1.append(Group(4, 0, {SingItem("112", base, "听录音，模唱音高。", "0", "8", false)}));
    s1.append(Group(5, 0, {SingItem("113", base, "跟着音乐一起演唱。", "0", "10", true)}));
    s1.append(Group(6, 0, {SingItem("114", base, "与录音完成二重唱。", "1.250", "9", true)}));
    s1.append(Group(7, 0, {SingItem("115", base, "跟着伴奏演唱歌曲。", "0", "20", true)}));
    s1.append(Group(8, 0, {RhythmItem("116", base, "跟着节奏音乐敲击出节奏。", nullptr)}));
    s1.append(Group(9, 0, {RhythmItem("117", base, "模仿听到的节奏。", "0")}));
    data["1"] = s1;

    // Section 2: art questions (raw 3 judgement, 4 connection, 6 sort, 7 jigsaw,
    // 8 dot-line, 9 colouring) and art choice questions.
    KWJsonValue s2(Json::arrayValue);
    s2.append(Group(1, 1,
                    {ChoiceItem("201", base, "这幅画使用了哪种颜色最多？" + img2,
                                {TextOption("红色"), TextOption("蓝色"), TextOption("绿色")}, false)}));
    s2.append(
        Group(2, 1,
              {ChoiceItem("202", base, "下面哪些是暖色？",
                          {TextOption("红色"), TextOption("橙色"), TextOption("蓝色"), TextOption("黄色")},
                          false)}));
    s2.append(Group(3, 1,
                    {ChoiceItem("203", base, "水彩画需要用水调和颜料。",
                                {TextOption("正确"), TextOption("错误")}, false)}));
    {
        KWJsonValue conn = Item("204", "把名称和图画连起来。");
        KWJsonValue cols(Json::arrayValue), left(Json::arrayValue), right(Json::arrayValue);
        left.append(TextOption("太阳"));
        left.append(TextOption("天空"));
        left.append(TextOption("草地"));
        right.append(FileOption("image", FileUrl(base, "colour_opt_2.png")));
        right.append(FileOption("image", FileUrl(base, "colour_opt_1.png")));
        right.append(FileOption("image", FileUrl(base, "colour_opt_3.png")));
        cols.append(left);
        cols.append(right);
        conn["answer"]["options"] = cols;
        s2.append(Group(4, 1, {conn}));
    }
    s2.append(Group(6, 1,
                    {ChoiceItem("205", base, "按照从早到晚的顺序排列图片。",
                                {FileOption("image", FileUrl(base, "sort_1.png")),
                                 FileOption("image", FileUrl(base, "sort_2.png")),
                                 FileOption("image", FileUrl(base, "sort_3.png")),
                                 FileOption("image", FileUrl(base, "sort_4.png"))},
                                false)}));
    {
        KWJsonValue jig = Item("206", "拼出完整的图案。");
        KWJsonValue& a = jig["answer"];
        a["pt_art_pic"] = FileUrl(base, "jigsaw.png");
        a["pt_art_pic_frag"] = "9";
        a["pt_art_pic_frag_x"] = "3";
        a["pt_art_pic_frag_y"] = "3";
        a["set_type"] = "2";
        a["default_no"] = "5";
        s2.append(Group(7, 1, {jig}));
    }
    {
        KWJsonValue dot = Item("207", "用线把点连起来，画出一个三角形。");
        KWJsonValue& a = dot["answer"];
        a["art_pic"] = FileUrl(base, "dotline.png");
        KWJsonValue correct(Json::arrayValue);
        const char* lines[] = {"100-300,240-60", "240-60,380-300", "380-300,100-300"};
        for (const char* l : lines) {
            KWJsonValue c(Json::objectValue);
            c["points"] = l;
            c["move"] = 1;
            correct.append(c);
        }
        a["correct"] = correct;
        s2.append(Group(8, 1, {dot}));
    }
    {
        KWJsonValue col = Item("208", "给图画填上合适的颜色。");
        KWJsonValue& a = col["answer"];
        a["art_color_pic"] = FileUrl(base, "colour.png");
        KWJsonValue opts(Json::arrayValue);
        const char* names[] = {"天空", "太阳", "草地"};
        const char* pics[] = {"colour_opt_1.png", "colour_opt_2.png", "colour_opt_3.png"};
        const char* colours[3][2] = {{"#4A90E2", "#87CEEB"}, {"#F5A623", "#FF0000"}, {"#7ED321", "#228B22"}};
        for (int i = 0; i < 3; ++i) {
            KWJsonValue o(Json::objectValue);
            o["text"] = names[i];
            o["url"] = FileUrl(base, pics[i]);
            KWJsonValue cs(Json::arrayValue);
            for (const char* rgb : colours[i]) {
                KWJsonValue c(Json::objectValue);
                c["rgb"] = rgb;
                cs.append(c);
            }
            o["colors"] = cs;
            opts.append(o);
        }
        a["options"] = opts;
        s2.append(Group(9, 1, {col}));
    }
    data["2"] = s2;

    // Section 3: instrument items; the item's own question_type minus 1 is the
    // instrument (1 harmonica ... 5 melodica). One new group, one old group.
    KWJsonValue s3(Json::arrayValue);
    {
        std::vector<KWJsonValue> items;
        const char* names[] = {"口琴", "竖笛", "陶笛", "葫芦丝", "口风琴"};
        for (int i = 0; i < 5; ++i) {
            KWJsonValue it =
                SingItem(std::to_string(301 + i), base,
                         (std::string("用") + names[i] + "演奏《小星星》。").c_str(), "0", "15", true);
            it["question_type"] = std::to_string(i + 2);
            items.push_back(it);
        }
        s3.append(Group(3, 1, items));
    }
    {
        KWJsonValue it = SingItem("311", base, "用竖笛演奏《欢乐颂》。", "0", "15", true);
        it["question_type"] = "3";
        s3.append(Group(3, 0, {it}));
    }
    data["3"] = s3;
    return data;
}

KWJsonValue VLSimAssets::CollectItems(const KWJsonValue& paper) {
    KWJsonValue items(Json::objectValue);
    for (const char* section : {"1", "2", "3"}) {
        const KWJsonValue& groups = paper[section];
        if (!groups.isArray())
            continue;
        for (const auto& group : groups) {
            const KWJsonValue& questions = group["question"];
            if (!questions.isArray() || !group["conf"].isObject())
                continue;
            for (const auto& q : questions) {
                if (!q.isObject() || !q["id"].isString())
                    continue;
                KWJsonValue item = q;
                if (!item.isMember("question_type"))
                    item["question_type"] = group["conf"]["question_type"];
                item["stype"] = section;
                items[q["id"].asString()] = item;
            }
        }
    }
    return items;
}

}  // namespace KwLib
