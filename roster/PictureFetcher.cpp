// The user pictures' fetcher (see PictureFetcher.h).
#include "roster/PictureFetcher.h"

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <cstring>

#include "platform/message_ids.h"
#include "platform/messages.h"
#include "platform/paths.h"

namespace {

// The request as it travels through the work queue.
struct PictureRequest {
    uint32_t user_id;
    char url[512];
    char folder[260];
    char file[48];
};
static_assert(sizeof(PictureRequest) <= CWorkQueue::kPayloadSize);

void copy_field(char* field, size_t size, const std::string& text) {
    const size_t n = std::min(size - 1, text.size());
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

// The largest side a stored picture keeps: tiles are small, and a picture from the web can be anything.
constexpr int kMaxPictureSide = 160;
// A larger claim is not a user picture (and would cost the worker a lot of memory to decode).
constexpr int kMaxDeclaredSide = 8192;

} // namespace

PictureFetcher::PictureFetcher(QObject* receiver, const std::string& web_host,
                               const std::string& picture_folder)
    : receiver_(receiver), web_host_(web_host), picture_folder_(picture_folder) {}

PictureFetcher::~PictureFetcher() {
    queue_.Stop();
}

void PictureFetcher::Restart() {
    queue_.Reset();
    queue_.Start(this);
}

std::string PictureFetcher::PicturePath(uint32_t user_id) const {
    return path_join(picture_folder_, std::to_string(user_id));
}

void PictureFetcher::Request(uint32_t user_id) {
    std::unique_ptr<CWorkQueue::Item> item = queue_.TakeFreeItem();
    if (!item)
        return; // before the local user's record: nothing to download with yet
    PictureRequest r{};
    r.user_id = user_id;
    copy_field(r.url, sizeof r.url,
               web_host_ + "/help.php?view=pic&uid=" + std::to_string(user_id) + "&size=middle");
    copy_field(r.folder, sizeof r.folder, picture_folder_);
    // The file name comes from the numeric user id only.
    copy_field(r.file, sizeof r.file, std::to_string(user_id));
    std::memcpy(item->data(), &r, sizeof r);
    queue_.Queue(std::move(item));
}

bool PictureFetcher::StorePicture(const QString& body, const QString& destination) {
    QImageReader reader(body);
    const QSize size = reader.size();
    if (!reader.canRead() || size.isEmpty() || size.width() > kMaxDeclaredSide ||
        size.height() > kMaxDeclaredSide)
        return false;
    if (size.width() > kMaxPictureSide || size.height() > kMaxPictureSide)
        reader.setScaledSize(size.scaled(kMaxPictureSide, kMaxPictureSide, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    if (image.isNull())
        return false;
    const QString partial = destination + ".new";
    if (!image.save(partial, "PNG"))
        return false;
    QFile::remove(destination);
    return QFile::rename(partial, destination);
}

void PictureFetcher::OnWorkItem(CWorkQueue* queue, void* payload, int size) {
    if (size_t(size) < sizeof(PictureRequest))
        return;
    PictureRequest r{};
    std::memcpy(&r, payload, sizeof r);
    r.url[sizeof r.url - 1] = r.folder[sizeof r.folder - 1] = r.file[sizeof r.file - 1] = '\0';
    const std::string path = path_join(r.folder, r.file);
    const std::string body = path + ".body";
    int result = download::DownloadToFile(r.url, body, limits_, &queue->cancelled());
    // Decoded here, so the UI thread only ever loads small pictures.
    if (result == download::kStored &&
        !StorePicture(QString::fromStdString(body), QString::fromStdString(path)))
        result = download::kUrlFailed; // not a picture
    QFile::remove(QString::fromStdString(body));
    platform::post_message(receiver_, msg::kPictureReady, result, intptr_t(r.user_id));
}
