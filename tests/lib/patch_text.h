// Reads Pd patch files as text: the records of every canvas, with the objects of each
// canvas numbered as Pd numbers them for its connections.
#pragma once

#include <string>
#include <vector>

namespace patch {

struct Box {
    std::string kind;               // "obj", "msg", "floatatom", "text", "restore", ...
    std::vector<std::string> atoms; // what follows the position (for "restore": "pd name")
    int x = 0, y = 0;               // the position on its canvas
};

struct Connection {
    int from, outlet, to, inlet;
};

struct Canvas {
    std::string name; // empty for the top level, else the subpatch's name
    int x = 0, y = 0, width = 0, height = 0; // its window, as saved
    int gop_width = 0, gop_height = 0;       // its face on a parent, when graph-on-parent,
    int gop_x = 0, gop_y = 0;                // from this corner of the canvas
    std::vector<Box> boxes;
    std::vector<Connection> connections;
};

// Every canvas of the file, the top level first and subpatches in the order they close.
// An unreadable file gives no canvas.
std::vector<Canvas> read(const std::string &path);

// A box's text as Pd shows it: the atoms joined by spaces, escapes removed.
std::string text_of(const Box &b);

} // namespace patch
