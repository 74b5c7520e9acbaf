#include "main/platform_room.hpp"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

namespace qovrin::main::platform {
namespace {

constexpr std::string_view kLeftAsItWas = "; it is written in place, so it was left as it was";

std::unexpected<RoomFailure> refuse(std::size_t index, int code, const std::string& detail) {
  FileFailure failure = fileFailure(code);
  failure.cause += " (" + detail + ")";
  failure.cause += kLeftAsItWas;
  return std::unexpected(RoomFailure{index, std::move(failure)});
}

// What a file system still gives the calling user, in blocks of `block` bytes.
struct FileSystemRoom {
  dev_t device;
  std::uint64_t block;
  std::uint64_t freeBlocks;
};

}  // namespace

std::expected<void, RoomFailure> checkInPlaceRoom(std::span<const InPlaceFile> files) {
  rlimit sizeLimit{};
  const bool limited = ::getrlimit(RLIMIT_FSIZE, &sizeLimit) == 0 && sizeLimit.rlim_cur != RLIM_INFINITY;
  std::vector<FileSystemRoom> rooms;
  for (std::size_t index = 0; index < files.size(); ++index) {
    const InPlaceFile& file = files[index];
    if (file.descriptor < 0) continue;
    if (limited && file.newSize > sizeLimit.rlim_cur)
      return refuse(index, EFBIG,
                    std::to_string(file.newSize) + " bytes, over the file size limit of " +
                        std::to_string(sizeLimit.rlim_cur));
    struct stat status {};
    struct statvfs system {};
    // A file system that counts no blocks (as /proc) tells nothing about its room.
    if (::fstat(file.descriptor, &status) != 0 || ::fstatvfs(file.descriptor, &system) != 0 || system.f_frsize == 0 ||
        system.f_blocks == 0)
      continue;
    auto room = std::ranges::find(rooms, status.st_dev, &FileSystemRoom::device);
    if (room == rooms.end()) {
      // Blocks kept back for root are root's to use.
      const std::uint64_t freeBlocks = ::geteuid() == 0 ? system.f_bfree : system.f_bavail;
      room = rooms.insert(rooms.end(), FileSystemRoom{status.st_dev, system.f_frsize, freeBlocks});
    }
    // Cutting the file first gives its own blocks back.
    const std::uint64_t wanted = file.newSize / room->block + (file.newSize % room->block != 0 ? 1 : 0);
    const std::uint64_t held = static_cast<std::uint64_t>(status.st_blocks) * 512 / room->block;
    const std::uint64_t more = wanted > held ? wanted - held : 0;
    if (more > room->freeBlocks)
      return refuse(index, ENOSPC,
                    std::to_string(more * room->block) + " more bytes wanted, " +
                        std::to_string(room->freeBlocks * room->block) + " free");
    room->freeBlocks -= more;
  }
  return {};
}

}  // namespace qovrin::main::platform
