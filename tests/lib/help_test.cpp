// Every class has a help patch that shows it working: the object live, a message box
// for every message it takes and a number or message box on every inlet, its outlets
// wired, a reference section and a one-line description in [pd META]. What the class
// takes comes from its own registration, loaded through the test host.
#include "host.h"
#include "patch_text.h"

#include <gtest/gtest.h>

#include <algorithm>
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
