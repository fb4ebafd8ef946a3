// Loaded with LD_PRELOAD: answers the calls a program makes for /dev/video0 from a
// VirtualCamera and passes every other call on to the C library. A program reaches the
// device through the libc functions (Wine's own code) or through raw syscall() (libv4l2,
// which Wine uses where it is installed); both routes are answered. The descriptor handed
// out is a real one, open on /dev/null, so fcntl, fstat and dup work on it as usual.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "VirtualCamera.h"

using v4l2camera::VirtualCamera;

namespace {

constexpr const char* kDevicePath = "/dev/video0";

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

VirtualCamera& Camera() {
  static VirtualCamera camera(
      v4l2camera::ReadCameraOptions([](const char* name) -> const char* { return getenv(name); }));
  return camera;
}

// Descriptors open on the camera in this process: most calls of a program are on other
// files, and need not take the camera's lock while none is open.
std::atomic<int> openDescriptors{0};

bool IsCameraDescriptor(int fd) { return openDescriptors.load() > 0 && Camera().IsCamera(fd); }

bool IsDevicePath(const char* path) { return path && std::strcmp(path, kDevicePath) == 0; }

// The libc convention: -1 with errno, or the value.
long Result(long value) {
  if (value >= 0) return value;
  errno = int(-value);
  return -1;
}

void Log(const std::string& line) {
  if (line.empty()) return;
  const char* path = getenv("TESMO_V4L2_LOG");
  if (!path || !*path) return;
  if (FILE* file = std::fopen(path, "a")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

int OpenCamera(int flags) {
  using OpenFunction = int (*)(const char*, int, ...);
  static const auto realOpen = Next<OpenFunction>("open");
  if (!Camera().Present()) return int(Result(-ENOENT));
  const int fd = realOpen("/dev/null", O_RDWR | (flags & (O_CLOEXEC | O_NONBLOCK)));
  if (fd < 0) return fd;
  const int opened = Camera().Open(fd);
  if (opened < 0) {
    ::close(fd);
    return int(Result(opened));
  }
  ++openDescriptors;
  return fd;
}

long ReadCamera(int fd, void* buffer, size_t size) {
  const bool blocking = !(fcntl(fd, F_GETFL) & O_NONBLOCK);
  for (;;) {
    const auto now = VirtualCamera::Clock::now();
    const long got = Camera().Read(fd, buffer, size, now);
    if (got != -EAGAIN) return Result(got);
    // Wine reads a non-blocking descriptor and retries at once on EAGAIN: waiting a little
    // here keeps that loop from taking a whole core, and no frame comes later for it.
    auto wait = Camera().UntilNextFrame(fd, now);
    if (!blocking)
      wait = std::min<VirtualCamera::Clock::duration>(wait, std::chrono::milliseconds(2));
    std::this_thread::sleep_for(wait);
    if (!blocking) return Result(-EAGAIN);
  }
}

// The device's answer; a control set is logged, so a check can see what reached it.
long IoctlCamera(int fd, unsigned long request, void* arg) {
  const long result = Camera().Ioctl(fd, request, arg);
  if (result == 0 && uint32_t(request) == uint32_t(VIDIOC_S_CTRL)) {
    const auto* control = static_cast<const v4l2_control*>(arg);
    Log(std::string("v4l2 camera: control ") + VirtualCamera::ControlName(control->id) +
        " set to " + std::to_string(control->value));
  }
  return result;
}

int CloseCamera(int fd) {
  Log(Camera().Close(fd));
  --openDescriptors;
  using CloseFunction = int (*)(int);
  static const auto realClose = Next<CloseFunction>("close");
  return realClose(fd);
}

int StatDevice(struct stat* status) {
  if (!Camera().Present()) return int(Result(-ENOENT));
  std::memset(status, 0, sizeof *status);
  status->st_mode = S_IFCHR | 0660;
  status->st_rdev = makedev(81, 0);  // the V4L2 major number
  status->st_nlink = 1;
  status->st_blksize = 4096;
  return 0;
}

int ModeFlags(int flags, va_list args, mode_t& mode) {
  mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(args, int)) : 0;
  return flags;
}

// What a leak of the program's would leave: descriptors still open on the camera.
__attribute__((destructor)) void ReportOpenDescriptors() {
  if (openDescriptors.load() > 0)
    Log("v4l2 camera: the process ends with " + std::to_string(openDescriptors.load()) +
        " descriptors open on the camera");
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int stat(const char* path, struct stat* status) {
  if (IsDevicePath(path)) return StatDevice(status);
  using Function = int (*)(const char*, struct stat*);
  static const auto real = Next<Function>("stat");
  return real(path, status);
}

__attribute__((visibility("default"))) int stat64(const char* path, struct stat64* status) {
  if (IsDevicePath(path)) return StatDevice(reinterpret_cast<struct stat*>(status));
  using Function = int (*)(const char*, struct stat64*);
  static const auto real = Next<Function>("stat64");
  return real(path, status);
}

#define TESMO_OPEN(name)                                                              \
  __attribute__((visibility("default"))) int name(const char* path, int flags, ...) { \
    mode_t mode;                                                                      \
    va_list args;                                                                     \
    va_start(args, flags);                                                            \
    ModeFlags(flags, args, mode);                                                     \
    va_end(args);                                                                     \
    if (IsDevicePath(path)) return OpenCamera(flags);                                 \
    using Function = int (*)(const char*, int, ...);                                  \
    static const auto real = Next<Function>(#name);                                   \
    return real(path, flags, mode);                                                   \
  }
TESMO_OPEN(open)
TESMO_OPEN(open64)
#undef TESMO_OPEN

#define TESMO_OPENAT(name)                                                                    \
  __attribute__((visibility("default"))) int name(int directory, const char* path, int flags, \
                                                  ...) {                                      \
    mode_t mode;                                                                              \
    va_list args;                                                                             \
    va_start(args, flags);                                                                    \
    ModeFlags(flags, args, mode);                                                             \
    va_end(args);                                                                             \
    if (IsDevicePath(path)) return OpenCamera(flags);                                         \
    using Function = int (*)(int, const char*, int, ...);                                     \
    static const auto real = Next<Function>(#name);                                           \
    return real(directory, path, flags, mode);                                                \
  }
TESMO_OPENAT(openat)
TESMO_OPENAT(openat64)
#undef TESMO_OPENAT

// The fortified forms a program built with _FORTIFY_SOURCE calls.
__attribute__((visibility("default"))) int __open_2(const char* path, int flags) {
  return open(path, flags);
}
__attribute__((visibility("default"))) int __open64_2(const char* path, int flags) {
  return open64(path, flags);
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if (IsCameraDescriptor(fd)) return int(Result(IoctlCamera(fd, request, arg)));
  using Function = int (*)(int, unsigned long, ...);
  static const auto real = Next<Function>("ioctl");
  return real(fd, request, arg);
}

__attribute__((visibility("default"))) ssize_t read(int fd, void* buffer, size_t size) {
  if (IsCameraDescriptor(fd)) return ReadCamera(fd, buffer, size);
  using Function = ssize_t (*)(int, void*, size_t);
  static const auto real = Next<Function>("read");
  return real(fd, buffer, size);
}

__attribute__((visibility("default"))) ssize_t __read_chk(int fd, void* buffer, size_t size,
                                                          size_t) {
  return read(fd, buffer, size);
}

__attribute__((visibility("default"))) int close(int fd) {
  if (IsCameraDescriptor(fd)) return CloseCamera(fd);
  using Function = int (*)(int);
  static const auto real = Next<Function>("close");
  return real(fd);
}

// TESMO_V4L2_NO_LIBV4L2=1 keeps a program off libv4l2 where it is installed, so that
// both of Wine's routes to the camera can be tried on one system.
__attribute__((visibility("default"))) void* dlopen(const char* file, int mode) {
  const char* refuse = getenv("TESMO_V4L2_NO_LIBV4L2");
  if (file && refuse && std::strcmp(refuse, "1") == 0 && std::strstr(file, "libv4l2.so"))
    return nullptr;
  using Function = void* (*)(const char*, int);
  static const auto real = Next<Function>("dlopen");
  return real(file, mode);
}

__attribute__((visibility("default"))) long syscall(long number, ...) {
  va_list args;
  va_start(args, number);
  long a[6];
  for (long& value : a) value = va_arg(args, long);
  va_end(args);
  switch (number) {
    case SYS_open:
      if (IsDevicePath(reinterpret_cast<const char*>(a[0]))) return OpenCamera(int(a[1]));
      break;
    case SYS_openat:
      if (IsDevicePath(reinterpret_cast<const char*>(a[1]))) return OpenCamera(int(a[2]));
      break;
    case SYS_ioctl:
      if (IsCameraDescriptor(int(a[0])))
        return Result(IoctlCamera(int(a[0]), (unsigned long)a[1], reinterpret_cast<void*>(a[2])));
      break;
    case SYS_read:
      if (IsCameraDescriptor(int(a[0])))
        return ReadCamera(int(a[0]), reinterpret_cast<void*>(a[1]), size_t(a[2]));
      break;
    case SYS_close:
      if (IsCameraDescriptor(int(a[0]))) return CloseCamera(int(a[0]));
      break;
  }
  using Function = long (*)(long, ...);
  static const auto real = Next<Function>("syscall");
  return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

}  // extern "C"
