#include "archivehash.h"

#include "syncio.h"

ArchiveHash::ArchiveHash()
    : m_state(XXH64_createState())
{
    XXH64_reset(m_state.get(), 0);
}

ArchiveHash::ArchiveHash(const ArchiveHash &other)
    : ArchiveHash()
{
    *this = other;
}

ArchiveHash &ArchiveHash::operator=(const ArchiveHash &other)
{
    XXH64_copyState(m_state.get(), other.m_state.get());
    m_archive = other.m_archive;
    m_covered = other.m_covered;
    return *this;
}

bool ArchiveHash::reaches(const std::string &archive, uint64_t offset) const
{
    return offset == 0 || (archive == m_archive && offset == m_covered);
}

void ArchiveHash::carry(const ArchiveHash &from, const std::string &archive, uint64_t offset)
{
    if (offset == 0) {
        XXH64_reset(m_state.get(), 0);
        m_archive = archive;
        m_covered = 0;
    } else {
        *this = from;
    }
}

void ArchiveHash::add(const unsigned char *data, size_t size)
{
    XXH64_update(m_state.get(), data, size);
    m_covered += size;
}

int ArchiveHash::finish(const std::string &archive, uint64_t *hash) const
{
    if (m_archive.empty() || archive != m_archive)
        return -1;
    ArchiveHash rest(*this);
    if (SyncIo::readFromDisk(archive, m_covered, UINT64_MAX,
                             [&rest](const unsigned char *data, size_t size) {
                                 rest.add(data, size);
                                 return true;
                             }) != 0)
        return -1;
    *hash = XXH64_digest(rest.m_state.get());
    return 0;
}
