#include "firmwareimage.h"

#include "byteorder.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

namespace vived {

namespace {
const uint8_t kPlainMagic[4] = {'V', '7', 'F', 'W'};
const uint8_t kSealedMagic[4] = {'V', '7', 'F', 'E'};
const char kKeyPhrase[] = "V7K firmware image key 1";

uint32_t crcOf(const uint8_t *data, size_t size)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes at most 4 GiB per call; firmware files are far smaller but stay safe.
    while (size > 0) {
        const uInt n = uInt(std::min<size_t>(size, 1u << 30));
        crc = crc32(crc, data, n);
        data += n;
        size -= n;
    }
    return uint32_t(crc);
}

void key(uint8_t out[32])
{
    SHA256(reinterpret_cast<const uint8_t *>(kKeyPhrase), sizeof kKeyPhrase - 1, out);
}

bool readText(const uint8_t *p, size_t n, std::string &out)
{
    out.clear();
    size_t k = 0;
    for (; k < n && p[k]; ++k) {
        if (p[k] < 0x20 || p[k] > 0x7e)
            return false;
        out.push_back(char(p[k]));
    }
    return true;
}
} // namespace

std::vector<uint8_t> FirmwareImage::build(const FirmwareHeader &h, const std::vector<uint8_t> &body)
{
    std::vector<uint8_t> out(kHeaderSize, 0);
    std::memcpy(out.data(), kPlainMagic, 4);
    out[4] = 1;
    out[5] = h.major;
    out[6] = h.minor;
    out[7] = h.hardware;
    ByteOrder::putBe32(out.data() + 8, uint32_t(body.size()));
    ByteOrder::putBe32(out.data() + 12, crcOf(body.data(), body.size()));
    std::memcpy(out.data() + 16, h.buildDate.data(), std::min<size_t>(h.buildDate.size(), 20));
    std::memcpy(out.data() + 36, h.model.data(), std::min<size_t>(h.model.size(), 8));
    ByteOrder::putBe32(out.data() + 60, crcOf(out.data(), 60));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

bool FirmwareImage::parse(const std::vector<uint8_t> &image, FirmwareHeader &h)
{
    if (image.size() < kHeaderSize || std::memcmp(image.data(), kPlainMagic, 4) != 0 ||
        image[4] != 1 || ByteOrder::getBe32(image.data() + 60) != crcOf(image.data(), 60))
        return false;
    h.major = image[5];
    h.minor = image[6];
    h.hardware = image[7];
    h.bodyLength = ByteOrder::getBe32(image.data() + 8);
    h.bodyCrc = ByteOrder::getBe32(image.data() + 12);
    if (h.bodyLength != image.size() - kHeaderSize ||
        h.bodyCrc != crcOf(image.data() + kHeaderSize, h.bodyLength))
        return false;
    return readText(image.data() + 16, 20, h.buildDate) && readText(image.data() + 36, 8, h.model);
}

bool FirmwareImage::isEncrypted(const std::vector<uint8_t> &file)
{
    return file.size() >= kEncryptedHeaderSize && std::memcmp(file.data(), kSealedMagic, 4) == 0 &&
           file[4] == 1;
}

bool FirmwareImage::encrypt(const std::vector<uint8_t> &plain, std::vector<uint8_t> &out)
{
    uint8_t k[32];
    key(k);
    out.assign(kEncryptedHeaderSize, 0);
    std::memcpy(out.data(), kSealedMagic, 4);
    out[4] = 1;
    if (RAND_bytes(out.data() + 8, 16) != 1)
        return false;
    ByteOrder::putBe32(out.data() + 24, uint32_t(plain.size()));
    ByteOrder::putBe32(out.data() + 28, crcOf(plain.data(), plain.size()));
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    if (!ctx)
        return false;
    std::vector<uint8_t> cipher(plain.size() + 32);
    int n = 0, tail = 0;
    const bool ok =
        EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, k, out.data() + 8) == 1 &&
        EVP_EncryptUpdate(ctx, cipher.data(), &n, plain.data(), int(plain.size())) == 1 &&
        EVP_EncryptFinal_ex(ctx, cipher.data() + n, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok)
        return false;
    out.insert(out.end(), cipher.begin(), cipher.begin() + n + tail);
    return true;
}

bool FirmwareImage::decrypt(const std::vector<uint8_t> &file, std::vector<uint8_t> &plain)
{
    if (!isEncrypted(file))
        return false;
    const size_t cipherSize = file.size() - kEncryptedHeaderSize;
    const uint32_t plainSize = ByteOrder::getBe32(file.data() + 24);
    if (cipherSize == 0 || cipherSize % 16 != 0 || plainSize >= cipherSize ||
        cipherSize - plainSize > 16)
        return false;
    uint8_t k[32];
    key(k);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    if (!ctx)
        return false;
    plain.assign(cipherSize + 16, 0);
    int n = 0, tail = 0;
    const bool ok = EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, k, file.data() + 8) == 1 &&
                    EVP_DecryptUpdate(ctx, plain.data(), &n, file.data() + kEncryptedHeaderSize,
                                      int(cipherSize)) == 1 &&
                    EVP_DecryptFinal_ex(ctx, plain.data() + n, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok || uint32_t(n + tail) != plainSize) {
        plain.clear();
        return false;
    }
    plain.resize(plainSize);
    if (crcOf(plain.data(), plain.size()) != ByteOrder::getBe32(file.data() + 28)) {
        plain.clear();
        return false;
    }
    return true;
}

bool FirmwareImage::readFile(const char *path, std::vector<uint8_t> &data, size_t limit)
{
    data.clear();
    FILE *f = path ? std::fopen(path, "rb") : nullptr;
    if (!f)
        return false;
    uint8_t buffer[65536];
    size_t n;
    bool ok = true;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        if (data.size() + n > limit) {
            ok = false;
            break;
        }
        data.insert(data.end(), buffer, buffer + n);
    }
    ok = ok && !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool FirmwareImage::writeFile(const char *path, const std::vector<uint8_t> &data)
{
    FILE *f = path ? std::fopen(path, "wb") : nullptr;
    if (!f)
        return false;
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace vived
