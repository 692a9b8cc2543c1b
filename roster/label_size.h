// The size of a label drawn on a user's picture: the largest that fits, found with few measurements. Each
// size measured makes a font engine (a font file opened at that size and set up), the costly part of drawing
// such a picture, where the text itself is a few characters.
//
// Plain C++; any thread (the caller's measuring decides).
#pragma once

#include <functional>

// The largest of the sizes `largest`, `largest` - 2, ... down to `smallest` at which `width_at` of the label
// is at most `room`; `smallest` - 2 when none is. `width_at` must not shrink as the size grows (text does
// not); `largest` and `smallest` differ by a multiple of 2. Measures the largest size, then the size that the
// proportion of its width to the room gives, then the next larger or smaller sizes until it finds the edge:
// usually three measurements where a walk down from the largest takes up to eleven.
int largest_fitting_size(const std::function<int(int size)>& width_at, int room, int largest, int smallest);
