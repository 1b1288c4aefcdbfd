// Writes small valid installer files into a folder: the fuzzer's starting corpus.
#include <cstdio>
#include <string>
#include <vector>

#include "pack/package_writer.h"

namespace {

std::vector<std::uint8_t> Text(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

void Save(const std::string& path, const std::vector<std::uint8_t>& prefix, const std::vector<std::uint8_t>& package) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    std::fwrite(prefix.data(), 1, prefix.size(), f);
    std::fwrite(package.data(), 1, package.size(), f);
    std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string dir = argv[1];
    const std::vector<std::uint8_t> image = Text("MZ stand-in image Velotrinex LLC installer system\0 data");
    std::vector<std::uint8_t> repeated(3000);
    for (std::size_t i = 0; i < repeated.size(); ++i) repeated[i] = static_cast<std::uint8_t>("abcab"[i % 5]);
    Save(dir + "/seed_empty", image, package::BuildPackage({}));
    Save(dir + "/seed_one", image, package::BuildPackage({{"a.txt", Text("hello")}}));
    Save(dir + "/seed_three", {}, package::BuildPackage({{"x.sys", repeated}, {"y", Text("y")}, {"Y", Text("z")}}, 7));
    return 0;
}
