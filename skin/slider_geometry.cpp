// Slider arithmetic (see slider_geometry.h).
#include "skin/slider_geometry.h"

int SliderGeometry::pixel_of(int position) const {
    const int range = maximum - minimum;
    if (range <= 0)
        return start_margin + thumb_length / 2;
    return start_margin + int(double(position - minimum) / double(range) * double(track())) +
           thumb_length / 2;
}

int SliderGeometry::position_of(int pixel) const {
    const int t = track();
    if (t <= 0)
        return minimum;
    return int(double(minimum) +
               double(pixel - thumb_length / 2 - start_margin) / double(t) * double(maximum - minimum));
}

int SliderGeometry::clamp_pixel(int pixel) const {
    const int low = start_margin + thumb_length / 2;
    const int high = length - end_margin - thumb_length / 2;
    if (pixel > high)
        pixel = high;
    if (pixel < low)
        pixel = low;
    return pixel;
}

int SliderGeometry::clamp_position(int position) const {
    if (position > maximum)
        position = maximum;
    if (position < minimum)
        position = minimum;
    return position;
}

int slider_key_position(const SliderGeometry& g, int position, int page_size, SliderKey key) {
    switch (key) {
    case SliderKey::PageUp:
        return g.clamp_position(position - page_size);
    case SliderKey::PageDown:
        return g.clamp_position(position + page_size);
    case SliderKey::End:
        return g.maximum;
    case SliderKey::Home:
        return g.minimum;
    case SliderKey::Left:
    case SliderKey::Up:
        return g.clamp_position(position - 1);
    case SliderKey::Right:
    case SliderKey::Down:
        return g.clamp_position(position + 1);
    }
    return position;
}
