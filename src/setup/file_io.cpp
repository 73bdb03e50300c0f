#include "setup/file_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "setup/file_names.h"
#include "setup/native_path.h"

namespace qk750 {

namespace {

std::string errnoText(int code) {
    return std::generic_category().message(code);
}

// Distinct temporary names for concurrent saves of the same file, in one process or
// several.
std::atomic<unsigned> g_tempCounter{0};

const WriteFaults* g_writeFaults = nullptr;

// How much the next write of the temporary file may take: all of `wanted`, or less when a
// test's fault is near; 0 means the write fails.
std::size_t writableBytes(std::size_t alreadyWritten, std::size_t wanted) {
    if (g_writeFaults == nullptr) {
        return wanted;
    }
    const std::size_t limit = g_writeFaults->failAfterBytes;
    return alreadyWritten >= limit ? 0 : std::min(wanted, limit - alreadyWritten);
}
bool faultAt(bool WriteFaults::*step) {
    return g_writeFaults != nullptr && g_writeFaults->*step;
}

// In the target's folder, so that the final rename stays on one file system, and of a
// short fixed length, so that a target name near the length limit can still be saved.
std::string temporaryName(const std::string& path, unsigned long processId) {
    return path.substr(0, fileNameStart(path)) + ".qk750-" + std::to_string(processId) + "-" +
           std::to_string(g_tempCounter++) + ".tmp";
}

}  // namespace

void setWriteFaultsForTesting(const WriteFaults* faults) {
    g_writeFaults = faults;
}

FileReadResult readFile(const std::string& path, std::size_t maxBytes) {
    FileReadResult result;
    errno = 0;
    std::FILE* file = openFile(path, "rb");
    if (file == nullptr) {
        const int code = errno;
        result.status =
            code == ENOENT || code == ENOTDIR ? ReadStatus::Missing : ReadStatus::Failed;
        result.error = errnoText(code);
        return result;
    }
    char buffer[16384];
    while (result.data.size() < maxBytes) {
        const std::size_t want = std::min(sizeof buffer, maxBytes - result.data.size());
        errno = 0;
        const std::size_t got = std::fread(buffer, 1, want, file);
        result.data.append(buffer, got);
        if (got < want) {
            if (std::ferror(file)) {
                result.status = ReadStatus::Failed;
                result.error = errnoText(errno != 0 ? errno : EIO);
            }
            break;
        }
    }
    std::fclose(file);
    return result;
}

#ifdef _WIN32

namespace {

std::string windowsErrorText(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string message;
    if (length != 0 && text != nullptr) {
        message.assign(text, length);
        while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) {
            message.pop_back();
        }
    } else {
        message = "System error " + std::to_string(code);
    }
    if (text != nullptr) {
        LocalFree(text);
    }
    return message;
}

std::wstring fullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (size == 0 || length == 0 || length >= size) {
        return path;
    }
    full.resize(length);
    return full;
}

// What ReplaceFileW keeps on Windows; kept by hand too, where the system does not.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The old file is replaced, not renamed over: it keeps its attributes, creation time and
// access rights, and a read-only file is refused instead of losing its flag.
DWORD putInPlace(const std::wstring& temp, const std::wstring& target) {
    const DWORD old = GetFileAttributesW(target.c_str());
    if (old == INVALID_FILE_ATTRIBUTES) {
        return MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) ? ERROR_SUCCESS
                                                                                 : GetLastError();
    }
    if ((old & FILE_ATTRIBUTE_READONLY) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    // Under the name the file has on the disk: saving "SHOP.INI" keeps a "shop.ini" so
    // (Wine would give it the letter case asked for).
    std::wstring replaced = target;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(target.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        replaced = target.substr(0, target.find_last_of(L'\\') + 1) + found.cFileName;
    }
    if (!ReplaceFileW(replaced.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                      nullptr, nullptr)) {
        return GetLastError();
    }
    const DWORD now = GetFileAttributesW(replaced.c_str());
    if (now != INVALID_FILE_ATTRIBUTES && (now & kKeptAttributes) != (old & kKeptAttributes)) {
        (void)SetFileAttributesW(replaced.c_str(),
                                 (now & ~kKeptAttributes) | (old & kKeptAttributes));
    }
    return ERROR_SUCCESS;
}

std::string replaceFile(const std::string& path, std::string_view data) {
    // Full paths: ReplaceFileW refuses relative ones under Wine.
    const std::wstring target = fullPath(wideText(path));
    std::wstring temp;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temp = fullPath(wideText(temporaryName(path, GetCurrentProcessId())));
        handle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            return windowsErrorText(GetLastError());
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        return windowsErrorText(ERROR_FILE_EXISTS);
    }
    DWORD failure = ERROR_SUCCESS;
    std::size_t total = 0;
    while (!data.empty() && failure == ERROR_SUCCESS) {
        const DWORD chunk =
            static_cast<DWORD>(writableBytes(total, std::min<std::size_t>(data.size(), 1u << 30)));
        DWORD written = 0;
        if (chunk == 0) {
            failure = ERROR_DISK_FULL;
        } else if (!WriteFile(handle, data.data(), chunk, &written, nullptr)) {
            failure = GetLastError();
        } else {
            data.remove_prefix(written);
            total += written;
        }
    }
    if (failure == ERROR_SUCCESS && faultAt(&WriteFaults::failFlush)) {
        failure = ERROR_DISK_FULL;
    }
    if (failure == ERROR_SUCCESS && !FlushFileBuffers(handle)) {
        failure = GetLastError();
    }
    if (!CloseHandle(handle) && failure == ERROR_SUCCESS) {
        failure = GetLastError();
    }
    if (failure == ERROR_SUCCESS && faultAt(&WriteFaults::failClose)) {
        failure = ERROR_DISK_FULL;
    }
    if (failure == ERROR_SUCCESS && faultAt(&WriteFaults::failRename)) {
        failure = ERROR_ACCESS_DENIED;
    }
    if (failure == ERROR_SUCCESS) {
        failure = putInPlace(temp, target);
    }
    if (failure != ERROR_SUCCESS) {
        DeleteFileW(temp.c_str());
        return windowsErrorText(failure);
    }
    return {};
}

}  // namespace

#else

namespace {

std::string replaceFile(const std::string& path, std::string_view data) {
    // A read-only setup (no write permission for anyone) stays unchanged, as on Windows;
    // the rename alone would replace it, the folder being writable.
    struct stat old {};
    const bool replacing = stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    if (replacing && (old.st_mode & 0222) == 0) {
        return errnoText(EACCES);
    }
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = temporaryName(path, static_cast<unsigned long>(getpid()));
        // 0666 lets the umask decide, as for any newly created file.
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return errnoText(errno);
        }
    }
    if (fd < 0) {
        return errnoText(EEXIST);
    }
    int failure = 0;
    // A replaced file keeps its permissions.
    if (replacing) {
        (void)fchmod(fd, old.st_mode & 07777);
    }
    std::size_t total = 0;
    while (!data.empty() && failure == 0) {
        const std::size_t chunk = writableBytes(total, data.size());
        ssize_t written = -1;
        if (chunk == 0) {
            errno = ENOSPC;
        } else {
            written = write(fd, data.data(), chunk);
        }
        if (written < 0) {
            if (errno != EINTR) {
                failure = errno;
            }
        } else {
            data.remove_prefix(static_cast<std::size_t>(written));
            total += static_cast<std::size_t>(written);
        }
    }
    if (failure == 0 && faultAt(&WriteFaults::failFlush)) {
        failure = EIO;
    }
    if (failure == 0 && fsync(fd) != 0) {
        failure = errno;
    }
    if (close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && faultAt(&WriteFaults::failClose)) {
        failure = EIO;
    }
    if (failure == 0 && faultAt(&WriteFaults::failRename)) {
        failure = EACCES;
    }
    if (failure == 0 && std::rename(temp.c_str(), path.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        unlink(temp.c_str());
        return errnoText(failure);
    }
    // Make the rename itself durable; the save has succeeded whatever this gives.
    const std::string folder = DirectoryOf(path);
    const int dirFd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)fsync(dirFd);
        close(dirFd);
    }
    return {};
}

}  // namespace

#endif

std::string writeFileAtomically(const std::string& path, std::string_view data) {
    // A setup file that is a symbolic link stays one: the file it points to is replaced.
    std::error_code error;
    if (std::filesystem::is_symlink(nativePath(path), error)) {
        const std::filesystem::path target = std::filesystem::canonical(nativePath(path), error);
        if (!error) {
            return replaceFile(fromNativePath(target), data);
        }
    }
    return replaceFile(path, data);
}

}  // namespace qk750
