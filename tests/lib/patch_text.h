// Reads Pd patch files as text: the records of every canvas, with the objects of each
// canvas numbered as Pd numbers them for its connections.
#pragma once

#include <string>
#include <vector>

namespace patch {

struct Box {
    std::string kind;               // "obj", "msg", "floatatom", "text", "restore", ...
    std::vector<std::string> atoms; // what follows the position (for "restore": "pd name")
};

struct Connection {
    int from, outlet, to, inlet;
};

struct Canvas {
    std::string name; // empty for the top level, else the subpatch's name
    std::vector<Box> boxes;
    std::vector<Connection> connections;
};

// Every canvas of the file, the top level first and subpatches in the order they close.
// An unreadable file gives no canvas.
std::vector<Canvas> read(const std::string &path);

// A box's text as Pd shows it: the atoms joined by spaces, escapes removed.
std::string text_of(const Box &b);

} // namespace patch
