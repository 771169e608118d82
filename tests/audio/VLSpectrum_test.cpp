#include "audio/VLSpectrum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace KwLib {
namespace {

constexpr int kW = 232;
constexpr int kH = 137;

int BarHeight(const VLSpectrumBitmap& bmp, int band) {
    const int column = band * (kW / VLSpectrumBitmap::kBands);
    int h = 0;
    while (h < kH && bmp.At(column, h) != 0)
        ++h;
    return h;
}

TEST(VLSpectrumBitmap, BandsTakeTheirBinsFromTheLogScale) {
    VLSpectrumBitmap bmp(kW, kH);
    std::vector<float> fft(VLFft2048::kBins, 0.0f);

    // Band 0 uses exactly fft[1]: fft[0] (DC) and fft[2] do not move it.
    fft[0] = 1.0f;
    fft[2] = 1.0f;
    bmp.DrawBars(fft.data());
    EXPECT_EQ(BarHeight(bmp, 0), 0);
    fft[0] = fft[2] = 0.0f;
    fft[1] = 0.04f;  // sqrt(0.04) * 3 * 137 - 4 = 78.2
    bmp.DrawBars(fft.data());
    EXPECT_EQ(BarHeight(bmp, 0), 78);
    for (int band = 1; band < VLSpectrumBitmap::kBands; ++band)
        EXPECT_EQ(BarHeight(bmp, band), 0) << band;

    // No band is empty: a peak in any single bin from 1 to 1023 raises exactly one bar.
    std::vector<int> owner(VLFft2048::kBins, -1);
    for (int bin = 1; bin < VLFft2048::kBins; ++bin) {
        std::vector<float> one(VLFft2048::kBins, 0.0f);
        one[bin] = 1.0f;
        bmp.DrawBars(one.data());
        int raised = 0;
        for (int band = 0; band < VLSpectrumBitmap::kBands; ++band)
            if (BarHeight(bmp, band) > 0) {
                ++raised;
                owner[bin] = band;
            }
        EXPECT_EQ(raised, 1) << "bin " << bin;
    }
    for (int band = 0; band < VLSpectrumBitmap::kBands; ++band)
        EXPECT_NE(std::find(owner.begin(), owner.end(), band), owner.end())
            << "band " << band << " has no bin";
    EXPECT_TRUE(std::is_sorted(owner.begin() + 1, owner.end()));
}

TEST(VLSpectrumBitmap, FullPeakFillsTheHeightWithRisingColours) {
    VLSpectrumBitmap bmp(kW, kH);
    std::vector<float> fft(VLFft2048::kBins, 1.0f);
    bmp.DrawBars(fft.data());
    for (int band = 0; band < VLSpectrumBitmap::kBands; ++band) {
        EXPECT_EQ(BarHeight(bmp, band), kH);
        const int left = band * (kW / VLSpectrumBitmap::kBands);
        // Each bar is band width - 2 pixels wide; each row holds its height + 1 as the colour.
        for (int r = 0; r < kH; ++r) {
            EXPECT_EQ(bmp.At(left, r), r + 1);
            EXPECT_EQ(bmp.At(left + 5, r), r + 1);
            EXPECT_EQ(bmp.At(left + 6, r), 0);
            EXPECT_EQ(bmp.At(left + 7, r), 0);
        }
    }
    bmp.Clear();
    EXPECT_TRUE(std::all_of(bmp.Pixels().begin(), bmp.Pixels().end(), [](uint8_t p) { return p == 0; }));
}

TEST(VLSpectrumBitmap, PaletteAndPaintedPixels) {
    const auto& p = VLSpectrumBitmap::Palette();
    EXPECT_EQ(p[0], 0x000000u);
    EXPECT_EQ(p[1], 0x02fe00u);    // green
    EXPECT_EQ(p[127], 0xfe0200u);  // shaded to red
    EXPECT_EQ(p[128 + 3], 0x000018u);
    EXPECT_EQ(p[160 + 2], 0x1000ffu);
    EXPECT_EQ(p[192 + 1], 0xff08f0u);
    EXPECT_EQ(p[224 + 31], 0xfffff8u);

    VLSpectrumBitmap bmp(kW, kH);
    std::vector<float> fft(VLFft2048::kBins, 0.0f);
    fft[1] = 1.0f;
    bmp.DrawBars(fft.data());
    std::vector<uint32_t> argb(kW * kH);
    bmp.ToArgb(argb.data(), kW);
    // Painted top row first: the bar's top pixel has the highest colour, the bottom row colour 1.
    EXPECT_EQ(argb[0], 0xff000000u | p[kH]);
    EXPECT_EQ(argb[(kH - 1) * kW], 0xff000000u | p[1]);
    EXPECT_EQ(argb[kW - 1], 0xff000000u);
}

TEST(VLFft2048, SineLandsInItsBinAtHalfItsAmplitude) {
    VLFft2048 fft;
    std::vector<float> samples(VLFft2048::kSize);
    std::vector<float> mags(VLFft2048::kBins);
    // Exactly bin 100 at 44100 Hz.
    for (int i = 0; i < VLFft2048::kSize; ++i)
        samples[i] = std::sin(2 * M_PI * 100 * i / VLFft2048::kSize);
    fft.Magnitudes(samples.data(), mags.data());
    EXPECT_NEAR(mags[100], 0.5f, 0.01f);
    EXPECT_NEAR(mags[99], 0.25f, 0.01f);  // the Hann window's neighbours
    EXPECT_LT(mags[110], 1e-3f);
    EXPECT_LT(mags[10], 1e-3f);

    std::fill(samples.begin(), samples.end(), 0.0f);
    fft.Magnitudes(samples.data(), mags.data());
    EXPECT_TRUE(std::all_of(mags.begin(), mags.end(), [](float m) { return m == 0.0f; }));
}

}  // namespace
}  // namespace KwLib
