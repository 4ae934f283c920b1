// A table of scan finds that grows with the card, up to a ceiling that keeps
// a hostile card from taking all memory. It reads like the fixed tables it
// replaced: an entry past the last one written reads as zero, and writing
// entry i makes the table at least i + 1 long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

template <typename T>
class GrowingTable
{
public:
    explicit GrowingTable(std::size_t ceiling) : m_ceiling(ceiling) {}

    // Past the ceiling a write lands in a scratch entry; the appends check
    // room() first, so only a caller's fault gets there.
    T &operator[](std::size_t i)
    {
        if (i >= m_ceiling) {
            m_scratch = T{};
            return m_scratch;
        }
        if (i >= m_items.size())
            m_items.resize(i + 1, T{});
        return m_items[i];
    }
    const T &operator[](std::size_t i) const
    {
        static const T zero{};
        return i < m_items.size() ? m_items[i] : zero;
    }

    bool room(std::size_t count) const { return count < m_ceiling; }
    std::size_t ceiling() const { return m_ceiling; }
    void set_ceiling(std::size_t ceiling) { m_ceiling = ceiling; }
    // Gives the memory back, not only the entries.
    void clear() { std::vector<T>().swap(m_items); }
    std::size_t bytes() const { return m_items.capacity() * sizeof(T); }

private:
    std::vector<T> m_items;
    std::size_t m_ceiling;
    T m_scratch{};
};
