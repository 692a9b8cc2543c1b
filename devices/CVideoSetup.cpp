// The camera setup dialog (see CVideoSetup.h).
#include "devices/CVideoSetup.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "devices/SetupWindow.h"
#include "devices/devices_texts.h"
#include "platform/controls.h"

CVideoSetup::CVideoSetup(const std::vector<std::string>& names, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(devices_text::kVideoSetup));
    setObjectName("CVideoSetup");
    auto* group = new QGroupBox(QString::fromUtf8(devices_text::kCaptureDevices), this);
    auto* row = new QHBoxLayout(group);
    row->addWidget(new QLabel(QString::fromUtf8(devices_text::kVideoDevice), group));
    list_ = new QComboBox(group);
    set_control_id(list_, kDeviceList);
    list_->setMinimumContentsLength(24);
    for (const std::string& n : names)
        list_->addItem(QString::fromStdString(n));
    list_->setCurrentIndex(-1);
    row->addWidget(list_, 1);
    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QString::fromUtf8(devices_text::kOk), QDialogButtonBox::AcceptRole);
    buttons->addButton(QString::fromUtf8(devices_text::kCancel), QDialogButtonBox::RejectRole);
    ok->setAutoDefault(false);
    ok->setDefault(false);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(group);
    outer->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    make_setup_window(this);
}

void CVideoSetup::set_index(int index) {
    index_ = index;
    list_->setCurrentIndex(index >= 0 && index < list_->count() ? index : -1);
}

void CVideoSetup::SetNames(const std::vector<std::string>& names) {
    const QString chosen = list_->currentText();
    list_->clear();
    for (const std::string& n : names)
        list_->addItem(QString::fromStdString(n));
    // Nothing chosen yet (the camera was not listed yet, as before the first scan): the given camera once it
    // is listed.
    if (chosen.isEmpty())
        list_->setCurrentIndex(index_ >= 0 && index_ < list_->count() ? index_ : -1);
    else
        list_->setCurrentIndex(list_->findText(chosen));
}

void CVideoSetup::accept() {
    if (list_->currentIndex() >= 0)
        index_ = list_->currentIndex();
    QDialog::accept();
}

void CVideoSetup::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
        return; // Enter does not press OK
    QDialog::keyPressEvent(e);
}
