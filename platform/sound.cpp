// Sound playback over Qt Multimedia (see sound.h).
#include "platform/sound.h"

#include <QApplication>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

SoundPlayer::SoundPlayer() = default;

SoundPlayer::~SoundPlayer() {
    delete effect_;
}

void SoundPlayer::PlayAsync(const std::string& path) {
    const QString file = QString::fromStdString(path);
    if (!QFileInfo(file).isReadable()) {
        QApplication::beep();
        return;
    }
    if (!effect_)
        effect_ = new QSoundEffect;
    if (effect_->source() != QUrl::fromLocalFile(file))
        effect_->setSource(QUrl::fromLocalFile(file));
    effect_->play();
}
