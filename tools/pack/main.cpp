// tsport_pack: appends a package of named files to an installer image.
//
//   tsport_pack --image IN.exe --output OUT.exe [--key N] NAME=FILE ...
//   tsport_pack --image IN.exe --output OUT.exe --list LIST   (lines "NAME=FILE")
//
// The package starts where the image ends, so the output is still the same program.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pack/package_writer.h"

namespace {

int Refuse(const std::string& message) {
    std::fprintf(stderr, "tsport_pack: %s\n", message.c_str());
    return 2;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tsport_pack --image IN --output OUT [--key 0-255] [--list FILE] NAME=FILE ...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string image, output;
    int key = -1;
    std::vector<std::string> specs;
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
        } else if (arg == "--list" && hasValue) {
            std::ifstream list(argv[++i]);
            if (!list) return Refuse(std::string("cannot read the list ") + argv[i]);
            for (std::string line; std::getline(list, line);) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (!line.empty() && line[0] != '#') specs.push_back(line);
            }
        } else if (arg.rfind("--", 0) == 0) {
            return Usage();
        } else {
            specs.push_back(arg);
        }
    }
    if (image.empty() || output.empty()) return Usage();

    std::vector<package::PackEntry> entries;
    for (const std::string& spec : specs) {
        const std::size_t eq = spec.find('=');
        if (eq == std::string::npos) return Refuse("\"" + spec + "\" is not NAME=FILE");
        package::PackEntry entry;
        entry.name = spec.substr(0, eq);
        const std::string path = spec.substr(eq + 1);
        if (!ReadWholeFile(path, entry.content)) {
            return Refuse("cannot read \"" + path + "\" for entry \"" + entry.name + "\"");
        }
        entries.push_back(std::move(entry));
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
