// measure OUTDIR: writes every measurement as OUTDIR/<name>.dat (a comment line with the
// column headings, then one row per line) for gnuplot.
#include "measure.h"

#include <cstdio>
#include <string>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: measure OUTDIR\n");
        return 2;
    }
    for (const measure::Table &t : measure::all()) {
        std::string path = std::string(argv[1]) + "/" + t.name + ".dat";
        std::FILE *f = std::fopen(path.c_str(), "w");
        if (!f) {
            std::perror(path.c_str());
            return 1;
        }
        std::fputc('#', f);
        for (const auto &c : t.columns) std::fprintf(f, " \"%s\"", c.c_str());
        std::fputc('\n', f);
        for (const auto &row : t.rows) {
            for (std::size_t k = 0; k < row.size(); k++)
                std::fprintf(f, k ? " %.9g" : "%.9g", row[k]);
            std::fputc('\n', f);
        }
        std::fclose(f);
        std::printf("measured %s (%zu points)\n", t.name.c_str(), t.rows.size());
    }
    return 0;
}
