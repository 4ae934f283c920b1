#include "scan/photo_length.h"

#include <algorithm>
#include <cstring>

std::uint64_t photo_length(const unsigned char *data, std::uint64_t size)
{
    std::uint64_t length = 0;
    int markers = 0;
    // An FF D9 whose D9 is the very last byte counts too: a photo may end
    // exactly at the end of what was read.
    std::uint64_t from = 0;
    while (markers < 3 && from + 1 < size) {
        const void *hit = std::memchr(data + from, 0xFF, size - 1 - from);
        if (!hit)
            break;
        const std::uint64_t ff = static_cast<const unsigned char *>(hit) - data;
        if (data[ff + 1] == 0xD9) {
            ++markers;
            length = ff + 2;
        }
        from = ff + 1;
    }
    return length;
}

PhotoRead::PhotoRead(ByteSource &source, std::uint64_t end, std::uint64_t position, std::uint64_t first,
                     std::uint64_t unit)
    : m_source(source), m_end(end), m_position(position),
      m_limit(position < end ? std::min(PHOTO_MAX_LENGTH, end - position) : 0),
      m_first(std::clamp<std::uint64_t>(first, 1, PHOTO_READ_STEP)), m_unit(std::max<std::uint64_t>(unit, 1))
{
}

PhotoRead::PhotoRead(ByteSource &source, std::uint64_t end, std::uint64_t position, PhotoBytes held,
                     std::uint64_t first, std::uint64_t unit)
    : PhotoRead(source, end, position, first, unit)
{
    if (!held.data)
        return;
    m_bytes = std::move(held.data);
    m_room = held.room;
    m_held = std::min({held.size, held.room, m_limit});
}

void PhotoRead::read_to(std::uint64_t n)
{
    n = std::min(n, m_limit);
    if (n <= m_held)
        return;
    const std::uint64_t step = std::clamp(m_held / 8, m_first, PHOTO_READ_STEP);
    std::uint64_t to = std::max(n, m_held + step);
    to = std::min((to + m_unit - 1) / m_unit * m_unit, m_limit);
    if (to > m_room) {
        // Room grows by half at least, so a photo read in many small
        // steps is not copied over and over.
        const std::uint64_t room = std::min(std::max(to, m_room + m_room / 2), m_limit);
        std::unique_ptr<unsigned char[]> bigger(new unsigned char[room]);
        if (m_held)
            std::memcpy(bigger.get(), m_bytes.get(), m_held);
        m_bytes = std::move(bigger);
        m_room = room;
    }
    m_unreadable += read_source(m_source, m_position + m_held, m_bytes.get() + m_held, to - m_held, m_end).unreadable;
    m_held = to;
}

const unsigned char *PhotoRead::span(std::uint64_t at, std::uint64_t *count)
{
    if (at >= m_held)
        read_to(at + 1);
    *count = at < m_held ? m_held - at : 0;
    return *count ? m_bytes.get() + at : nullptr;
}

const unsigned char *PhotoRead::together(std::uint64_t at, std::uint64_t n)
{
    if (at > m_limit || n > m_limit - at)
        return nullptr;
    read_to(at + n);
    return m_bytes.get() + at;
}

std::uint64_t photo_length_on_card(PhotoRead &photo, bool *walked)
{
    const JpegWalk walk = walk_jpeg(photo, PHOTO_READ_STEP);
    if (walked)
        *walked = walk.complete;
    if (walk.complete)
        return std::max(walk.image_end, walk.listed_end);
    // Past the source's end the head reads as zeros, which hold no marker.
    photo.read_to(PHOTO_READ_STEP);
    return photo_length(photo.data(), std::min(photo.held(), PHOTO_READ_STEP));
}

std::uint64_t photo_length_on_card(ByteSource &source, std::uint64_t end, std::uint64_t position,
                                   const unsigned char *head, std::uint64_t head_len, std::uint64_t *unreadable,
                                   bool *walked)
{
    const JpegWalk walk = walk_jpeg(source, end, position, head, head_len, PHOTO_READ_STEP, PHOTO_MAX_LENGTH);
    if (walked)
        *walked = walk.complete;
    *unreadable += walk.unreadable;
    if (!walk.complete)
        return photo_length(head, head_len);
    return std::max(walk.image_end, walk.listed_end);
}
