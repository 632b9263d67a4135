#include "support/TempDir.h"

#include <cstdio>
#include <fstream>
#include <random>

#include "platform/TextCodec.h"

namespace tarven::test {

TempDir::TempDir() {
    // A random name that nobody holds yet; create_directory fails on one that exists.
    std::error_code error;
    const auto base = std::filesystem::temp_directory_path(error);
    std::random_device random;
    for (int attempt = 0; !error && attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "tarven-test-%08x", static_cast<unsigned>(random()));
        const auto candidate = base / name;
        if (std::filesystem::create_directory(candidate, error)) {
            std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace, error);
            path_ = candidate;
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) {
        // Files a test made unreadable, or read-only (which Windows will not delete), must not
        // stop the clean-up.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        for (std::filesystem::recursive_directory_iterator entry(path_, ignored), end;
             !ignored && entry != end; entry.increment(ignored))
            std::filesystem::permissions(entry->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
}

std::filesystem::path TempDir::write(const std::string& name, const std::string& bytes) const {
    const auto file = path_ / utf8Path(name);
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
}

std::u16string widePath(const std::filesystem::path& path) {
    const std::string bytes = utf8(path);
    return platform::utf8ToUtf16(bytes.data(), bytes.size());
}

std::string utf8(const std::filesystem::path& path) {
    const std::u8string bytes = path.u8string();
    return std::string(bytes.begin(), bytes.end());
}

std::filesystem::path utf8Path(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace tarven::test
