# tavrelle: the front door. `make` builds the plug-ins into build/tavrelle/,
# `make check` runs every test, `make demo` renders the demo, `make install` copies
# the library into Pd's user externals folder. `make arm` cross-builds the plug-ins for
# 32-bit ARM boards into build-arm/tavrelle/, `make check-arm` tests them under qemu-arm.

PDLIBDIR ?= $(HOME)/Documents/Pd/externals/tavrelle
STAGE := build/tavrelle

.PHONY: all build check install deps demo clean arm check-arm

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

# ARMv6 with VFPv2, hard-float: <class>.l_arm, which Pd on 32-bit ARM tries first.
arm:
	@scripts/deps.sh check arm 2>/dev/null || scripts/deps.sh install arm
	@cmake --preset arm >/dev/null
	@cmake --build --preset arm

# The instruction checks, then the test host and Debian's armhf Pd under qemu-arm.
check-arm: arm
	@scripts/pd-armhf.sh build-arm/pd-armhf
	@ctest --preset arm

clean:
	rm -rf build build-arm
