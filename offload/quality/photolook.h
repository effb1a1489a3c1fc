#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

// What one photo looks like, measured on its copy decoded at a reduced scale: brightness,
// sharpness normalised by the scene's contrast, and a signature to tell a frame repeated.
struct PhotoMeasure
{
    static constexpr int GridSide = 16;
    bool decoded = false;
    QString error; // why it could not be decoded
    int width = 0; // of the decoded grey image
    int height = 0;
    float mean = 0;        // grey 0..255
    float darkShare = 0;   // of the pixels clipped dark
    float brightShare = 0; // clipped bright
    float contrast = 0;    // standard deviation of the grey levels
    // Variance of the Laplacian over the variance of the grey levels; -1 for a uniform field.
    float sharpness = -1;
    uint64_t hash = 0;                               // average hash of an 8 x 8 grid
    std::array<uint8_t, GridSide * GridSide> grid{}; // mean grey per cell
};

namespace PhotoLook {

// The photo at path, decoded in grey at the smallest scale JPEG offers (down to 1/8) that keeps
// its long side at QualityThresholds::MinLongSide.
PhotoMeasure measureFile(const QString &path);
PhotoMeasure measureData(const QByteArray &jpeg);
// The reduction of a photo of that size: 8, 4, 2 or 1 (see measureFile).
int scaleDenominator(int width, int height, int minLongSide);
// The measures of a grey image already decoded (row after row, width bytes each).
PhotoMeasure measureGrey(const uint8_t *pixels, int width, int height);

// A small colour JPEG of the photo for the report, its long side at most longSide; empty when
// the photo cannot be decoded.
QByteArray thumbnail(const QString &path, int longSide);

int hashDistance(uint64_t a, uint64_t b);
// The largest difference between two grids' cells.
int gridDifference(const PhotoMeasure &a, const PhotoMeasure &b);

} // namespace PhotoLook
