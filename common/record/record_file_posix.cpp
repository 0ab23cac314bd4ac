#include "record/record_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool AppendWhole(const std::string& path, const std::string& line, std::string& error) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    flock(fd, LOCK_EX);
    ssize_t n = write(fd, line.data(), line.size());
    bool whole = n == static_cast<ssize_t>(line.size());
    if (!whole) {
        error = n < 0 ? std::strerror(errno) : "short write";
        // A partial line would corrupt the next record: take it back.
        if (n > 0 && ftruncate(fd, lseek(fd, 0, SEEK_END) - n) != 0) error = "short write, partial line left";
    }
    close(fd);
    return whole;
}
