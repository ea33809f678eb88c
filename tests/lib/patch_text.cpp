#include "patch_text.h"

#include <fstream>
#include <sstream>

namespace patch {
namespace {

// Splits the file into records at unescaped semicolons, and each record into atoms.
std::vector<std::vector<std::string>> records(const std::string &text) {
    std::vector<std::vector<std::string>> all;
    std::vector<std::string> record;
    std::string atom;
    auto end_atom = [&] {
        if (!atom.empty()) record.push_back(atom);
        atom.clear();
    };
    for (std::size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            atom += c;
            atom += text[++i];
        } else if (c == ';') {
            end_atom();
            all.push_back(record);
            record.clear();
        } else if (c == ',') {
            end_atom();
            record.push_back(",");
        } else if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
            end_atom();
        } else {
            atom += c;
        }
    }
    return all;
}

} // namespace

std::vector<Canvas> read(const std::string &path) {
    std::ifstream in(path);
    if (!in) return {};
    std::stringstream buffer;
    buffer << in.rdbuf();

    std::vector<Canvas> done, open;
    for (const auto &r : records(buffer.str())) {
        if (r.size() < 2) continue;
        if (r[0] == "#N" && r[1] == "canvas") {
            Canvas c;
            // Subpatch: #N canvas x y w h name vis; top level: #N canvas x y w h font.
            if (!open.empty() && r.size() >= 8) c.name = r[6];
            if (r.size() >= 6) {
                c.x = std::stoi(r[2]), c.y = std::stoi(r[3]);
                c.width = std::stoi(r[4]), c.height = std::stoi(r[5]);
            }
            open.push_back(c);
        } else if (r[0] == "#X" && !open.empty()) {
            const std::string &kind = r[1];
            if (kind == "connect" && r.size() >= 6) {
                open.back().connections.push_back(
                    {std::stoi(r[2]), std::stoi(r[3]), std::stoi(r[4]), std::stoi(r[5])});
            } else if (kind == "coords" && r.size() >= 9 && r[8] != "0") {
                open.back().gop_width = std::stoi(r[6]);
                open.back().gop_height = std::stoi(r[7]);
                if (r.size() >= 11) open.back().gop_x = std::stoi(r[9]), open.back().gop_y = std::stoi(r[10]);
            } else if (kind == "restore") {
                if (open.size() < 2) continue;
                done.push_back(open.back());
                open.pop_back();
                open.back().boxes.push_back(
                    {kind, {r.begin() + 4, r.end()}, std::stoi(r[2]), std::stoi(r[3])});
            } else if (kind == "obj" || kind == "msg" || kind == "text" ||
                       kind == "floatatom" || kind == "symbolatom" || kind == "listbox") {
                std::vector<std::string> atoms;
                if (r.size() > 4) atoms.assign(r.begin() + 4, r.end());
                int x = r.size() > 3 ? std::stoi(r[2]) : 0, y = r.size() > 3 ? std::stoi(r[3]) : 0;
                open.back().boxes.push_back({kind, atoms, x, y});
            }
            // array data and the like are not boxes.
        }
    }
    if (open.size() == 1) done.insert(done.begin(), open.front());
    return done;
}

std::string text_of(const Box &b) {
    std::string t;
    for (const std::string &a : b.atoms) {
        if (a == "f" && &a != &b.atoms.front() && *(&a - 1) == ",") break; // ", f width"
        if (!t.empty() && a != ",") t += ' ';
        for (std::size_t i = 0; i < a.size(); i++) {
            if (a[i] == '\\' && i + 1 < a.size()) i++;
            t += a[i];
        }
    }
    while (!t.empty() && t.back() == ',') t.pop_back();
    return t;
}

} // namespace patch
