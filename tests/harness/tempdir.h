// A temporary folder of its own for a test: made under the system's temporary
// folder with a unique name, and removed with everything in it when the object
// goes.  Tests never put fixed file names into the shared /tmp: two runs of the
// suite (or two tests run at once by ctest -j) would trip over each other.
// Header only, so that unit tests can use it without linking the harness.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace harness {

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qz-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // The path of `name` in the folder.
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes `text` to `name` in the folder; returns the file's path.
    std::string write(const std::string& name, const std::string& text) const {
        const std::string path = file(name);
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        const std::string path = file(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

  private:
    std::string path_;
};

}  // namespace harness
