#pragma once

// Helpers for the chooser tests only: a scratch folder that cleans up after
// itself, and files written into it.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

struct scratch_folder {
    std::string path;

    scratch_folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tonquel-chooser.XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~scratch_folder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;

    std::string write(const std::string& name, const std::string& text) const {
        const std::string file = path + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }

    std::string write_program(const std::string& name, const std::string& script) const {
        const std::string file = write(name, script);
        std::filesystem::permissions(file, std::filesystem::perms::owner_all);
        return file;
    }

    std::string read(const std::string& name) const {
        std::ifstream in(path + "/" + name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};
