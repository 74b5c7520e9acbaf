#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "main/platform_room.hpp"

namespace {

using namespace qovrin::main::platform;

constexpr std::uint64_t kBlock = 4096;

// A file system of 1,000 blocks of 4 KiB, `free` of them free, of which
// `available` are not kept back for root.
FileRoom on(std::uint64_t device, std::uint64_t free, std::uint64_t available, std::uint64_t heldBlocks = 0) {
  return FileRoom{device, heldBlocks * kBlock / 512, kBlock, 1000, free, available};
}

struct PosedFile {
  std::uint64_t newSize;
  std::optional<FileRoom> room;  // nothing: a write that cuts no file
};

// Files on file systems posed by each row, judged as the check judges the
// files of one run; `refused` is the index and cause of the file turned away.
TEST(InPlaceRoom, FilesAreJudgedByTheRoomTheirFileSystemsLeave) {
  struct Case {
    std::string_view what;
    std::vector<PosedFile> files;
    std::optional<std::pair<std::size_t, int>> refused;  // the index and the cause
    bool privileged = false;
    std::optional<std::uint64_t> sizeLimit = std::nullopt;
  };
  const std::optional<std::pair<std::size_t, int>> fits;
  const Case cases[] = {
      {"an output and a listing on one file system add up their blocks",
       {{6 * kBlock, on(1, 10, 10)}, {6 * kBlock, on(1, 10, 10)}},
       std::pair{1, ENOSPC}},
      {"on two file systems each takes its own room", {{6 * kBlock, on(1, 10, 10)}, {6 * kBlock, on(2, 10, 10)}}, fits},
      {"a replacement cuts nothing and takes no room",
       {{600 * kBlock, std::nullopt}, {6 * kBlock, on(1, 10, 10)}},
       fits},
      {"a rewrite that fits the file's own blocks needs none free", {{8 * kBlock, on(1, 0, 0, 8)}}, fits},
      {"a rewrite past its own blocks wants only the rest", {{10 * kBlock, on(1, 2, 2, 8)}}, fits},
      {"one byte into a block wants the whole block", {{8 * kBlock + 1, on(1, 0, 0, 8)}}, std::pair{0, ENOSPC}},
      {"root may take the blocks kept back for it", {{10 * kBlock, on(1, 20, 0)}}, fits, true},
      {"another user may not", {{10 * kBlock, on(1, 20, 0)}}, std::pair{0, ENOSPC}},
      {"a file of exactly the size limit", {{4096, on(1, 10, 10)}}, fits, false, 4096},
      {"a byte over the size limit", {{4097, on(1, 10, 10)}}, std::pair{0, EFBIG}, false, 4096},
      {"a file system that counts no blocks tells nothing", {{6 * kBlock, FileRoom{1, 0, kBlock, 0, 0, 0}}}, fits},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<InPlaceFile> files;
    std::map<int, FileRoom> rooms;
    for (const PosedFile& posed : c.files) {
      const int descriptor = posed.room ? static_cast<int>(files.size()) + 10 : -1;
      if (posed.room) rooms.emplace(descriptor, *posed.room);
      files.push_back({descriptor, posed.newSize});
    }
    RoomView view{c.sizeLimit, c.privileged,
                  [&rooms](int descriptor) -> std::optional<FileRoom> { return rooms.at(descriptor); }};
    const auto judged = checkInPlaceRoom(files, view);
    if (!c.refused) {
      EXPECT_TRUE(judged.has_value()) << judged.error().failure.cause;
      continue;
    }
    ASSERT_FALSE(judged.has_value());
    EXPECT_EQ(judged.error().index, c.refused->first);
    EXPECT_EQ(judged.error().failure.code, c.refused->second);
  }
}

}  // namespace
