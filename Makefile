# tavrelle: the front door. `make` builds the plug-ins into build/tavrelle/,
# `make check` runs every test, `make demo` renders the demo (`make demo IN=file.wav` on
# your own file), `make plots` measures the classes and draws docs/*.png, `make package`
# builds the deken archive, `make install` copies the library into Pd's user externals
# folder. `make arm` cross-builds the plug-ins for 32-bit ARM boards into
# build-arm/tavrelle/, `make check-arm` tests them under qemu-arm.
# `make bench` measures what every class costs and writes docs/BENCHMARKS.md (`make
# bench-smoke`: the same steps on a tiny setting, for CI).

PDLIBDIR ?= $(HOME)/Documents/Pd/externals/tavrelle
STAGE := build/tavrelle

FUZZ_SECONDS ?= 60

.PHONY: all build check check-asan fuzz load install deps demo plots package clean arm check-arm bench bench-smoke

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
	@scripts/demo.sh $(IN)

plots: build
	@scripts/deps.sh check plots 2>/dev/null || scripts/deps.sh install plots
	@scripts/plots.sh

package: build
	@scripts/deps.sh check package 2>/dev/null || scripts/deps.sh install package
	@scripts/package.sh

# ARMv6 with VFPv2, hard-float: <class>.l_arm, which Pd on 32-bit ARM tries first.
arm:
	@scripts/deps.sh check arm 2>/dev/null || scripts/deps.sh install arm
	@cmake --preset arm >/dev/null
	@cmake --build --preset arm

# First the tests inside Pd with Pd and the plug-ins on ARM but the expected output from
# the x86-64 test host (one folder holds both builds, as an installed library may); then
# the self-test patch in that folder; then the ARM build's own tests: the instruction
# checks, and the test host and Debian's armhf Pd under qemu-arm.
ARM_PD := qemu-arm $(CURDIR)/build-arm/pd-armhf/usr/bin/puredata
check-arm: arm build
	@scripts/pd-armhf.sh build-arm/pd-armhf
	@rm -rf build-arm/shared && mkdir -p build-arm/shared
	@cp -R $(STAGE)/. build-arm/tavrelle/. build-arm/shared/
	@echo "Pd on ARM against the x86-64 test host:"
	@TAVRELLE_PLUGIN_DIR=$(CURDIR)/build-arm/shared TAVRELLE_PD="$(ARM_PD)" \
	    build/tests/pd/pd_tests --gtest_brief=1
	@echo "The self-test in Pd on ARM:"
	@TAVRELLE_PD="$(ARM_PD)" sh tests/lib/selftest.sh build-arm/shared && echo passed
	@ctest --preset arm

# The ARM figures come from the ARM build under qemu-arm; without it they are left out.
bench bench-smoke: build
	@$(MAKE) --no-print-directory arm || echo "bench: no ARM build, its figures are left out"
	@scripts/deps.sh check bench 2>/dev/null || scripts/deps.sh install bench
	@cmake --preset default >/dev/null
	@cmake --build --preset default
	@python3 bench/run.py $(if $(filter bench-smoke,$@),--smoke)

clean:
	rm -rf build build-arm build-asan build-fuzz
