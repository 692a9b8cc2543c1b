// The face pictures of a faces folder, each decoded once into one loop of composed frames (transparent
// background), shared by every rich-text control of the process.
#pragma once

#include <QImage>
#include <QString>

#include <map>
#include <vector>

class FaceLibrary {
public:
    struct Face {
        std::vector<std::pair<QImage, int>> frames; // picture and how long it stays, in ms
        int loop_ms = 0;
        QSize size;
        // The frame shown `elapsed_ms` after the animation started.
        int FrameAt(qint64 elapsed_ms) const;
    };

    // The face of a picture file, loaded on first use; nullptr when the file is not a picture.
    const Face* Get(const QString& path);

    // The process-wide library.
    static FaceLibrary& Shared();

private:
    std::map<QString, Face> faces_;
};

// The file of face `index` (two digits at least) in a faces folder.
QString face_file(const QString& folder, int index);
