#include "scenario_text.h"

#include "host.h"

#include <sstream>
#include <stdexcept>

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        switch (c) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '0': out += '\0'; break;
        case 'x':
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
            break;
        default: out += c;
        }
    }
    return out;
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        words.push_back(Unescape(word));
    return words;
}

std::string RequestOf(const std::string& step) {
    if (step.rfind("> call ", 0) == 0)
        return ExecuteRequestText(Words(step.substr(7)));
    if (step == "> raw")
        return "";
    if (step.rfind("> raw ", 0) == 0)
        return Unescape(step.substr(6));
    throw std::runtime_error("not a request: " + step);
}
