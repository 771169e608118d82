#include "exam/VLQuestionTexts.h"

#include <array>

namespace KwLib {

namespace {

constexpr std::array<const char*, 17> kNewNames = {
    "", "单项选择题", "多项选择题", "演唱题", "",       "",       "",       "",      "节奏题",
    "", "判断题",     "连线题",     "",       "排序题", "拼图题", "点线题", "填色题"};
constexpr std::array<const char*, 12> kOldNames = {
    "",         "单项选择题", "多项选择题",   "演唱题",     "音高模唱题", "合作演唱题",
    "二重唱题", "伴奏演唱题", "节奏型伴奏题", "节奏模仿题", "判断题",     "连线题"};

constexpr std::array<const char*, 17> kNewPrompts = {"",
                                                     "01.单项选择题.mp3",
                                                     "09.多项选择题.mp3",
                                                     "02.演唱题.mp3",
                                                     "",
                                                     "",
                                                     "",
                                                     "",
                                                     "07.节奏题.mp3",
                                                     "",
                                                     "10.判断题.mp3",
                                                     "11.连线题.mp3",
                                                     "",
                                                     "12.排序题.mp3",
                                                     "13.拼图题.mp3",
                                                     "14.点线题.mp3",
                                                     "15.填色题.mp3"};
constexpr std::array<const char*, 12> kOldPrompts = {"",
                                                     "01.单项选择题.mp3",
                                                     "09.多项选择题.mp3",
                                                     "02.片段视唱题.mp3",
                                                     "03.音高模唱题.mp3",
                                                     "04.合作演唱题.mp3",
                                                     "05.二重唱题.mp3",
                                                     "06.伴奏演唱题.mp3",
                                                     "07.节奏型伴奏题.mp3",
                                                     "08.节奏模仿题.mp3",
                                                     "10.判断题.mp3",
                                                     "11.连线题.mp3"};

constexpr const char* kChoiceInstruction =
    "根据题目给出的选项，听到“开始答题”提示后，选择出符合题目要求的选项。";
constexpr const char* kMultiChoiceInstruction =
    "多项选择题，根据题目给出的选项，听到“开始答题”提示后，选择出符合题目要求的选项。";
constexpr const char* kJudgeInstruction = "判断题，请仔细阅读题目内容，判断是否正确。";
constexpr const char* kConnectionInstruction = "请仔细阅读题目内容，通过鼠标点击滑动将有关联的内容连接起来。";

constexpr std::array<const char*, 17> kNewInstructions = {
    "",
    kChoiceInstruction,
    kMultiChoiceInstruction,
    "请先聆听音乐，在听到开始答题提示后，根据题目要求演唱出歌曲。",
    "",
    "",
    "",
    "",
    "请先聆听音乐，在听到开始答题提示后，用键盘空格键敲击出节奏。",
    "",
    kJudgeInstruction,
    kConnectionInstruction,
    "",
    "请仔细阅读题目内容，听到开始答题提示后，排列出正确的图片顺序。",
    "请仔细阅读题目内容，听到开始答题提示后，拼出完整的图案。",
    "请仔细阅读题目内容，听到开始答题提示后，绘制出正确的答案。",
    "请仔细阅读题目内容，听到开始答题提示后，选填出正确的颜色。"};
constexpr std::array<const char*, 12> kOldInstructions = {
    "",
    kChoiceInstruction,
    kMultiChoiceInstruction,
    "根据乐谱，在听到“开始答题”提示后，根据题目要求视唱出歌曲。",
    "请先聆听录音，在听到“开始答题”提示后，根据题目要求模唱出来。",
    "请先聆听录音，在听到“开始答题”提示后，跟着音乐一起演唱出歌曲。",
    "请先聆听录音，在听到“开始答题”提示后，跟着音乐一起完成歌曲演唱。",
    "请先聆听录音，在听到“开始答题”提示后，跟着音乐伴奏演唱歌曲内容。",
    "请先聆听节奏音乐，在听到“开始答题”提示后，跟着音乐敲击键盘空格键敲击出歌曲节奏。",
    "请先聆听音乐，在听到“开始答题”提示后，用键盘空格键敲击出歌曲节奏。",
    kJudgeInstruction,
    kConnectionInstruction};

template <size_t NewSize, size_t OldSize>
std::string Pick(const std::array<const char*, NewSize>& newSet,
                 const std::array<const char*, OldSize>& oldSet, int code, bool useNew) {
    if (code < 0)
        return std::string();
    size_t i = static_cast<size_t>(code);
    if (useNew)
        return i < newSet.size() ? newSet[i] : std::string();
    return i < oldSet.size() ? oldSet[i] : std::string();
}

}  // namespace

std::string VLQuestionTexts::GetTypeName(int code, bool newSet) {
    return Pick(kNewNames, kOldNames, code, newSet);
}

std::string VLQuestionTexts::GetPromptFile(int code, bool newSet) {
    return Pick(kNewPrompts, kOldPrompts, code, newSet);
}

std::string VLQuestionTexts::GetInstruction(int code, bool newSet) {
    return Pick(kNewInstructions, kOldInstructions, code, newSet);
}

}  // namespace KwLib
