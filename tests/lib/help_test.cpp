// Every class has a help patch that shows it working: the object live, a message box
// for every message it takes and a number or message box on every inlet, its outlets
// wired, a reference section and a one-line description in [pd META]. What the class
// takes comes from its own registration, loaded through the test host.
#include "host.h"
#include "patch_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <filesystem>
#include <map>
#include <fstream>
#include <set>
#include <sstream>

namespace {

std::vector<std::string> split(const std::string &list) {
    std::vector<std::string> out;
    std::stringstream s(list);
    for (std::string item; std::getline(s, item, ',');)
        if (!item.empty()) out.push_back(item);
    return out;
}

const std::vector<std::string> &classes() {
    static const std::vector<std::string> all = split(TAVRELLE_CLASS_LIST);
    return all;
}

std::string help_path(const std::string &cls) {
    return std::string(TAVRELLE_SOURCE_DIR) + "/help/" + cls + "-help.pd";
}

// The boxes of a canvas that create the class.
std::vector<int> instances(const patch::Canvas &c, const std::string &cls) {
    std::vector<int> found;
    for (std::size_t i = 0; i < c.boxes.size(); i++)
        if (c.boxes[i].kind == "obj" && !c.boxes[i].atoms.empty() && c.boxes[i].atoms[0] == cls)
            found.push_back(static_cast<int>(i));
    return found;
}

std::vector<const patch::Box *> feeding(const patch::Canvas &c, int object, int inlet) {
    std::vector<const patch::Box *> boxes;
    for (const auto &k : c.connections)
        if (k.to == object && k.inlet == inlet) boxes.push_back(&c.boxes.at(k.from));
    return boxes;
}

std::string all_comments(const std::vector<patch::Canvas> &canvases) {
    std::string t;
    for (const auto &c : canvases)
        for (const auto &b : c.boxes)
            if (b.kind == "text") t += patch::text_of(b) + "\n";
    return t;
}

// "VERSION 1.0" as Pd shows it: a bare 1.0 is read as the number 1 and shown as "1", so
// the dot is escaped to keep it a symbol.
bool shows_version_1_0(const patch::Box &b) {
    return b.kind == "text" && b.atoms.size() >= 2 && b.atoms[0] == "VERSION" &&
           b.atoms[1] == "1\\.0";
}

class HelpPatch : public testing::TestWithParam<std::string> {};

TEST_P(HelpPatch, ShowsEveryMessageAndInletOnALiveObject) {
    const std::string cls = GetParam();
    auto canvases = patch::read(help_path(cls));
    ASSERT_FALSE(canvases.empty()) << "no readable " << help_path(cls);
    const patch::Canvas &top = canvases.front();
    auto objects = instances(top, cls);
    ASSERT_FALSE(objects.empty()) << cls << " is not in its help patch";

    const host::ClassInfo &info = host::load(cls);
    host::Object probe(cls);
    const auto inlet_selectors = probe.inlet_selectors();
    const int outlets = probe.signal_outlets();

    // The instance that the patch plays with: the one with the most wires.
    auto wires = [&](int o) {
        return std::count_if(top.connections.begin(), top.connections.end(),
                             [&](const auto &k) { return k.to == o || k.from == o; });
    };
    int live = *std::max_element(objects.begin(), objects.end(),
                                 [&](int a, int b) { return wires(a) < wires(b); });

    // A message box starting with each selector the class registered, on the left inlet.
    std::set<std::string> shown;
    for (const patch::Box *b : feeding(top, live, 0))
        if (b->kind == "msg" && !b->atoms.empty()) shown.insert(b->atoms[0]);
    for (const std::string &s : info.selectors) {
        if (s == "dsp") continue; // Pd's own, not for patches
        EXPECT_TRUE(shown.count(s)) << cls << ": no [" << s << " ...( into the left inlet";
    }
    // Nothing in those boxes that the class would refuse.
    for (const std::string &s : shown)
        EXPECT_TRUE(info.methods.count(s)) << cls << " has no method for [" << s << "(";

    // Every float inlet gets a number box or a message.
    for (std::size_t k = 0; k < inlet_selectors.size(); k++) {
        auto into = feeding(top, live, static_cast<int>(k + 1));
        bool control = std::any_of(into.begin(), into.end(), [](const patch::Box *b) {
            return b->kind == "floatatom" || b->kind == "msg";
        });
        EXPECT_TRUE(control) << cls << ": nothing clickable on inlet " << k + 1 << " ("
                             << inlet_selectors[k] << ")";
    }
    // The left inlet hears a signal from something.
    EXPECT_TRUE(std::any_of(top.connections.begin(), top.connections.end(), [&](const auto &k) {
        return k.to == live && k.inlet == 0 && top.boxes.at(k.from).kind == "obj";
    })) << cls << ": no signal into the left inlet";
    for (int o = 0; o < outlets; o++)
        EXPECT_TRUE(std::any_of(top.connections.begin(), top.connections.end(),
                                [&](const auto &k) { return k.from == live && k.outlet == o; }))
            << cls << ": outlet " << o << " goes nowhere";
}

TEST_P(HelpPatch, PlaysThroughTheSoundCardWithAVolume) {
    auto canvases = patch::read(help_path(GetParam()));
    ASSERT_FALSE(canvases.empty());
    const patch::Canvas &top = canvases.front();
    auto find = [&](const std::string &name) {
        for (std::size_t i = 0; i < top.boxes.size(); i++)
            if (top.boxes[i].kind == "obj" && patch::text_of(top.boxes[i]).rfind(name, 0) == 0)
                return static_cast<int>(i);
        return -1;
    };
    int dac = find("dac~");
    ASSERT_NE(dac, -1) << "no [dac~]";
    // [dac~] is fed by a [*~] whose right inlet follows a ramp from a number box.
    bool volume = false;
    for (const auto &k : top.connections) {
        if (k.to != dac || patch::text_of(top.boxes[k.from]) != "*~") continue;
        for (const auto &g : top.connections)
            if (g.to == k.from && g.inlet == 1) volume = true;
    }
    EXPECT_TRUE(volume) << "no volume control before [dac~]";
    std::string comments = all_comments(canvases);
    EXPECT_NE(comments.find("volume"), std::string::npos);
}

TEST_P(HelpPatch, StatesDefaultsRangesAndAReference) {
    const std::string cls = GetParam();
    auto canvases = patch::read(help_path(cls));
    ASSERT_FALSE(canvases.empty());
    std::string comments = all_comments(canvases);
    // A [pd reference] whose section rules name the inlets and the outlets.
    auto reference = std::find_if(canvases.begin(), canvases.end(),
                                  [](const auto &c) { return c.name == "reference"; });
    ASSERT_NE(reference, canvases.end()) << cls << ": no [pd reference]";
    std::set<std::string> sections;
    for (const auto &b : reference->boxes)
        if (b.kind == "obj" && b.atoms.size() > 6 && b.atoms[0] == "cnv")
            sections.insert(b.atoms[6]);
    EXPECT_TRUE(sections.count("INLETS:")) << cls;
    EXPECT_TRUE(sections.count("OUTLETS:")) << cls;
    host::Object probe(cls);
    for (const std::string &s : probe.inlet_selectors()) {
        EXPECT_NE(comments.find(s + " 0 to 1 (default"), std::string::npos)
            << cls << ": range and default of " << s << " not stated";
    }
    for (const std::string &s : host::load(cls).selectors) {
        if (s == "dsp") continue;
        EXPECT_NE(comments.find(s), std::string::npos) << cls << ": '" << s << "' not described";
    }

    auto meta = std::find_if(canvases.begin(), canvases.end(),
                             [](const auto &c) { return c.name == "META"; });
    ASSERT_NE(meta, canvases.end()) << cls << ": no [pd META]";
    int descriptions = 0;
    for (const auto &b : meta->boxes)
        if (b.kind == "text" && !b.atoms.empty() && b.atoms[0] == "DESCRIPTION" && b.atoms.size() > 3)
            descriptions++;
    EXPECT_EQ(descriptions, 1) << cls << ": [pd META] needs one DESCRIPTION line";
    EXPECT_TRUE(std::any_of(meta->boxes.begin(), meta->boxes.end(), shows_version_1_0))
        << cls << ": [pd META] must show VERSION 1.0";
}

// --- Layout: boxes as Pd 0.53 draws them at font size 12, a character 7 pixels wide and
// a line 16 pixels high, text wrapped at 60 characters unless the box sets its width.
constexpr double kCharWidth = 7, kLineHeight = 16, kIoletWidth = 7;
// A window on a 1024 x 700 screen, with room for its title and menu bars.
constexpr int kScreenWidth = 1024, kScreenHeight = 700, kBars = 72;
// Room to the window's edges: closer, Pd shows scroll bars that hide the last row.
constexpr int kMarginRight = 16, kMarginBelow = 10;

struct Rect {
    double x1, y1, x2, y2;
};

struct Shape {
    Rect r;
    int inlets, outlets;
};

// The ", f N" width of a box, 0 when it has none.
int width_of(const patch::Box &b) {
    const auto &a = b.atoms;
    for (std::size_t i = 0; i + 2 < a.size(); i++)
        if (a[i] == "," && a[i + 1] == "f") return std::stoi(a[i + 2]);
    return 0;
}

// Lines and widest line, in characters, of a text wrapped at `width` characters.
std::pair<int, int> wrapped(const std::string &text, int width) {
    std::stringstream words(text);
    int lines = 1, line = 0, widest = 0;
    for (std::string w; words >> w;) {
        int n = static_cast<int>(w.size());
        if (line > 0 && line + 1 + n > width) lines++, line = 0;
        line += (line > 0) + n;
        widest = std::max(widest, std::min(line, width));
    }
    return {lines, widest};
}

// Inlets and outlets of the Pd objects these patches use, by class name.
std::pair<int, int> iolets(const std::vector<std::string> &a, const std::string &folder) {
    static const std::map<std::string, std::pair<int, int>> fixed = {
        {"*~", {2, 1}}, {"+~", {2, 1}}, {"-~", {2, 1}}, {"osc~", {2, 1}}, {"phasor~", {2, 1}},
        {"noise~", {1, 1}}, {"line~", {2, 1}}, {"vline~", {3, 1}}, {"metro", {2, 1}},
        {"loadbang", {0, 1}}, {"snapshot~", {1, 1}}, {"hip~", {2, 1}}, {"lop~", {2, 1}},
        {"bp~", {3, 1}}, {"cos~", {1, 1}}, {"clip~", {3, 1}}, {"tabwrite~", {1, 0}},
        {"tabplay~", {1, 2}}, {"soundfiler", {1, 2}}, {"openpanel", {1, 1}},
        {"samplerate~", {1, 1}}, {"*", {2, 1}}, {"+", {2, 1}}, {"-", {2, 1}}, {"/", {2, 1}},
        {"mod", {2, 1}}, {"f", {2, 1}}, {"swap", {2, 2}}, {"random", {2, 1}},
        {"delay", {2, 1}}, {"symbol", {2, 1}}, {"makefilename", {1, 1}}, {"rmstodb", {1, 1}},
        {"print", {1, 0}}, {"array", {1, 1}}, {"declare", {0, 0}}, {"pdcontrol", {1, 1}},
        {"inlet", {0, 1}}, {"inlet~", {0, 1}}, {"outlet", {1, 0}}, {"outlet~", {1, 0}},
        {"s~", {1, 0}}, {"r~", {1, 1}}, {"r", {0, 1}}, {"bng", {1, 1}}, {"tgl", {1, 1}},
        {"hsl", {1, 1}}, {"vu", {2, 2}}, {"cnv", {0, 0}}, {"openpanel", {1, 1}},
        {"list", {2, 1}}};
    const std::string &name = a.at(0);
    int args = 0;
    for (std::size_t i = 1; i < a.size() && a[i] != ","; i++) args++;
    if (name == "pack") return {std::max(args, 2), 1};
    if (name == "unpack") return {1, std::max(args, 2)};
    if (name == "t" || name == "trigger") return {1, std::max(args, 1)};
    if (name == "sel" || name == "route") return {args == 1 ? 2 : 1, args + 1};
    if (name == "s") return {args ? 1 : 2, 0};
    if (name == "list" && args && (a[1] == "trim" || a[1] == "length")) return {1, 1};
    if (name == "dac~") return {std::max(args, 2), 0};
    if (name == "expr" || name == "expr~") {
        int in = 1;
        for (std::size_t i = 1; i < a.size(); i++)
            for (std::size_t k = a[i].find('$'); k != std::string::npos; k = a[i].find('$', k + 1))
                if (k + 2 < a[i].size() && std::isdigit(static_cast<unsigned char>(a[i][k + 2])))
                    in = std::max(in, a[i][k + 2] - '0');
        return {in, 1};
    }
    if (auto f = fixed.find(name); f != fixed.end()) return f->second;
    auto abstraction = patch::read(folder + "/" + name + ".pd");
    if (!abstraction.empty()) {
        int in = 0, out = 0;
        for (const auto &b : abstraction.front().boxes)
            if (b.kind == "obj" && !b.atoms.empty()) {
                in += b.atoms[0] == "inlet" || b.atoms[0] == "inlet~";
                out += b.atoms[0] == "outlet" || b.atoms[0] == "outlet~";
            }
        return {in, out};
    }
    host::Object probe(name); // one of the library's classes
    return {1 + static_cast<int>(probe.inlet_selectors().size()), probe.signal_outlets()};
}

Shape shape_of(const patch::Box &b, const std::string &folder) {
    double x = b.x, y = b.y;
    const auto &a = b.atoms;
    auto number = [&](std::size_t i) { return std::stod(a.at(i)); };
    auto box = [&](int chars, int lines, int in, int out) {
        return Shape{{x, y, x + chars * kCharWidth + 4, y + lines * kLineHeight + 4}, in, out};
    };
    if (b.kind == "floatatom") return box(std::stoi(a.at(0)) ? std::stoi(a.at(0)) : 5, 1, 1, 1);
    if (b.kind == "obj" && !a.empty()) {
        const std::string &n = a[0];
        if (n == "tgl" || n == "bng") return {{x, y, x + number(1), y + number(1)}, 1, 1};
        if (n == "hsl" || n == "vsl" || n == "vu")
            return {{x, y, x + number(1), y + number(2)}, n == "vu" ? 2 : 1, n == "vu" ? 2 : 1};
        if (n == "cnv") return {{x, y, x + number(2), y + number(3)}, 0, 0};
        auto gop = patch::read(folder + "/" + n + ".pd");
        if (!gop.empty() && gop.front().gop_width > 0) {
            auto [in, out] = iolets(a, folder);
            return {{x, y, x + gop.front().gop_width, y + gop.front().gop_height}, in, out};
        }
    }
    int fixed = width_of(b);
    std::string text = patch::text_of(b);
    auto [lines, widest] = wrapped(text, fixed ? fixed : 60);
    if (b.kind == "msg") { // a line break after each semicolon but a last one
        std::size_t start = 0;
        lines = 1, widest = 0;
        for (std::size_t k = text.find(';'); k != std::string::npos; k = text.find(';', k + 1)) {
            if (k + 1 < text.size()) lines++;
            widest = std::max(widest, static_cast<int>(k + 1 - start)), start = k + 2;
        }
        widest = std::max(widest, static_cast<int>(text.size()) - static_cast<int>(start));
    }
    int chars = fixed ? fixed : widest;
    if (b.kind == "text") return box(chars, lines, 0, 0);
    if (b.kind == "msg") return box(std::max(chars, 1), lines, 1, 1);
    if (b.kind == "restore") return box(chars, lines, 1, 1); // the subpatches here: one each
    auto [in, out] = iolets(a, folder);
    return box(std::max(chars, 3), lines, in, out);
}

// Where a cord leaves outlet k of n, or enters inlet k of n.
double iolet_x(const Rect &r, int k, int n) {
    double span = r.x2 - r.x1 - kIoletWidth;
    return r.x1 + (n > 1 ? span * k / (n - 1) : 0) + kIoletWidth / 2;
}

bool crosses(double x1, double y1, double x2, double y2, Rect r) {
    r = {r.x1 + 1, r.y1 + 1, r.x2 - 1, r.y2 - 1};
    for (int i = 0, steps = 400; i <= steps; i++) {
        double x = x1 + (x2 - x1) * i / steps, y = y1 + (y2 - y1) * i / steps;
        if (x > r.x1 && x < r.x2 && y > r.y1 && y < r.y2) return true;
    }
    return false;
}

// The help patches, the examples and the abstractions on their faces and in them; not what
// only make demo opens.
std::vector<std::string> patches_a_user_opens() {
    static const std::set<std::string> not_opened_by_users = {"tav.render~", "tav.record~"};
    std::vector<std::string> all;
    for (const std::string &c : classes()) all.push_back(help_path(c));
    for (const auto &e : std::filesystem::directory_iterator(std::string(TAVRELLE_SOURCE_DIR) + "/examples"))
        if (e.path().extension() == ".pd" && !e.path().stem().string().ends_with("render") &&
            !not_opened_by_users.count(e.path().stem().string()))
            all.push_back(e.path().string());
    std::sort(all.begin(), all.end());
    return all;
}

// No cord runs through a box or a comment; every window and what it holds fits the screen.
TEST(Layout, NoCordCrossesABoxAndEveryWindowFitsTheScreen) {
    for (const std::string &path : patches_a_user_opens()) {
        const std::string folder = std::filesystem::path(path).parent_path().string();
        const std::string file = std::filesystem::path(path).filename().string();
        auto canvases = patch::read(path);
        ASSERT_FALSE(canvases.empty()) << path;
        for (const auto &c : canvases) {
            const std::string where = file + (c.name.empty() ? "" : " [pd " + c.name + "]");
            std::vector<Shape> shapes;
            for (const auto &b : c.boxes) shapes.push_back(shape_of(b, folder));
            EXPECT_LE(c.x + c.width, kScreenWidth) << where;
            EXPECT_LE(c.y + c.height + kBars, kScreenHeight) << where;
            // Pd shows scroll bars for anything left of or above the origin, a graph-on-parent
            // face included.
            EXPECT_TRUE(c.gop_x >= 0 && c.gop_y >= 0) << where << ": its face starts above or left of 0";
            for (std::size_t i = 0; i < shapes.size(); i++)
                EXPECT_TRUE(shapes[i].r.x1 >= 0 && shapes[i].r.y1 >= 0 &&
                            shapes[i].r.x2 + kMarginRight <= c.width &&
                            shapes[i].r.y2 + kMarginBelow <= c.height)
                    << where << ": " << patch::text_of(c.boxes[i]) << " at " << c.boxes[i].x
                    << " " << c.boxes[i].y << " lies outside the window";
            for (const auto &k : c.connections) {
                const Shape &from = shapes.at(k.from), &to = shapes.at(k.to);
                double x1 = iolet_x(from.r, k.outlet, from.outlets), y1 = from.r.y2;
                double x2 = iolet_x(to.r, k.inlet, to.inlets), y2 = to.r.y1;
                for (std::size_t i = 0; i < shapes.size(); i++) {
                    if (static_cast<int>(i) == k.from || static_cast<int>(i) == k.to) continue;
                    EXPECT_FALSE(crosses(x1, y1, x2, y2, shapes[i].r))
                        << where << ": the cord from " << patch::text_of(c.boxes[k.from])
                        << " to " << patch::text_of(c.boxes[k.to]) << " crosses "
                        << patch::text_of(c.boxes[i]);
                }
            }
        }
    }
}

// Every comment reads as written once Pd has read it: Pd takes a word such as "23." or
// "0.70710677" for a number and shows "23" or "0.707107", so a sentence would run into the
// next. Pd itself opens each patch and saves it again; the comments must come back as the
// patch file has them.
TEST(Comments, ReadBackFromPdAsWritten) {
    const std::string out = testing::TempDir() + "/resaved";
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    const char *pd = std::getenv("TAVRELLE_PD");
    for (const std::string &path : patches_a_user_opens()) {
        std::string file = std::filesystem::path(path).filename().string();
        std::string command = std::string(pd ? pd : "pd") + " -nogui -noaudio -batch -noprefs -open '" +
                              path + "' -send 'pd-" + file + " savetofile " + file + " " + out +
                              "' -send 'pd quit' > '" + out + "/console.txt' 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        auto written = patch::read(path), saved = patch::read(out + "/" + file);
        ASSERT_EQ(written.size(), saved.size()) << file << ": Pd saved no copy";
        for (std::size_t c = 0; c < written.size(); c++) {
            std::vector<std::string> a, b;
            for (const auto &x : written[c].boxes) if (x.kind == "text") a.push_back(patch::text_of(x));
            for (const auto &x : saved[c].boxes) if (x.kind == "text") b.push_back(patch::text_of(x));
            ASSERT_EQ(a.size(), b.size()) << file;
            for (std::size_t i = 0; i < a.size(); i++) EXPECT_EQ(b[i], a[i]) << file;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllClasses, HelpPatch, testing::ValuesIn(classes()),
                         [](const auto &i) {
                             std::string n = i.param;
                             return n.substr(0, n.size() - 1);
                         });

TEST(LibraryMeta, NamesTheLibrary) {
    auto canvases = patch::read(std::string(TAVRELLE_SOURCE_DIR) + "/help/tavrelle-meta.pd");
    ASSERT_FALSE(canvases.empty());
    std::set<std::string> keys;
    for (const auto &b : canvases.front().boxes)
        if (b.kind == "text" && b.atoms.size() >= 2) keys.insert(b.atoms[0] + " " + b.atoms[1]);
    for (const char *want : {"NAME tavrelle", "AUTHOR Tavrelle", "LICENSE BSD"})
        EXPECT_TRUE(keys.count(want)) << want;
    EXPECT_TRUE(std::any_of(canvases.front().boxes.begin(), canvases.front().boxes.end(),
                            shows_version_1_0));
    EXPECT_TRUE(std::any_of(keys.begin(), keys.end(),
                            [](const auto &k) { return k.rfind("DESCRIPTION ", 0) == 0; }));
}

// The reader itself: subpatch numbering, escaped commas and the width suffix.
TEST(PatchText, NumbersBoxesPerCanvasAndReadsEscapes) {
    std::string path = testing::TempDir() + "/reader.pd";
    {
        std::ofstream f(path);
        f << "#N canvas 0 0 400 300 12;\n#X obj 10 10 osc~ 440;\n"
             "#N canvas 0 0 300 200 inner 0;\n#X msg 1 1 1 \\, 0 20;\n#X text 1 30 a \\, b\n"
             "c, f 20;\n#X connect 0 0 1 0;\n#X restore 10 40 pd inner;\n"
             "#X msg 10 70 tone 0.5;\n#X connect 0 0 2 0;\n#X coords 0 -1 1 1 8 8 1 0 0;\n";
    }
    auto c = patch::read(path);
    ASSERT_EQ(c.size(), 2u);
    ASSERT_EQ(c[0].boxes.size(), 3u);
    EXPECT_EQ(c[0].boxes[1].kind, "restore");
    EXPECT_EQ(c[1].name, "inner");
    EXPECT_EQ(patch::text_of(c[1].boxes[0]), "1 , 0 20");
    EXPECT_EQ(patch::text_of(c[1].boxes[1]), "a , b c");
    EXPECT_EQ(c[0].connections.size(), 1u);
    EXPECT_EQ(c[0].connections[0].to, 2);
    EXPECT_EQ(c[1].connections.size(), 1u);
}

} // namespace
