#include "jpegscan.h"

namespace JpegScan {

size_t scanStart(const unsigned char *data, size_t size)
{
    Finder finder;
    // The marker and a segment length after it must lie within the bytes given.
    return finder.add(data, size) == Finder::Found && finder.start() + 4 <= size
               ? size_t(finder.start())
               : 0;
}

Finder::State Finder::add(const unsigned char *data, size_t size)
{
    size_t i = 0;
    while (i < size && m_state == Looking) {
        if (m_step == Skip) {
            const uint64_t step = m_skip < size - i ? m_skip : size - i;
            m_skip -= step;
            i += size_t(step);
            m_at += step;
            if (m_skip == 0)
                m_step = Mark;
            continue;
        }
        const unsigned char byte = data[i++];
        switch (m_step) {
        case Soi:
            m_step = SoiEnd;
            m_state = byte == 0xFF ? Looking : NotFound;
            break;
        case SoiEnd:
            m_step = Mark;
            m_state = byte == 0xD8 ? Looking : NotFound;
            break;
        case Mark:
            m_mark = m_at;
            m_step = Marker;
            m_state = byte == 0xFF ? Looking : NotFound;
            break;
        case Marker:
            if (byte == 0xFF) { // fill byte: this one may be the marker's 0xFF
                m_mark = m_at;
            } else if (byte == 0xDA) {
                m_start = m_mark;
                m_state = Found;
            } else if (byte == 0xD9) {
                m_state = NotFound;
            } else if (byte == 0x01 || (byte >= 0xD0 && byte <= 0xD7)) {
                m_step = Mark; // a marker without a segment
            } else {
                m_step = Length;
            }
            break;
        case Length:
            m_length = unsigned(byte) << 8;
            m_step = LengthEnd;
            break;
        case LengthEnd:
            m_length |= byte;
            m_skip = m_length - 2;
            m_step = m_skip > 0 ? Skip : Mark;
            if (m_length < 2)
                m_state = NotFound;
            break;
        case Skip:
            break;
        }
        ++m_at;
    }
    return m_state;
}

} // namespace JpegScan
