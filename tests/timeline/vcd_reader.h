#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace timeline_test {

// What a VCD file says, as the tests compare it: each variable's declared width and its values
// in time order ("0"/"1"/"x" for wires, the bit string for vectors), by its name without the
// scope. Times are in the file's time unit.
struct VcdFile {
    struct Variable {
        int width = 1;
        std::vector<std::pair<int64_t, std::string>> values;
    };
    std::map<std::string, Variable> variables;
    std::string timescale;
    int64_t lastTime = 0;

    // The times at which a variable took `value`.
    std::vector<int64_t> timesOf(const std::string& name, const std::string& value) const {
        std::vector<int64_t> times;
        const auto var = variables.find(name);
        if (var == variables.end()) return times;
        for (const auto& [time, v] : var->second.values)
            if (v == value) times.push_back(time);
        return times;
    }
    // The variable's values in order with repeats of the same value (a writer may restate a
    // value at a time) left out.
    std::vector<std::string> changes(const std::string& name) const {
        std::vector<std::string> out;
        const auto var = variables.find(name);
        if (var == variables.end()) return out;
        for (const auto& [time, v] : var->second.values)
            if (out.empty() || out.back() != v) out.push_back(v);
        return out;
    }
};

// A small reader of the subset of VCD that these tools write: $var, $timescale, #time, scalar
// and vector changes, and $dumpvars blocks.
inline VcdFile readVcd(const std::string& path) {
    VcdFile file;
    std::ifstream in(path);
    std::map<std::string, std::string> names;  // identifier -> name
    std::string word;
    int64_t time = 0;
    const auto set = [&](const std::string& id, std::string value) {
        const auto name = names.find(id);
        if (name != names.end()) file.variables[name->second].values.emplace_back(time, value);
    };
    while (in >> word) {
        if (word == "$var") {
            std::string type, width, id, name;
            in >> type >> width >> id >> name;
            // A vector may be declared with its range after the name ("data [7:0]").
            std::string rest;
            while (in >> rest && rest != "$end") {
            }
            names[id] = name;
            file.variables[name].width = std::stoi(width);
        } else if (word == "$timescale") {
            std::string part;
            while (in >> part && part != "$end") file.timescale += part;
        } else if (word == "$date" || word == "$version" || word == "$comment" ||
                   word == "$scope") {
            std::string part;
            while (in >> part && part != "$end") {
            }
        } else if (word[0] == '#') {
            time = std::stoll(word.substr(1));
            file.lastTime = time;
        } else if (word[0] == 'b' || word[0] == 'B') {
            std::string id;
            in >> id;
            set(id, word.substr(1));
        } else if (word[0] == '0' || word[0] == '1' || word[0] == 'x' || word[0] == 'X' ||
                   word[0] == 'z' || word[0] == 'Z') {
            set(word.substr(1), std::string(1, static_cast<char>(std::tolower(word[0]))));
        }
    }
    return file;
}

// sigrok-cli's CSV output (-O csv) of logic channels read back into the same shape: one row per
// sample at the file's rate (1 MHz for a 1 us timescale, so a row number is a time in us), the
// values kept where they change.
inline VcdFile readSigrokCsv(const std::string& text) {
    VcdFile file;
    std::istringstream in(text);
    std::vector<std::string> names;
    std::string line;
    int64_t sample = 0;
    while (std::getline(in, line)) {
        if (line.rfind("; Channels", 0) == 0) {
            std::istringstream list(line.substr(line.find(':') + 1));
            for (std::string name; std::getline(list >> std::ws, name, ',');) names.push_back(name);
            continue;
        }
        if (line.empty() || line[0] == ';' || line.rfind("META", 0) == 0 ||
            line.rfind("logic", 0) == 0)
            continue;
        for (size_t i = 0; i < names.size() && 2 * i < line.size(); ++i) {
            auto& values = file.variables[names[i]].values;
            const std::string value(1, line[2 * i]);
            if (values.empty() || values.back().second != value) values.emplace_back(sample, value);
        }
        file.lastTime = sample++;
    }
    return file;
}

// Runs a shell command; returns its exit status and what it wrote to stdout and stderr.
inline std::pair<int, std::string> run(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return {-1, output};
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

}  // namespace timeline_test
