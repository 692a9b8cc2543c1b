// Redis connection (see store.h).
#include "cluster/store.h"

#include <hiredis/hiredis.h>

#include <chrono>
#include <cstdlib>

namespace cluster {
namespace {

int64_t steady_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Reply convert(const redisReply* r, int depth = 0) {
    Reply out;
    if (!r)
        return out;
    switch (r->type) {
    case REDIS_REPLY_STRING:
        out.type = Reply::String;
        out.str.assign(r->str, r->len);
        break;
    case REDIS_REPLY_STATUS:
        out.type = Reply::Status;
        out.str.assign(r->str, r->len);
        break;
    case REDIS_REPLY_ERROR:
        out.type = Reply::Error;
        out.str.assign(r->str, r->len);
        break;
    case REDIS_REPLY_INTEGER:
        out.type = Reply::Integer;
        out.integer = r->integer;
        break;
    case REDIS_REPLY_ARRAY:
        out.type = Reply::Array;
        if (depth < 4)
            for (size_t i = 0; i < r->elements; ++i)
                out.elements.push_back(convert(r->element[i], depth + 1));
        break;
    default:
        break;
    }
    return out;
}

} // namespace

Store::Store(std::string host, uint16_t port, int timeout_ms)
    : host_(std::move(host)), port_(port), timeout_ms_(timeout_ms) {}

Store::~Store() {
    drop();
}

bool Store::parse_url(const std::string& url, std::string* host, uint16_t* port) {
    std::string rest = url;
    const std::string scheme = "redis://";
    if (rest.compare(0, scheme.size(), scheme) == 0)
        rest = rest.substr(scheme.size());
    while (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    char* end = nullptr;
    const long p = std::strtol(rest.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || p <= 0 || p > 65535)
        return false;
    *host = rest.substr(0, colon);
    *port = uint16_t(p);
    return true;
}

void Store::drop() {
    if (ctx_)
        redisFree(ctx_);
    ctx_ = nullptr;
}

bool Store::available() {
    if (ctx_)
        return true;
    const int64_t now = steady_ms();
    if (now < next_try_ms_)
        return false;
    next_try_ms_ = now + 500;
    timeval tv{timeout_ms_ / 1000, (timeout_ms_ % 1000) * 1000};
    redisContext* c = redisConnectWithTimeout(host_.c_str(), port_, tv);
    if (!c || c->err) {
        if (c)
            redisFree(c);
        return false;
    }
    redisSetTimeout(c, tv);
    redisEnableKeepAlive(c);
    ctx_ = c;
    ++connects_;
    return true;
}

std::optional<Reply> Store::command(const std::vector<std::string>& args) {
    auto r = pipeline({args});
    if (!r || r->empty())
        return std::nullopt;
    return std::move(r->front());
}

std::optional<std::vector<Reply>> Store::pipeline(const std::vector<std::vector<std::string>>& commands) {
    if (!available())
        return std::nullopt;
    std::vector<const char*> argv;
    std::vector<size_t> lens;
    for (const auto& args : commands) {
        argv.clear();
        lens.clear();
        for (const std::string& a : args) {
            argv.push_back(a.data());
            lens.push_back(a.size());
        }
        if (redisAppendCommandArgv(ctx_, int(argv.size()), argv.data(), lens.data()) != REDIS_OK) {
            drop();
            return std::nullopt;
        }
    }
    std::vector<Reply> out;
    out.reserve(commands.size());
    for (size_t i = 0; i < commands.size(); ++i) {
        void* raw = nullptr;
        if (redisGetReply(ctx_, &raw) != REDIS_OK || !raw) {
            drop();
            return std::nullopt;
        }
        out.push_back(convert(static_cast<redisReply*>(raw)));
        freeReplyObject(raw);
    }
    return out;
}

AsyncStore::AsyncStore(asio::io_context& io, std::string host, uint16_t port, int timeout_ms)
    : io_(io), store_(std::move(host), port, timeout_ms), alive_(std::make_shared<std::atomic<bool>>(true)) {}

AsyncStore::~AsyncStore() {
    alive_->store(false);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    // Jobs never sent: their waiters learn it; their `done`s are not called any more.
    for (Job& job : jobs_)
        if (job.waiter)
            job.waiter->set_value(std::nullopt);
}

void AsyncStore::start() {
    if (!thread_.joinable())
        thread_ = std::thread([this] { loop(); });
}

size_t AsyncStore::waiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.size();
}

void AsyncStore::run(Commands commands, Done done, int wait_ms) {
    Job job;
    job.commands = std::move(commands);
    job.done = std::move(done);
    job.deadline_ms = steady_ms() + wait_ms;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (jobs_.size() < kMaxWaiting && !stopping_) {
            jobs_.push_back(std::move(job));
            wake_.notify_one();
            return;
        }
    }
    // Not queued: answered at once as by a Redis that is away.
    answer(job, std::nullopt);
}

AsyncStore::Replies AsyncStore::run_and_wait(Commands commands, int wait_ms) {
    auto waiter = std::make_shared<std::promise<Replies>>();
    auto future = waiter->get_future();
    Job job;
    job.commands = std::move(commands);
    job.waiter = waiter;
    job.deadline_ms = steady_ms() + wait_ms;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (jobs_.size() >= kMaxWaiting || stopping_ || !thread_.joinable())
            return std::nullopt;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
    if (future.wait_for(std::chrono::milliseconds(wait_ms)) != std::future_status::ready)
        return std::nullopt;
    return future.get();
}

void AsyncStore::answer(Job& job, Replies replies) {
    if (job.waiter) {
        job.waiter->set_value(std::move(replies));
        return;
    }
    if (!job.done)
        return;
    asio::post(io_, [alive = alive_, done = std::move(job.done), replies = std::move(replies)]() mutable {
        if (alive->load())
            done(std::move(replies));
    });
}

void AsyncStore::loop() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        Replies replies;
        if (steady_ms() <= job.deadline_ms) {
            replies = store_.pipeline(job.commands);
            up_.store(replies.has_value());
        }
        answer(job, std::move(replies));
    }
}

} // namespace cluster
