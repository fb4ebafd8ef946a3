// Reads a DLL's version resource the way Windows shows it (GetFileVersionInfo) and
// compares it with the project's version:
//   tesmo_version_check FILE MAJOR.MINOR.PATCH
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::printf("version resource: %s\n", what);
    ++failures;
  }
}

std::string Text(std::vector<char>& info, const char* name) {
  std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(info.data(), path.c_str(), &value, &length) || length == 0) return {};
  return static_cast<const char*>(value);
}

}  // namespace

int main(int argc, char** argv) {
  unsigned major = 0, minor = 0, patch = 0;
  if (argc != 3 || std::sscanf(argv[2], "%u.%u.%u", &major, &minor, &patch) != 3) {
    std::printf("usage: tesmo_version_check FILE MAJOR.MINOR.PATCH\n");
    return 2;
  }
  DWORD size = GetFileVersionInfoSizeA(argv[1], nullptr);
  if (size == 0) {
    std::printf("version resource: none in %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  std::vector<char> info(size);
  if (!GetFileVersionInfoA(argv[1], 0, size, info.data())) {
    std::printf("version resource: %s cannot be read\n", argv[1]);
    return 1;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
      length < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != VS_FFI_SIGNATURE) {
    std::printf("version resource: no fixed file information\n");
    return 1;
  }
  const DWORD high = MAKELONG(minor, major), low = MAKELONG(0, patch);
  Check(fixed->dwFileVersionMS == high && fixed->dwFileVersionLS == low, "FILEVERSION differs");
  Check(fixed->dwProductVersionMS == high && fixed->dwProductVersionLS == low,
        "PRODUCTVERSION differs");
  Check(fixed->dwFileType == VFT_DLL, "file type is not a DLL");
  Check(Text(info, "ProductVersion") == argv[2], "ProductVersion differs");
  Check(Text(info, "FileVersion") == argv[2], "FileVersion differs");
  Check(Text(info, "ProductName") == "Tesmo", "ProductName is not Tesmo");
  Check(!Text(info, "FileDescription").empty(), "no FileDescription");
  Check(Text(info, "OriginalFilename") == "Tesmo.dll", "OriginalFilename is not Tesmo.dll");
  if (failures == 0) std::printf("ok: %s carries version %s\n", argv[1], argv[2]);
  return failures == 0 ? 0 : 1;
}
