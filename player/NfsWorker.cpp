// libnfs (synchronous calls) on the worker thread: the list files from "/lst", the assigned
// file from "/".
#include "player/NfsWorker.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>

#include <nfsc/libnfs.h>

#include "player/Sha256.h"

namespace player {

namespace {

constexpr std::uint64_t kChunk = 1024 * 1024; // libnfs reads at most 1 MiB per call
constexpr std::uint64_t kListLimit = 16 * 1024 * 1024;

class NfsMount {
  public:
    NfsMount() : nfs_(nfs_init_context()) {}
    NfsMount(const NfsMount&) = delete;
    NfsMount& operator=(const NfsMount&) = delete;
    ~NfsMount() {
        if (nfs_ != nullptr)
            nfs_destroy_context(nfs_);
    }

    // The server offers no MOUNT EXPORT, so the URL turns libnfs's nested-mount walk off.
    bool Mount(const std::string& server, const std::string& exportPath, std::string& error) {
        if (nfs_ == nullptr) {
            error = "no libnfs context";
            return false;
        }
        nfs_set_timeout(nfs_, 10000);
        nfs_set_autoreconnect(nfs_, 0);
        const std::string url = "nfs://" + server + exportPath + "?auto-traverse-mounts=0";
        nfs_url* parsed = nfs_parse_url_dir(nfs_, url.c_str());
        if (parsed == nullptr) {
            error = std::string("bad URL ") + url + ": " + nfs_get_error(nfs_);
            return false;
        }
        const std::string path =
            parsed->path != nullptr && parsed->path[0] != '\0' ? parsed->path : "/";
        const int status = nfs_mount(nfs_, parsed->server, path.c_str());
        nfs_destroy_url(parsed);
        if (status != 0) {
            error = "mount " + exportPath + ": " + nfs_get_error(nfs_);
            return false;
        }
        return true;
    }

    nfs_context* Get() const { return nfs_; }

  private:
    nfs_context* nfs_;
};

class NfsFile {
  public:
    NfsFile(nfs_context* nfs) : nfs_(nfs) {}
    NfsFile(const NfsFile&) = delete;
    NfsFile& operator=(const NfsFile&) = delete;
    ~NfsFile() {
        if (fh_ != nullptr)
            nfs_close(nfs_, fh_);
    }
    // Opens the file and takes its size from its attributes.
    int Open(const std::string& path) {
        const int status = nfs_open(nfs_, path.c_str(), O_RDONLY, &fh_);
        if (status != 0)
            return status;
        struct nfs_stat_64 attributes {};
        const int statStatus = nfs_fstat64(nfs_, fh_, &attributes);
        size_ = attributes.nfs_size;
        return statStatus;
    }
    // The next part of the file; 0 at its size. The server answers a READ at the end of the
    // file with an error (NFS3ERR_NXIO), not with an empty success, so the end is never read.
    int Read(std::uint8_t* buffer, std::uint64_t count) {
        if (offset_ >= size_)
            return 0;
        const int n = nfs_pread(nfs_, fh_, offset_, std::min(count, size_ - offset_), buffer);
        if (n > 0)
            offset_ += static_cast<std::uint64_t>(n);
        return n;
    }

  private:
    nfs_context* nfs_;
    nfsfh* fh_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t offset_ = 0;
};

double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

NfsWorker::NfsWorker(int wakeFd) : wakeFd_(wakeFd), thread_([this] { Run(); }) {}

NfsWorker::~NfsWorker() {
    Cancel();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void NfsWorker::Submit(NfsJob job) {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.clear();
    if (busy_)
        cancel_ = true;
    jobs_.push_back(std::move(job));
    wake_.notify_all();
}

void NfsWorker::Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.clear();
    cancel_ = true;
}

std::vector<NfsResult> NfsWorker::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(results_);
}

bool NfsWorker::Idle() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !busy_ && jobs_.empty() && results_.empty();
}

void NfsWorker::Push(NfsResult result) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        results_.push_back(std::move(result));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void NfsWorker::Run() {
    std::vector<std::uint8_t> buffer(kChunk);
    for (;;) {
        NfsJob job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
            if (stop_)
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = true;
            cancel_ = false;
        }
        NfsResult result;
        result.session = job.session;
        result.server = job.server;
        result.fileName = job.fileName;
        const double start = Seconds();
        NfsMount mount;
        if (job.kind == NfsJob::Kind::Lists) {
            result.stage = NfsResult::Stage::Lists;
            result.ok = mount.Mount(job.server, "/lst", result.error);
            for (const char* name : {"VideoList.txt", "AudioList.txt", "ImageList.txt"}) {
                if (!result.ok)
                    break;
                ListFileData file;
                file.name = name;
                NfsFile handle(mount.Get());
                const int opened = handle.Open(std::string("/") + name);
                if (opened == -ENOENT) {
                    result.lists.push_back(std::move(file));
                    continue;
                }
                if (opened != 0) {
                    result.ok = false;
                    result.error = std::string("open ") + name + ": " + nfs_get_error(mount.Get());
                    break;
                }
                file.present = true;
                for (;;) {
                    const int n = handle.Read(buffer.data(), kChunk);
                    if (n < 0) {
                        result.ok = false;
                        result.error =
                            std::string("read ") + name + ": " + nfs_get_error(mount.Get());
                        break;
                    }
                    if (n == 0 || file.bytes.size() >= kListLimit)
                        break;
                    file.bytes.insert(file.bytes.end(), buffer.begin(), buffer.begin() + n);
                }
                result.lists.push_back(std::move(file));
            }
            result.seconds = Seconds() - start;
        } else {
            // The play answer waits for the first data; then the whole file is read and digested.
            Sha256 digest;
            result.stage = NfsResult::Stage::FirstData;
            NfsFile handle(mount.Get());
            int n = -1;
            if (mount.Mount(job.server, "/", result.error)) {
                if (handle.Open("/" + job.fileName) != 0)
                    result.error = "open /" + job.fileName + ": " + nfs_get_error(mount.Get());
                else if ((n = handle.Read(buffer.data(), kChunk)) < 0)
                    result.error = "read /" + job.fileName + ": " + nfs_get_error(mount.Get());
            }
            result.ok = n >= 0;
            result.size = n > 0 ? static_cast<std::uint64_t>(n) : 0;
            NfsResult first = result;
            Push(std::move(first));
            if (result.ok) {
                result.stage = NfsResult::Stage::FileDone;
                while (n > 0 && !cancel_) {
                    digest.Update(ByteSpan(buffer.data(), static_cast<std::size_t>(n)));
                    n = handle.Read(buffer.data(), kChunk);
                    if (n > 0)
                        result.size += static_cast<std::uint64_t>(n);
                }
                result.cancelled = cancel_;
                if (n < 0) {
                    result.ok = false;
                    result.error = "read /" + job.fileName + ": " + nfs_get_error(mount.Get());
                }
                result.sha256 = digest.FinishHex();
                result.seconds = Seconds() - start;
            }
        }
        if (job.kind == NfsJob::Kind::Lists || result.stage == NfsResult::Stage::FileDone)
            Push(std::move(result));
        std::lock_guard<std::mutex> lock(mutex_);
        busy_ = false;
    }
}

} // namespace player
