#include "platform/posix/shared_block.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/posix/unique_fd.h"

namespace kestrun {

SysResult<std::string> SharedBlockObjectName(std::string_view name) {
    using Result = SysResult<std::string>;
    if (name.empty() || name.find('/') != std::string_view::npos) return Result::Failure(EINVAL);
    if (name.size() + 1 > NAME_MAX) return Result::Failure(ENAMETOOLONG);
    std::string object;
    object.reserve(name.size() + 1);
    object += '/';
    object += name;
    return Result::Success(std::move(object));
}

SysResult<int> CreateSharedBlock(std::string_view name, std::size_t size) {
    const auto object = SharedBlockObjectName(name);
    if (!object.ok()) return SysResult<int>::Failure(object.error);
    UniqueFd fd(::shm_open(object.value.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid()) return SysResult<int>::Failure(errno);
    if (::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
        const int error = errno;
        ::shm_unlink(object.value.c_str());
        return SysResult<int>::Failure(error);
    }
    return SysResult<int>::Success(fd.Release());
}

int RemoveSharedBlock(std::string_view name) {
    const auto object = SharedBlockObjectName(name);
    if (!object.ok()) return object.error;
    return ::shm_unlink(object.value.c_str()) == 0 ? 0 : errno;
}

SysResult<std::byte*> MapSharedBlock(int fd, std::size_t size) {
    void* view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) return SysResult<std::byte*>::Failure(errno);
    return SysResult<std::byte*>::Success(static_cast<std::byte*>(view));
}

void UnmapSharedBlock(std::byte* view, std::size_t size) {
    if (view != nullptr) ::munmap(view, size);
}

MappedBlock::MappedBlock(MappedBlock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      view_(std::exchange(other.view_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

MappedBlock& MappedBlock::operator=(MappedBlock&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
        view_ = std::exchange(other.view_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

MappedBlock::~MappedBlock() {
    Release();
}

void MappedBlock::Release() {
    UnmapSharedBlock(view_, size_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    view_ = nullptr;
    size_ = 0;
}

SysResult<MappedBlock> MappedBlock::Open(std::string_view name, std::size_t size) {
    using Result = SysResult<MappedBlock>;
    const auto object = SharedBlockObjectName(name);
    if (!object.ok()) return Result::Failure(object.error);
    UniqueFd fd(::shm_open(object.value.c_str(), O_RDWR | O_CLOEXEC, 0));
    if (!fd.valid()) return Result::Failure(errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return Result::Failure(errno);
    if (info.st_size < static_cast<off_t>(size)) return Result::Failure(EINVAL);
    const auto view = MapSharedBlock(fd.get(), size);
    if (!view.ok()) return Result::Failure(view.error);
    MappedBlock block;
    block.fd_ = fd.Release();
    block.view_ = view.value;
    block.size_ = size;
    return Result::Success(std::move(block));
}

bool MappedBlock::StillWhole() const {
    struct stat info {};
    return fd_ >= 0 && ::fstat(fd_, &info) == 0 && info.st_size >= static_cast<off_t>(size_);
}

}  // namespace kestrun
