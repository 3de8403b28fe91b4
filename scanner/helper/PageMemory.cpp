// SPDX-License-Identifier: GPL-3.0-or-later
#include "PageMemory.h"


#include <sys/mman.h>
#include <unistd.h>

namespace {

// The kernel takes the faults of fresh memory in one go instead of one by one as the
// scanner's lines arrive, which costs more than the lines themselves on virtual machines.
void populate(void* start, std::size_t bytes)
{
#ifdef MADV_POPULATE_WRITE
    if (bytes > 0)
        madvise(start, bytes, MADV_POPULATE_WRITE); // advice only: older kernels fault lazily
#else
    (void)start;
    (void)bytes;
#endif
}

// A page larger than this is not one a scanner sends; refusing it keeps the sizes sane.
constexpr std::int64_t kMaxBytes = std::int64_t(1) << 36;

} // namespace

PageMemory::~PageMemory() { release(); }

bool PageMemory::create(std::int64_t stride, std::int64_t rows, bool window)
{
    release();
    if (stride <= 0 || rows <= 0 || rows > kMaxBytes / stride)
        return false;
    m_fd = memfd_create("quillora-page", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (m_fd < 0)
        return false;
    const std::size_t bytes = std::size_t(stride * rows);
    if (ftruncate(m_fd, off_t(bytes)) != 0) {
        release();
        return false;
    }
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (p == MAP_FAILED) {
        release();
        return false;
    }
    m_data = static_cast<unsigned char*>(p);
    m_stride = stride;
    m_rows = rows;
    m_window = window;
    populate(m_data, bytes);
    return true;
}

bool PageMemory::reserve(std::int64_t rows)
{
    if (rows <= m_rows)
        return true;
    if (m_window)
        return false;
    std::int64_t grown = m_rows * 2;
    if (grown < rows)
        grown = rows;
    if (grown > kMaxBytes / m_stride)
        return false;
    const std::size_t oldBytes = bytes();
    const std::size_t newBytes = std::size_t(m_stride * grown);
    if (ftruncate(m_fd, off_t(newBytes)) != 0)
        return false;
    void* p = mremap(m_data, oldBytes, newBytes, MREMAP_MAYMOVE);
    if (p == MAP_FAILED)
        return false;
    m_data = static_cast<unsigned char*>(p);
    m_rows = grown;
    populate(m_data + oldBytes, newBytes - oldBytes);
    return true;
}

void PageMemory::release()
{
    if (m_data)
        munmap(m_data, bytes());
    if (m_fd >= 0)
        close(m_fd);
    m_data = nullptr;
    m_fd = -1;
    m_stride = 0;
    m_rows = 0;
    m_window = false;
}
