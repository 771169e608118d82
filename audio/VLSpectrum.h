#pragma once
#include <array>
#include <complex>
#include <cstdint>
#include <vector>

struct kiss_fftr_state;

namespace KwLib {

// 2048-point FFT of mono samples through a Hann window, giving 1024 magnitudes.
// A full-scale sine peaks at about 0.5 (the window halves its amplitude), the
// scale the bar heights of VLSpectrumBitmap are made for. Everything it needs
// is allocated at construction, so Magnitudes allocates nothing.
class VLFft2048 {
public:
    static constexpr int kSize = 2048;
    static constexpr int kBins = 1024;

    VLFft2048();
    ~VLFft2048();
    VLFft2048(const VLFft2048&) = delete;
    VLFft2048& operator=(const VLFft2048&) = delete;

    // `samples` holds kSize values, `magnitudes` receives kBins.
    void Magnitudes(const float* samples, float* magnitudes);

private:
    kiss_fftr_state* m_config = nullptr;
    std::vector<float> m_window;
    std::vector<float> m_input;
    std::vector<std::complex<float>> m_output;
};

// The spectrum picture: an 8-bit palette image, rows stored bottom-up (row 0 is
// the bottom line), drawn as 28 logarithmic bars.
class VLSpectrumBitmap {
public:
    static constexpr int kBands = 28;

    VLSpectrumBitmap(int width, int height);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // Palette index at column x, `row` lines above the bottom.
    uint8_t At(int x, int row) const { return m_pixels[static_cast<size_t>(row) * m_width + x]; }
    const std::vector<uint8_t>& Pixels() const { return m_pixels; }

    // Everything black (palette entry 0): nothing is sounding.
    void Clear();
    // Clears, then draws one bar per band from kBins magnitudes.
    void DrawBars(const float* fft);

    // 0x00RRGGBB per palette entry: black, green shading to red, then the blue,
    // magenta, orange and yellow ramps of the upper half.
    static const std::array<uint32_t, 256>& Palette();
    // Converts to opaque 0xAARRGGBB pixels, top row first, for painting.
    void ToArgb(uint32_t* out, int strideInPixels) const;

private:
    int m_width;
    int m_height;
    std::vector<uint8_t> m_pixels;
};

}  // namespace KwLib
