#include "exam/VLExamManager.h"

#include <ctime>
#include <map>

#include "exam/VLShuffle.h"
#include "platform/common/KWLog.h"

namespace KwLib {

namespace {

int64_t SystemSeconds() {
    return static_cast<int64_t>(std::time(nullptr));
}

// Which of the two regrouping lists a record joins: 0 the first (section-1
// choices and every singing and rhythm item), 1 the second (art and instrument
// choices and the picture types), -1 none.
int RegroupList(const VLQuestionBase& q) {
    switch (q.m_type) {
        case kQuestionSingleChoice:
        case kQuestionMultiChoice:
        case kQuestionJudge:
        case kQuestionConnection:
            return q.m_section == 1 ? 0 : 1;
        case kQuestionSing:
        case kQuestionPitchImitation:
        case kQuestionCooperativeSing:
        case kQuestionDuet:
        case kQuestionAccompaniedSing:
        case kQuestionRhythm:
        case kQuestionRhythmImitation:
            return 0;
        case kQuestionSort:
        case kQuestionJigsaw:
        case kQuestionDotLine:
        case kQuestionColouring:
            return 1;
        default:
            return -1;
    }
}

using Bucket = std::vector<std::unique_ptr<VLQuestionBase>>;

// Buckets in order of each type's first appearance.
struct BucketList {
    std::vector<int> order;
    std::map<int, Bucket> byType;

    void Add(std::unique_ptr<VLQuestionBase> q) {
        auto [it, inserted] = byType.try_emplace(q->m_type);
        if (inserted)
            order.push_back(q->m_type);
        it->second.push_back(std::move(q));
    }
};

}  // namespace

VLExamManager::VLExamManager() : m_clock(SystemSeconds) {}

VLExamManager::~VLExamManager() = default;

VLExamManager& VLExamManager::GetInstance() {
    static VLExamManager instance;
    return instance;
}

void VLExamManager::SetClock(Clock clock) {
    m_clock = clock ? std::move(clock) : Clock(SystemSeconds);
}

void VLExamManager::AddQuestion(std::unique_ptr<VLQuestionBase> question) {
    if (!question)
        return;
    KWMutexGuard guard(m_mutex);
    const uint32_t seed = static_cast<uint32_t>(m_clock() * static_cast<int64_t>(m_questions.size() + 1));
    if (auto* choice = dynamic_cast<VLChoiceQuestion*>(question.get())) {
        VLRandom random(seed);
        VLShuffle(choice->m_options, random);
    } else if (auto* connection = dynamic_cast<VLConnectionQuestion*>(question.get())) {
        // The same seed for every column: columns of equal length get the same
        // permutation, so matching rows stay matched in the shuffled display.
        for (auto& column : connection->m_columns) {
            if (!column)
                continue;
            VLRandom random(seed);
            VLShuffle(column->m_options, random);
        }
    }
    m_questions.push_back(std::move(question));
}

void VLExamManager::RegroupQuestions() {
    KWMutexGuard guard(m_mutex);
    BucketList lists[2];
    for (auto& q : m_questions) {
        int list = RegroupList(*q);
        // Instrument records of old papers are not part of the exam; they are
        // kept aside like cleared ones in case anything still points at them.
        if (list >= 0)
            lists[list].Add(std::move(q));
        else
            m_retired.push_back(std::move(q));
    }
    m_questions.clear();

    const int64_t now = m_clock();
    for (BucketList& list : lists) {
        int k = 1;
        for (int type : list.order) {
            Bucket& bucket = list.byType[type];
            VLRandom random(static_cast<uint32_t>(now * k));
            VLShuffle(bucket, random);
            int indexInBucket = 0;
            for (auto& q : bucket) {
                q->m_indexInGroup = indexInBucket++;
                q->m_sequence = static_cast<int>(m_questions.size());
                m_questions.push_back(std::move(q));
            }
            ++k;
        }
    }
}

int VLExamManager::GetFirstArtIndex() {
    KWMutexGuard guard(m_mutex);
    for (const auto& q : m_questions) {
        if (q->m_section == 2)
            return q->m_sequence;
    }
    return -1;
}

VLQuestionBase* VLExamManager::GetQuestion(int index) const {
    if (index < 0 || index >= static_cast<int>(m_questions.size()))
        return nullptr;
    return m_questions[static_cast<size_t>(index)].get();
}

void VLExamManager::Clear() {
    KWMutexGuard guard(m_mutex);
    for (auto& q : m_questions)
        m_retired.push_back(std::move(q));
    m_questions.clear();
}

void VLExamManager::SortByAddIndex() {
    KWMutexGuard guard(m_mutex);
    // An exchange sort: each later record with a smaller add index is swapped
    // into position i, so records with equal indexes keep the order it gives.
    for (size_t i = 0; i < m_questions.size(); ++i) {
        for (size_t j = i + 1; j < m_questions.size(); ++j) {
            if (m_questions[j]->m_addIndex < m_questions[i]->m_addIndex)
                std::swap(m_questions[i], m_questions[j]);
        }
    }
}

void VLExamManager::Release() {
    KWMutexGuard guard(m_mutex);
    m_questions.clear();
    m_retired.clear();
    VL_LOG_DEBUG("VLExamManager::Release()");
}

VLExamTiming VLExamManager::GetTiming() {
    KWMutexGuard guard(m_mutex);
    return m_timing;
}

void VLExamManager::SetTiming(const VLExamTiming& timing) {
    KWMutexGuard guard(m_mutex);
    m_timing = timing;
}

}  // namespace KwLib
