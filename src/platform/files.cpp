// File helpers over the POSIX calls (open/read/write, rename, mkdir, stat).
// Every descriptor is opened close-on-exec, so a child started by another
// thread never inherits a file this layer is writing. Atomic writes go through
// a temporary name that holds the process id and a counter, so concurrent
// writers in one or several processes never share a temporary file.
#include "platform/files.h"

#include "platform/env.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestal::platform {

namespace {

Result<void> status_of(int rc) {
    if (rc != 0)
        return last_os_error();
    return {};
}

Result<void> write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return last_os_error();
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

// Writes to an open descriptor and closes it; a failing close counts, since
// that is where some file systems report a failed write.
Result<void> write_and_close(int fd, std::string_view bytes) {
    Result<void> written = write_all(fd, bytes);
    int close_errno = close(fd) != 0 ? errno : 0;
    if (!written)
        return written;
    if (close_errno != 0)
        return os_error(close_errno);
    return {};
}

// Empties the folder open at dir_fd (which this call closes), descending
// only through descriptors opened with O_NOFOLLOW, so a link swapped in for a
// subfolder is never entered.
Result<void> empty_folder(int dir_fd) {
    DIR *dir = fdopendir(dir_fd);
    if (!dir) {
        OsError error = last_os_error();
        close(dir_fd);
        return error;
    }
    Result<void> result;
    for (;;) {
        errno = 0;
        dirent *entry = readdir(dir);
        if (!entry) {
            if (errno != 0)
                result = last_os_error();
            break;
        }
        std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (unlinkat(dirfd(dir), entry->d_name, 0) == 0)
            continue;
        if (errno != EISDIR && errno != EPERM) {
            result = last_os_error();
            break;
        }
        int child =
            openat(dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0) {
            result = last_os_error();
            break;
        }
        result = empty_folder(child);
        if (result && unlinkat(dirfd(dir), entry->d_name, AT_REMOVEDIR) != 0)
            result = last_os_error();
        if (!result)
            break;
    }
    closedir(dir);
    return result;
}

PathKind kind_of(mode_t mode) {
    if (S_ISREG(mode))
        return PathKind::File;
    if (S_ISDIR(mode))
        return PathKind::Dir;
    if (S_ISLNK(mode))
        return PathKind::Symlink;
    return PathKind::Other;
}

} // namespace

Result<std::string> read_file(const std::string &path, std::size_t max_bytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return last_os_error();
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            OsError error = last_os_error();
            close(fd);
            return error;
        }
        if (n == 0)
            break;
        if (static_cast<std::size_t>(n) > max_bytes - bytes.size()) {
            close(fd);
            std::string limit = max_bytes >= (1u << 20) && max_bytes % (1u << 20) == 0
                                    ? fmt::format("{} MiB", max_bytes >> 20)
                                    : fmt::format("{} bytes", max_bytes);
            return OsError{fmt::format("file too large (more than {})", limit), EFBIG};
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return bytes;
}

Result<void> write_file(const std::string &path, std::string_view bytes, unsigned mode) {
    int fd =
        open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0)
        return last_os_error();
    return write_and_close(fd, bytes);
}

Result<void> write_file_atomic(const std::string &path, std::string_view bytes, unsigned mode) {
    static std::atomic<std::uint64_t> counter{0};
    std::string temp = fmt::format("{}.tmp-{}-{}", path, process_id(), counter++);
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0)
        return last_os_error();
    Result<void> written = write_and_close(fd, bytes);
    if (written && rename(temp.c_str(), path.c_str()) != 0)
        written = last_os_error();
    if (!written)
        unlink(temp.c_str());
    return written;
}

Result<std::vector<std::string>> list_dir(const std::string &path) {
    DIR *dir = opendir(path.c_str());
    if (!dir)
        return last_os_error();
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        dirent *entry = readdir(dir);
        if (!entry)
            break;
        std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    int read_errno = errno;
    closedir(dir);
    if (read_errno != 0)
        return os_error(read_errno);
    std::sort(names.begin(), names.end());
    return names;
}

Result<void> remove_file(const std::string &path) {
    return status_of(unlink(path.c_str()));
}

Result<void> remove_dir(const std::string &path) {
    return status_of(rmdir(path.c_str()));
}

Result<void> remove_tree(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? Result<void>() : Result<void>(last_os_error());
    if (!S_ISDIR(st.st_mode))
        return status_of(unlink(path.c_str()));
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return last_os_error();
    Result<void> emptied = empty_folder(fd);
    if (!emptied)
        return emptied;
    return status_of(rmdir(path.c_str()));
}

Result<void> rename_path(const std::string &from, const std::string &to) {
    return status_of(rename(from.c_str(), to.c_str()));
}

Result<void> mark_modified_now(const std::string &path) {
    return status_of(utimensat(AT_FDCWD, path.c_str(), nullptr, 0));
}

Result<void> create_dir(const std::string &path, unsigned mode) {
    return status_of(mkdir(path.c_str(), static_cast<mode_t>(mode)));
}

Result<void> create_dirs(const std::string &path, unsigned mode) {
    // Each prefix ending before a '/' is a parent; the whole path comes last.
    for (std::size_t end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/')
            continue;
        std::string prefix = path.substr(0, end);
        if (mkdir(prefix.c_str(), static_cast<mode_t>(mode)) == 0)
            continue;
        int make_errno = errno;
        // Something may exist there already (some systems refuse with
        // another error than EEXIST): fine only when it is a folder. The
        // first prefix that cannot be made gives the reason for the failure.
        struct stat st;
        if (stat(prefix.c_str(), &st) != 0)
            return os_error(make_errno);
        if (!S_ISDIR(st.st_mode))
            return os_error(end == path.size() ? EEXIST : ENOTDIR);
    }
    if (path.empty())
        return os_error(ENOENT);
    return {};
}

Result<PathInfo> path_info(const std::string &path, bool follow_symlinks) {
    struct stat st;
    int rc = follow_symlinks ? stat(path.c_str(), &st) : lstat(path.c_str(), &st);
    if (rc != 0)
        return last_os_error();
    PathInfo info;
    info.kind = kind_of(st.st_mode);
    info.owner = static_cast<std::uint32_t>(st.st_uid);
    info.mode = static_cast<std::uint32_t>(st.st_mode & 07777);
    info.size = static_cast<std::uint64_t>(st.st_size);
    info.modified_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 +
                       static_cast<std::int64_t>(st.st_mtim.tv_nsec);
    return info;
}

bool path_exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

} // namespace kestal::platform
