// The face picker: a popup grid of the 90 faces, 15 columns of 30 x 30 cells, each face animating in its cell
// with its name as tool tip. A click on a face reports its index to the owner (message 1122 with the index in
// lParam); a click on the grid's background reports nothing chosen (wParam 0). The popup closes by itself on
// a click outside it; its faces only animate while it is open.
#pragma once

#include <QWidget>

#include <vector>

#include "platform/messages.h"

class CPictureEx;

class CFaceDlg : public QWidget, public platform::MessageTarget {
public:
    static constexpr int kColumns = 15;
    static constexpr int kCell = 30;
    static constexpr int kFirstControlId = 100;

    // `owner` receives the reports.
    CFaceDlg(const QString& faces_folder, QWidget* owner);
    ~CFaceDlg() override;

    int face_count() const { return int(pictures_.size()); }
    CPictureEx* picture(int index) const { return pictures_[size_t(index)]; }
    int rows() const { return (face_count() + kColumns - 1) / kColumns; }
    // Places the popup right above the face button (global rectangle) and gives it the focus.
    void PlacePopup(const QRect& face_button);

    void on_message(unsigned id, intptr_t wparam, intptr_t lparam) override;

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    QWidget* owner_;
    std::vector<CPictureEx*> pictures_;
};
