#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "exam/VLQuestion.h"
#include "platform/common/KWThread.h"

namespace KwLib {

// The paper's timing, copied in and out as one record.
struct VLExamTiming {
    int32_t timeType = 3;  // 3: the paper moves on by itself
    int64_t deadline = 0;  // seconds since 1970
};

// Holds the question records of the paper in exam order. The request worker
// fills the list while parsing; the UI thread reads it afterwards. The list is
// guarded by one mutex: AddQuestion, RegroupQuestions and GetFirstArtIndex take
// it themselves; callers that walk or empty the list (GetCount, GetQuestion,
// Clear) hold it through Lock() around their work. The mutex is recursive.
//
// A record's address stays valid until Release(), even after Clear() has taken
// it out of the list: the element on screen may still point at it.
class VLExamManager {
public:
    using Clock = std::function<int64_t()>;  // seconds since 1970

    VLExamManager();
    ~VLExamManager();
    VLExamManager(const VLExamManager&) = delete;
    VLExamManager& operator=(const VLExamManager&) = delete;

    static VLExamManager& GetInstance();

    // Tests pin the shuffles' seeds by replacing the clock.
    void SetClock(Clock clock);

    // Shuffles a choice record's options (a connection record's columns, each
    // with the same seed) and appends the record.
    void AddQuestion(std::unique_ptr<VLQuestionBase> question);
    // Orders the paper by section and type, drops instrument records of old papers,
    // shuffles within each type and renumbers.
    void RegroupQuestions();
    // m_sequence of the first art record, or -1.
    int GetFirstArtIndex();

    // Destroys every record, including those already taken out by Clear().
    void Release();

    KWMutex& GetMutex() { return m_mutex; }
    [[nodiscard]] std::unique_lock<KWMutex> Lock() { return std::unique_lock<KWMutex>(m_mutex); }
    // The following three expect the caller to hold the mutex.
    int GetCount() const { return static_cast<int>(m_questions.size()); }
    VLQuestionBase* GetQuestion(int index) const;
    void Clear();
    // Puts the records in the order they were added to the paper (the order
    // the result text lists them in).
    void SortByAddIndex();

    VLExamTiming GetTiming();
    void SetTiming(const VLExamTiming& timing);

private:
    std::vector<std::unique_ptr<VLQuestionBase>> m_questions;
    KWMutex m_mutex;
    VLExamTiming m_timing;
    Clock m_clock;
    // Records emptied out of the list, kept alive until Release().
    std::vector<std::unique_ptr<VLQuestionBase>> m_retired;
};

}  // namespace KwLib
