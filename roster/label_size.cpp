// Label sizes (see label_size.h).
#include "roster/label_size.h"

#include <algorithm>

int largest_fitting_size(const std::function<int(int size)>& width_at, int room, int largest, int smallest) {
    const auto fits = [&](int size) { return width_at(size) <= room; };
    const int widest = width_at(largest);
    if (widest <= room)
        return largest;
    if (largest - 2 < smallest)
        return smallest - 2;
    // Text widens about in proportion to its size: the first guess is that proportion, on the steps of 2.
    int size = widest > 0 ? int(static_cast<long long>(largest) * std::max(room, 0) / widest) : smallest;
    size = std::clamp(size, smallest, largest - 2);
    size -= (largest - size) % 2;
    if (size < smallest)
        return smallest - 2;
    if (fits(size)) {
        while (size + 2 < largest && fits(size + 2))
            size += 2;
        return size;
    }
    for (size -= 2; size >= smallest; size -= 2)
        if (fits(size))
            return size;
    return smallest - 2;
}
