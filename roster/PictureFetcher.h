// The user pictures of the user list: each picture is downloaded from the web host on one worker thread
// (libcurl, see picture_download.h), checked to be a picture, scaled down to at most 160 pixels a side and
// stored as a PNG file named by the user id in the picture folder. Each result is posted to the receiver as
// message kPictureReady (wParam the download result, lParam the user id). Restart, Request and Stop are
// called on the UI thread; OnWorkItem runs on the worker thread and touches no widget.
#pragma once

#include <QString>

#include <cstdint>
#include <string>

#include "roster/CWorkQueue.h"
#include "roster/picture_download.h"

class QObject;

class PictureFetcher : public CWorkItemCall {
public:
    // `web_host`: "http://host" of the pictures; `picture_folder`: where they are stored.
    PictureFetcher(QObject* receiver, const std::string& web_host, const std::string& picture_folder);
    ~PictureFetcher() override;
    PictureFetcher(const PictureFetcher&) = delete;
    PictureFetcher& operator=(const PictureFetcher&) = delete;

    // Drops the requests not started yet and starts the worker (the local user's record starts the pictures).
    void Restart();
    // Queues the download of a user's picture; dropped before the first Restart.
    void Request(uint32_t user_id);
    // Ends the running download at once and waits for the worker (the window is going away).
    void Stop() { queue_.Stop(); }
    void set_limits(const download::Limits& l) { limits_ = l; }
    CWorkQueue& queue() { return queue_; }

    // Where a user's picture is stored.
    std::string PicturePath(uint32_t user_id) const;
    // Decodes a downloaded body and stores it, scaled down, as PNG at `destination` (through a temporary file
    // beside it). False, storing nothing, when the body is not a picture or claims more than 8192 pixels a
    // side. Any thread.
    static bool StorePicture(const QString& body, const QString& destination);

    // CWorkItemCall: the download of one picture, on the worker thread.
    void OnWorkItem(CWorkQueue* queue, void* payload, int size) override;

private:
    QObject* receiver_;
    std::string web_host_;
    std::string picture_folder_;
    CWorkQueue queue_;
    download::Limits limits_;
};
