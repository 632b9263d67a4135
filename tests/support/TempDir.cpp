#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>

#include "platform/TextCodec.h"

namespace tarven::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarven-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr)
        path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) {
        // Files a test made unreadable must not stop the clean-up.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
}

std::filesystem::path TempDir::write(const std::string& name, const std::string& bytes) const {
    const auto file = path_ / name;
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
}

std::u16string widePath(const std::filesystem::path& path) {
    const std::string bytes = path.string();
    return platform::utf8ToUtf16(bytes.data(), bytes.size());
}

}  // namespace tarven::test
