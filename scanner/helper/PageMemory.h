// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

// A page's pixels in shared memory (a memfd) that the program maps as the page image: the
// helper writes rows straight into it and hands the descriptor over. It can grow while a
// page of unknown length arrives; it never shrinks, as the program seals it against that.
class PageMemory
{
public:
    PageMemory() = default;
    ~PageMemory();
    PageMemory(const PageMemory&) = delete;
    PageMemory& operator=(const PageMemory&) = delete;

    // Room for rows of stride bytes; false when the memory cannot be had. A window holds
    // `rows` rows at a time, row y in slot y % rows, and never grows.
    bool create(std::int64_t stride, std::int64_t rows, bool window = false);
    // Room for at least `rows` rows (doubling, so a long page grows a few times only).
    bool reserve(std::int64_t rows);
    // Unmaps and closes: once the page is handed over the helper keeps no hold on it.
    void release();

    int fd() const { return m_fd; }
    unsigned char* row(std::int64_t y) { return m_data + (m_window ? y % m_rows : y) * m_stride; }
    bool window() const { return m_window; }
    unsigned char* data() { return m_data; }
    std::int64_t stride() const { return m_stride; }
    std::int64_t capacityRows() const { return m_rows; }
    std::size_t bytes() const { return std::size_t(m_stride * m_rows); }

private:
    int m_fd = -1;
    unsigned char* m_data = nullptr;
    std::int64_t m_stride = 0;
    std::int64_t m_rows = 0;
    bool m_window = false;
};
