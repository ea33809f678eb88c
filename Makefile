# tavrelle: the front door. `make` builds the plug-ins into build/tavrelle/,
# `make check` runs every test, `make demo` renders the demo (`make demo IN=file.wav` on
# your own file), `make plots` measures the classes and draws docs/*.png, `make package`
# builds the deken archive, `make install` copies the library into Pd's user externals
# folder.

PDLIBDIR ?= $(HOME)/Documents/Pd/externals/tavrelle
STAGE := build/tavrelle

.PHONY: all build check install deps demo plots package clean

all: build

deps:
	@scripts/deps.sh install base

# Installs what is missing first (as root), so a fresh machine needs only this.
build:
	@scripts/deps.sh check base 2>/dev/null || scripts/deps.sh install base
	@cmake --preset default >/dev/null
	@cmake --build --preset default

# The tests also build the deken archive.
check: build
	@scripts/deps.sh check package 2>/dev/null || scripts/deps.sh install package
	@ctest --preset default

install: build
	mkdir -p "$(PDLIBDIR)"
	cp -R $(STAGE)/. "$(PDLIBDIR)/"
	@echo "installed into $(PDLIBDIR)"

demo: build
	@scripts/demo.sh $(IN)

plots: build
	@scripts/deps.sh check plots 2>/dev/null || scripts/deps.sh install plots
	@scripts/plots.sh

package: build
	@scripts/deps.sh check package 2>/dev/null || scripts/deps.sh install package
	@scripts/package.sh

clean:
	rm -rf build
