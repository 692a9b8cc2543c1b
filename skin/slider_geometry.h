// The arithmetic of the bitmap slider: position <-> pixel of the thumb's centre along the track, and the
// keys. Plain C++ so the rules are tested without a window.
#pragma once

struct SliderGeometry {
    int minimum = 0, maximum = 100;
    int length = 0;       // the channel's width (horizontal) or height (vertical)
    int thumb_length = 0; // the thumb's width or height
    int start_margin = 0, end_margin = 0;

    int track() const { return length - end_margin - thumb_length - start_margin; }
    // The thumb's centre for a position.
    int pixel_of(int position) const;
    // The position for a thumb centre.
    int position_of(int pixel) const;
    // The thumb centre clamped to the track.
    int clamp_pixel(int pixel) const;
    int clamp_position(int position) const;
};

enum class SliderKey { PageUp, PageDown, End, Home, Left, Up, Right, Down };

// The position after a key, clamped.
int slider_key_position(const SliderGeometry& g, int position, int page_size, SliderKey key);
