#pragma once
// A slow disk for tests: a FUSE file system served by a thread of the test program that mirrors a
// real folder (read-only) and waits before every answer, like a network share or a dying disk.
// Needs /dev/fuse and the right to mount (root or fusermount3); Mount() says when it cannot.
#define FUSE_USE_VERSION 35
#include <fuse3/fuse.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace fv::test {

class TSlowFuse {
public:
    TSlowFuse(std::string source, std::string mountPoint, int listDelayMs, int readDelayMs)
        : FSource(std::move(source)), FMount(std::move(mountPoint)), FListDelay(listDelayMs), FReadDelay(readDelayMs) {}
    ~TSlowFuse() { Unmount(); }

    bool Mount() {
        static const fuse_operations ops = MakeOps();
        char arg0[] = "slowfuse";
        char* argv[] = {arg0, nullptr};
        fuse_args args = FUSE_ARGS_INIT(1, argv);
        FFuse = fuse_new(&args, &ops, sizeof ops, this);
        if (!FFuse) return false;
        if (fuse_mount(FFuse, FMount.c_str()) != 0) {
            fuse_destroy(FFuse);
            FFuse = nullptr;
            return false;
        }
        FThread = std::thread([this] { fuse_loop(FFuse); });
        return true;
    }
    void Unmount() {
        if (!FFuse) return;
        fuse_exit(FFuse);
        fuse_unmount(FFuse);
        if (FThread.joinable()) FThread.join();
        fuse_destroy(FFuse);
        FFuse = nullptr;
    }
    // answers served (lists and reads), for the test to see the disk was really asked
    int Reads() const { return FReads.load(); }
    int Lists() const { return FLists.load(); }

private:
    static TSlowFuse* Self() { return static_cast<TSlowFuse*>(fuse_get_context()->private_data); }
    std::string Real(const char* path) const { return FSource + path; }
    static void Wait(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    static fuse_operations MakeOps() {
        fuse_operations ops{};
        ops.getattr = [](const char* path, struct stat* st, fuse_file_info*) -> int {
            return ::lstat(Self()->Real(path).c_str(), st) == 0 ? 0 : -errno;
        };
        ops.readdir = [](const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                         fuse_readdir_flags) -> int {
            TSlowFuse* self = Self();
            ++self->FLists;
            DIR* d = ::opendir(self->Real(path).c_str());
            if (!d) return -errno;
            while (dirent* e = ::readdir(d)) {
                Wait(self->FListDelay);
                fill(buf, e->d_name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
            }
            ::closedir(d);
            return 0;
        };
        ops.open = [](const char* path, fuse_file_info* fi) -> int {
            if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
            int fd = ::open(Self()->Real(path).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) return -errno;
            fi->fh = static_cast<uint64_t>(fd);
            return 0;
        };
        ops.read = [](const char*, char* buf, size_t size, off_t offset, fuse_file_info* fi) -> int {
            TSlowFuse* self = Self();
            ++self->FReads;
            Wait(self->FReadDelay);
            ssize_t n = ::pread(static_cast<int>(fi->fh), buf, size, offset);
            return n < 0 ? -errno : static_cast<int>(n);
        };
        ops.release = [](const char*, fuse_file_info* fi) -> int {
            ::close(static_cast<int>(fi->fh));
            return 0;
        };
        return ops;
    }

    std::string FSource, FMount;
    int FListDelay, FReadDelay;
    fuse* FFuse = nullptr;
    std::thread FThread;
    std::atomic<int> FReads{0}, FLists{0};
};

}  // namespace fv::test
