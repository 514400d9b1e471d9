// Writes the fuzz targets' seed corpora from the conformance scenarios:
//   trilox_seed_corpus SCENARIO_DIRECTORY REQUEST_CORPUS NAME_CORPUS
// Each scenario gives the request target one input with all its requests,
// load and unload steps among them, and one input for each request alone;
// each mutex name it calls with is an input of the name target.
#include "request_records.h"
#include "scenario_text.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The records of the second process's steps are left out: the target is one host.
std::vector<std::string> RecordsOf(const fs::path& scenario) {
    std::vector<std::string> records;
    std::ifstream in(scenario);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("> ", 0) == 0)
            records.push_back(RequestOf(line));
        else if (line == "load" || line.rfind("load ", 0) == 0)
            records.emplace_back(kLoadRecord);
        else if (line == "unload")
            records.emplace_back(kUnloadRecord);
    }
    return records;
}

std::vector<std::string> NamesOf(const fs::path& scenario) {
    std::vector<std::string> names;
    std::ifstream in(scenario);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> arguments = Words(line);
        if (arguments.size() > 3 && arguments[0] == ">" && arguments[1] == "call")
            names.push_back(arguments[3]);
    }
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: trilox_seed_corpus SCENARIO_DIRECTORY REQUEST_CORPUS NAME_CORPUS\n";
        return 2;
    }
    const fs::path request_corpus = argv[2], name_corpus = argv[3];
    fs::create_directories(request_corpus);
    fs::create_directories(name_corpus);
    for (const fs::directory_entry& entry : fs::directory_iterator(argv[1])) {
        if (entry.path().extension() != ".scn")
            continue;
        const std::string stem = entry.path().stem().string();
        std::vector<std::string> records = RecordsOf(entry.path());
        std::string all;
        for (std::size_t i = 0; i < records.size(); ++i) {
            Write(request_corpus / (stem + "." + std::to_string(i)), records[i]);
            all += (i ? std::string(1, kRecordSeparator) : "") + records[i];
        }
        Write(request_corpus / stem, all);
        std::vector<std::string> names = NamesOf(entry.path());
        for (std::size_t i = 0; i < names.size(); ++i)
            Write(name_corpus / (stem + "." + std::to_string(i)), names[i]);
    }
    return 0;
}
