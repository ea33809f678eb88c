# tavrelle: the front door. `make` builds the plug-ins into build/tavrelle/,
# `make check` runs every test, `make demo` renders the demo, `make install` copies
# the library into Pd's user externals folder.

PDLIBDIR ?= $(HOME)/Documents/Pd/externals/tavrelle
STAGE := build/tavrelle

FUZZ_SECONDS ?= 60

.PHONY: all build check check-asan fuzz load install deps demo clean

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

# The test host's tests once more with every plug-in and test built with clang's
# AddressSanitizer and UndefinedBehaviorSanitizer (into build-asan).
check-asan:
	@scripts/deps.sh check base sanitizers 2>/dev/null || scripts/deps.sh install base sanitizers
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan
	@ctest --preset asan

# The fuzz target over every class for FUZZ_SECONDS (clang, sanitizers; into build-fuzz).
fuzz:
	@scripts/deps.sh check base sanitizers 2>/dev/null || scripts/deps.sh install base sanitizers
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@scripts/fuzz.sh $(FUZZ_SECONDS)

# Pure Data under load (500 instances built, run, deleted and rebuilt), once as it is and
# once in valgrind's memcheck; the first also runs in make check.
load: build
	@scripts/deps.sh check base load 2>/dev/null || scripts/deps.sh install base load
	@TAVRELLE_LOAD_VALGRIND=1 ctest --preset default -R LoadInPd

install: build
	mkdir -p "$(PDLIBDIR)"
	cp -R $(STAGE)/. "$(PDLIBDIR)/"
	@echo "installed into $(PDLIBDIR)"

demo: build
	@scripts/demo.sh

clean:
	rm -rf build build-asan build-fuzz
