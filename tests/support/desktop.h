// A real desktop for tests of what a person does with the client: a private X server (Xvfb, display chosen by
// the server itself) with its own window manager (openbox), input through XTEST (xdotool) and screenshots of
// the whole screen (ImageMagick's import). Everything it starts ends with the object.
#pragma once

#include <sys/types.h>

#include <QImage>
#include <QRect>
#include <QString>

#include <map>
#include <string>
#include <vector>

#include "eventually.h"

class Desktop {
public:
    explicit Desktop(int width = 1600, int height = 1000);
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // True once the X server runs and the window manager manages it.
    bool ready() const { return ready_; }
    std::string why_not() const { return error_; }
    // ":N"
    std::string display() const { return ":" + std::to_string(display_); }

    // Runs a program on this display and returns its standard output; `status` gets its exit status.
    std::string run(const std::vector<std::string>& args, int* status = nullptr) const;

    // Pointer and keyboard, through XTEST.
    void move(int x, int y) const;
    void click(int x, int y, int button = 1) const;
    void double_click(int x, int y) const;
    // Presses at (x0, y0), moves in steps to (x1, y1) and releases there.
    void drag(int x0, int y0, int x1, int y1) const;
    // Keys by X name, e.g. "Escape", "Tab", "ctrl+v".
    void key(const std::string& keys) const;
    void type(const std::string& utf8) const;

    // The whole screen now; saved as a PNG when `save_as` is given.
    QImage screenshot(const std::string& save_as = {}) const;

    // The visible top-level windows of a process, with their frames' places on the screen.
    std::vector<std::pair<unsigned long, QRect>> windows_of(pid_t pid) const;
    // The window that has the keyboard focus (0 when none).
    unsigned long focused_window() const;

private:
    int display_ = -1;
    pid_t server_ = 0;
    pid_t window_manager_ = 0;
    bool ready_ = false;
    std::string error_;
};

// The widget list that a client keeps for tests (QUORIN_WIDGETS): path -> rectangle on the screen.
std::map<std::string, QRect> read_widget_list(const std::string& file);

// Counts the pixels of `image` inside `area` whose colour is within `tolerance` of `colour` in each channel.
int count_pixels(const QImage& image, const QRect& area, QRgb colour, int tolerance = 24);
