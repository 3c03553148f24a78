// Replays inputs through a fuzz target without libFuzzer, so that any compiler's build can run
// the checked-in corpus as a regression test: each file given, and each file in each directory
// given, is passed to LLVMFuzzerTestOneInput once. A missing path fails the run: a corpus that
// moved must not pass as an empty one.
//
// An input name.bin may have name.expected beside it: the output the target must give for it
// (FuzzTranscript.h). Its lines starting with # say what the case is about and are not compared.
// A difference fails the run, after every input has been replayed.
//   replay [--expected] path...   --expected: every input must have its .expected
//   replay --print path...        prints the outputs, to check by eye and keep as .expected
#include "fuzz/FuzzTranscript.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

constexpr const char* kExpectedExtension = ".expected";

bool IsExpectedFile(const fs::path& path) {
    return path.extension() == kExpectedExtension;
}

fs::path ExpectedFor(const fs::path& input) {
    fs::path expected = input;
    return expected.replace_extension(kExpectedExtension);
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The lines of an expected output that are compared: no comments, no blank lines.
std::string ComparedLines(const std::string& text) {
    std::istringstream in(text);
    std::string kept;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        kept += line;
        kept += '\n';
    }
    return kept;
}

} // namespace

int main(int argc, char** argv) {
    bool print = false;
    bool expectedRequired = false;
    std::vector<fs::path> inputs;
    std::vector<fs::path> expectedFiles;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--print") == 0) {
            print = true;
            continue;
        }
        if (std::strcmp(argv[i], "--expected") == 0) {
            expectedRequired = true;
            continue;
        }
        std::error_code ec;
        if (fs::is_directory(argv[i], ec)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(argv[i], ec))
                if (entry.is_regular_file())
                    (IsExpectedFile(entry.path()) ? expectedFiles : inputs).push_back(entry.path());
        } else if (fs::is_regular_file(argv[i], ec)) {
            inputs.emplace_back(argv[i]);
        } else {
            std::fprintf(stderr, "replay: %s: no such file or directory\n", argv[i]);
            return 1;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no inputs\n");
        return 1;
    }
    if ((print || expectedRequired || !expectedFiles.empty()) && !FuzzTranscript) {
        std::fprintf(stderr, "replay: this target gives no output to print or compare\n");
        return 1;
    }
    std::sort(inputs.begin(), inputs.end());
    // An expected output whose input is gone would otherwise check nothing, unnoticed.
    int failures = 0;
    for (const fs::path& expected : expectedFiles) {
        if (std::none_of(inputs.begin(), inputs.end(),
                         [&](const fs::path& in) { return ExpectedFor(in) == expected; })) {
            std::fprintf(stderr, "replay: %s: no input beside it\n", expected.c_str());
            ++failures;
        }
    }
    // With --print the outputs go to stdout, so the names go to stderr.
    FILE* log = print ? stderr : stdout;
    for (const fs::path& path : inputs) {
        const std::string bytes = ReadAll(path);
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
        std::fprintf(log, "%s (%zu bytes)\n", path.c_str(), bytes.size());
        std::fflush(log); // named before it runs: a crash leaves the culprit on record
        LLVMFuzzerTestOneInput(data, bytes.size());
        if (print) {
            std::fputs(FuzzTranscript(data, bytes.size()).c_str(), stdout);
            continue;
        }
        const fs::path expectedPath = ExpectedFor(path);
        std::error_code ec;
        if (!fs::is_regular_file(expectedPath, ec)) {
            if (expectedRequired) {
                std::fprintf(stderr, "replay: %s: no %s beside it\n", path.c_str(), expectedPath.filename().c_str());
                ++failures;
            }
            continue;
        }
        const std::string expected = ComparedLines(ReadAll(expectedPath));
        const std::string got = FuzzTranscript(data, bytes.size());
        if (got != expected) {
            std::fprintf(stderr, "replay: %s: not the output in %s\n-- expected:\n%s-- got:\n%s", path.c_str(),
                         expectedPath.filename().c_str(), expected.c_str(), got.c_str());
            ++failures;
        }
    }
    std::fprintf(log, "%zu inputs replayed, %d failed\n", inputs.size(), failures);
    return failures == 0 ? 0 : 1;
}
