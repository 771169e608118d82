#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace KwLib {

// Internal question type codes. The paper document's raw type is mapped onto
// these by section (see VLQuestionParser); the code picks the record class, the
// element and the type's texts.
enum VLQuestionType : int {
    kQuestionSingleChoice = 1,
    kQuestionMultiChoice = 2,
    kQuestionSing = 3,
    kQuestionPitchImitation = 4,
    kQuestionCooperativeSing = 5,
    kQuestionDuet = 6,
    kQuestionAccompaniedSing = 7,
    kQuestionRhythm = 8,
    kQuestionRhythmImitation = 9,
    kQuestionJudge = 10,
    kQuestionConnection = 11,
    kQuestionInstrument = 12,
    kQuestionSort = 13,
    kQuestionJigsaw = 14,
    kQuestionDotLine = 15,
    kQuestionColouring = 16,
};

constexpr int kQuestionTypeMin = 1;
constexpr int kQuestionTypeMax = 16;

// One option of a choice, sort or connection item.
struct VLQuestionOption {
    enum Kind : int { kText = 0, kPicture = 1, kAudio = 2 };
    int kind = kText;
    int index = 0;      // position in the document's options array; survives shuffling
    int position = 0;   // display position, written by the choice element
    std::string value;  // the text, or the local path of the picture or audio file
};

// One correct line of a dot-line item.
struct VLQuestionLine {
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
    int move = 1;
};

// One option of a colouring item.
struct VLColouringOption {
    std::string text;
    std::string picture;              // local path
    std::vector<std::string> colors;  // each colour's rgb text, unchanged
};

// A parsed question. Records are filled on the request worker while parsing and
// read and updated on the UI thread afterwards; they carry no lock of their own.
class VLQuestionBase {
public:
    virtual ~VLQuestionBase() = default;

    int m_type = 0;
    std::string m_id;
    int m_addIndex = 0;
    int m_sequence = 0;
    int m_groupIndex = 0;
    int m_indexInGroup = 0;
    std::string m_content;  // pictures replaced by the marker "/:img"
    std::vector<std::string> m_contentImages;
    std::string m_answer;
    std::string m_rhythmFile;
    std::string m_scoreText;
    std::string m_instruction;
    std::string m_staffPic;
    std::string m_numberedPic;
    std::string m_backgroundFile;
    std::string m_midFile;
    std::string m_accompanimentFile;
    int64_t m_audioDuration = 0;
    int m_phase = 1;
    std::array<int, 3> m_durations{5000, 5000, 5000};
    bool m_answered = false;
    int m_section = 1;
    int m_isNew = 0;
    int m_instrument = 0;
};

// Choice, multiple choice, judgement and sort items; also one column of a connection item.
class VLChoiceQuestion : public VLQuestionBase {
public:
    std::vector<std::unique_ptr<VLQuestionOption>> m_options;
};

class VLConnectionQuestion : public VLQuestionBase {
public:
    VLConnectionQuestion() { m_durations[2] = 10000; }
    std::vector<std::unique_ptr<VLChoiceQuestion>> m_columns;
};

class VLSingQuestion : public VLQuestionBase {
public:
    int m_startMs = 0;
    int m_endMs = 0;
    std::string m_recordFile;
};

class VLRhythmQuestion : public VLQuestionBase {
public:
    static constexpr int kDefaultBpm = 80;
    int m_bpm = kDefaultBpm;
};

class VLPinTuQuestion : public VLQuestionBase {
public:
    std::string m_picture;
    int m_fragmentCount = 0;
    int m_defaultNo = 0;
    int m_nIndexX = 0;
    int m_nIndexY = 0;
    int m_setType = 2;
};

class VLDianXianQuestion : public VLQuestionBase {
public:
    std::string m_picture;
    std::vector<VLQuestionLine> m_lines;
};

class VLTianSeQuestiont : public VLQuestionBase {
public:
    std::string m_picture;
    std::vector<VLColouringOption> m_options;
};

}  // namespace KwLib
