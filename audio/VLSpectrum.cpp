#include "audio/VLSpectrum.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace KwLib {

VLFft2048::VLFft2048()
    : m_config(kiss_fftr_alloc(kSize, 0, nullptr, nullptr)),
      m_window(kSize),
      m_input(kSize),
      m_output(kBins + 1) {
    for (int i = 0; i < kSize; ++i)
        m_window[i] = 0.5f * (1.0f - std::cos(2.0f * std::numbers::pi_v<float> * i / (kSize - 1)));
}

VLFft2048::~VLFft2048() {
    kiss_fftr_free(m_config);
}

void VLFft2048::Magnitudes(const float* samples, float* magnitudes) {
    for (int i = 0; i < kSize; ++i)
        m_input[i] = samples[i] * m_window[i];
    static_assert(sizeof(kiss_fft_cpx) == sizeof(std::complex<float>));
    kiss_fftr(m_config, m_input.data(), reinterpret_cast<kiss_fft_cpx*>(m_output.data()));
    constexpr float kScale = 2.0f / kSize;
    for (int k = 0; k < kBins; ++k)
        magnitudes[k] = std::abs(m_output[k]) * kScale;
}

VLSpectrumBitmap::VLSpectrumBitmap(int width, int height)
    : m_width(std::max(width, 0)),
      m_height(std::max(height, 0)),
      m_pixels(static_cast<size_t>(m_width) * m_height, 0) {}

void VLSpectrumBitmap::Clear() {
    std::fill(m_pixels.begin(), m_pixels.end(), 0);
}

void VLSpectrumBitmap::DrawBars(const float* fft) {
    Clear();
    const int bandWidth = m_width / kBands;
    const int barWidth = bandWidth - 2;
    int b0 = 0;
    for (int x = 0; x < kBands; ++x) {
        int b1 = static_cast<int>(std::pow(2.0, x * 10.0 / (kBands - 1)));
        if (b1 <= b0)
            b1 = b0 + 1;  // the lowest bands would otherwise be empty
        if (b1 > VLFft2048::kBins - 1)
            b1 = VLFft2048::kBins - 1;
        float peak = 0.0f;
        for (; b0 < b1; ++b0)
            peak = std::max(peak, fft[1 + b0]);
        // The square root lifts quiet bands so that they stay visible.
        int y = static_cast<int>(std::sqrt(peak) * 3 * m_height - 4);
        y = std::clamp(y, 0, m_height);
        if (barWidth <= 0)
            continue;
        for (int r = y - 1; r >= 0; --r)
            std::memset(m_pixels.data() + static_cast<size_t>(r) * m_width + x * bandWidth, r + 1, barWidth);
    }
}

const std::array<uint32_t, 256>& VLSpectrumBitmap::Palette() {
    static const std::array<uint32_t, 256> palette = [] {
        std::array<uint32_t, 256> p{};
        auto rgb = [](int r, int g, int b) {
            return (static_cast<uint32_t>(r & 0xff) << 16) | (static_cast<uint32_t>(g & 0xff) << 8) |
                   static_cast<uint32_t>(b & 0xff);
        };
        for (int i = 1; i < 128; ++i)
            p[i] = rgb(2 * i, 256 - 2 * i, 0);
        for (int a = 0; a < 32; ++a) {
            p[128 + a] = rgb(0, 0, 8 * a);
            p[160 + a] = rgb(8 * a, 0, 255);
            p[192 + a] = rgb(255, 8 * a, 248 - 8 * a);
            p[224 + a] = rgb(255, 255, 8 * a);
        }
        return p;
    }();
    return palette;
}

void VLSpectrumBitmap::ToArgb(uint32_t* out, int strideInPixels) const {
    const auto& palette = Palette();
    for (int t = 0; t < m_height; ++t) {
        const uint8_t* src = m_pixels.data() + static_cast<size_t>(m_height - 1 - t) * m_width;
        uint32_t* dst = out + static_cast<size_t>(t) * strideInPixels;
        for (int x = 0; x < m_width; ++x)
            dst[x] = 0xff000000u | palette[src[x]];
    }
}

}  // namespace KwLib
