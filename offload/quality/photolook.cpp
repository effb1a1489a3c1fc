#include "photolook.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "qualitythresholds.h"

namespace {

// libjpeg ends a failed decode through error_exit, which must not return: it jumps back to the
// decode with the message. A photo that ends early is decoded with grey below the break and
// only a warning; it counts as damaged here, as a viewer would show it so.
struct ErrorTrap
{
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool truncated;
};

void errorExit(j_common_ptr info)
{
    auto *trap = reinterpret_cast<ErrorTrap *>(info->err);
    (*info->err->format_message)(info, trap->message);
    std::longjmp(trap->jump, 1);
}

void noteWarning(j_common_ptr info, int level)
{
    auto *trap = reinterpret_cast<ErrorTrap *>(info->err);
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
        trap->truncated = true;
}

struct Image
{
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
};

// One of file and data is the source. Everything the jump back may reach is declared before it.
bool decode(FILE *file, const QByteArray *data, bool colour, int minLongSide, Image *image,
            QString *error)
{
    jpeg_decompress_struct info;
    ErrorTrap trap{};
    info.err = jpeg_std_error(&trap.base);
    trap.base.error_exit = errorExit;
    trap.base.emit_message = noteWarning;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&info);
        *error = QString::fromLatin1(trap.message);
        return false;
    }
    jpeg_create_decompress(&info);
    if (file)
        jpeg_stdio_src(&info, file);
    else
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(data->constData()),
                     (unsigned long)data->size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = colour ? JCS_RGB : JCS_GRAYSCALE;
    // At 1/8 only each block's mean is transformed back: most of the cost left is reading the
    // entropy-coded data, which no scale avoids.
    info.scale_num = 1;
    info.scale_denom = unsigned(
        PhotoLook::scaleDenominator(int(info.image_width), int(info.image_height), minLongSide));
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);
    image->width = int(info.output_width);
    image->height = int(info.output_height);
    const size_t stride = size_t(image->width) * size_t(info.output_components);
    image->pixels.resize(stride * size_t(image->height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->pixels.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (trap.truncated) {
        *error = QStringLiteral("the photo ends before its image data does");
        return false;
    }
    return true;
}

PhotoMeasure failed(const QString &error)
{
    PhotoMeasure m;
    m.error = error;
    return m;
}

PhotoMeasure measureImage(bool ok, const Image &image, const QString &error)
{
    if (!ok)
        return failed(error);
    if (image.width < 3 || image.height < 3)
        return failed(QStringLiteral("the photo is too small to judge"));
    return PhotoLook::measureGrey(image.pixels.data(), image.width, image.height);
}

} // namespace

namespace PhotoLook {

int scaleDenominator(int width, int height, int minLongSide)
{
    const int longSide = std::max(width, height);
    int denominator = 8;
    while (denominator > 1 && longSide / denominator < minLongSide)
        denominator /= 2;
    return denominator;
}

PhotoMeasure measureFile(const QString &path)
{
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!file)
        return failed(QStringLiteral("cannot open the copy"));
    Image image;
    QString error;
    const bool ok = decode(file, nullptr, false, QualityThresholds::MinLongSide, &image, &error);
    std::fclose(file);
    return measureImage(ok, image, error);
}

PhotoMeasure measureData(const QByteArray &jpeg)
{
    Image image;
    QString error;
    const bool ok = decode(nullptr, &jpeg, false, QualityThresholds::MinLongSide, &image, &error);
    return measureImage(ok, image, error);
}

PhotoMeasure measureGrey(const uint8_t *pixels, int width, int height)
{
    using namespace QualityThresholds;
    PhotoMeasure m;
    m.decoded = true;
    m.width = width;
    m.height = height;
    const double count = double(width) * height;
    uint64_t sum = 0, squares = 0, dark = 0, bright = 0;
    for (size_t i = 0; i < size_t(width) * size_t(height); ++i) {
        const unsigned v = pixels[i];
        sum += v;
        squares += v * v;
        dark += v <= unsigned(ClipDark);
        bright += v >= unsigned(ClipBright);
    }
    const double mean = double(sum) / count;
    const double variance = std::max(0.0, double(squares) / count - mean * mean);
    m.mean = float(mean);
    m.darkShare = float(double(dark) / count);
    m.brightShare = float(double(bright) / count);
    m.contrast = float(std::sqrt(variance));

    // The Laplacian's spread falls as edges soften; over the grey levels' own spread it does
    // not change with exposure or with how busy the scene is.
    if (m.contrast >= MinContrast) {
        double lapSum = 0, lapSquares = 0;
        for (int y = 1; y + 1 < height; ++y) {
            const uint8_t *row = pixels + size_t(y) * size_t(width);
            for (int x = 1; x + 1 < width; ++x) {
                const int l =
                    4 * row[x] - row[x - 1] - row[x + 1] - row[x - width] - row[x + width];
                lapSum += l;
                lapSquares += double(l) * l;
            }
        }
        const double n = double(width - 2) * (height - 2);
        const double lapMean = lapSum / n;
        m.sharpness = float((lapSquares / n - lapMean * lapMean) / variance);
    }

    constexpr int G = PhotoMeasure::GridSide;
    for (int gy = 0; gy < G; ++gy) {
        const int y0 = gy * height / G, y1 = std::max(y0 + 1, (gy + 1) * height / G);
        for (int gx = 0; gx < G; ++gx) {
            const int x0 = gx * width / G, x1 = std::max(x0 + 1, (gx + 1) * width / G);
            uint64_t cell = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x)
                    cell += pixels[size_t(y) * size_t(width) + size_t(x)];
            m.grid[size_t(gy * G + gx)] = uint8_t(cell / uint64_t((y1 - y0) * (x1 - x0)));
        }
    }
    int blocks[64];
    int total = 0;
    for (int by = 0; by < 8; ++by) {
        for (int bx = 0; bx < 8; ++bx) {
            const auto at = [&](int dy, int dx) {
                return m.grid[size_t((2 * by + dy) * G + 2 * bx + dx)];
            };
            blocks[by * 8 + bx] = at(0, 0) + at(0, 1) + at(1, 0) + at(1, 1);
            total += blocks[by * 8 + bx];
        }
    }
    for (int k = 0; k < 64; ++k) {
        if (blocks[k] * 64 > total)
            m.hash |= uint64_t(1) << k;
    }
    return m;
}

QByteArray thumbnail(const QString &path, int longSide)
{
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!file)
        return {};
    Image image;
    QString error;
    const bool ok = decode(file, nullptr, true, longSide, &image, &error);
    std::fclose(file);
    if (!ok || image.width < 1 || image.height < 1)
        return {};
    // Box-averaged down to the size asked for.
    const int step = std::max(1, (std::max(image.width, image.height) + longSide - 1) / longSide);
    const int w = std::max(1, image.width / step), h = std::max(1, image.height / step);
    std::vector<uint8_t> small(size_t(w) * size_t(h) * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                unsigned sum = 0;
                for (int dy = 0; dy < step; ++dy)
                    for (int dx = 0; dx < step; ++dx)
                        sum += image.pixels[(size_t(y * step + dy) * size_t(image.width) +
                                             size_t(x * step + dx)) *
                                                3 +
                                            size_t(c)];
                small[(size_t(y) * size_t(w) + size_t(x)) * 3 + size_t(c)] =
                    uint8_t(sum / unsigned(step * step));
            }
        }
    }
    jpeg_compress_struct info;
    ErrorTrap trap{};
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    info.err = jpeg_std_error(&trap.base);
    trap.base.error_exit = errorExit;
    if (setjmp(trap.jump)) {
        jpeg_destroy_compress(&info);
        std::free(out);
        return {};
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &out, &outSize);
    info.image_width = JDIMENSION(w);
    info.image_height = JDIMENSION(h);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 70, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = small.data() + size_t(info.next_scanline) * size_t(w) * 3;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char *>(out), qsizetype(outSize));
    std::free(out);
    return bytes;
}

int hashDistance(uint64_t a, uint64_t b)
{
    return __builtin_popcountll(a ^ b);
}

int gridDifference(const PhotoMeasure &a, const PhotoMeasure &b)
{
    int most = 0;
    for (size_t k = 0; k < a.grid.size(); ++k)
        most = std::max(most, std::abs(int(a.grid[k]) - int(b.grid[k])));
    return most;
}

} // namespace PhotoLook
