// Breaks a rule of the setup code (docs/build.md): a function-local static that needs a
// guard. The test windows_setup_rules expects its link, as a setup program's, to fail.
#include <string>

const std::string& ProbeName(const char* text) {
    static const std::string name(text);
    return name;
}

int main(int argc, char** argv) { return static_cast<int>(ProbeName(argv[0]).size()) + argc; }
