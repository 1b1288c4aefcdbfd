// tsport_pack: appends a package of named files to an installer image.
//
//   tsport_pack --image IN.exe --output OUT.exe [--key N] [--edition E] [--folder DIR] [--list LIST] NAME=FILE ...
//   tsport_pack --edition E --names
//
// A list file holds lines "NAME=FILE"; a folder gives each of its files under its own name.
// With --edition (workstation or server) the files must be exactly that edition's entries:
// every problem is named on a line of its own and nothing is written; the entries are then
// stored in the edition's order whatever order they were given in. --names prints those
// entries, one a line. The package starts where the image ends, so the output is still the
// same program.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "pack/edition_check.h"
#include "pack/package_writer.h"
#include "product/package_contents.h"

namespace {

int Refuse(const std::string& message) {
    std::fprintf(stderr, "tsport_pack: %s\n", message.c_str());
    return 2;
}

int RefuseAll(const std::vector<std::string>& problems) {
    for (const std::string& problem : problems) std::fprintf(stderr, "tsport_pack: %s\n", problem.c_str());
    return 2;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tsport_pack --image IN --output OUT [--key 0-255] [--edition workstation|server]\n"
                 "                   [--folder DIR] [--list FILE] NAME=FILE ...\n"
                 "       tsport_pack --edition workstation|server --names\n");
    return 2;
}

std::string EditionNames() {
    std::string names;
    for (const PackageContents& contents : AllPackageContents()) {
        names += (names.empty() ? "" : ", ") + std::string(contents.edition);
    }
    return names;
}

// Each file of the folder as "NAME=PATH", by name; anything that is not a file is a problem.
bool AddFolder(const std::string& folder, std::vector<std::string>& namedFiles, std::vector<std::string>& problems) {
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error) return false;
    std::vector<std::string> names;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) return false;
        names.push_back(it->path().filename().string());
    }
    if (error) return false;
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = (std::filesystem::path(folder) / name).string();
        if (!std::filesystem::is_regular_file(path, error)) {
            problems.push_back("\"" + path + "\" is not a file; a package holds only files");
        } else {
            namedFiles.push_back(name + "=" + path);
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string image, output;
    int key = -1;
    const PackageContents* edition = nullptr;
    bool printNames = false;
    std::vector<std::string> namedFiles;  // "NAME=FILE": an entry name and the file it is packed from
    std::vector<std::string> problems;  // collected only under --edition
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--image" && hasValue) {
            image = argv[++i];
        } else if (arg == "--output" && hasValue) {
            output = argv[++i];
        } else if (arg == "--key" && hasValue) {
            char* end = nullptr;
            const long value = std::strtol(argv[++i], &end, 0);
            if (*end != '\0' || value < 0 || value > 255) return Refuse("--key takes a number from 0 to 255");
            key = static_cast<int>(value);
        } else if (arg == "--edition" && hasValue) {
            edition = FindPackageContents(argv[++i]);
            if (edition == nullptr) {
                return Refuse(std::string("unknown edition \"") + argv[i] + "\"; the editions are " + EditionNames());
            }
        } else if (arg == "--names") {
            printNames = true;
        } else if (arg == "--folder" && hasValue) {
            if (!AddFolder(argv[++i], namedFiles, problems)) {
                return Refuse(std::string("cannot read the folder ") + argv[i]);
            }
        } else if (arg == "--list" && hasValue) {
            std::ifstream list(argv[++i]);
            if (!list) return Refuse(std::string("cannot read the list ") + argv[i]);
            for (std::string line; std::getline(list, line);) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (!line.empty() && line[0] != '#') namedFiles.push_back(line);
            }
        } else if (arg.rfind("--", 0) == 0) {
            return Usage();
        } else {
            namedFiles.push_back(arg);
        }
    }
    if (printNames) {
        if (edition == nullptr || !image.empty() || !output.empty() || !namedFiles.empty()) return Usage();
        for (const char* name : edition->entries) std::printf("%s\n", name);
        return 0;
    }
    if (image.empty() || output.empty()) return Usage();
    if (edition == nullptr && !problems.empty()) return Refuse(problems.front());

    std::vector<package::PackEntry> entries;
    std::vector<package::EntrySource> sources;
    for (const std::string& namedFile : namedFiles) {
        const std::size_t eq = namedFile.find('=');
        if (eq == std::string::npos) return Refuse("\"" + namedFile + "\" is not NAME=FILE");
        package::PackEntry entry;
        entry.name = namedFile.substr(0, eq);
        const std::string path = namedFile.substr(eq + 1);
        if (!ReadWholeFile(path, entry.content)) {
            const std::string problem = "cannot read \"" + path + "\" for entry \"" + entry.name + "\"";
            if (edition == nullptr) return Refuse(problem);
            problems.push_back(problem);
            continue;
        }
        sources.push_back({entry.name, path, entry.content.size()});
        entries.push_back(std::move(entry));
    }
    if (edition != nullptr) {
        const std::vector<std::string> mismatches = package::CheckEditionEntries(*edition, sources);
        problems.insert(problems.end(), mismatches.begin(), mismatches.end());
        if (!problems.empty()) return RefuseAll(problems);
        entries = package::InStoredOrder(*edition, std::move(entries));
    }
    const std::string problem = package::CheckEntries(entries);
    if (!problem.empty()) return Refuse(problem);

    std::vector<std::uint8_t> out;
    if (!ReadWholeFile(image, out)) return Refuse("cannot read the image \"" + image + "\"");
    if (out.empty()) return Refuse("the image \"" + image + "\" is empty");
    std::vector<std::uint8_t> package;
    try {
        package = package::BuildPackage(entries, key);
    } catch (const std::exception& e) {
        return Refuse(e.what());
    }
    out.insert(out.end(), package.begin(), package.end());

    // Write beside the target and rename, so a failed run never leaves half a program.
    const std::string temp = output + ".part";
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
        if (!file.flush()) {
            std::remove(temp.c_str());
            return Refuse("cannot write \"" + temp + "\"");
        }
    }
    struct stat imageStat {};
    if (stat(image.c_str(), &imageStat) == 0) chmod(temp.c_str(), imageStat.st_mode & 07777);  // still a program
    if (std::rename(temp.c_str(), output.c_str()) != 0) {
        std::remove(temp.c_str());
        return Refuse("cannot create \"" + output + "\"");
    }
    std::printf("tsport_pack: %s: %zu entries, package of %zu bytes at offset %zu\n", output.c_str(),
                entries.size(), package.size(), out.size() - package.size());
    return 0;
}
