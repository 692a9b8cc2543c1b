// Face pictures decoded once (see FaceLibrary.h).
#include "controls/FaceLibrary.h"

#include <QFile>

#include "controls/GifComposer.h"

int FaceLibrary::Face::FrameAt(qint64 elapsed_ms) const {
    if (frames.size() < 2 || loop_ms <= 0)
        return 0;
    qint64 t = elapsed_ms % loop_ms;
    for (size_t i = 0; i < frames.size(); ++i) {
        t -= frames[i].second;
        if (t < 0)
            return int(i);
    }
    return int(frames.size()) - 1;
}

const FaceLibrary::Face* FaceLibrary::Get(const QString& path) {
    auto it = faces_.find(path);
    if (it != faces_.end())
        return it->second.frames.empty() ? nullptr : &it->second;
    Face face;
    QFile file(path);
    GifComposer composer;
    if (file.open(QIODevice::ReadOnly) && composer.Load(file.readAll())) {
        composer.SetBackground(Qt::transparent);
        face.frames = composer.ComposeLoop();
        face.size = composer.size();
        for (const auto& f : face.frames)
            face.loop_ms += f.second;
    }
    // A file that does not load is remembered too, so it is not read again for every line.
    Face& stored = faces_[path] = std::move(face);
    return stored.frames.empty() ? nullptr : &stored;
}

FaceLibrary& FaceLibrary::Shared() {
    static FaceLibrary library;
    return library;
}

QString face_file(const QString& folder, int index) {
    return folder + QString::asprintf("/%02d.gif", index);
}
