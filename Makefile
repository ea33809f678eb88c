# tavrelle: the front door. `make` builds the plug-ins into build/tavrelle/,
# `make check` runs every test, `make demo` renders the demo, `make install` copies
# the library into Pd's user externals folder, `make bench` measures what every class
# costs and writes docs/BENCHMARKS.md (`make bench-smoke`: the same steps on a tiny
# setting, for CI).

PDLIBDIR ?= $(HOME)/Documents/Pd/externals/tavrelle
STAGE := build/tavrelle

.PHONY: all build check install deps demo bench bench-smoke clean

all: build

deps:
	@scripts/deps.sh install base

# Installs what is missing first (as root), so a fresh machine needs only this.
build:
	@scripts/deps.sh check base 2>/dev/null || scripts/deps.sh install base
	@cmake --preset default >/dev/null
	@cmake --build --preset default

check: build
	@ctest --preset default

install: build
	mkdir -p "$(PDLIBDIR)"
	cp -R $(STAGE)/. "$(PDLIBDIR)/"
	@echo "installed into $(PDLIBDIR)"

demo: build
	@scripts/demo.sh

bench bench-smoke: build
	@scripts/deps.sh check bench 2>/dev/null || scripts/deps.sh install bench
	@cmake --preset default >/dev/null
	@cmake --build --preset default
	@python3 bench/run.py $(if $(filter bench-smoke,$@),--smoke)

clean:
	rm -rf build
