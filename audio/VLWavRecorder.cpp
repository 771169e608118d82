#include "audio/VLWavRecorder.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "audio/VLWavFormat.h"
#include "platform/common/KWFile.h"
#include "platform/common/KWLog.h"

namespace KwLib {

bool VLWavRecorder::Begin() {
    Discard();
    auto* block = static_cast<uint8_t*>(std::malloc(kGrowStep));
    if (!block)
        return false;
    m_buffer.reset(block);
    m_capacity = kGrowStep;
    VLWavFormat{}.Write(block);
    m_length = VLWavFormat::kHeaderSize;
    return true;
}

bool VLWavRecorder::Append(const void* data, uint32_t length) {
    if (!m_buffer)
        return false;
    if (length == 0)
        return true;
    // A WAV file cannot describe more than 4 GiB; stop rather than wrap the lengths.
    if (static_cast<uint64_t>(m_length) + length > std::min<uint64_t>(m_maxLength, UINT32_MAX - kGrowStep))
        return false;
    if ((m_length % kGrowStep) + length >= kGrowStep || m_length + length > m_capacity) {
        const uint64_t wanted = (static_cast<uint64_t>(m_length + length) / kGrowStep + 1) * kGrowStep;
        auto* grown = static_cast<uint8_t*>(std::realloc(m_buffer.get(), wanted));
        if (!grown)
            return false;
        (void)m_buffer.release();
        m_buffer.reset(grown);
        m_capacity = static_cast<uint32_t>(wanted);
    }
    std::memcpy(m_buffer.get() + m_length, data, length);
    m_length += length;
    return true;
}

bool VLWavRecorder::Finish(const std::string& path) {
    bool ok = true;
    if (m_buffer && m_length != 0) {
        const VLWavFormat header = VLWavFormat::ForRecording(m_length - VLWavFormat::kHeaderSize);
        header.Write(m_buffer.get());
        if (!path.empty()) {
            // Through a temporary file and a rename: a crash while writing must
            // not leave a truncated answer under the recording's name.
            ok = KWFile::WriteAtomic(path,
                                     std::string(reinterpret_cast<const char*>(m_buffer.get()), m_length));
            if (!ok)
                VL_LOG_ERROR("cannot write the recording %s", path.c_str());
        }
    }
    Discard();
    return ok;
}

void VLWavRecorder::Discard() {
    m_buffer.reset();
    m_length = 0;
    m_capacity = 0;
}

}  // namespace KwLib
