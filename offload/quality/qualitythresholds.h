#pragma once

// Every threshold of the quality look, in one place: the measures use them and the flight report
// lists them. Grey levels run 0..255, shares 0..1; the measures are taken on the photo decoded
// at a reduced scale (see PhotoLook).
namespace QualityThresholds {

// The decode scale (1/8, 1/4, 1/2 or whole) keeps the long side at least this many pixels, so
// that a small photo is not measured as a few dozen pixels.
constexpr int MinLongSide = 240;
// Clipped pixels: at or below ClipDark, at or above ClipBright.
constexpr int ClipDark = 12;
constexpr int ClipBright = 243;
// Too dark: the mean grey below DarkMean, or more than DarkShare of the pixels clipped dark
// (a lens cap, a fogged window, an exposure setting).
constexpr double DarkMean = 35;
constexpr double DarkShare = 0.5;
// Too bright: the mean above BrightMean, or more than BrightShare clipped bright.
constexpr double BrightMean = 225;
constexpr double BrightShare = 0.4;
// A frame whose grey levels spread less than this (standard deviation) is a uniform field:
// neither its sharpness nor its likeness to the frame before is judged, only its brightness.
constexpr double MinContrast = 8;
// Blurred: the variance of the Laplacian over the variance of the grey levels below this.
constexpr double BlurSharpness = 0.06;
// Against the other lenses of the same exposure (at least MinOthers of them): darker when the
// mean is below RelativeDark of their median, blurrier when the sharpness is below RelativeBlur
// of theirs.
constexpr int MinOthers = 2;
constexpr double RelativeDark = 0.45;
constexpr double RelativeBlur = 0.3;
// A repeated frame: its 64-bit average hash within RepeatedHashBits of the frame before and no
// cell of a 16 x 16 grid of mean grey levels more than RepeatedCellDiff apart from it.
constexpr int RepeatedHashBits = 4;
constexpr double RepeatedCellDiff = 3;

} // namespace QualityThresholds
