// The camera setup dialog "视频设置": the cameras in enumeration order; returns the chosen position.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;

class CVideoSetup : public QDialog {
public:
    enum Control { kDeviceList = 1061 };

    CVideoSetup(const std::vector<std::string>& camera_names, QWidget* parent);
    // A negative index or one past the list selects nothing.
    void set_index(int index);
    // New camera names while the dialog is open; the chosen camera stays chosen while it is there. With none
    // chosen, the index set selects its camera once it is listed.
    void SetNames(const std::vector<std::string>& camera_names);
    int index() const { return index_; }
    QComboBox* list() const { return list_; }
    void accept() override;

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    QComboBox* list_;
    int index_ = -1;
};
