// SPDX-License-Identifier: MIT
// Runs rastel-thumbnailer as file managers run it: through the Exec line of
// the entry that the install puts in share/thumbnailers, through Xfce's
// tumbler on a private D-Bus session bus as Thunar asks it, and inside the
// bubblewrap sandbox of GNOME's thumbnail factory. Each PNG is read back and
// compared with the reference decoding sampled the same way.

#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "image_format.h"
#include "picture_file.h"
#include "picture_reference.h"
#include "run_program.h"
#include "test_support.h"

namespace {

constexpr int kTumblerTimeoutMs = 60000;
constexpr std::int32_t kMaxSide = 32767;
// Where GNOME's thumbnail factory puts the file inside its sandbox, and
// where it wants the thumbnail.
constexpr const char* kSandboxInput = "/tmp/gnome-desktop-file-to-thumbnail.rastel";
constexpr const char* kSandboxOutput = "/tmp/gnome-desktop-thumbnailer.png";

struct Png {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // top row first
};

// The PNG's pixels as RGB, or nothing when it cannot be read.
Png ReadPng(const std::string& path) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
    return {};
  }
  image.format = PNG_FORMAT_RGB;
  Png png{static_cast<int>(image.width), static_cast<int>(image.height),
          std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image))};
  if (png_image_finish_read(&image, nullptr, png.rgb.data(), 0, nullptr) == 0) {
    return {};
  }
  return png;
}

// The thumbnail a file must get at a size: the reference decoding of its
// pixel bytes, sampled at the width and height given.
void ExpectThumbnailOf(const std::string& png_path, const std::string& file, int width, int height) {
  const Png png = ReadPng(png_path);
  ASSERT_EQ(png.width, width);
  ASSERT_EQ(png.height, height);
  const ImageHeader header = HeaderFromBytes(reinterpret_cast<const std::uint8_t*>(file.data()));
  const auto* const pixels = reinterpret_cast<const std::uint8_t*>(file.data()) + kHeaderSize;
  EXPECT_TRUE(png.rgb ==
              ReducedReference(pixels, file.size() - kHeaderSize, header.width, header.height, width, height));
}

class ThumbnailerTest : public TestWithFiles {
 protected:
  void SetUp() override {
    TestWithFiles::SetUp();
    stage_ = dir_ + "/stage";
    const ProgramResult installed = RunProgram({CMAKE_COMMAND, "--install", BUILD_DIR, "--prefix", stage_});
    ASSERT_EQ(installed.exit_status, 0) << installed.err;
  }

  // A key's value in the installed entry, "" where it has none.
  std::string EntryValue(const std::string& key) const {
    std::istringstream entry(ReadWholeFile(stage_ + "/share/thumbnailers/rastel.thumbnailer"));
    for (std::string line; std::getline(entry, line);) {
      if (line.starts_with(key + "=")) {
        return line.substr(key.size() + 1);
      }
    }
    return "";
  }

  // The entry's Exec line with its fields filled in, split at its spaces as
  // a file manager splits a line without quotes.
  std::vector<std::string> ExecLine(int size, const std::string& input, const std::string& output) const {
    std::vector<std::string> argv;
    std::istringstream words(EntryValue("Exec"));
    for (std::string word; words >> word;) {
      if (word == "%s") {
        word = std::to_string(size);
      } else if (word == "%i") {
        word = input;
      } else if (word == "%o") {
        word = output;
      }
      argv.push_back(word);
    }
    return argv;
  }

  // Runs the Exec line as a file manager does, the program found on a PATH
  // that holds what was installed.
  ProgramResult Thumbnail(int size, const std::string& input, const std::string& output) const {
    std::vector<std::string> argv = ExecLine(size, input, output);
    if (!argv.empty()) {
      argv[0] = stage_ + "/bin/" + argv[0];
    }
    return RunProgram(argv);
  }

  std::string stage_;
};

TEST_F(ThumbnailerTest, MakesUprightThumbnailsInTheFormatsColoursThroughTheInstalledEntry) {
  EXPECT_EQ(EntryValue("TryExec"), "rastel-thumbnailer");
  EXPECT_TRUE(std::filesystem::exists(stage_ + "/bin/" + EntryValue("TryExec")));
  EXPECT_EQ(EntryValue("MimeType"), "image/x-rastel;");
  struct Case {
    std::string name;
    std::string file;
    int size;  // asked for
    int width;
    int height;
    std::vector<std::uint8_t> expected{};  // where not the reference's
  };
  const std::string card = ReadWholeFile(TESTCARD);
  std::vector<std::uint8_t> all_red;
  for (int pixel = 0; pixel < 256 * 256; ++pixel) {
    all_red.insert(all_red.end(), {224, 0, 0});
  }
  std::vector<Case> cases = {
      {"the test card", card, 128, 102, 128},
      {"the test card at its own size", card, 1024, 256, 320},
      {"wider than tall", Picture(300, 40, RandomBytes(std::size_t{300} * 40, 1)), 128, 128, 17},
      {"one row", Picture(1000, 1, RandomBytes(1000, 2)), 64, 64, 1},
      {"data that ends early", Picture(80, 60, RandomBytes(80 * 20 + 7, 3)), 32, 32, 24},
      {"no pixel byte", Picture(50, 30, ""), 16, 16, 10},
      {"bytes after the picture", Picture(20, 10, RandomBytes(250, 4)), 256, 20, 10},
      {"a short file that claims the largest size", Picture(kMaxSide, kMaxSide, "\xE0"), 256, 256, 256, all_red},
  };
  if (!std::string_view(FFMPEG).empty()) {
    struct Made {
      const char* pattern;  // one of ffmpeg's test patterns
      const char* image;
      int size;
      int width;
      int height;
    };
    for (const Made& m : {Made{"testsrc=size=320x240", "pattern.png", 128, 128, 96},
                          Made{"smptebars=size=90x200", "bars.jpg", 64, 29, 64}}) {
      const std::string image = dir_ + "/" + m.image;
      Ffmpeg({"-f", "lavfi", "-i", m.pattern, "-frames:v", "1", image});
      cases.push_back(
          {std::string("to-rastel of ") + m.pattern, RunProgram({TO_RASTEL, image}).out, m.size, m.width, m.height});
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string output = dir_ + "/thumbnail.png";
    ExpectRun(Thumbnail(c.size, WriteFile("picture.rastel", c.file), output), "", 0);
    if (c.expected.empty()) {
      ExpectThumbnailOf(output, c.file, c.width, c.height);
    } else {
      EXPECT_TRUE(ReadPng(output).rgb == c.expected);
    }
  }

  const std::string output = dir_ + "/four.png";
  ExpectRun(Thumbnail(128, WriteFile("four.rastel", FourColourPicture()), output), "", 0);
  EXPECT_EQ(ReadPng(output).rgb, FourColourRgb());
}

TEST_F(ThumbnailerTest, RefusesWhatItCannotMakeAThumbnailOfSayingWhyAndLeavingNoOutput) {
  const std::string card = WriteFile("card.rastel", ReadWholeFile(TESTCARD));
  const std::string hard_link = dir_ + "/hard-link.png";
  const std::string symbolic_link = dir_ + "/symbolic-link.png";
  const std::string fifo = dir_ + "/fifo";
  std::filesystem::create_hard_link(card, hard_link);
  std::filesystem::create_symlink(card, symbolic_link);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string output = dir_ + "/thumbnail.png";
  // Each refusal, with what it says; every one leaves no output.
  const auto refusal = [&](const std::string& name, const std::vector<std::string>& args, const std::string& says,
                           int status = 1, const std::string& read_fault_after = "") {
    std::vector<std::string> argv = {RASTEL_THUMBNAILER};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env;
    if (!read_fault_after.empty()) {
      env = {std::string("LD_PRELOAD=") + READ_FAULT, "READ_FAULT_AFTER=" + read_fault_after,
             AsanOptionsAllowingPreload()};
    }
    return RunCase{name, argv, "", status, says, env, "", output};
  };
  std::vector<RunCase> cases = {
      refusal("a FIFO with no writer", {"-s", "128", fifo, output}, "shorter than the 12-byte header"),
      refusal("the input as output", {"-s", "128", card, card}, "it is the input itself"),
      refusal("the input through a hard link", {"-s", "128", card, hard_link}, "it is the input itself"),
      refusal("the input through a symbolic link", {"-s", "128", card, symbolic_link}, "it is the input itself"),
      refusal("missing file", {"-s", "128", dir_ + "/missing", output}, "cannot open"),
      refusal("directory", {"-s", "128", dir_, output}, "cannot read"),
      refusal("output in a missing folder", {"-s", "128", card, dir_ + "/missing/thumbnail.png"}, "cannot write"),
      refusal("output on a full disk", {"-s", "128", card, "/dev/full"}, "No space left on device"),
      refusal("size 0", {"-s", "0", card, output}, "from 1 to 4096, not '0'", 2),
      refusal("size beyond 4096", {"-s", "4097", card, output}, "from 1 to 4096", 2),
      refusal("size with a unit", {"-s", "128px", card, output}, "from 1 to 4096", 2),
      refusal("no output", {"-s", "128", card}, "usage: rastel-thumbnailer -s SIZE INPUT OUTPUT", 2),
      refusal("a read error in the header", {"-s", "128", card, output}, "cannot read", 1, "6"),
      refusal("a read error in the pixels", {"-s", "128", card, output}, "cannot read", 1, "5000"),
  };
  for (const HostileFile& hostile : HostileFiles()) {
    cases.push_back(refusal(hostile.name, {"-s", "128", WriteFile(hostile.name, hostile.bytes), output}, hostile.says));
  }
  ExpectCases(cases);
  struct stat full = {};
  EXPECT_TRUE(stat("/dev/full", &full) == 0 && S_ISCHR(full.st_mode)) << "/dev/full is no longer a device";
  EXPECT_EQ(ReadWholeFile(card), ReadWholeFile(TESTCARD));

  // Stopped by a file-size limit part way, it leaves the output as it was
  // and nothing beside it.
  WriteFile("thumbnail.png", "an earlier thumbnail");
  const ProgramResult limited = RunProgram(
      {"/bin/sh", "-c", "ulimit -f 1 && exec " + EmulatorPrefix() + "\"$0\" -s 1024 \"$1\" \"$2\"", RASTEL_THUMBNAILER,
       WriteFile("noise.rastel", Picture(1000, 1000, RandomBytes(std::size_t{1000} * 1000, 7))), output});
  EXPECT_NE(limited.exit_status, 0);
  EXPECT_NE(limited.err.find("File too large"), std::string::npos) << limited.err;
  EXPECT_EQ(ReadWholeFile(output), "an earlier thumbnail");
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("thumbnail.png.")) << entry.path() << " was left behind";
  }
}

// Thunar asks the thumbnail service on the session bus, which D-Bus starts
// on the first call. Tumbler reads the thumbnailers' entries only once it
// runs, and says it supports the type when it has; it writes the thumbnail
// in place, in the shared thumbnail cache under ~/.cache, and says so in
// a Ready signal to the caller alone, which dbus-monitor sees.
TEST_F(ThumbnailerTest, TumblerMakesTheThumbnailThunarAsksFor) {
  if (!EmulatorPrefix().empty()) {
    GTEST_SKIP() << "tumbler starts the thumbnailer itself, which needs a build for this machine";
  }
  const std::string picture = Picture(300, 200, RandomBytes(std::size_t{300} * 200, 6));
  const std::string path = WriteFile("picture.rastel", picture);
  const std::string cache = dir_ + "/cache";
  const RunningProgram bus = LaunchProgram({DBUS_DAEMON, "--session", "--nofork", "--print-address"},
                                           {"XDG_DATA_DIRS=" + stage_ + "/share:/usr/share", "XDG_CACHE_HOME=" + cache,
                                            "HOME=" + dir_, "PATH=" + stage_ + "/bin:/usr/bin:/bin"});
  std::string address = ReadUntil(bus.out_fd, "\n", kTumblerTimeoutMs);
  ASSERT_FALSE(address.empty()) << "the session bus did not start";
  address.pop_back();
  const std::vector<std::string> on_bus = {"DBUS_SESSION_BUS_ADDRESS=" + address};
  const auto call = [&](const std::string& method, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {GDBUS,
                                     "call",
                                     "--session",
                                     "--dest",
                                     "org.freedesktop.thumbnails.Thumbnailer1",
                                     "--object-path",
                                     "/org/freedesktop/thumbnails/Thumbnailer1",
                                     "--method",
                                     "org.freedesktop.thumbnails.Thumbnailer1." + method};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, on_bus);
  };
  const bool supported =
      PollUntil([&] { return call("GetSupported", {}).out.find("image/x-rastel") != std::string::npos; },
                kTumblerTimeoutMs, std::chrono::milliseconds(100));
  const RunningProgram monitor = LaunchProgram(
      {DBUS_MONITOR, "--session", "type='signal',interface='org.freedesktop.thumbnails.Thumbnailer1'"}, on_bus);
  // Its own name, given and given up as it turns monitor, comes first.
  ReadUntil(monitor.out_fd, "member=NameLost", kTumblerTimeoutMs);
  const ProgramResult queued =
      call("Queue", {"['file://" + path + "']", "['image/x-rastel']", "normal", "default", "0"});
  const std::string signals = ReadUntil(monitor.out_fd, "member=Finished", kTumblerTimeoutMs);
  kill(monitor.pid, SIGTERM);
  FinishProgram(monitor, kTumblerTimeoutMs);
  kill(bus.pid, SIGTERM);
  FinishProgram(bus, kTumblerTimeoutMs);
  ASSERT_TRUE(supported) << "tumbler never said it supports image/x-rastel";
  EXPECT_EQ(queued.exit_status, 0) << queued.err;
  ASSERT_NE(signals.find("member=Ready"), std::string::npos) << signals;
  std::string made;
  for (const auto& entry : std::filesystem::directory_iterator(cache + "/thumbnails/normal")) {
    made = entry.path();
  }
  ExpectThumbnailOf(made, picture, 128, 85);
}

// GNOME's thumbnail factory runs the Exec line in a sandbox that holds /usr
// and little else, with every namespace its own: a thumbnailer that needs
// anything more fails here first. A source install lies in /usr/local.
TEST_F(ThumbnailerTest, MakesAThumbnailInTheSandboxOfGnomesThumbnailFactory) {
  if (!EmulatorPrefix().empty()) {
    GTEST_SKIP() << "the sandbox runs the thumbnailer itself, which needs a build for this machine";
  }
  const std::string picture = Picture(64, 300, RandomBytes(std::size_t{64} * 300, 7));
  const std::string out = dir_ + "/out";
  std::filesystem::create_directory(out);
  std::vector<std::string> argv = {
      BWRAP, "--ro-bind", "/usr", "/usr", "--ro-bind", "/etc/ld.so.cache", "/etc/ld.so.cache"};
  for (const std::string folder : {"/bin", "/lib", "/lib64", "/sbin"}) {
    if (std::filesystem::is_symlink(folder)) {
      argv.insert(argv.end(), {"--symlink", std::filesystem::read_symlink(folder), folder});
    } else if (std::filesystem::exists(folder)) {
      argv.insert(argv.end(), {"--ro-bind", folder, folder});
    }
  }
  argv.insert(argv.end(), {"--proc",
                           "/proc",
                           "--dev",
                           "/dev",
                           "--chdir",
                           "/",
                           "--setenv",
                           "GIO_USE_VFS",
                           "local",
                           "--unshare-all",
                           "--die-with-parent",
                           "--ro-bind",
                           stage_,
                           "/usr/local",
                           "--bind",
                           out,
                           "/tmp",
                           "--ro-bind",
                           WriteFile("picture.rastel", picture),
                           kSandboxInput});
  std::vector<std::string> probe = argv;
  probe.emplace_back("true");
  const ProgramResult sandbox = RunProgram(probe);
  if (sandbox.exit_status != 0) {
    GTEST_SKIP() << "bubblewrap cannot make a sandbox here: " << sandbox.err;
  }
  const std::vector<std::string> exec = ExecLine(256, kSandboxInput, kSandboxOutput);
  argv.insert(argv.end(), exec.begin(), exec.end());
  ExpectRun(RunProgram(argv, {"PATH=/usr/local/bin:/usr/bin:/bin"}), "", 0);
  ExpectThumbnailOf(out + "/" + std::filesystem::path(kSandboxOutput).filename().string(), picture, 55, 256);
}

}  // namespace
