// The label size on a user's picture: the same size as a walk down from the largest size finds, for text of
// any width, with fewer measurements.
#include <gtest/gtest.h>

#include <cmath>

#include "roster/label_size.h"

namespace {

// The walk the size search replaces: from `largest` down in steps of 2 to the first size that fits.
int walk_down(const std::function<int(int)>& width_at, int room, int largest, int smallest) {
    for (int size = largest; size >= smallest; size -= 2)
        if (width_at(size) <= room)
            return size;
    return smallest - 2;
}

} // namespace

TEST(LabelSize, FindsTheSizeTheWalkDownFindsWithFewMeasurements) {
    // Text of every width from one narrow character to a long number: the width in proportion to the size
    // (per glyph rounded, as hinted advances are), with an offset.
    for (double per_pixel = 0.2; per_pixel < 8; per_pixel *= 1.07) {
        for (int glyphs : {1, 2, 4, 7}) {
            for (int offset : {0, 1, 3}) {
                int measured = 0;
                const auto width = [&](int size) {
                    ++measured;
                    return glyphs * int(std::lround(per_pixel * size / glyphs)) + offset;
                };
                const int expected = walk_down(width, 58, 34, 12);
                measured = 0;
                EXPECT_EQ(largest_fitting_size(width, 58, 34, 12), expected)
                    << per_pixel << " per pixel, " << glyphs << " glyphs, offset " << offset;
                // The largest size, the guess, and a step or two beside it.
                EXPECT_LE(measured, 4)
                    << per_pixel << " per pixel, " << glyphs << " glyphs, offset " << offset;
            }
        }
    }
}

TEST(LabelSize, NothingFitsOrEverythingFitsOrNoRoom) {
    const auto wide = [](int size) { return size * 100; };
    EXPECT_EQ(largest_fitting_size(wide, 58, 34, 12), 10);
    const auto narrow = [](int) { return 3; };
    EXPECT_EQ(largest_fitting_size(narrow, 58, 34, 12), 34);
    const auto empty = [](int) { return 0; };
    EXPECT_EQ(largest_fitting_size(empty, 0, 34, 12), 34);
    EXPECT_EQ(largest_fitting_size([](int size) { return size; }, 0, 34, 12), 10);
    EXPECT_EQ(largest_fitting_size([](int size) { return size; }, -5, 34, 12), 10);
    // One size only.
    EXPECT_EQ(largest_fitting_size(wide, 58, 12, 12), 10);
    EXPECT_EQ(largest_fitting_size(narrow, 58, 12, 12), 12);
    // A width that stays the same for some sizes, then jumps past the room.
    const auto steps = [](int size) { return size < 27 ? 50 : 70; };
    EXPECT_EQ(largest_fitting_size(steps, 58, 34, 12), 26);
}
