#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

#include "main/include_resolution.hpp"
#include "main/output_files.hpp"
#include "main/platform.hpp"
#include "main/platform_input.hpp"
#include "temp_tree.hpp"

namespace {

namespace fs = std::filesystem;
using namespace qovrin::main;

using qovrin_test::TempTree;

TEST(OutputFiles, DefaultOutputPathReplacesOnlyTheLastComponentsSuffix) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"demo.qov", "demo.bin"},         {"src/demo.qov", "src/demo.bin"}, {"demo", "demo.bin"},
      {"build.d/demo", "build.d/demo.bin"}, {"./demo", "./demo.bin"},   {".hidden", ".hidden.bin"},
      {"a.b.qov", "a.b.bin"},           {"x.bin", "x.bin"}};
  for (const auto& [source, output] : cases) EXPECT_EQ(defaultOutputPath(source), output) << source;
}

TEST_F(TempTree, OutputFilesCreateDirectoriesAndReplaceWhole) {
  ASSERT_TRUE(writeOutputFile("out/bin/d.bin", "a longer old content").has_value());
  ASSERT_TRUE(writeOutputFile("out/bin/d.bin", std::string("\x01\x00\x03", 3)).has_value());
  EXPECT_EQ(slurp("out/bin/d.bin"), std::string("\x01\x00\x03", 3));
  ASSERT_TRUE(writeOutputFile("empty.bin", "").has_value());
  EXPECT_EQ(fs::file_size("empty.bin"), 0u);
  EXPECT_EQ(std::distance(fs::directory_iterator("out/bin"), fs::directory_iterator()), 1);

  EXPECT_EQ(writeOutputFile("", "x").error().error, qovrin::Error::FileNotFound);
  fs::create_directories("taken");
  EXPECT_FALSE(writeOutputFile("taken", "x").has_value());
  EXPECT_TRUE(fs::is_directory("taken"));

  EXPECT_EQ(readSourceFile("missing.qov").error(), qovrin::Error::FileNotFound);
  EXPECT_EQ(readSourceFile("taken").error(), qovrin::Error::ReadFailed);
  put("crlf.qov", "db(1)\r\n");
  EXPECT_EQ(readSourceFile("crlf.qov").value(), "db(1)\r\n");
}

TEST(IncludeResolution, PathRules) {
  for (std::string_view name : {"/a.inc", "\\lib\\a.inc", "C:\\lib\\a.inc", "c:/lib/a.inc"})
    EXPECT_TRUE(isAbsoluteIncludeName(name)) << name;
  for (std::string_view name : {"a.inc", "1:/a.inc", "C:a.inc", "", "C:"}) EXPECT_FALSE(isAbsoluteIncludeName(name));

  EXPECT_EQ(joinPath("/", "include"), "/include");
  EXPECT_EQ(joinPath("/w/", "/a.inc"), "/w/a.inc");
  EXPECT_EQ(joinPath("", "a.inc"), "a.inc");
  EXPECT_EQ(joinPath("w", ""), "w");

  EXPECT_EQ(resolveIncludePath("src/main.qov", "lib/a.inc"), "src/lib/a.inc");
  EXPECT_EQ(resolveIncludePath("main.qov", "a.inc"), "a.inc");
  EXPECT_EQ(resolveIncludePath("/main.qov", "a.inc"), "/a.inc");
  EXPECT_EQ(resolveIncludePath("src\\main.qov", "a.inc"), "src/a.inc");
}

TEST_F(TempTree, IncludeSearchOrderAndListings) {
  put("src/lib/a.inc", "beside");
  put("include/lib/a.inc", "working");
  put("include/lib/b.inc", "working b");
  put("exe/include/c.inc", "exe");
  put("src/b.inc/placeholder", "");  // a folder named like the file is passed over
  const IncludeRoots roots{fs::current_path().string(), (fs::current_path() / "exe/include").string()};
  const std::string_view base = "src/main.qov";

  auto a = resolveFileInclude(roots, "lib/a.inc", base);
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(a->path, "src/lib/a.inc");
  EXPECT_EQ(a->text, "beside");
  EXPECT_EQ(a->realPath, fs::canonical("src/lib/a.inc").string());

  auto b = resolveFileInclude(roots, "lib/b.inc", base);
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->path, roots.workingDir + "/include/lib/b.inc");
  EXPECT_EQ(resolveFileInclude(roots, "c.inc", base)->text, "exe");
  EXPECT_EQ(resolveFileInclude(roots, "b.inc", base).error(), qovrin::Error::IncludeNotAvailable);
  EXPECT_EQ(resolveFileInclude(roots, "c.inc", std::nullopt)->text, "exe");
  const IncludeRoots noExe{roots.workingDir, std::nullopt};
  EXPECT_EQ(resolveFileInclude(noExe, "c.inc", base).error(), qovrin::Error::IncludeNotAvailable);
  // An absolute name is tried alone.
  EXPECT_EQ(resolveFileInclude(roots, "/nonexistent/c.inc", base).error(), qovrin::Error::IncludeNotAvailable);
  EXPECT_EQ(resolveFileInclude(roots, (root_ / "src/lib/a.inc").string(), std::nullopt)->text, "beside");

  for (std::string_view name : {"b", "a.txt", "B", "a"}) put(fs::path("list") / name, "");
  fs::create_directories("list/sub");
  const auto listing = listFileIncludeDirectory(roots, "list", "main.qov");
  ASSERT_TRUE(listing.has_value());
  EXPECT_EQ(*listing, (std::vector<std::string>{"B", "a", "a.txt", "b", "sub"}));
  EXPECT_EQ(listFileIncludeDirectory(roots, "nothing", base).error(), qovrin::Error::IncludeNotAvailable);

  EXPECT_TRUE(isFileIncludeDirectory(roots, "lib", base));
  EXPECT_FALSE(isFileIncludeDirectory(roots, "lib/a.inc", base));
  fs::create_directories("exe/include/only-here");
  EXPECT_TRUE(isFileIncludeDirectory(roots, "only-here", base));

  EXPECT_EQ(canonicalFileIdentity("src/../src/lib/a.inc"), a->realPath);
  EXPECT_FALSE(canonicalFileIdentity("missing.qov").has_value());
}

// Paths past the 1,024-byte buffers of include search say so: an include
// that opens but whose real path does not fit, and a working folder as deep.
TEST_F(TempTree, PathsTooLongForIncludeSearchSaySo) {
  fs::path deep = "deep";
  while ((root_ / deep).string().size() < 1100) deep /= std::string(60, 'd');
  put(deep / "x.inc", "db(1)\n");
  const IncludeRoots roots{fs::current_path().string(), std::nullopt};
  const std::string name = (deep / "x.inc").string();
  EXPECT_EQ(resolveFileInclude(roots, name, "main.qov").error(), qovrin::Error::IncludeNotAvailable);
  const auto cause = unreadableInclude(roots, name, "main.qov");
  ASSERT_TRUE(cause.has_value());
  EXPECT_TRUE(cause->ends_with("bytes, more than the 1023 that include paths can hold")) << *cause;
  EXPECT_FALSE(unreadableInclude(roots, "deep/none.inc", "main.qov").has_value());

  fs::current_path(deep);
  EXPECT_FALSE(buildIncludeRoots().has_value());
  const auto why = platform::currentDirectoryFailure();
  EXPECT_EQ(why.error, qovrin::Error::NameTooLong);
  EXPECT_TRUE(why.cause.starts_with("the working folder's path has ")) << why.cause;
  fs::current_path(root_);
}

TEST_F(TempTree, InputsAreRegularFilesReadNoFurtherThanAsked) {
  using platform::InputRead;
  using platform::InputWindow;
  put("data.bin", "0123456789");
  fs::create_symlink("data.bin", "data-link");
  ASSERT_EQ(::mkfifo("pipe", 0600), 0);
  fs::create_symlink("pipe", "pipe-link");
  fs::create_directories("folder");

  const InputRead whole{};
  const InputRead probe{std::nullopt, false};
  const auto window = [](std::uint64_t offset, std::uint64_t length) {
    return InputRead{InputWindow{offset, length}, true};
  };
  const std::tuple<std::string, InputRead, qovrin::Result<std::string>> cases[] = {
      {"data.bin", whole, std::string("0123456789")},
      {"data-link", window(4, 3), std::string("456")},
      {"data.bin", window(10, 0), std::string()},
      {"data.bin", window(11, 0), qovrin::fail(qovrin::Error::InvalidApiInteger)},
      {"data.bin", window(4, 7), qovrin::fail(qovrin::Error::InvalidApiInteger)},
      {"data.bin", window(1, ~std::uint64_t{0}), qovrin::fail(qovrin::Error::InvalidApiInteger)},
      {"data.bin", probe, std::string()},
      {"pipe", whole, qovrin::fail(qovrin::Error::ReadFailed)},
      {"pipe-link", probe, qovrin::fail(qovrin::Error::ReadFailed)},
      {"/dev/zero", window(0, 16), qovrin::fail(qovrin::Error::ReadFailed)},
      {"/dev/zero", whole, qovrin::fail(qovrin::Error::ReadFailed)},
      {"folder", whole, qovrin::fail(qovrin::Error::ReadFailed)},
      {"missing", probe, qovrin::fail(qovrin::Error::FileNotFound)},
  };
  for (const auto& [path, read, expected] : cases) EXPECT_EQ(platform::readRegularFile(path, read), expected) << path;

  // A special file where the search looks first is passed over like a missing one.
  put("include/pipe", "found");
  const IncludeRoots roots{fs::current_path().string(), std::nullopt};
  EXPECT_EQ(resolveFileInclude(roots, "pipe", "main.qov")->text, "found");
  EXPECT_EQ(resolveFileInclude(roots, "data.bin", "main.qov", window(2, 2))->text, "23");
  EXPECT_EQ(resolveFileInclude(roots, "data.bin", "main.qov", window(9, 2)).error(), qovrin::Error::InvalidApiInteger);
  EXPECT_EQ(resolveFileInclude(roots, "/dev/zero", std::nullopt).error(), qovrin::Error::IncludeNotAvailable);
}

TEST_F(TempTree, InputsPastTheLimitAreRefusedByTheirSize) {
  using platform::InputRead;
  using platform::InputWindow;
  constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
  put("data.bin", "0123456789");
  // Sparse: reading it whole would take 3 GiB of memory and many seconds.
  put("huge.bin", "");
  fs::resize_file("huge.bin", 3 * kGiB);
  const auto limited = [](std::optional<InputWindow> window, std::uint64_t limit) {
    return InputRead{window, true, limit};
  };
  const auto tooLarge = qovrin::fail(qovrin::Error::OutputTooLarge);
  const std::tuple<std::string, InputRead, qovrin::Result<std::string>> cases[] = {
      {"data.bin", limited(std::nullopt, 10), std::string("0123456789")},
      {"data.bin", limited(std::nullopt, 9), tooLarge},
      {"data.bin", limited(InputWindow{2, 5}, 5), std::string("23456")},
      {"data.bin", limited(InputWindow{2, 5}, 4), tooLarge},
      {"data.bin", limited(InputWindow{8, 5}, 4), qovrin::fail(qovrin::Error::InvalidApiInteger)},
      {"huge.bin", limited(std::nullopt, 2 * kGiB), tooLarge},
      {"huge.bin", limited(InputWindow{3 * kGiB - 4, 4}, 2 * kGiB), std::string(4, '\0')},
      // Files under /proc report no size: what is there is read.
      {"/proc/self/status", limited(InputWindow{0, 5}, 64), std::string("Name:")},
      {"/proc/self/status", limited(std::nullopt, 5), tooLarge},
      {"/proc/self/status", limited(InputWindow{kGiB, 1}, 64), qovrin::fail(qovrin::Error::InvalidApiInteger)},
  };
  for (const auto& [path, read, expected] : cases) EXPECT_EQ(platform::readRegularFile(path, read), expected) << path;

  const IncludeRoots roots{fs::current_path().string(), std::nullopt};
  EXPECT_EQ(resolveFileInclude(roots, "huge.bin", "main.qov", limited(std::nullopt, kGiB)).error(),
            qovrin::Error::OutputTooLarge);
}

// Read straight into the string: through many pieces where the size is not
// known ahead, in one where it is, without growing past a file that fits.
TEST_F(TempTree, FilesAreReadIntoTheirStringsWhole) {
  std::string pattern(200'000, '\0');
  for (std::size_t index = 0; index < pattern.size(); ++index) pattern[index] = static_cast<char>(index * 7 % 251);
  put("big.bin", pattern);

  const auto read = platform::readRegularFile("big.bin", platform::InputRead{});
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, pattern);
  EXPECT_LT(read->capacity(), 2 * pattern.size());

  struct Case {
    std::optional<std::uint64_t> position;
    std::uint64_t wanted;
    std::string expected;
  };
  const Case cases[] = {
      {std::nullopt, ~std::uint64_t{0}, "head" + pattern},
      {std::nullopt, 70'000, "head" + pattern.substr(0, 70'000)},
      {150'000, ~std::uint64_t{0}, "head" + pattern.substr(150'000)},
      {199'999, 10, "head" + pattern.substr(199'999)},
      {200'000, 10, "head"},
  };
  for (const Case& test : cases) {
    const int fd = ::open("big.bin", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::string bytes = "head";
    EXPECT_TRUE(platform::appendFromFile(fd, bytes, test.position, test.wanted).has_value());
    ::close(fd);
    EXPECT_EQ(bytes, test.expected) << test.position.value_or(0) << " " << test.wanted;
  }
}

}  // namespace
