#pragma once

#include <filesystem>
#include <string>

namespace tarven::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes `bytes` to a file in the folder (`name` in UTF-8) and returns its full path.
    std::filesystem::path write(const std::string& name, const std::string& bytes) const;

  private:
    std::filesystem::path path_;
};

std::u16string widePath(const std::filesystem::path& path);
// A path as UTF-8, and back: what the program's own code takes, where the system's narrow
// strings (the ANSI code page on Windows) would lose characters.
std::string utf8(const std::filesystem::path& path);
std::filesystem::path utf8Path(const std::string& text);

}  // namespace tarven::test
