// SPDX-License-Identifier: MIT
// to-rastel: makes a rastel picture of a picture that ffmpeg reads (PNG,
// JPEG, GIF, a frame of a video, ...), on standard output. ffmpeg decodes
// one frame to RGB, which tells its own size, so the header always
// describes the pixels that follow it; to-rastel itself reduces each pixel
// to the format's colours, dithered in the format's own levels so that a
// photograph keeps its colours on average, or with -n to the top bits of
// each component. Nothing is written unless the whole picture is.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "dither.h"
#include "image_format.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr std::size_t kPathSize = 4096;
constexpr std::size_t kLongestExtension = 16;
constexpr std::size_t kFormatNameSize = 64;
constexpr int kPpmMaxValue = 255;

int Usage() {
  static_cast<void>(
      std::fputs("usage: to-rastel [-n] IMAGE > PICTURE\n"
                 "Writes IMAGE (any picture ffmpeg reads; of a video, its first frame) as a\n"
                 "rastel picture, dithered in the format's own colours so that a photo keeps\n"
                 "its colours and gradients; -n turns dithering off, and each pixel then keeps\n"
                 "the top bits of its own colour.\n",
                 stderr));
  return kExitUsage;
}

int Fail(const char* message, const char* name) {
  static_cast<void>(std::fprintf(stderr, "to-rastel: "));
  static_cast<void>(std::fprintf(stderr, message, name));
  static_cast<void>(std::fputc('\n', stderr));
  return kExitFailure;
}

// ffmpeg takes a name with % in it as a numbered sequence, and a name ending
// in .txt as text to draw, so it is handed a link of the program's own
// naming, which keeps only a plain extension, the hint some formats need.
struct Link {
  char folder[kPathSize];
  char path[kPathSize + kLongestExtension + sizeof "/picture."];
};

bool PlainExtension(std::string_view extension) {
  return !extension.empty() && extension.size() <= kLongestExtension &&
         std::all_of(extension.begin(), extension.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

bool MakeLink(const char* image, Link& link) {
  char target[kPathSize];
  if (realpath(image, target) == nullptr) {
    return false;
  }
  const char* const temporary = std::getenv("TMPDIR");
  const int length = std::snprintf(link.folder, sizeof link.folder, "%s/to-rastel.XXXXXX",
                                   temporary != nullptr && *temporary != '\0' ? temporary : "/tmp");
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof link.folder || mkdtemp(link.folder) == nullptr) {
    return false;
  }
  // Without substr, whose range check would bring in the C++ runtime.
  const char* const slash = std::strrchr(image, '/');
  const char* const base = slash != nullptr ? slash + 1 : image;
  const char* const dot = std::strrchr(base, '.');
  const std::string_view extension = dot != nullptr ? std::string_view(dot + 1) : std::string_view();
  static_cast<void>(
      std::snprintf(link.path, sizeof link.path, "%s/picture%s%.*s", link.folder, PlainExtension(extension) ? "." : "",
                    PlainExtension(extension) ? static_cast<int>(extension.size()) : 0, extension.data()));
  if (symlink(target, link.path) != 0) {
    rmdir(link.folder);
    return false;
  }
  return true;
}

void RemoveLink(const Link& link) {
  unlink(link.path);
  rmdir(link.folder);
}

// Starts `argv` with its standard output on a pipe, which `output` reads.
// False with errno (ENOENT where the program is missing).
bool Start(const char* const* argv, pid_t& pid, std::FILE*& output) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    return false;
  }
  posix_spawn_file_actions_t actions;
  int error = posix_spawn_file_actions_init(&actions);
  if (error == 0) {
    error = posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  }
  if (error == 0) {
    error = posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  if (error != 0) {
    close(ends[0]);
    errno = error;
    return false;
  }
  output = fdopen(ends[0], "rb");
  return output != nullptr;
}

// A program that could not be started may also show as one that exited
// with this status: POSIX allows posix_spawn to report it so, and under
// qemu-user it does.
constexpr int kNotStarted = 127;

// The program's exit status, -1 where it did not exit. Closing first lets a
// program still writing end on a broken pipe.
int ExitStatus(pid_t pid, std::FILE* output) {
  const bool closed = std::fclose(output) == 0;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return -1;
    }
  }
  return closed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Missing(const char* tool) {
  static_cast<void>(
      std::fprintf(stderr, "to-rastel: %s is missing: install the ffmpeg package (sudo apt install ffmpeg)\n", tool));
  return kExitFailure;
}

// ffmpeg reads a text file as a picture of its characters; that is no
// picture to make a rastel picture of.
int CheckIsPicture(const Link& link, const char* image) {
  const char* const argv[] = {"ffprobe",           "-v",      "quiet", "-show_entries", "format=format_name", "-of",
                              "default=nw=1:nk=1", link.path, nullptr};
  pid_t pid = 0;
  std::FILE* output = nullptr;
  if (!Start(argv, pid, output)) {
    return errno == ENOENT ? Missing("ffprobe") : Fail("cannot start ffprobe on %s", image);
  }
  char format[kFormatNameSize] = {};
  const bool named = std::fgets(format, sizeof format, output) != nullptr;
  const int status = ExitStatus(pid, output);
  if (status == kNotStarted) {
    return Missing("ffprobe");
  }
  if (status != 0 || !named) {
    return Fail("%s is not a picture that ffmpeg reads", image);
  }
  if (std::string_view(format) == "tty\n") {
    return Fail("%s is text, not a picture", image);
  }
  return kExitSuccess;
}

// A number of the binary PPM's header, after white space.
bool ReadPpmNumber(std::FILE* input, std::int32_t& number) {
  int c = std::fgetc(input);
  while (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
    c = std::fgetc(input);
  }
  std::int64_t value = 0;
  bool digits = false;
  for (; c >= '0' && c <= '9' && value <= kMaxSide; c = std::fgetc(input), digits = true) {
    value = value * 10 + (c - '0');
  }
  number = static_cast<std::int32_t>(std::min<std::int64_t>(value, kMaxSide + 1));
  return digits;
}

// The header of the binary PPM that ffmpeg writes: "P6", the width, the
// height and the largest value, each after white space, and one white
// space before the pixels. A side beyond kMaxSide reads as kMaxSide + 1.
bool ReadPpmHeader(std::FILE* input, std::int32_t& width, std::int32_t& height) {
  std::int32_t largest = 0;
  return std::fgetc(input) == 'P' && std::fgetc(input) == '6' && ReadPpmNumber(input, width) &&
         ReadPpmNumber(input, height) && ReadPpmNumber(input, largest) && largest == kPpmMaxValue;
}

// Reads the frame, row by row, into `pixels`, one format byte a pixel, top
// row first.
bool ReadFrame(std::FILE* input, std::int32_t width, std::int32_t height, bool dither, std::uint8_t* pixels) {
  const std::size_t row_bytes = static_cast<std::size_t>(width) * kRgbBytes;
  auto* const row = static_cast<std::uint8_t*>(std::malloc(row_bytes));
  DitherState state{};
  bool read = row != nullptr && StartDithering(state, width);
  for (std::int32_t y = 0; read && y < height; ++y) {
    read = std::fread(row, 1, row_bytes, input) == row_bytes;
    std::uint8_t* const target = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    if (read && dither) {
      DitherRow(state, row, target);
    } else if (read) {
      TopBitsOfRow(row, width, target);
    }
  }
  StopDithering(state);
  std::free(row);
  return read;
}

void PutField(std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    static_cast<void>(std::putchar(static_cast<int>((value >> shift) & 0xFF)));
  }
}

int WritePicture(const std::uint8_t* pixels, std::int32_t width, std::int32_t height) {
  PutField(kMagic);
  PutField(static_cast<std::uint32_t>(width));
  PutField(static_cast<std::uint32_t>(height));
  for (std::int32_t y = height - 1; y >= 0; --y) {
    static_cast<void>(std::fwrite(pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width), 1,
                                  static_cast<std::size_t>(width), stdout));
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    return Fail("cannot write the picture: %s", std::strerror(errno));
  }
  return kExitSuccess;
}

int Convert(const Link& link, const char* image, bool dither) {
  const char* const argv[] = {"ffmpeg",   "-v",      "error",      "-nostdin", "-noautorotate",
                              "-i",       link.path, "-frames:v",  "1",        "-sws_dither",
                              "none",     "-f",      "image2pipe", "-c:v",     "ppm",
                              "-pix_fmt", "rgb24",   "pipe:1",     nullptr};
  pid_t pid = 0;
  std::FILE* frame = nullptr;
  if (!Start(argv, pid, frame)) {
    return errno == ENOENT ? Missing("ffmpeg") : Fail("cannot start ffmpeg on %s", image);
  }
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint8_t* pixels = nullptr;
  bool read = ReadPpmHeader(frame, width, height);
  const bool fits = read && width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide;
  if (fits) {
    pixels =
        static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(width) * static_cast<std::size_t>(height)));
    read = pixels != nullptr && ReadFrame(frame, width, height, dither, pixels);
  }
  const int exit_status = ExitStatus(pid, frame);
  const bool decoded = exit_status == 0 && read;
  int status = kExitSuccess;
  if (exit_status == kNotStarted) {
    status = Missing("ffmpeg");
  } else if (!decoded && fits) {
    status = Fail("ffmpeg could not decode %s", image);
  } else if (!fits && read) {
    static_cast<void>(std::fprintf(stderr, "to-rastel: %s is %d x %d: rastel shows sides of 1 to %d pixels\n", image,
                                   width, height, kMaxSide));
    status = kExitFailure;
  } else if (!decoded) {
    status = Fail("%s is not a picture that ffmpeg reads", image);
  } else {
    status = WritePicture(pixels, width, height);
  }
  std::free(pixels);
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  const bool dither = argc <= 1 || std::string_view(argv[1]) != "-n";
  if (argc != (dither ? 2 : 3)) {
    return Usage();
  }
  const char* const image = argv[argc - 1];
  struct stat status = {};
  if (stat(image, &status) != 0 || !S_ISREG(status.st_mode) || access(image, R_OK) != 0) {
    return Fail("cannot read %s", image);
  }
  Link link{};
  if (!MakeLink(image, link)) {
    return Fail("cannot read %s", image);
  }
  int result = CheckIsPicture(link, image);
  if (result == kExitSuccess) {
    result = Convert(link, image, dither);
  }
  RemoveLink(link);
  return result;
}
