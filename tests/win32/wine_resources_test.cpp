// The program's resources as Windows reads them from the executable: the version
// information, the one application manifest and the icon.
#include "tests/win32/wine_support.h"

namespace vol::test {
namespace {

// The executable loaded as data only, for reading its resources.
class ProgramImage {
 public:
  ProgramImage()
      : module_(LoadLibraryExW(ProgramPath().c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~ProgramImage() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  ProgramImage(const ProgramImage&) = delete;
  ProgramImage& operator=(const ProgramImage&) = delete;
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

std::wstring VersionString(const std::vector<char>& block, const wchar_t* name) {
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || value == nullptr) return {};
  return std::wstring(static_cast<const wchar_t*>(value),
                      wcsnlen(static_cast<const wchar_t*>(value), length));
}

BOOL CALLBACK CollectNumericId(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR ids) {
  if (IS_INTRESOURCE(name)) {
    reinterpret_cast<std::vector<int>*>(ids)->push_back(
        static_cast<int>(reinterpret_cast<ULONG_PTR>(name)));
  }
  return TRUE;
}

class WineResources : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetFileAttributesW(ProgramPath().c_str()) == INVALID_FILE_ATTRIBUTES) {
      GTEST_SKIP() << "no volumes.exe beside the tests (build the target volumes)";
    }
  }
};

TEST_F(WineResources, VersionInformationNamesTheProduct) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(ProgramPath().c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(ProgramPath().c_str(), 0, size, block.data()));

  EXPECT_EQ(VersionString(block, L"ProductName"), L"volumes");
  EXPECT_EQ(VersionString(block, L"FileVersion"), L"0.3.0");
  EXPECT_FALSE(VersionString(block, L"FileDescription").empty());

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(3, 0));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST_F(WineResources, OneManifestAsksForCommonControlsSixWithoutElevation) {
  ProgramImage image;
  ASSERT_NE(image.get(), nullptr);
  std::vector<int> ids;
  EnumResourceNamesW(image.get(), MAKEINTRESOURCEW(24), CollectNumericId,
                     reinterpret_cast<LONG_PTR>(&ids));
  ASSERT_EQ(ids, std::vector<int>{1});

  HRSRC resource = FindResourceW(image.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(resource, nullptr);
  const DWORD size = SizeofResource(image.get(), resource);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(image.get(), resource)));
  ASSERT_NE(bytes, nullptr);
  const std::string manifest(bytes, size);
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
  EXPECT_NE(manifest.find("name=\"volumes\" version=\"0.3.0.0\""), std::string::npos);
  EXPECT_NE(manifest.find("requestedExecutionLevel level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos);
}

TEST_F(WineResources, ProgramHasItsIcon) {
  ProgramImage image;
  ASSERT_NE(image.get(), nullptr);
  HICON icon =
      static_cast<HICON>(LoadImageW(image.get(), MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0));
  ASSERT_NE(icon, nullptr);
  DestroyIcon(icon);
}

}  // namespace
}  // namespace vol::test
