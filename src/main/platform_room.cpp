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
  std::uint64_t device;
  std::uint64_t block;
  std::uint64_t freeBlocks;
};

std::optional<FileRoom> systemFileRoom(int descriptor) {
  struct stat status {};
  struct statvfs system {};
  if (::fstat(descriptor, &status) != 0 || ::fstatvfs(descriptor, &system) != 0) return std::nullopt;
  return FileRoom{static_cast<std::uint64_t>(status.st_dev),
                  static_cast<std::uint64_t>(status.st_blocks),
                  system.f_frsize,
                  system.f_blocks,
                  system.f_bfree,
                  system.f_bavail};
}

}  // namespace

RoomView systemRoomView() {
  RoomView view;
  rlimit sizeLimit{};
  if (::getrlimit(RLIMIT_FSIZE, &sizeLimit) == 0 && sizeLimit.rlim_cur != RLIM_INFINITY)
    view.sizeLimit = sizeLimit.rlim_cur;
  view.privileged = ::geteuid() == 0;
  view.fileRoom = systemFileRoom;
  return view;
}

std::expected<void, RoomFailure> checkInPlaceRoom(std::span<const InPlaceFile> files, const RoomView& view) {
  std::vector<FileSystemRoom> rooms;
  for (std::size_t index = 0; index < files.size(); ++index) {
    const InPlaceFile& file = files[index];
    if (file.descriptor < 0) continue;
    if (view.sizeLimit && file.newSize > *view.sizeLimit)
      return refuse(
          index, EFBIG,
          std::to_string(file.newSize) + " bytes, over the file size limit of " + std::to_string(*view.sizeLimit));
    const auto known = view.fileRoom(file.descriptor);
    // A file system that counts no blocks (as /proc) tells nothing about its room.
    if (!known || known->blockSize == 0 || known->totalBlocks == 0) continue;
    auto room = std::ranges::find(rooms, known->device, &FileSystemRoom::device);
    if (room == rooms.end()) {
      // Blocks kept back for root are root's to use.
      const std::uint64_t freeBlocks = view.privileged ? known->freeBlocks : known->availableBlocks;
      room = rooms.insert(rooms.end(), FileSystemRoom{known->device, known->blockSize, freeBlocks});
    }
    // Cutting the file first gives its own blocks back.
    const std::uint64_t wanted = file.newSize / room->block + (file.newSize % room->block != 0 ? 1 : 0);
    const std::uint64_t held = known->heldBlocks * 512 / room->block;
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
