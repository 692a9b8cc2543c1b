// A text label and a check box for skinned backgrounds: either transparent, with their own text colour, or
// on a solid background of their own colour. The owner sets the colours before the control is first drawn.
#pragma once

#include <QCheckBox>
#include <QLabel>

#include <cstdint>

// The colours of an owner-drawn control (0x00BBGGRR), applied to any widget's palette.
struct OwnerColours {
    bool transparent = false;
    uint32_t text = 0x00000000;
    uint32_t background = 0x00F0F0F0;
    void ApplyTo(QWidget* widget) const;
};

class ClxStatic : public QLabel {
public:
    explicit ClxStatic(QWidget* parent = nullptr) : QLabel(parent) {}
    OwnerColours colours;
    // Applies the colours; call after changing them.
    void Refresh() { colours.ApplyTo(this); }
};

class ClxCheckBox : public QCheckBox {
public:
    explicit ClxCheckBox(QWidget* parent = nullptr) : QCheckBox(parent) {}
    OwnerColours colours;
    void Refresh() { colours.ApplyTo(this); }
};
